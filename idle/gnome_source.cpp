// Idle time on GNOME: Mutter's idle monitor on the session bus, held back while GNOME's session manager says idling is inhibited.
#include <poll.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <cstdint>
#include <string_view>
#include <utility>

#include "sources.h"

namespace idle {

namespace {

constexpr char Monitor[] = "org.gnome.Mutter.IdleMonitor";
constexpr char MonitorPath[] = "/org/gnome/Mutter/IdleMonitor/Core";
constexpr char SessionManager[] = "org.gnome.SessionManager";
constexpr char SessionManagerPath[] = "/org/gnome/SessionManager";
// GNOME's inhibitor flag for "the session may not be marked idle" (a video, a presentation).
constexpr std::uint32_t InhibitIdle = 8;

// Mutter's idle watch fires each time the user's idle time reaches its interval, and a user-active
// watch fires once, at the next input. So an idle watch lives as long as the source, and an
// active watch is added each time the user has become idle.
class GnomeSource final : public IdleSource {
public:
  GnomeSource(sd_bus* bus, std::chrono::milliseconds period) : bus_(bus), period_(period) {}
  ~GnomeSource() override;
  GnomeSource(const GnomeSource&) = delete;
  GnomeSource& operator=(const GnomeSource&) = delete;

  // Subscribes to the signals and adds the idle watch; false where no idle monitor answers.
  bool Watch();

  WaitFor PrepareWait() override;
  std::optional<std::vector<Change>> Read() override;
  const char* LostLine() const override { return lostLine_; }

private:
  static int OnWatchFired(sd_bus_message* message, void* data, sd_bus_error*);
  static int OnInhibitorRemoved(sd_bus_message*, void* data, sd_bus_error*);
  static int OnOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*);
  // A method of the idle monitor that answers with a watch's id; 0 when it failed.
  std::uint32_t AddWatch(const char* method);
  bool Inhibited();
  void BecameIdle();

  sd_bus* bus_;
  std::chrono::milliseconds period_;
  sd_bus_slot* slots_[3] = {};
  std::uint32_t idleWatch_ = 0;
  std::uint32_t activeWatch_ = 0;
  // The user became idle while an inhibitor was held: the show waits for its end.
  bool heldBack_ = false;
  const char* lostLine_ = "pyrovane-idle: lost the connection to the session bus\n";
  bool monitorGone_ = false;
  std::vector<Change> changes_;
};

} // namespace

GnomeSource::~GnomeSource() {
  for (sd_bus_slot* slot : slots_) sd_bus_slot_unref(slot);
  sd_bus_flush_close_unref(bus_);
}

std::uint32_t GnomeSource::AddWatch(const char* method) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  std::uint32_t id = 0;
  const bool idleWatch = std::string_view(method) == "AddIdleWatch";
  const int called = idleWatch ? sd_bus_call_method(bus_, Monitor, MonitorPath, Monitor, method, &error, &reply, "t",
                                                    static_cast<std::uint64_t>(period_.count()))
                               : sd_bus_call_method(bus_, Monitor, MonitorPath, Monitor, method, &error, &reply, "");
  if (called < 0 || sd_bus_message_read(reply, "u", &id) < 0) id = 0;
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return id;
}

bool GnomeSource::Inhibited() {
  // Without a session manager (plain mutter) nothing can be inhibited.
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int inhibited = 0;
  if (sd_bus_call_method(bus_, SessionManager, SessionManagerPath, SessionManager, "IsInhibited", &error, &reply, "u",
                         InhibitIdle) < 0 ||
      sd_bus_message_read(reply, "b", &inhibited) < 0) {
    inhibited = 0;
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return inhibited != 0;
}

void GnomeSource::BecameIdle() {
  if (Inhibited()) {
    heldBack_ = true;
    return;
  }
  heldBack_ = false;
  changes_.push_back(Change::UserIdle);
  activeWatch_ = AddWatch("AddUserActiveWatch");
}

int GnomeSource::OnWatchFired(sd_bus_message* message, void* data, sd_bus_error*) {
  auto& source = *static_cast<GnomeSource*>(data);
  std::uint32_t id = 0;
  if (sd_bus_message_read(message, "u", &id) < 0 || id == 0) return 0;
  if (id == source.idleWatch_) {
    source.BecameIdle();
  } else if (id == source.activeWatch_) {
    source.activeWatch_ = 0;
    source.changes_.push_back(Change::UserActive);
  }
  return 0;
}

int GnomeSource::OnInhibitorRemoved(sd_bus_message*, void* data, sd_bus_error*) {
  auto& source = *static_cast<GnomeSource*>(data);
  if (!source.heldBack_) return 0;
  // A watch added when the user has already been idle that long fires at once: the held-back show
  // starts now if no other inhibitor remains, or waits for the next.
  sd_bus_call_method(source.bus_, Monitor, MonitorPath, Monitor, "RemoveWatch", nullptr, nullptr, "u",
                     source.idleWatch_);
  source.idleWatch_ = source.AddWatch("AddIdleWatch");
  return 0;
}

int GnomeSource::OnOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*) {
  auto& source = *static_cast<GnomeSource*>(data);
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) >= 0 && newOwner != nullptr &&
      *newOwner == '\0') {
    // Mutter has gone, and its display with it.
    source.monitorGone_ = true;
    source.lostLine_ = "pyrovane-idle: lost the connection to the display\n";
  }
  return 0;
}

bool GnomeSource::Watch() {
  // The subscriptions come first, so that no firing is missed.
  const bool subscribed =
      sd_bus_match_signal(bus_, &slots_[0], Monitor, MonitorPath, Monitor, "WatchFired", OnWatchFired, this) >= 0 &&
      sd_bus_match_signal(bus_, &slots_[1], SessionManager, SessionManagerPath, SessionManager, "InhibitorRemoved",
                          OnInhibitorRemoved, this) >= 0 &&
      sd_bus_add_match(bus_, &slots_[2],
                       "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                       "member='NameOwnerChanged',arg0='org.gnome.Mutter.IdleMonitor'",
                       OnOwnerChanged, this) >= 0;
  if (!subscribed) return false;
  idleWatch_ = AddWatch("AddIdleWatch");
  return idleWatch_ != 0;
}

WaitFor GnomeSource::PrepareWait() {
  sd_bus_flush(bus_);
  const int events = sd_bus_get_events(bus_);
  std::uint64_t deadline = UINT64_MAX;
  int timeout = -1;
  // Messages that a method call read while it waited for its answer are queued already: sd-bus
  // says so with a deadline of now.
  if (!changes_.empty()) {
    timeout = 0;
  } else if (sd_bus_get_timeout(bus_, &deadline) >= 0 && deadline != UINT64_MAX) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t nowMicroseconds = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
    timeout = deadline <= nowMicroseconds ? 0 : static_cast<int>((deadline - nowMicroseconds + 999) / 1000);
  }
  // A connection that has closed has no descriptor: Read says so at once.
  const int descriptor = sd_bus_get_fd(bus_);
  return {descriptor, static_cast<short>(events < 0 ? POLLIN : events), descriptor < 0 ? 0 : timeout};
}

std::optional<std::vector<Change>> GnomeSource::Read() {
  int processed = 0;
  do {
    processed = sd_bus_process(bus_, nullptr);
  } while (processed > 0);
  if (processed < 0 || sd_bus_is_open(bus_) <= 0 || monitorGone_) return std::nullopt;
  return std::exchange(changes_, {});
}

std::unique_ptr<IdleSource> OpenGnomeSource(std::chrono::seconds period) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return nullptr;
  auto source = std::make_unique<GnomeSource>(bus, period);
  if (!source->Watch()) return nullptr;
  return source;
}

} // namespace idle
