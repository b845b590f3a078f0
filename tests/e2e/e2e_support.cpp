// Support for whole-process tests: the program under test, private display servers, X tools and screenshots.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace e2e {

using namespace support;

const std::string Program = PYROVANE_PROGRAM;
const std::string Flare = PYROVANE_FLARE;

std::filesystem::path ExecutableOf(pid_t pid) {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
}

std::vector<unsigned> SharedMemorySegmentsOf(pid_t pid) {
  std::istringstream table(ReadWhole("/proc/sysvipc/shm"));
  std::string line;
  std::getline(table, line); // the column names
  std::vector<unsigned> permissions;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    long key = 0, id = 0, size = 0;
    unsigned mode = 0;
    pid_t creator = 0;
    if (fields >> key >> id >> std::oct >> mode >> std::dec >> size >> creator && creator == pid) {
      permissions.push_back(mode);
    }
  }
  return permissions;
}

Ended RunProgram(const std::string& directory, const std::vector<std::string>& arguments,
                 const EnvironmentChanges& environment) {
  return RunToEnd(InDirectory(directory, Command(Program, arguments)), environment);
}

ShowDirectory::ShowDirectory() { std::filesystem::copy_file(Flare, File("flare.3df")); }

ChildProcess ShowDirectory::Start(const std::vector<std::string>& arguments, const EnvironmentChanges& environment,
                                  const std::string& outputName) const {
  return ChildProcess(InDirectory(Path(), Command(Program, arguments)), environment, File(outputName));
}

XvfbServer::XvfbServer(int width, int height, SharedMemory sharedMemory) : width_(width), height_(height) {
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  std::vector<std::string> command{"Xvfb", "-screen", "0", screen};
  if (sharedMemory == SharedMemory::NotOffered) {
    command.insert(command.end(), {"-extension", "MIT-SHM"});
  }
  Start(command, {});
}

XvfbServer::XvfbServer(const TwoHeads& heads) : width_(2 * heads.headWidth), height_(heads.headHeight) {
  const std::string head = std::to_string(heads.headWidth) + "x" + std::to_string(heads.headHeight);
  Start({"Xephyr", "-screen", head, "-screen", head, "+xinerama"}, heads.host.Environment());
}

void XvfbServer::Start(std::vector<std::string> command, const EnvironmentChanges& environment) {
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

bool Near(Colour actual, Colour expected, int tolerance) {
  return std::abs(actual.red - expected.red) <= tolerance && std::abs(actual.green - expected.green) <= tolerance &&
         std::abs(actual.blue - expected.blue) <= tolerance;
}

std::string Describe(Colour colour) {
  return "(" + std::to_string(colour.red) + ", " + std::to_string(colour.green) + ", " + std::to_string(colour.blue) +
         ")";
}

std::vector<PatternSample> PatternSamples(Rect area, Rect picture) {
  const int right = picture.x + picture.width - 1;
  const int bottom = picture.y + picture.height - 1;
  const int areaRight = area.x + area.width - 1;
  const int areaBottom = area.y + area.height - 1;
  std::vector<PatternSample> samples = {
      {picture.x, picture.y, Red, "top left corner"},
      {right, picture.y, Green, "top right corner"},
      {picture.x, bottom, Blue, "bottom left corner"},
      {right, bottom, White, "bottom right corner"},
      {picture.x + picture.width / 4, picture.y + picture.height / 4, Red, "top left quarter"},
      {picture.x + 3 * picture.width / 4, picture.y + 3 * picture.height / 4, White, "bottom right quarter"},
  };
  // The bars must be black; without them there would be what lies underneath.
  const int middleRow = area.y + area.height / 2;
  const int middleColumn = area.x + area.width / 2;
  if (picture.x > area.x) {
    samples.push_back({area.x, middleRow, Black, "left bar, outer edge"});
    samples.push_back({picture.x - 1, middleRow, Black, "left bar, inner edge"});
    samples.push_back({right + 1, middleRow, Black, "right bar, inner edge"});
    samples.push_back({areaRight, areaBottom, Black, "right bar, corner"});
  }
  if (picture.y > area.y) {
    samples.push_back({middleColumn, area.y, Black, "top bar, outer edge"});
    samples.push_back({middleColumn, picture.y - 1, Black, "top bar, inner edge"});
    samples.push_back({middleColumn, bottom + 1, Black, "bottom bar, inner edge"});
    samples.push_back({areaRight, areaBottom, Black, "bottom bar, corner"});
  }
  return samples;
}

Colour Image::At(int x, int y) const {
  const std::size_t offset =
      (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
  return {rgb[offset], rgb[offset + 1], rgb[offset + 2]};
}

namespace {

// Calls `visit` with the colour of every pixel of `rect` that lies on the image.
template <typename Visit>
void ForEachPixel(const Image& image, Rect rect, Visit visit) {
  for (int y = std::max(rect.y, 0); y < std::min(rect.y + rect.height, image.height); ++y) {
    for (int x = std::max(rect.x, 0); x < std::min(rect.x + rect.width, image.width); ++x) {
      visit(x, y, image.At(x, y));
    }
  }
}

} // namespace

int Image::CountEqual(Rect rect, std::uint32_t colour) const {
  const Colour wanted{static_cast<int>(colour >> 16), static_cast<int>((colour >> 8) & 0xFF),
                      static_cast<int>(colour & 0xFF)};
  int count = 0;
  ForEachPixel(*this, rect, [&](int, int, Colour c) {
    count += c.red == wanted.red && c.green == wanted.green && c.blue == wanted.blue ? 1 : 0;
  });
  return count;
}

int Image::CountBlack(Rect rect) const {
  int count = 0;
  ForEachPixel(*this, rect, [&](int, int, Colour c) { count += std::max({c.red, c.green, c.blue}) < 8 ? 1 : 0; });
  return count;
}

int Image::CountBrightColoured(Rect rect) const {
  int count = 0;
  ForEachPixel(*this, rect, [&](int, int, Colour c) {
    const int brightest = std::max({c.red, c.green, c.blue});
    const int dimmest = std::min({c.red, c.green, c.blue});
    count += brightest > 160 && brightest - dimmest > 60 ? 1 : 0;
  });
  return count;
}

int Image::CountDifferent(const Image& other, Rect inside, Rect outside) const {
  int count = 0;
  ForEachPixel(*this, inside, [&](int x, int y, Colour c) {
    if (outside.Contains(x, y) || x >= other.width || y >= other.height) return;
    const Colour o = other.At(x, y);
    count += c.red != o.red || c.green != o.green || c.blue != o.blue ? 1 : 0;
  });
  return count;
}

std::optional<Image> Screenshot(const std::string& display, const std::string& workPath) {
  const Ended taken = RunToEnd({"import", "-display", display, "-window", "root", "-depth", "8", "ppm:" + workPath});
  return taken.exitCode == 0 ? ReadPpm(workPath) : std::nullopt;
}

namespace {

// Takes shots until one satisfies `condition`, and returns it; nullopt if none does within PatienceLimit.
std::optional<Image> WaitForShot(const std::function<std::optional<Image>()>& take,
                                 const std::function<bool(const Image&)>& condition) {
  std::optional<Image> shot;
  const bool seen = Eventually(
      [&] {
        shot = take();
        return shot && condition(*shot);
      },
      std::chrono::milliseconds(100));
  return seen ? shot : std::nullopt;
}

} // namespace

std::optional<Image> WaitForScreen(const XvfbServer& server, const std::string& workPath,
                                   const std::function<bool(const Image&)>& condition) {
  return WaitForShot([&] { return Screenshot(server.Display(), workPath); }, condition);
}

std::optional<Image> WaitUntilPainted(const XvfbServer& server, Rect rect, const std::string& workPath) {
  return WaitForScreen(server, workPath,
                       [rect](const Image& shot) { return shot.CountEqual(rect, HostWindow::Background) == 0; });
}

std::optional<Image> WaitForSparks(const XvfbServer& server, Rect rect, const std::string& workPath) {
  return WaitForScreen(server, workPath,
                       [rect](const Image& shot) { return shot.CountBrightColoured(rect) > FewestSparkPixels; });
}

bool EndedBySigterm(ChildProcess& process) {
  const std::optional<int> status = process.Signal(SIGTERM);
  return status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM;
}

std::optional<Image> ReadPpm(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string magic;
  Image image;
  int maximum = 0;
  if (!(file >> magic >> image.width >> image.height >> maximum) || magic != "P6" || maximum != 255 ||
      image.width <= 0 || image.height <= 0) {
    return std::nullopt;
  }
  file.get(); // the single white-space character before the pixels
  image.rgb.resize(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3);
  if (!file.read(reinterpret_cast<char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size()))) {
    return std::nullopt;
  }
  return image;
}

StagedInstall::StagedInstall() {
  std::error_code error;
  std::filesystem::permissions(directory_.Path(),
                               std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                   std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                   std::filesystem::perms::others_exec,
                               error);
  const Ended install =
      RunToEnd({PYROVANE_CMAKE, "--install", PYROVANE_BUILD_DIRECTORY, "--prefix", "/usr"}, {{"DESTDIR", Root()}});
  installed_ = !error && install.exitCode == 0;
  log_ = error ? "cannot open " + directory_.Path() + " to every user: " + error.message() : install.output;
}

std::string WaylandToolsMissing() {
  for (const char* tool : {"sway", "swaymsg", "grim", "swayidle", "weston", "setpriv"}) {
    if (!ProgramAvailable(tool)) {
      return std::string(tool) + " is not installed (scripts/bootstrap installs it): the Wayland tests need it";
    }
  }
  return {};
}

namespace {

// The path of the first socket in `directory` whose name starts with `prefix`, or empty.
std::string SocketNamed(const std::string& directory, const std::string& prefix) {
  std::error_code error;
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(directory, error)) {
    if (entry.is_socket(error) && entry.path().filename().string().starts_with(prefix)) return entry.path().string();
  }
  return {};
}

} // namespace

SwayServer::SwayServer(const std::vector<Size>& outputs, int initialOutputs) : outputCount_(initialOutputs) {
  std::ofstream config(directory_.File("config"));
  config << "xwayland disable\n";
  for (std::size_t index = 0; index < outputs.size(); ++index) {
    config << "output HEADLESS-" << index + 1 << " resolution " << outputs[index].width << "x" << outputs[index].height
           << "\n";
  }
  config.close();
  const std::string runtime = directory_.File("runtime");
  if (mkdir(runtime.c_str(), 0700) != 0) return;
  std::vector<std::string> command{"sway", "-c", directory_.File("config")};
  // Sway refuses to run as root: a test run as root runs it as nobody, who must then read the
  // configuration here and own the runtime folder, where the sockets go.
  if (getuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr || chown(runtime.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) return;
    std::filesystem::permissions(directory_.Path(),
                                 std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    command.insert(command.begin(), {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                                     "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"});
  }
  server_.emplace(command,
                  EnvironmentChanges{{"XDG_RUNTIME_DIR", runtime},
                                     {"WLR_BACKENDS", "headless"},
                                     {"WLR_RENDERER", "pixman"},
                                     {"WLR_LIBINPUT_NO_DEVICES", "1"},
                                     {"WLR_HEADLESS_OUTPUTS", std::to_string(initialOutputs)}},
                  directory_.File("sway.log"));
  if (!server_->Started()) return;
  std::string socket;
  const bool listening = Eventually([&] {
    socket = SocketNamed(runtime, "wayland-");
    ipcSocket_ = SocketNamed(runtime, "sway-ipc.");
    return (!socket.empty() && !ipcSocket_.empty()) || !server_->Running();
  });
  if (!listening || !server_->Running() || !Swaymsg({"-t", "get_outputs"})) return;
  // The pointer comes before any client under test, which then finds it on the seat at once.
  pointer_.emplace(std::vector<std::string>{PYROVANE_VIRTUAL_POINTER_CLIENT},
                   EnvironmentChanges{{"WAYLAND_DISPLAY", socket}}, directory_.File("pointer.log"));
  if (pointer_->WaitForOutput("ready\n", PatienceLimit)) socket_ = socket;
}

SwayServer::~SwayServer() {
  pointer_.reset();
  if (server_) server_->Signal(SIGTERM);
}

std::string SwayServer::Log() const {
  return (server_ ? server_->Output() : std::string()) + (pointer_ ? pointer_->Output() : std::string());
}

std::optional<std::string> SwayServer::Swaymsg(const std::vector<std::string>& arguments) const {
  std::vector<std::string> command{"swaymsg", "-s", ipcSocket_};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const Ended swaymsg = RunToEnd(command);
  return swaymsg.exitCode == 0 ? std::optional(swaymsg.output) : std::nullopt;
}

bool SwayServer::AddOutput() {
  const std::string name = "\"HEADLESS-" + std::to_string(outputCount_ + 1) + "\"";
  if (!Swaymsg({"create_output"})) return false;
  ++outputCount_;
  return Eventually([&] { return Swaymsg({"-t", "get_outputs"}).value_or("").find(name) != std::string::npos; });
}

std::optional<Image> SwayServer::Screenshot(int number, const std::string& workPath) const {
  const Ended taken =
      RunToEnd({"grim", "-t", "ppm", "-o", "HEADLESS-" + std::to_string(number), workPath}, Environment());
  return taken.exitCode == 0 ? ReadPpm(workPath) : std::nullopt;
}

std::optional<Image> SwayServer::WaitForScreen(int number, const std::string& workPath,
                                               const std::function<bool(const Image&)>& condition) const {
  return WaitForShot([&] { return Screenshot(number, workPath); }, condition);
}

bool SwayServer::Kill() { return server_ && server_->Signal(SIGKILL).has_value(); }

WestonServer::WestonServer() {
  const std::string runtime = directory_.File("runtime");
  if (mkdir(runtime.c_str(), 0700) != 0) return;
  server_.emplace(std::vector<std::string>{"weston", "--backend=headless-backend.so", "--socket=wayland-test",
                                           "--no-config", "--idle-time=0"},
                  EnvironmentChanges{{"XDG_RUNTIME_DIR", runtime}}, directory_.File("weston.log"));
  const std::string socket = runtime + "/wayland-test";
  if (server_->Started() && Eventually([&] { return std::filesystem::exists(socket) || !server_->Running(); }) &&
      server_->Running()) {
    socket_ = socket;
  }
}

WestonServer::~WestonServer() {
  if (server_) server_->Signal(SIGTERM);
}

std::vector<pid_t> Processes() {
  std::vector<pid_t> pids;
  std::error_code error;
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") == std::string::npos) pids.push_back(std::stoi(name));
  }
  return pids;
}

std::optional<ProcessState> StateOf(pid_t pid) {
  // "pid (command) state parent ...": the command may hold spaces and parentheses.
  const std::string status = ReadWhole("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t end = status.rfind(')');
  ProcessState state{};
  if (end == std::string::npos || !(std::istringstream(status.substr(end + 2)) >> state.state >> state.parent)) {
    return std::nullopt;
  }
  return state;
}

bool ProcessEnded(pid_t pid) {
  const std::optional<ProcessState> state = StateOf(pid);
  return !state || state->state == 'Z';
}

} // namespace e2e
