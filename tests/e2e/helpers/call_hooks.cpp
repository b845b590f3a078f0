// A test helper preloaded into the program under test (LD_PRELOAD): it notes the calls that open and close the show's window, and reaches the moments between two of them.
//
//   PYROVANE_CALL_LOG=<file>         notes XCreateWindow, XDestroyWindow, XCloseDisplay, fork and
//                                    the program's exit in the file, one line each, as they are made
//   PYROVANE_KILL_AT=XShmAttach      the process kills itself (SIGKILL) as it asks the server to
//                                    attach its shared memory
//   PYROVANE_DESTROY_HOST_WINDOW_AT=<XSelectInput | XCreateGC>
//                                    the host's window (XSCREENSAVER_WINDOW) is destroyed, over a
//                                    connection of its own, just before the program's first such
//                                    call on it, as if its host ended it at that moment
//   PYROVANE_DESTROY_OWN_WINDOW_AT=XMapRaised
//                                    the show's own window is destroyed, over a connection of its
//                                    own, just after the program first maps it, as if another
//                                    program destroyed it as the show starts
//   PYROVANE_MONITOR_STATE=<file>    answers the DPMS queries in the X server's place, for servers
//                                    that run without a monitor and have no DPMS: the server has it,
//                                    and the monitor is off while the file holds "off"
//
// Every call then goes on to the real function as asked.
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/dpms.h>
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

void Note(const char* call) {
  const char* path = std::getenv("PYROVANE_CALL_LOG");
  if (path == nullptr) return;
  if (std::FILE* log = std::fopen(path, "a")) {
    std::fprintf(log, "%s\n", call);
    std::fclose(log);
  }
}

bool Asked(const char* variable, const char* call) {
  const char* value = std::getenv(variable);
  return value != nullptr && std::strcmp(value, call) == 0;
}

// Destroys the host's window when the program is about to make `call` on it, once.
void DestroyHostWindowAt(const char* call, unsigned long window) {
  static bool destroyed = false;
  const char* host = std::getenv("XSCREENSAVER_WINDOW");
  if (destroyed || host == nullptr || !Asked("PYROVANE_DESTROY_HOST_WINDOW_AT", call) ||
      std::strtoul(host, nullptr, 0) != window) {
    return;
  }
  destroyed = true;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return;
  XDestroyWindow(display, window);
  XSync(display, False);
  XCloseDisplay(display);
}

// The function of this name in the libraries loaded after this one.
template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

Window XCreateWindow(Display* display, Window parent, int x, int y, unsigned width, unsigned height, unsigned border,
                     int depth, unsigned windowClass, Visual* visual, unsigned long mask,
                     XSetWindowAttributes* attributes) {
  static const auto next = Next<decltype(&XCreateWindow)>("XCreateWindow");
  Note("XCreateWindow");
  return next(display, parent, x, y, width, height, border, depth, windowClass, visual, mask, attributes);
}

int XDestroyWindow(Display* display, Window window) {
  static const auto next = Next<decltype(&XDestroyWindow)>("XDestroyWindow");
  Note("XDestroyWindow");
  return next(display, window);
}

int XCloseDisplay(Display* display) {
  static const auto next = Next<decltype(&XCloseDisplay)>("XCloseDisplay");
  Note("XCloseDisplay");
  return next(display);
}

int XMapRaised(Display* display, Window window) {
  static const auto next = Next<decltype(&XMapRaised)>("XMapRaised");
  static bool destroyed = false;
  const int result = next(display, window);
  if (!destroyed && Asked("PYROVANE_DESTROY_OWN_WINDOW_AT", "XMapRaised")) {
    destroyed = true;
    XSync(display, False);
    if (Display* other = XOpenDisplay(nullptr)) {
      XDestroyWindow(other, window);
      XSync(other, False);
      XCloseDisplay(other);
    }
  }
  return result;
}

int XSelectInput(Display* display, Window window, long mask) {
  static const auto next = Next<decltype(&XSelectInput)>("XSelectInput");
  DestroyHostWindowAt("XSelectInput", window);
  return next(display, window, mask);
}

GC XCreateGC(Display* display, Drawable drawable, unsigned long mask, XGCValues* values) {
  static const auto next = Next<decltype(&XCreateGC)>("XCreateGC");
  DestroyHostWindowAt("XCreateGC", drawable);
  return next(display, drawable, mask, values);
}

Bool XShmAttach(Display* display, XShmSegmentInfo* segment) {
  static const auto next = Next<decltype(&XShmAttach)>("XShmAttach");
  if (Asked("PYROVANE_KILL_AT", "XShmAttach")) raise(SIGKILL);
  return next(display, segment);
}

Bool DPMSQueryExtension(Display* display, int* eventBase, int* errorBase) {
  static const auto next = Next<decltype(&DPMSQueryExtension)>("DPMSQueryExtension");
  if (std::getenv("PYROVANE_MONITOR_STATE") == nullptr) return next(display, eventBase, errorBase);
  *eventBase = 0;
  *errorBase = 0;
  return True;
}

Bool DPMSCapable(Display* display) {
  static const auto next = Next<decltype(&DPMSCapable)>("DPMSCapable");
  return std::getenv("PYROVANE_MONITOR_STATE") != nullptr ? True : next(display);
}

Status DPMSInfo(Display* display, CARD16* powerLevel, BOOL* enabled) {
  static const auto next = Next<decltype(&DPMSInfo)>("DPMSInfo");
  const char* path = std::getenv("PYROVANE_MONITOR_STATE");
  if (path == nullptr) return next(display, powerLevel, enabled);
  std::string state;
  std::ifstream(path) >> state;
  *powerLevel = state == "off" ? DPMSModeOff : DPMSModeOn;
  *enabled = True;
  return 1;
}

pid_t fork() {
  static const auto next = Next<decltype(&fork)>("fork");
  Note("fork");
  return next();
}

// Does not return, as <stdlib.h> declares; [[noreturn]] may be written on a first declaration only.
void exit(int status) noexcept {
  static const auto next = Next<void (*)(int)>("exit");
  const std::string call = "exit(" + std::to_string(status) + ")";
  Note(call.c_str());
  next(status);
  __builtin_unreachable();
}

} // extern "C"
