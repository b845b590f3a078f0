// X servers for whole-process tests: private Xvfb and Xephyr servers, a host's window on them, and their windows awaited.
#include "x_servers.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace e2e {

using namespace support;

XvfbServer::XvfbServer(int width, int height, SharedMemory sharedMemory) : width_(width), height_(height) {
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  std::vector<std::string> command{"Xvfb", "-screen", "0", screen};
  if (sharedMemory == SharedMemory::NotOffered) {
    command.insert(command.end(), {"-extension", "MIT-SHM"});
  }
  Start(command, {});
}

XvfbServer::XvfbServer(const PseudoColour& screen) : width_(screen.width), height_(screen.height) {
  Start({"Xvfb", "-screen", "0", std::to_string(screen.width) + "x" + std::to_string(screen.height) + "x8"}, {});
}

XvfbServer::XvfbServer(const TwoHeads& heads) : width_(2 * heads.headWidth), height_(heads.headHeight) {
  const std::string head = std::to_string(heads.headWidth) + "x" + std::to_string(heads.headHeight);
  Start({"Xephyr", "-screen", head, "-screen", head, "+xinerama"}, heads.host.Environment());
}

void XvfbServer::Start(std::vector<std::string> command, const EnvironmentChanges& environment) {
  program_ = command.front();
  // The server picks a free display number and writes it to the descriptor given with
  // -displayfd once it accepts connections.
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    return;
  }
  command.insert(command.begin() + 1, {"-displayfd", std::to_string(pipeEnds[1]), "-noreset", "-nolisten", "tcp"});
  server_.emplace(command, environment, directory_.File("server.log"));
  close(pipeEnds[1]);
  std::string number;
  pollfd readable{pipeEnds[0], POLLIN, 0};
  while (server_->Started() && poll(&readable, 1, static_cast<int>(PatienceLimit.count())) > 0) {
    char character = 0;
    if (read(pipeEnds[0], &character, 1) != 1 || character == '\n') {
      break;
    }
    number.push_back(character);
  }
  close(pipeEnds[0]);
  if (!number.empty()) {
    display_ = ":" + number;
  }
}

XvfbServer::~XvfbServer() {
  if (server_) server_->Signal(SIGTERM);
}

std::string XvfbServer::Log() const {
  if (server_ && server_->Started()) return program_ + " printed:\n" + server_->Output();
  return program_ + " could not be run (scripts/bootstrap installs it)";
}

bool XvfbServer::Kill() {
  const bool ended = server_ && server_->Signal(SIGKILL).has_value();
  server_.reset();
  return ended;
}

bool XvfbServer::ResizeScreen(int width, int height) {
  // xrandr also complains that the output's mode no longer fits, and says so in its status.
  RunToEnd({"xrandr", "--fb", std::to_string(width) + "x" + std::to_string(height)}, Environment());
  const Ended expected{0, std::to_string(width) + " " + std::to_string(height) + "\n"};
  const bool resized = Eventually([&] {
    return RunToEnd({"xdotool", "getdisplaygeometry"}, Environment()) == expected;
  });
  if (resized) {
    width_ = width;
    height_ = height;
  }
  return resized;
}

std::optional<Rect> XvfbServer::WindowGeometry(const std::string& name) const {
  const Ended query = RunToEnd({"xdotool", "search", "--name", name, "getwindowgeometry", "--shell"}, Environment());
  if (query.exitCode == Ended::NotEnded) return std::nullopt;
  // One "KEY=value" line each: WINDOW, X, Y, WIDTH, HEIGHT, SCREEN; for one window only.
  std::map<std::string, int> values;
  std::istringstream lines(query.output);
  std::string line;
  int windows = 0;
  while (std::getline(lines, line)) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    windows += key == "WINDOW" ? 1 : 0;
    values[key] = std::atoi(line.c_str() + equals + 1);
  }
  if (windows != 1) return std::nullopt;
  return Rect{values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]};
}

bool XvfbServer::Xdotool(const std::vector<std::string>& arguments) const {
  return RunToEnd(Command("xdotool", arguments), Environment()).exitCode == 0;
}

bool WaitForWindow(const XvfbServer& server, const std::string& name) {
  return Eventually([&] { return server.Xdotool({"search", "--onlyvisible", "--name", name}); });
}

bool WaitForNoWindow(const XvfbServer& server, const std::string& name) {
  return Eventually([&] { return !server.Xdotool({"search", "--name", name}); });
}

std::string XvfbMissing() {
  if (!ProgramAvailable("Xvfb")) {
    return "Xvfb is not installed (scripts/bootstrap installs it): whole-process tests need a display";
  }
  return {};
}

namespace {

// The test's windows may vanish under a query (a program's window closing); that is an answer,
// not a reason to end the test process as Xlib's default handler would.
int IgnoreXError(Display* /*display*/, XErrorEvent* /*error*/) { return 0; }

} // namespace

HostWindow::HostWindow(const XvfbServer& server, Rect rect, Kind kind) : rect_(rect) {
  XSetErrorHandler(IgnoreXError);
  display_ = XOpenDisplay(server.Display().c_str());
  if (display_ == nullptr) {
    return;
  }
  const Window root = DefaultRootWindow(display_);
  Window window = 0;
  XVisualInfo alpha{};
  if (kind == Kind::ForDrawing) {
    // The server's screen is 24-bit true colour, so the pixel value is the colour itself.
    window = XCreateSimpleWindow(display_, root, rect.x, rect.y, static_cast<unsigned>(rect.width),
                                 static_cast<unsigned>(rect.height), 0, 0, Background);
  } else if (kind == Kind::ForDrawingWithAlpha &&
             XMatchVisualInfo(display_, DefaultScreen(display_), 32, TrueColor, &alpha) != 0) {
    XSetWindowAttributes attributes{};
    attributes.colormap = XCreateColormap(display_, root, alpha.visual, AllocNone);
    attributes.background_pixel = 0xFF000000 | Background;
    attributes.border_pixel = 0;
    window = XCreateWindow(display_, root, rect.x, rect.y, static_cast<unsigned>(rect.width),
                           static_cast<unsigned>(rect.height), 0, 32, InputOutput, alpha.visual,
                           CWColormap | CWBackPixel | CWBorderPixel, &attributes);
  } else if (kind == Kind::ForInputOnly) {
    XSetWindowAttributes attributes{};
    window = XCreateWindow(display_, root, rect.x, rect.y, static_cast<unsigned>(rect.width),
                           static_cast<unsigned>(rect.height), 0, 0, InputOnly, CopyFromParent, 0, &attributes);
  }
  XStoreName(display_, window, "host window");
  XMapWindow(display_, window);
  XSync(display_, False);
  id_ = static_cast<std::uint32_t>(window);
}

HostWindow::~HostWindow() {
  if (display_ != nullptr) {
    XCloseDisplay(display_);
  }
}

std::string HostWindow::DecimalId() const { return std::to_string(id_); }

std::string HostWindow::HexadecimalId() const {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(id_));
  return text;
}

bool HostWindow::Resize(int width, int height) {
  if (display_ == nullptr) return false;
  XResizeWindow(display_, id_, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XSync(display_, False);
  rect_.width = width;
  rect_.height = height;
  return true;
}

void HostWindow::Destroy() {
  if (display_ == nullptr) return;
  XDestroyWindow(display_, id_);
  XSync(display_, False);
}

bool HostWindow::Intact() {
  if (display_ == nullptr) return false;
  XWindowAttributes attributes;
  return XGetWindowAttributes(display_, id_, &attributes) != 0 && attributes.map_state == IsViewable &&
         attributes.width == rect_.width && attributes.height == rect_.height;
}

bool HostWindow::Opaque() {
  if (display_ == nullptr) return false;
  XImage* image = XGetImage(display_, id_, 0, 0, static_cast<unsigned>(rect_.width),
                            static_cast<unsigned>(rect_.height), AllPlanes, ZPixmap);
  if (image == nullptr) return false;
  bool opaque = image->depth == 32;
  for (int y = 0; opaque && y < image->height; ++y) {
    for (int x = 0; opaque && x < image->width; ++x) {
      opaque = (XGetPixel(image, x, y) >> 24) == 0xFF;
    }
  }
  XDestroyImage(image);
  return opaque;
}

std::vector<std::uint32_t> HostWindow::VisibleTopLevelWindows() {
  std::vector<std::uint32_t> visible;
  if (display_ == nullptr) return visible;
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count) == 0) {
    return visible;
  }
  for (unsigned index = 0; index < count; ++index) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, children[index], &attributes) != 0 && attributes.map_state == IsViewable) {
      visible.push_back(static_cast<std::uint32_t>(children[index]));
    }
  }
  if (children != nullptr) XFree(children);
  std::sort(visible.begin(), visible.end());
  return visible;
}

} // namespace e2e
