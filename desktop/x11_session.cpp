// The X11 session: our connection, the show's window over every monitor (or the host's window), the screen's changes and the left button.
#include "host_window.h"
#include "monitors.h"
#include "x11.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/dpms.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <vector>

namespace desktop {

namespace {

// A lost connection cannot be recovered, and Xlib forbids returning from here.
int OnConnectionLost(Display* /*display*/) { EndForLostDisplay(); }

constexpr char UnusableHostWindow[] = "main: XSCREENSAVER_WINDOW does not name a window to draw in\n";

using Clock = std::chrono::steady_clock;

// How long the show tries to take the keyboard while another client holds it (an open menu, a
// drag): once a frame, from the moment its window is mapped. After that it goes on without the
// keyboard, since a screen saver must show even when it cannot take it.
constexpr std::chrono::seconds KeyboardPatience{1};

// How often the show asks the server whether the monitor is on. While DPMS has it off (standby,
// suspend or off), nothing the show draws can be seen, and the show waits this long between looks.
constexpr std::chrono::seconds MonitorCheckPeriod{1};

// Whether the server renders through a GPU: the extensions of direct rendering (and NVIDIA's own
// GLX). Servers without them, such as Xvfb or a VNC server, leave OpenGL to a software
// rasterizer, on which SDL's renderer costs milliseconds of processor time per frame.
bool HasDirectRendering(Display* display) {
  for (const char* extension : {"DRI3", "DRI2", "NV-GLX"}) {
    int opcode = 0;
    int firstEvent = 0;
    int firstError = 0;
    if (XQueryExtension(display, extension, &opcode, &firstEvent, &firstError)) {
      return true;
    }
  }
  return false;
}

class X11Session final : public Session {
public:
  explicit X11Session(Display* display);
  ~X11Session() override;

  bool Open() override;
  DisplayTraits Traits() const override;
  const X11Target* X11() const override { return &target_; }
  void NoPresenter() override;
  bool ReadEvents() override;
  void WaitForEvents() override;
  bool Showing() const override { return !monitorOff_; }
  std::int16_t LeftButtonState() override;
  bool WindowGone() const override { return errors_.WindowGone(); }

private:
  bool TakeHostWindow(const char* value);
  void MakeOwnWindow();
  // Names the show's own window as desktop tools expect: its title and class, the machine and the
  // process it belongs to (tools find a program's windows by these: xdotool search --pid, wmctrl -lp).
  void NameOwnWindow();
  // The layout of the show's own window: the whole screen, with its monitors.
  WindowLayout ScreenLayout() const;
  // Reads every event that has arrived, noting what the next ReadEvents and LeftButtonState say.
  void Pump();
  // Notes what one event means; `screenChanged` when the screen's size or monitors changed.
  void Note(const XEvent& event, bool& screenChanged);
  // Keeps the show's own window mapped and over every other window: another client may unmap it,
  // or map or raise a window of its own over it.
  void KeepOnTop();
  // Takes the keyboard for the show's own window, so that nothing typed while it runs reaches the
  // window that has the focus under it; tries once a frame until KeyboardPatience has passed.
  void TakeKeyboard();
  // Asks about the monitor's power, at most once a MonitorCheckPeriod, where the server has DPMS.
  void CheckMonitor();

  Display* display_;
  Window root_;
  X11ErrorTrap errors_;
  X11Target target_;
  bool inHostWindow_ = false;
  bool buttonQueried_ = false;
  Colormap colormap_ = None;
  Cursor invisibleCursor_ = None;
  int randrEvents_ = -1; // the first of RandR's event codes, where the server has RandR
  bool redrawDue_ = false;
  bool pressed_ = false;
  bool remapDue_ = false;         // another client unmapped the show's own window
  bool stackingCheckDue_ = false; // another top-level window was mapped, moved or restacked
  bool keyboardHeld_ = false;
  Clock::time_point keyboardDeadline_;
  bool monitorChecked_ = false; // the server has DPMS, and the show asks it about the monitor
  bool monitorOff_ = false;
  Clock::time_point nextMonitorCheck_;
};

X11Session::X11Session(Display* display) : display_(display), root_(DefaultRootWindow(display)), errors_(display) {
  target_.display = display;
  target_.errors = &errors_;
}

X11Session::~X11Session() {
  if (!inHostWindow_ && target_.id != None) {
    // The keyboard goes back to the window that has the focus.
    if (keyboardHeld_) {
      XUngrabKeyboard(display_, CurrentTime);
    }
    XDestroyWindow(display_, target_.id);
  }
  if (invisibleCursor_ != None) {
    XFreeCursor(display_, invisibleCursor_);
  }
  if (colormap_ != None) {
    XFreeColormap(display_, colormap_);
  }
  XCloseDisplay(display_);
}

bool X11Session::Open() {
  const char* hostWindow = std::getenv(HostWindowVariable);
  if (hostWindow == nullptr) {
    MakeOwnWindow();
  } else if (!TakeHostWindow(hostWindow)) {
    platform::Fail(nullptr, "%s", UnusableHostWindow);
  }
  int eventBase = 0;
  int errorBase = 0;
  monitorChecked_ = DPMSQueryExtension(display_, &eventBase, &errorBase) && DPMSCapable(display_);
  CheckMonitor();
  return true;
}

DisplayTraits X11Session::Traits() const {
  return {WindowSystem::X11, HasDirectRendering(display_), HasFramePixelLayout(target_.visual, target_.depth)};
}

void X11Session::NoPresenter() {
  if (inHostWindow_) {
    platform::Fail(nullptr, "%s", UnusableHostWindow);
  }
}

bool X11Session::TakeHostWindow(const char* value) {
  const std::optional<std::uint32_t> id = ParseWindowId(value);
  if (!id) {
    return false;
  }
  // From here on an error about the window means its owner destroyed it, which ends the show
  // quietly, as the host's SIGTERM would.
  inHostWindow_ = true;
  target_.id = *id;
  errors_.WatchWindow(*id);
  // Structure changes tell of resizes and of the window's end, exposures of what must be drawn
  // again. Any number of clients may ask for these on one window; button presses are not asked
  // for, since a host that takes them holds them exclusively.
  XWindowAttributes attributes;
  const bool usable = errors_.Succeeds([&] {
    XSelectInput(display_, target_.id, StructureNotifyMask | ExposureMask);
    XGetWindowAttributes(display_, target_.id, &attributes);
  }) && attributes.c_class == InputOutput;
  if (!usable) {
    return false;
  }
  target_.visual = attributes.visual;
  target_.depth = attributes.depth;
  target_.layout = {attributes.width, attributes.height, {{0, 0, attributes.width, attributes.height}}};
  return true;
}

void X11Session::MakeOwnWindow() {
  const int screen = DefaultScreen(display_);
  target_.visual = DefaultVisual(display_, screen);
  target_.depth = DefaultDepth(display_, screen);
  XSetWindowAttributes attributes{};
  unsigned long mask = CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWEventMask | CWCursor;
  // Where the screen's own visual is not in the frame's layout (a 16-bit screen, say), a 24-bit
  // true-colour one saves the conversion, when the server has one; otherwise SDL's renderer
  // converts.
  XVisualInfo matching;
  if (!HasFramePixelLayout(target_.visual, target_.depth) &&
      XMatchVisualInfo(display_, screen, 24, TrueColor, &matching) != 0 &&
      HasFramePixelLayout(matching.visual, matching.depth)) {
    target_.visual = matching.visual;
    target_.depth = matching.depth;
    colormap_ = XCreateColormap(display_, root_, matching.visual, AllocNone);
    attributes.colormap = colormap_;
    mask |= CWColormap;
  }
  // The pointer is hidden over the show: a cursor made of one transparent pixel.
  char noPixels[1] = {0};
  const Pixmap empty = XCreateBitmapFromData(display_, root_, noPixels, 1, 1);
  XColor black{};
  invisibleCursor_ = XCreatePixmapCursor(display_, empty, empty, &black, &black, 0, 0);
  XFreePixmap(display_, empty);

  // Like every screen saver's window, it is left alone by the window manager (override-redirect)
  // and lies over everything, one window over all the monitors. Black is its background, so the
  // server itself clears what an exposure uncovers.
  target_.layout = ScreenLayout();
  attributes.override_redirect = True;
  attributes.background_pixel = 0;
  attributes.border_pixel = 0;
  attributes.event_mask = ExposureMask | StructureNotifyMask | ButtonPressMask;
  attributes.cursor = invisibleCursor_;
  target_.id = XCreateWindow(display_, root_, 0, 0, static_cast<unsigned>(target_.layout.width),
                             static_cast<unsigned>(target_.layout.height), 0, target_.depth, InputOutput,
                             target_.visual, mask, &attributes);
  // Another client may destroy the window: that ends the show normally, as a host's window does.
  errors_.WatchWindow(target_.id);
  NameOwnWindow();
  XMapRaised(display_, target_.id);

  // The screen's size, from the root window's structure; its monitors, from RandR; the other
  // top-level windows that might cover the show, from the root window's substructure.
  XSelectInput(display_, root_, StructureNotifyMask | SubstructureNotifyMask);
  int errorBase = 0;
  if (XRRQueryExtension(display_, &randrEvents_, &errorBase)) {
    XRRSelectInput(display_, root_, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  } else {
    randrEvents_ = -1;
  }
  XSync(display_, False);
  keyboardDeadline_ = Clock::now() + KeyboardPatience;
  TakeKeyboard();
}

void X11Session::NameOwnWindow() {
  XStoreName(display_, target_.id, "Pyrovane");
  char name[] = "pyrovane";
  char className[] = "Pyrovane";
  XClassHint classHint{name, className};
  // Sets the class and the machine's name (WM_CLIENT_MACHINE) along with the locale.
  XSetWMProperties(display_, target_.id, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &classHint);
  const long pid = getpid();
  XChangeProperty(display_, target_.id, XInternAtom(display_, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&pid), 1);
}

WindowLayout X11Session::ScreenLayout() const {
  XWindowAttributes root;
  XGetWindowAttributes(display_, root_, &root);
  std::vector<ScreenRect> randr;
  int major = 0;
  int minor = 0;
  int eventBase = 0;
  int errorBase = 0;
  if (XRRQueryExtension(display_, &eventBase, &errorBase) && XRRQueryVersion(display_, &major, &minor) &&
      (major > 1 || (major == 1 && minor >= 5))) {
    int count = 0;
    if (XRRMonitorInfo* monitors = XRRGetMonitors(display_, root_, True, &count)) {
      for (int index = 0; index < count; ++index) {
        randr.push_back({monitors[index].x, monitors[index].y, monitors[index].width, monitors[index].height});
      }
      XRRFreeMonitors(monitors);
    }
  }
  std::vector<ScreenRect> xinerama;
  int heads = 0;
  if (XineramaQueryExtension(display_, &eventBase, &errorBase) && XineramaIsActive(display_)) {
    if (XineramaScreenInfo* screens = XineramaQueryScreens(display_, &heads)) {
      for (int index = 0; index < heads; ++index) {
        xinerama.push_back({screens[index].x_org, screens[index].y_org, screens[index].width, screens[index].height});
      }
      XFree(screens);
    }
  }
  return {root.width, root.height, ChooseMonitors(randr, xinerama, root.width, root.height)};
}

void X11Session::Pump() {
  // XPending also sends what is queued and reads what the server sent; a lost connection ends
  // the process here.
  bool screenChanged = false;
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (randrEvents_ >= 0 &&
        (event.type == randrEvents_ + RRScreenChangeNotify || event.type == randrEvents_ + RRNotify)) {
      XRRUpdateConfiguration(&event);
      screenChanged = true;
      continue;
    }
    Note(event, screenChanged);
  }
  if (inHostWindow_ || errors_.WindowGone()) {
    return;
  }
  if (screenChanged) {
    // A monitor came or went, or the screen changed size: the window covers the screen again,
    // and every monitor gets its picture.
    const WindowLayout layout = ScreenLayout();
    if (layout != target_.layout) {
      if (layout.width != target_.layout.width || layout.height != target_.layout.height) {
        XMoveResizeWindow(display_, target_.id, 0, 0, static_cast<unsigned>(layout.width),
                          static_cast<unsigned>(layout.height));
      }
      target_.layout = layout;
      redrawDue_ = true;
    }
  }
  KeepOnTop();
  TakeKeyboard();
}

void X11Session::Note(const XEvent& event, bool& screenChanged) {
  switch (event.type) {
  case ConfigureNotify:
    if (inHostWindow_ && event.xconfigure.window == target_.id) {
      // The host's window, which may be the root window itself: the picture follows its size.
      const int width = event.xconfigure.width;
      const int height = event.xconfigure.height;
      if (width != target_.layout.width || height != target_.layout.height) {
        target_.layout = {width, height, {{0, 0, width, height}}};
        redrawDue_ = true;
      }
    } else if (event.xconfigure.window == root_) {
      screenChanged = true;
    } else if (event.xconfigure.window != target_.id) {
      stackingCheckDue_ = true;
    }
    break;
  case MapNotify: stackingCheckDue_ = stackingCheckDue_ || event.xmap.window != target_.id; break;
  case CirculateNotify: stackingCheckDue_ = stackingCheckDue_ || event.xcirculate.window != target_.id; break;
  case UnmapNotify:
    if (event.xunmap.window == target_.id) {
      // An unmapped window loses the keyboard with it.
      remapDue_ = true;
      keyboardHeld_ = false;
    }
    break;
  case Expose:
    if (event.xexpose.window == target_.id) {
      redrawDue_ = true;
    }
    break;
  case DestroyNotify:
    if (event.xdestroywindow.window == target_.id) {
      errors_.NoteWindowGone();
    }
    break;
  case ButtonPress:
    if (event.xbutton.button == Button1) {
      pressed_ = true;
    }
    break;
  default: break;
  }
}

void X11Session::KeepOnTop() {
  if (remapDue_) {
    remapDue_ = false;
    XMapRaised(display_, target_.id);
    keyboardDeadline_ = Clock::now() + KeyboardPatience;
    return;
  }
  if (!stackingCheckDue_) {
    return;
  }
  stackingCheckDue_ = false;
  Window root = None;
  Window parent = None;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display_, root_, &root, &parent, &children, &count) == 0) {
    return;
  }
  // The children come from the bottom of the stack to its top.
  if (count > 0 && children[count - 1] != target_.id) {
    XRaiseWindow(display_, target_.id);
  }
  if (children != nullptr) {
    XFree(children);
  }
}

void X11Session::TakeKeyboard() {
  if (keyboardHeld_ || Clock::now() > keyboardDeadline_) {
    return;
  }
  // Key events then come to the show's window, which asks for none: they are dropped.
  keyboardHeld_ = XGrabKeyboard(display_, target_.id, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
}

void X11Session::CheckMonitor() {
  const Clock::time_point now = Clock::now();
  if (!monitorChecked_ || now < nextMonitorCheck_) {
    return;
  }
  nextMonitorCheck_ = now + MonitorCheckPeriod;
  CARD16 level = DPMSModeOn;
  BOOL enabled = False;
  monitorOff_ = DPMSInfo(display_, &level, &enabled) != 0 && level != DPMSModeOn;
}

bool X11Session::ReadEvents() {
  Pump();
  CheckMonitor();
  const bool redraw = redrawDue_;
  redrawDue_ = false;
  return redraw;
}

void X11Session::WaitForEvents() {
  if (XPending(display_) > 0) {
    return;
  }
  // Until the server sends something, or it is time to ask about the monitor again.
  const auto untilCheck =
      std::chrono::duration_cast<std::chrono::milliseconds>(nextMonitorCheck_ - Clock::now()).count();
  const int timeout = monitorChecked_ ? static_cast<int>(std::clamp<long long>(untilCheck, 0, 1000)) : -1;
  pollfd connection{ConnectionNumber(display_), POLLIN, 0};
  poll(&connection, 1, timeout);
}

std::int16_t X11Session::LeftButtonState() {
  const bool first = !buttonQueried_;
  buttonQueried_ = true;
  if (first) {
    XSync(display_, False);
  }
  Pump();
  if (WindowGone()) {
    // A window destroyed before the show began to draw: the host's window is then one the show
    // cannot use, whose host ended as the show started. The show's own window reads as not
    // pressed first, so that its end is a change that ends the show normally.
    if (first && inHostWindow_) {
      platform::Fail(nullptr, "%s", UnusableHostWindow);
    }
    return first ? 0 : platform::PressedSinceLastQuery;
  }
  if (inHostWindow_) {
    return 0;
  }
  std::uint16_t value = pressed_ ? platform::PressedSinceLastQuery : 0;
  pressed_ = false;
  // The global state asks the server, so it sees the button even when another window lies
  // under the pointer.
  Window rootUnder = None;
  Window childUnder = None;
  int rootX = 0;
  int rootY = 0;
  int windowX = 0;
  int windowY = 0;
  unsigned buttons = 0;
  if (XQueryPointer(display_, root_, &rootUnder, &childUnder, &rootX, &rootY, &windowX, &windowY, &buttons) &&
      (buttons & Button1Mask) != 0) {
    value |= platform::ButtonDownNow;
  }
  return static_cast<std::int16_t>(value);
}

} // namespace

bool HasFramePixelLayout(const Visual* visual, int depth) {
  return (depth == 24 || depth == 32) && (visual->c_class == TrueColor || visual->c_class == DirectColor) &&
         visual->red_mask == 0xFF0000 && visual->green_mask == 0x00FF00 && visual->blue_mask == 0x0000FF;
}

std::unique_ptr<Session> ConnectX11() {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    return nullptr;
  }
  // From now on losing any connection to the display ends the process; a screen saver must not
  // outlive its display. Writing to a server that has gone must end in that handler, not in a
  // signal that would end the process without its line.
  XSetIOErrorHandler(OnConnectionLost);
  std::signal(SIGPIPE, SIG_IGN);
  return std::make_unique<X11Session>(display);
}

} // namespace desktop
