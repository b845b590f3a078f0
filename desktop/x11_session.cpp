// The X11 session: our connection, the show's window over every monitor (or the host's window), the screen's changes and the left button.
#include "host_window.h"
#include "monitors.h"
#include "x11.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include <csignal>
#include <cstdlib>
#include <vector>

namespace desktop {

namespace {

// A lost connection cannot be recovered, and Xlib forbids returning from here.
int OnConnectionLost(Display* /*display*/) { EndForLostDisplay(); }

constexpr char UnusableHostWindow[] = "main: XSCREENSAVER_WINDOW does not name a window to draw in\n";

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
  std::int16_t LeftButtonState() override;
  bool HostWindowGone() const override { return inHostWindow_ && errors_.WindowGone(); }

private:
  bool TakeHostWindow(const char* value);
  void MakeOwnWindow();
  // The layout of the show's own window: the whole screen, with its monitors.
  WindowLayout ScreenLayout() const;
  // Reads every event that has arrived, noting what the next ReadEvents and LeftButtonState say.
  void Pump();

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
};

X11Session::X11Session(Display* display) : display_(display), root_(DefaultRootWindow(display)), errors_(display) {
  target_.display = display;
  target_.errors = &errors_;
}

X11Session::~X11Session() {
  if (!inHostWindow_ && target_.id != None) {
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
  XStoreName(display_, target_.id, "Pyrovane");
  char name[] = "pyrovane";
  char className[] = "Pyrovane";
  XClassHint classHint{name, className};
  XSetClassHint(display_, target_.id, &classHint);
  XMapRaised(display_, target_.id);

  // The screen's size, from the root window's structure; its monitors, from RandR.
  XSelectInput(display_, root_, StructureNotifyMask);
  int errorBase = 0;
  if (XRRQueryExtension(display_, &randrEvents_, &errorBase)) {
    XRRSelectInput(display_, root_, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  } else {
    randrEvents_ = -1;
  }
  XSync(display_, False);
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
    switch (event.type) {
    case ConfigureNotify:
      if (event.xconfigure.window == root_) {
        screenChanged = true;
      } else if (inHostWindow_ && event.xconfigure.window == target_.id &&
                 (event.xconfigure.width != target_.layout.width || event.xconfigure.height != target_.layout.height)) {
        const int width = event.xconfigure.width;
        const int height = event.xconfigure.height;
        target_.layout = {width, height, {{0, 0, width, height}}};
        redrawDue_ = true;
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
  if (screenChanged && !inHostWindow_) {
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
}

bool X11Session::ReadEvents() {
  Pump();
  const bool redraw = redrawDue_;
  redrawDue_ = false;
  return redraw;
}

std::int16_t X11Session::LeftButtonState() {
  if (inHostWindow_) {
    if (!buttonQueried_) {
      // A host that ends while the show starts takes its window away before the show has begun
      // to draw; the show can only say so, since its button reads the window's end as a press,
      // and a press at the start would be the state the show then waits to change.
      buttonQueried_ = true;
      XSync(display_, False);
      Pump();
      if (HostWindowGone()) {
        platform::Fail(nullptr, "%s", UnusableHostWindow);
      }
    }
    return HostWindowGone() ? platform::PressedSinceLastQuery : 0;
  }
  Pump();
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
