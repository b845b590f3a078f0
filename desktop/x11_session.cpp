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

// Xlib's error handlers are process-wide and take no context, so what they learn is kept here.
// There is one session at a time.
struct ErrorState {
  XErrorHandler previous = nullptr;
  Display* display = nullptr;  // the session's connection
  unsigned long window = None; // the window drawn in
  bool windowGone = false;     // an error said that it no longer exists
  bool trapping = false;       // errors on the session's connection are expected and only noted
  bool trapped = false;
};
ErrorState errors;

// Errors about the window once its owner has destroyed it are expected: requests already on
// their way meet a window that no longer exists, on our connection and on SDL's. They mean the
// show is over, not that it failed. Every other error goes where it went before.
int OnError(Display* display, XErrorEvent* event) {
  if (errors.trapping && display == errors.display) {
    errors.trapped = true;
    return 0;
  }
  if (errors.window != None && event->resourceid == errors.window &&
      (event->error_code == BadWindow || event->error_code == BadDrawable)) {
    errors.windowGone = true;
    return 0;
  }
  return errors.previous != nullptr ? errors.previous(display, event) : 0;
}

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

  std::unique_ptr<Presenter> Open(PresentPath path) override;
  bool ReadEvents() override;
  WindowLayout Layout() const override { return layout_; }
  std::int16_t LeftButtonState() override;
  bool DrawsInHostWindow() const override { return inHostWindow_; }
  bool HostWindowGone() const override { return inHostWindow_ && errors.windowGone; }

private:
  bool TakeHostWindow(const char* value);
  void MakeOwnWindow();
  // The layout of the show's own window: the whole screen, with its monitors.
  WindowLayout ScreenLayout() const;
  // Reads every event that has arrived, noting what the next ReadEvents and LeftButtonState say.
  void Pump();

  Display* display_;
  Window root_;
  X11Window window_;
  bool inHostWindow_ = false;
  WindowLayout layout_;
  Colormap colormap_ = None;
  Cursor invisibleCursor_ = None;
  int randrEvents_ = -1; // the first of RandR's event codes, where the server has RandR
  bool redrawDue_ = false;
  bool pressed_ = false;
};

X11Session::X11Session(Display* display) : display_(display), root_(DefaultRootWindow(display)) {
  window_.display = display;
  const XErrorHandler current = XSetErrorHandler(OnError);
  if (current != OnError) {
    errors.previous = current;
  }
  errors = {errors.previous, display, None, false, false, false};
}

X11Session::~X11Session() {
  if (!inHostWindow_ && window_.id != None) {
    XDestroyWindow(display_, window_.id);
  }
  if (invisibleCursor_ != None) {
    XFreeCursor(display_, invisibleCursor_);
  }
  if (colormap_ != None) {
    XFreeColormap(display_, colormap_);
  }
  errors.display = nullptr;
  errors.window = None;
  XCloseDisplay(display_);
}

std::unique_ptr<Presenter> X11Session::Open(PresentPath path) {
  const char* hostWindow = std::getenv(HostWindowVariable);
  if (hostWindow != nullptr) {
    if (!TakeHostWindow(hostWindow)) {
      platform::Fail(nullptr, "%s", UnusableHostWindow);
    }
  } else {
    MakeOwnWindow();
  }
  const auto images = [&] { return MakeX11Images(window_, layout_); };
  const auto renderer = [&] { return MakeSdlRenderer(window_, layout_); };
  std::unique_ptr<Presenter> presenter;
  switch (path) {
  case PresentPath::Renderer: presenter = renderer(); break;
  case PresentPath::X11Images: presenter = images(); break;
  case PresentPath::Automatic:
    // With a GPU the renderer scales almost for free; without one, X images and our scaler,
    // which redraws only what changed, cost a small fraction of what the renderer does on a
    // software rasterizer (see bench/show_cpu.sh). A window whose pixels are in another layout
    // than the frame's takes the renderer, which converts.
    presenter = HasDirectRendering(display_) ? renderer() : images();
    if (presenter == nullptr) {
      presenter = renderer();
    }
    break;
  }
  if (inHostWindow_) {
    // A host that ends while the show starts takes its window away before the show has begun to
    // draw; the show can only say so, since its button reads the window's end as a press, and a
    // press at the start would be the state the show then waits to change.
    XSync(display_, False);
    Pump();
    if (presenter == nullptr || HostWindowGone()) {
      platform::Fail(nullptr, "%s", UnusableHostWindow);
    }
  }
  return presenter;
}

bool X11Session::TakeHostWindow(const char* value) {
  const std::optional<std::uint32_t> id = ParseWindowId(value);
  if (!id) {
    return false;
  }
  // From here on an error about the window means its owner destroyed it, which ends the show
  // quietly, as the host's SIGTERM would.
  inHostWindow_ = true;
  window_.id = *id;
  errors.window = *id;
  // Structure changes tell of resizes and of the window's end, exposures of what must be drawn
  // again. Any number of clients may ask for these on one window; button presses are not asked
  // for, since a host that takes them holds them exclusively.
  XWindowAttributes attributes;
  const bool usable = SucceedsOnX11(display_,
                                    [&] {
                                      XSelectInput(display_, window_.id, StructureNotifyMask | ExposureMask);
                                      XGetWindowAttributes(display_, window_.id, &attributes);
                                    }) &&
                      attributes.c_class == InputOutput;
  if (!usable) {
    return false;
  }
  window_.visual = attributes.visual;
  window_.depth = attributes.depth;
  layout_ = {attributes.width, attributes.height, {{0, 0, attributes.width, attributes.height}}};
  return true;
}

void X11Session::MakeOwnWindow() {
  const int screen = DefaultScreen(display_);
  window_.visual = DefaultVisual(display_, screen);
  window_.depth = DefaultDepth(display_, screen);
  XSetWindowAttributes attributes{};
  unsigned long mask = CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWEventMask | CWCursor;
  // Where the screen's own visual is not in the frame's layout (a 16-bit screen, say), a 24-bit
  // true-colour one saves the conversion, when the server has one; otherwise SDL's renderer
  // converts.
  XVisualInfo matching;
  if (!HasFramePixelLayout(window_.visual, window_.depth) &&
      XMatchVisualInfo(display_, screen, 24, TrueColor, &matching) != 0 &&
      HasFramePixelLayout(matching.visual, matching.depth)) {
    window_.visual = matching.visual;
    window_.depth = matching.depth;
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
  layout_ = ScreenLayout();
  attributes.override_redirect = True;
  attributes.background_pixel = 0;
  attributes.border_pixel = 0;
  attributes.event_mask = ExposureMask | StructureNotifyMask | ButtonPressMask;
  attributes.cursor = invisibleCursor_;
  window_.id =
      XCreateWindow(display_, root_, 0, 0, static_cast<unsigned>(layout_.width), static_cast<unsigned>(layout_.height),
                    0, window_.depth, InputOutput, window_.visual, mask, &attributes);
  XStoreName(display_, window_.id, "Pyrovane");
  char name[] = "pyrovane";
  char className[] = "Pyrovane";
  XClassHint classHint{name, className};
  XSetClassHint(display_, window_.id, &classHint);
  XMapRaised(display_, window_.id);

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
      } else if (inHostWindow_ && event.xconfigure.window == window_.id &&
                 (event.xconfigure.width != layout_.width || event.xconfigure.height != layout_.height)) {
        const int width = event.xconfigure.width;
        const int height = event.xconfigure.height;
        layout_ = {width, height, {{0, 0, width, height}}};
        redrawDue_ = true;
      }
      break;
    case Expose:
      if (event.xexpose.window == window_.id) {
        redrawDue_ = true;
      }
      break;
    case DestroyNotify:
      if (event.xdestroywindow.window == window_.id) {
        errors.windowGone = true;
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
    if (layout != layout_) {
      if (layout.width != layout_.width || layout.height != layout_.height) {
        XMoveResizeWindow(display_, window_.id, 0, 0, static_cast<unsigned>(layout.width),
                          static_cast<unsigned>(layout.height));
      }
      layout_ = layout;
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
    return HostWindowGone() ? PressedSinceLastQuery : 0;
  }
  Pump();
  std::uint16_t value = pressed_ ? PressedSinceLastQuery : 0;
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
    value |= ButtonDownNow;
  }
  return static_cast<std::int16_t>(value);
}

} // namespace

bool SucceedsOnX11(Display* display, void (*request)(Display*, void*), void* data) {
  errors.trapping = true;
  errors.trapped = false;
  request(display, data);
  XSync(display, False);
  errors.trapping = false;
  return !errors.trapped;
}

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
