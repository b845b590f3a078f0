// Idle time on X11: two alarms on the SYNC extension's IDLETIME counter, which the server raises when the counter crosses the period.
#include <X11/Xlib.h>
#include <X11/extensions/sync.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "sources.h"

namespace idle {

namespace {

constexpr char LostDisplay[] = "pyrovane-idle: lost the connection to the display\n";

// Xlib allows no return from here; the show gets its SIGTERM as this process dies.
int OnConnectionLost(Display*) {
  std::fputs(LostDisplay, stderr);
  std::fflush(stderr);
  std::_Exit(255);
}

// Xlib's default would print an error report and end the process; the alarms are the only
// requests, and a failed one shows as an alarm that never fires.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

// IDLETIME counts the milliseconds since the last input. The server tells of an alarm when the
// counter passes its value upwards (idle for the period) or downwards (input after that), and
// keeps each alarm for every later crossing, so neither side measures time.
class X11Source final : public IdleSource {
public:
  X11Source(Display* display, int eventBase) : display_(display), eventBase_(eventBase) {}
  ~X11Source() override { XCloseDisplay(display_); }
  X11Source(const X11Source&) = delete;
  X11Source& operator=(const X11Source&) = delete;

  // Makes both alarms; false when the server has no IDLETIME counter.
  bool Watch(std::chrono::seconds period);

  WaitFor PrepareWait() override {
    XFlush(display_);
    const bool ready = QLength(display_) > 0 || !changes_.empty();
    return {ConnectionNumber(display_), POLLIN, ready ? 0 : -1};
  }
  std::optional<std::vector<Change>> Read() override;
  const char* LostLine() const override { return LostDisplay; }

private:
  XSyncAlarm Alarm(XSyncCounter counter, XSyncTestType test, std::int64_t milliseconds);

  Display* display_;
  int eventBase_;
  XSyncAlarm idleAlarm_ = None;
  XSyncAlarm activeAlarm_ = None;
  std::vector<Change> changes_;
};

} // namespace

XSyncAlarm X11Source::Alarm(XSyncCounter counter, XSyncTestType test, std::int64_t milliseconds) {
  XSyncAlarmAttributes attributes{};
  attributes.trigger.counter = counter;
  attributes.trigger.value_type = XSyncAbsolute;
  attributes.trigger.test_type = test;
  XSyncIntsToValue(&attributes.trigger.wait_value, static_cast<unsigned>(milliseconds & 0xFFFFFFFF),
                   static_cast<int>(milliseconds >> 32));
  // A delta of 0 keeps a transition's alarm active after it fires.
  XSyncIntToValue(&attributes.delta, 0);
  attributes.events = True;
  return XSyncCreateAlarm(
      display_, XSyncCACounter | XSyncCAValueType | XSyncCATestType | XSyncCAValue | XSyncCADelta | XSyncCAEvents,
      &attributes);
}

bool X11Source::Watch(std::chrono::seconds period) {
  int count = 0;
  XSyncSystemCounter* counters = XSyncListSystemCounters(display_, &count);
  XSyncCounter idleTime = None;
  for (int index = 0; index < count; ++index) {
    if (std::strcmp(counters[index].name, "IDLETIME") == 0) idleTime = counters[index].counter;
  }
  if (counters != nullptr) XSyncFreeSystemCounterList(counters);
  if (idleTime == None) return false;
  const std::int64_t milliseconds = std::chrono::milliseconds(period).count();
  idleAlarm_ = Alarm(idleTime, XSyncPositiveTransition, milliseconds);
  activeAlarm_ = Alarm(idleTime, XSyncNegativeTransition, milliseconds);
  // A user who has been idle that long already sees no crossing until the next input: the
  // watcher started then starts the show at once, as GNOME's monitor does.
  XSyncValue now;
  if (XSyncQueryCounter(display_, idleTime, &now) != 0 &&
      (static_cast<std::int64_t>(XSyncValueHigh32(now)) << 32 | XSyncValueLow32(now)) >= milliseconds) {
    changes_.push_back(Change::UserIdle);
  }
  XSync(display_, False);
  return idleAlarm_ != None && activeAlarm_ != None;
}

std::optional<std::vector<Change>> X11Source::Read() {
  // A server that has gone leaves the socket at its end: that is seen here, before Xlib would
  // read from it and end the process in the handler.
  char next = 0;
  if (QLength(display_) == 0 && recv(ConnectionNumber(display_), &next, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
    return std::nullopt;
  }
  std::vector<Change> changes = std::exchange(changes_, {});
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type != eventBase_ + XSyncAlarmNotify) continue;
    const XSyncAlarm alarm = reinterpret_cast<const XSyncAlarmNotifyEvent&>(event).alarm;
    if (alarm == idleAlarm_) changes.push_back(Change::UserIdle);
    if (alarm == activeAlarm_) changes.push_back(Change::UserActive);
  }
  return changes;
}

std::unique_ptr<IdleSource> OpenX11Source(std::chrono::seconds period) {
  if (std::getenv("DISPLAY") == nullptr) return nullptr;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return nullptr;
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  if (!XSyncQueryExtension(display, &eventBase, &errorBase) || !XSyncInitialize(display, &major, &minor)) {
    XCloseDisplay(display);
    return nullptr;
  }
  XSetErrorHandler(IgnoreError);
  XSetIOErrorHandler(OnConnectionLost);
  auto source = std::make_unique<X11Source>(display, eventBase);
  if (!source->Watch(period)) return nullptr;
  return source;
}

} // namespace idle
