// Reading the host's window id that the desktop board draws in.
#include "host_window.h"

#include <charconv>

namespace desktop {

std::optional<std::uint32_t> ParseWindowId(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  // from_chars takes no sign, prefix or space of its own accord, except a leading minus.
  if (text.empty() || text.front() == '-') {
    return std::nullopt;
  }
  std::uint32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id, base);
  if (error != std::errc{} || end != text.data() + text.size() || id == 0) {
    return std::nullopt;
  }
  return id;
}

} // namespace desktop
