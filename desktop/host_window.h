// A host's window for the board to draw in: the window id that screen-saver hosts hand over in XSCREENSAVER_WINDOW.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace desktop {

// xscreensaver and xsecurelock start a saver with the X window to draw in named here.
inline constexpr const char* HostWindowVariable = "XSCREENSAVER_WINDOW";

// The window id written in `text`: decimal digits, or hexadecimal digits after "0x" or "0X",
// with nothing before or after them. Hosts write it one way or the other (xscreensaver in
// hexadecimal, xsecurelock in decimal). Zero names no window, and X ids are 32-bit values, so
// both are refused along with anything malformed.
std::optional<std::uint32_t> ParseWindowId(std::string_view text);

} // namespace desktop
