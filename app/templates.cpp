// The two dialog templates, settings (102) and About (100), as a resource script holds them.
#include "dialog_template.h"
#include "resource.h"

namespace app {
namespace {

constexpr std::uint32_t Child = WS_CHILD | WS_VISIBLE;
constexpr std::uint32_t PushButton = Child | BS_PUSHBUTTON | WS_TABSTOP;
constexpr std::uint32_t LeftText = Child | SS_LEFT | WS_GROUP;
constexpr std::uint32_t CheckBox = Child | BS_AUTOCHECKBOX | WS_TABSTOP;
constexpr std::uint32_t CentredLine = Child | SS_CENTER | SS_CENTERIMAGE | WS_GROUP;

// The templates are tables, laid out one control a line.
// clang-format off
constexpr DialogItemTemplate SettingsItems[] = {
    {IDC_ABOUT, ControlClass::Button, PushButton, 19, 228, 50, 14, "About"},
    {IDCANCEL, ControlClass::Button, PushButton, 89, 228, 50, 14, "Default"},
    {IDOK, ControlClass::Button, Child | BS_DEFPUSHBUTTON | WS_TABSTOP, 157, 228, 50, 14, "OK"},
    {IDC_STATIC, ControlClass::Static, CentredLine | WS_BORDER, 47, 15, 135, 22, "Pyrovane release 1.0"},
    {IDC_STATIC, ControlClass::Static, LeftText, 35, 47, 162, 8, "Press left mouse button to interrupt the screensaver"},
    {IDC_STATIC, ControlClass::Static, LeftText, 20, 192, 77, 8, "Max P-Time (Default : 9)"},
    {IDC_MAX_PTIME, ControlClass::Edit, Child | ES_LEFT | ES_NUMBER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 108, 190, 83,
     14, ""},
    {IDC_STATIC, ControlClass::Static, LeftText, 19, 207, 145, 11, "Decrease to increase number of rockets...."},
    {IDC_BASIC_ROCKET, ControlClass::Button, CheckBox, 20, 113, 110, 10, "Basic Rocket"},
    {IDC_BICOLOR_SPHERIC, ControlClass::Button, CheckBox, 20, 132, 117, 14, "Bicolor Spheric Rockets"},
    {IDC_SWINGING, ControlClass::Button, CheckBox, 20, 155, 117, 14, "Swinging Rockets"},
    {IDC_QUEUED_EXPLODING, ControlClass::Button, CheckBox, 20, 173, 122, 14, "Queued Exploding Rockets"},
    {IDC_STATIC, ControlClass::Static, LeftText, 30, 62, 173, 8, "Sorry this control pannel has been disabled because of"},
    {IDC_STATIC, ControlClass::Static, LeftText, 35, 72, 153, 8, "the high number of unresolved bugs at deadline time"},
    {IDC_STATIC, ControlClass::Static, Child | SS_CENTER | WS_GROUP, 6, 89, 211, 20,
     "This pannel will be available in release 1.1 which will be released as soon as debugged"},
};

constexpr DialogTemplate SettingsTemplate = {
    IDD_SETTINGS,
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    WS_EX_APPWINDOW,
    0, 0, 225, 255,
    "Pyrovane ScreenSaver Configuration",
    "MS Sans Serif", 8, 0, false,
    SettingsItems,
};

constexpr DialogItemTemplate AboutItems[] = {
    {IDOK, ControlClass::Button, Child | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 49, 90, 64, 14, "OK"},
    {IDC_STATIC, ControlClass::Button, Child | BS_GROUPBOX, 7, 4, 151, 57, ""},
    {IDC_STATIC, ControlClass::Static, CentredLine, 50, 13, 66, 8, "Pyrovane"},
    {IDC_STATIC, ControlClass::Static, CentredLine, 55, 24, 51, 8, "Created in 1998"},
    {IDC_STATIC, ControlClass::Static, CentredLine, 16, 34, 134, 8, "A fireworks screen saver for Linux"},
    {IDC_STATIC, ControlClass::Static, CentredLine, 33, 47, 102, 8, "Drawn by a software rasterizer"},
    {IDC_STATIC, ControlClass::Static, CentredLine, 34, 63, 96, 8, "Dialogs built with Qt 6"},
};

constexpr DialogTemplate AboutTemplate = {
    IDD_ABOUT,
    WS_POPUP | DS_MODALFRAME | DS_SETFONT,
    0,
    0, 0, 164, 118,
    "",
    "MS Sans Serif", 8, 0, false,
    AboutItems,
};

// clang-format on

constexpr const DialogTemplate* Templates[] = {&SettingsTemplate, &AboutTemplate};

} // namespace

const DialogTemplate* FindDialogTemplate(int templateId) {
  for (const DialogTemplate* dialogTemplate : Templates) {
    if (dialogTemplate->id == templateId) return dialogTemplate;
  }
  return nullptr;
}

} // namespace app
