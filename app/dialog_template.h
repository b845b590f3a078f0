// Dialog templates as data (styles, geometry in dialog units, texts, font) and the conversion of
// dialog units to pixels through the dialog font's metrics.
#pragma once

#include <cstdint>
#include <span>

#include <QRect>

class QFont;
class QFontMetrics;

namespace app {

// Window styles, with the values the templates were written with.
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_CHILD = 0x40000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000;
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000;
inline constexpr std::uint32_t WS_GROUP = 0x00020000;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000;
inline constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000;

// Dialog styles.
inline constexpr std::uint32_t DS_SETFONT = 0x40;
inline constexpr std::uint32_t DS_MODALFRAME = 0x80;

// Button styles: the low four bits are the button's type.
inline constexpr std::uint32_t BS_TYPEMASK = 0x0F;
inline constexpr std::uint32_t BS_PUSHBUTTON = 0x00;
inline constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x01;
inline constexpr std::uint32_t BS_AUTOCHECKBOX = 0x03;
inline constexpr std::uint32_t BS_GROUPBOX = 0x07;

// Static text styles: the low five bits are the control's type.
inline constexpr std::uint32_t SS_TYPEMASK = 0x1F;
inline constexpr std::uint32_t SS_LEFT = 0x00;
inline constexpr std::uint32_t SS_CENTER = 0x01;
inline constexpr std::uint32_t SS_CENTERIMAGE = 0x200;

// Edit box styles.
inline constexpr std::uint32_t ES_LEFT = 0x00;
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x80;
inline constexpr std::uint32_t ES_NUMBER = 0x2000;

enum class ControlClass { Button, Edit, Static };

// One control: rectangle in dialog units, full style value (WS_CHILD and WS_VISIBLE included).
struct DialogItemTemplate {
  int id;
  ControlClass controlClass;
  std::uint32_t style;
  int x, y, width, height;
  const char* text;
};

// A whole dialog. The size is that of the client area; the items come in template order, which
// is also their creation order and tab order. A font weight of 0 means the normal weight.
struct DialogTemplate {
  int id;
  std::uint32_t style;
  std::uint32_t extendedStyle;
  int x, y, width, height;
  const char* caption;
  const char* fontFace;
  int fontPointSize;
  int fontWeight;
  bool fontItalic;
  std::span<const DialogItemTemplate> items;
};

// The template with this identifier, or null when there is none.
const DialogTemplate* FindDialogTemplate(int templateId);

// The dialog base units of a font, in pixels: the average character width and the character
// height. A dialog unit is a quarter of the first horizontally and an eighth of the second
// vertically, so a layout keeps its proportions whatever font stands in and at any resolution.
struct DialogBaseUnits {
  int averageCharWidth;
  int charHeight;
};

// Measures the base units the classic way: the width of the 52 letters a-z and A-Z, averaged
// and rounded to a whole pixel, and the font's full height.
DialogBaseUnits MeasureDialogBaseUnits(const QFontMetrics& metrics);

// Converts a rectangle in dialog units to pixels, each coordinate rounded to the nearest pixel.
QRect MapDialogRect(const DialogBaseUnits& units, const QRect& dialogUnits);

// Where Debian's fonts-wine package installs "MS Sans Serif", the classic dialog face, with bitmap
// strikes of 13, 16 and 20 pixels. Fontconfig does not list it, so the dialog toolkit loads it
// from this file when it comes up.
inline constexpr char ClassicDialogFontFile[] = "/usr/share/wine/fonts/ms_sans_serif.ttf";

// The font a template asks for, for text drawn at this device pixel ratio. Where its face is not
// installed, the sans-serif whose metrics come closest to the classic dialog font's stands in at
// the same size, so texts fit their controls. A face of bitmap strikes only, as the classic one
// is, is drawn one font pixel a device pixel whatever the ratio, too small and spaced out
// anywhere but at ratio 1; at other ratios the outline stand-in, which scales, takes its place.
// Dialog units always come from the font at ratio 1, so a dialog's size in logical pixels is
// the same at every ratio.
QFont DialogFont(const DialogTemplate& dialogTemplate, double devicePixelRatio = 1.0);

} // namespace app
