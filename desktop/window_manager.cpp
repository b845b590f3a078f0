// The toolkit's X connection: asking the window manager to keep a window where it is, and noticing that the connection broke.
#include "desktop/desktop.h"
#include "session.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace desktop {

namespace {

// A window manager's hints in the Motif layout, which window managers read for the functions
// they may offer on a window as well as for its decorations.
struct MotifWindowManagerHints {
  std::uint32_t flags;
  std::uint32_t functions;
  std::uint32_t decorations;
  std::int32_t inputMode;
  std::uint32_t status;
};
constexpr std::uint32_t MotifHintsFunctions = 1U << 0;
constexpr std::uint32_t MotifHintsDecorations = 1U << 1;
constexpr std::uint32_t MotifFunctionClose = 1U << 5;
constexpr char MotifHintsProperty[] = "_MOTIF_WM_HINTS";

} // namespace

void AskWindowManagerToKeepInPlace(xcb_connection_t* connection, std::uint32_t window) {
  xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, sizeof MotifHintsProperty - 1, MotifHintsProperty), nullptr);
  if (atom == nullptr) return;
  const MotifWindowManagerHints hints{MotifHintsFunctions | MotifHintsDecorations, MotifFunctionClose, 0, 0, 0};
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom->atom, atom->atom, 32,
                      sizeof hints / sizeof(std::uint32_t), &hints);
  std::free(atom);
}

void EndProcessIfDisplayLost(xcb_connection_t* connection) {
  if (connection != nullptr && xcb_connection_has_error(connection) != 0) {
    EndForLostDisplay();
  }
}

} // namespace desktop
