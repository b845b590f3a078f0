// The session's idle source: the first kind, in order of preference, that the session offers.
#include "sources.h"

namespace idle {

std::unique_ptr<IdleSource> OpenSessionSource(std::chrono::seconds period) {
  // Wayland's protocols come first: they honour the compositor's idle inhibitors. GNOME's
  // compositor offers neither, and its monitor on the bus serves its X11 sessions too, before the
  // X server's counter, which knows of no inhibitor at all.
  for (auto* open : {OpenWaylandSource, OpenGnomeSource, OpenX11Source}) {
    if (std::unique_ptr<IdleSource> source = open(period)) return source;
  }
  return nullptr;
}

} // namespace idle
