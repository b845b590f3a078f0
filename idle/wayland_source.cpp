// Idle time on Wayland: an ext_idle_notifier_v1 notification, or an org_kde_kwin_idle timeout where only that is offered.
#include <poll.h>
#include <wayland-client.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "ext-idle-notify-v1-client.h"
#include "idle-client.h"
#include "sources.h"

namespace idle {

namespace {

// Both protocols tell the same two things: the seat has had no input for the timeout (which the
// compositor holds back while an idle inhibitor is active, such as a playing video's), and input
// came after that.
class WaylandSource final : public IdleSource {
public:
  explicit WaylandSource(wl_display* display) : display_(display) {}
  ~WaylandSource() override;
  WaylandSource(const WaylandSource&) = delete;
  WaylandSource& operator=(const WaylandSource&) = delete;

  // Binds the globals and asks for the notification; false when the compositor offers no seat or
  // neither protocol.
  bool Watch(std::chrono::seconds period);

  WaitFor PrepareWait() override {
    wl_display_flush(display_);
    return {wl_display_get_fd(display_), POLLIN, -1};
  }
  std::optional<std::vector<Change>> Read() override {
    if (wl_display_dispatch(display_) < 0) return std::nullopt;
    return std::exchange(changes_, {});
  }
  const char* LostLine() const override { return "pyrovane-idle: lost the connection to the display\n"; }

  // The registry's listener: binds the seat and the idle protocols as the compositor names them.
  static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t);

private:
  wl_display* display_;
  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  ext_idle_notifier_v1* notifier_ = nullptr;
  org_kde_kwin_idle* kdeIdle_ = nullptr;
  ext_idle_notification_v1* notification_ = nullptr;
  org_kde_kwin_idle_timeout* kdeTimeout_ = nullptr;
  std::vector<Change> changes_;
};

const wl_registry_listener RegistryListener{.global = WaylandSource::Global,
                                            .global_remove = [](void*, wl_registry*, std::uint32_t) {}};

} // namespace

void WaylandSource::Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                           std::uint32_t) {
  auto& source = *static_cast<WaylandSource*>(data);
  // The first seat is the user's: desktops have one.
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && source.seat_ == nullptr) {
    source.seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) {
    source.notifier_ =
        static_cast<ext_idle_notifier_v1*>(wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
  } else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0) {
    source.kdeIdle_ =
        static_cast<org_kde_kwin_idle*>(wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
  }
}

namespace {

template <Change change>
void Report(void* data, auto*) {
  static_cast<std::vector<Change>*>(data)->push_back(change);
}

const ext_idle_notification_v1_listener NotificationListener{.idled = Report<Change::UserIdle>,
                                                             .resumed = Report<Change::UserActive>};
const org_kde_kwin_idle_timeout_listener KdeTimeoutListener{.idle = Report<Change::UserIdle>,
                                                            .resumed = Report<Change::UserActive>};

} // namespace

bool WaylandSource::Watch(std::chrono::seconds period) {
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &RegistryListener, this);
  if (wl_display_roundtrip(display_) < 0 || seat_ == nullptr) return false;
  const auto timeout = static_cast<std::uint32_t>(std::chrono::milliseconds(period).count());
  if (notifier_ != nullptr) {
    notification_ = ext_idle_notifier_v1_get_idle_notification(notifier_, timeout, seat_);
    ext_idle_notification_v1_add_listener(notification_, &NotificationListener, &changes_);
  } else if (kdeIdle_ != nullptr) {
    kdeTimeout_ = org_kde_kwin_idle_get_idle_timeout(kdeIdle_, seat_, timeout);
    org_kde_kwin_idle_timeout_add_listener(kdeTimeout_, &KdeTimeoutListener, &changes_);
  } else {
    return false;
  }
  return wl_display_roundtrip(display_) >= 0;
}

WaylandSource::~WaylandSource() {
  if (notification_ != nullptr) ext_idle_notification_v1_destroy(notification_);
  if (kdeTimeout_ != nullptr) org_kde_kwin_idle_timeout_release(kdeTimeout_);
  if (notifier_ != nullptr) ext_idle_notifier_v1_destroy(notifier_);
  if (kdeIdle_ != nullptr) org_kde_kwin_idle_destroy(kdeIdle_);
  if (seat_ != nullptr) wl_seat_destroy(seat_);
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  wl_display_disconnect(display_);
}

std::unique_ptr<IdleSource> OpenWaylandSource(std::chrono::seconds period) {
  // Only a session that names its compositor: the library's default socket name would reach for
  // a compositor that an X11 session does not have.
  if (std::getenv("WAYLAND_DISPLAY") == nullptr) return nullptr;
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return nullptr;
  auto source = std::make_unique<WaylandSource>(display);
  if (!source->Watch(period)) return nullptr;
  return source;
}

} // namespace idle
