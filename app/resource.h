// Identifiers of the dialog templates and of the controls the code addresses.
#pragma once

namespace app {

// Command identifiers the dialog manager itself gives meaning to.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Dialog templates.
inline constexpr int IDD_ABOUT = 100;
inline constexpr int IDD_SETTINGS = 102;

// Controls of the settings dialog.
inline constexpr int IDC_ABOUT = 1000;
inline constexpr int IDC_BASIC_ROCKET = 1001;
inline constexpr int IDC_BICOLOR_SPHERIC = 1002;
inline constexpr int IDC_MAX_PTIME = 1011;
inline constexpr int IDC_SWINGING = 1012;
inline constexpr int IDC_QUEUED_EXPLODING = 1013;

// A control that no code addresses.
inline constexpr int IDC_STATIC = -1;

} // namespace app
