// X11 desktops for whole-process tests: a window manager on a private server, and another program's windows beside the show.
#include "window_managers.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>

namespace e2e {

using namespace support;

Openbox::Openbox(const XvfbServer& server) {
  // Plain openbox runs no autostart programs (openbox-session would), so nothing else comes up.
  process_.emplace(std::vector<std::string>{"openbox", "--sm-disable"}, server.Environment(),
                   directory_.File("openbox.log"));
  managing_ = process_->Started() && Eventually([&] {
                const Ended query = RunToEnd({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, server.Environment());
                return query.exitCode == 0 && query.output.find("window id") != std::string::npos;
              });
}

std::string Openbox::Log() const {
  if (process_ && process_->Started()) return "openbox printed:\n" + process_->Output();
  return "openbox could not be run (scripts/bootstrap installs it)";
}

namespace {

// Another program's window may vanish under a query; that is an answer, not a reason to end the
// test process as Xlib's default handler would.
int IgnoreXError(Display* /*display*/, XErrorEvent* /*error*/) { return 0; }

} // namespace

DesktopClient::DesktopClient(const XvfbServer& server) {
  XSetErrorHandler(IgnoreXError);
  display_ = XOpenDisplay(server.Display().c_str());
}

DesktopClient::~DesktopClient() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

bool DesktopClient::OpenFocusedWindow(Rect rect) {
  if (display_ == nullptr) return false;
  const Window window =
      XCreateSimpleWindow(display_, DefaultRootWindow(display_), rect.x, rect.y, static_cast<unsigned>(rect.width),
                          static_cast<unsigned>(rect.height), 0, 0, WhitePixel(display_, DefaultScreen(display_)));
  XStoreName(display_, window, "typing");
  XSelectInput(display_, window, KeyPressMask);
  XMapWindow(display_, window);
  XSync(display_, False);
  focused_ = static_cast<std::uint32_t>(window);
  // The window manager maps a new window and gives it the focus; where it has not yet, this client
  // asks again (a window manager that is still starting may miss the first request).
  return Eventually([&] {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window, &attributes) == 0 || attributes.map_state != IsViewable) {
      XMapWindow(display_, window);
      XSync(display_, False);
      return false;
    }
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    if (focus != window) XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    XSync(display_, False);
    return focus == window;
  });
}

std::string DesktopClient::Typed() {
  if (display_ == nullptr) return typed_;
  XSync(display_, False);
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type != KeyPress || event.xkey.window != focused_) continue;
    char text[8];
    const int length = XLookupString(&event.xkey, text, sizeof text, nullptr, nullptr);
    typed_.append(text, static_cast<std::size_t>(std::max(length, 0)));
  }
  return typed_;
}

bool DesktopClient::KeyboardHeldElsewhere() {
  if (display_ == nullptr) return false;
  const int result =
      XGrabKeyboard(display_, DefaultRootWindow(display_), False, GrabModeAsync, GrabModeAsync, CurrentTime);
  if (result == GrabSuccess) XUngrabKeyboard(display_, CurrentTime);
  XSync(display_, False);
  return result == AlreadyGrabbed;
}

std::uint32_t DesktopClient::Root() const {
  return display_ != nullptr ? static_cast<std::uint32_t>(DefaultRootWindow(display_)) : 0;
}

void DesktopClient::Cover(Rect rect) {
  if (display_ == nullptr) return;
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = WhitePixel(display_, DefaultScreen(display_));
  const Window cover =
      XCreateWindow(display_, DefaultRootWindow(display_), rect.x, rect.y, static_cast<unsigned>(rect.width),
                    static_cast<unsigned>(rect.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(display_, cover);
  XSync(display_, False);
}

std::uint32_t DesktopClient::Topmost() {
  if (display_ == nullptr) return 0;
  Window root = None;
  Window parent = None;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count) == 0) return 0;
  std::uint32_t topmost = 0;
  // From the top of the stack down.
  for (unsigned index = count; index-- > 0 && topmost == 0;) {
    if (Viewable(static_cast<std::uint32_t>(children[index]))) topmost = static_cast<std::uint32_t>(children[index]);
  }
  if (children != nullptr) XFree(children);
  return topmost;
}

bool DesktopClient::Viewable(std::uint32_t window) {
  XWindowAttributes attributes;
  return display_ != nullptr && XGetWindowAttributes(display_, window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
}

void DesktopClient::Unmap(std::uint32_t window) {
  if (display_ == nullptr) return;
  XUnmapWindow(display_, window);
  XSync(display_, False);
}

void DesktopClient::Destroy(std::uint32_t window) {
  if (display_ == nullptr) return;
  XDestroyWindow(display_, window);
  XSync(display_, False);
}

std::string FoundWindows(const XvfbServer& server, const std::vector<std::string>& search) {
  std::vector<std::string> command{"xdotool", "search"};
  command.insert(command.end(), search.begin(), search.end());
  return RunToEnd(command, server.Environment()).output;
}

} // namespace e2e
