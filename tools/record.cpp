// pyrovane-record: runs the show without a display, frame-exact, to PNG frames, an animation, a trace or an icon.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include <sys/stat.h>

#include "glide/board.h"
#include "platform/platform.h"
#include "show/show.h"
#include "sim/sim.h"
#include "tools/tools.h"

namespace {

constexpr const char* Usage =
    "usage: pyrovane-record [--frames N] [--fps F] [--png DIR] [--animation FILE] [--trace FILE]\n"
    "                       [--icon FILE] [--texture FILE]\n"
    "\n"
    "Runs the fireworks show without a display, on a virtual clock, and ends it after exactly\n"
    "N frames.\n"
    "\n"
    "  --frames N        frames to run (default 600)\n"
    "  --fps F           frame rate of the virtual clock (default 60); every frame after the\n"
    "                    first lasts exactly 60/F time units\n"
    "  --png DIR         write every frame as DIR/frame-00001.png, ...\n"
    "  --animation FILE  write all frames as one animated WebP\n"
    "  --trace FILE      write a text trace of the simulation, one record a line\n"
    "  --icon FILE       write the last frame's brightest 256x256 square as a PNG icon with\n"
    "                    rounded corners\n"
    "  --texture FILE    the sprite texture (default: flare.3df in the working directory if\n"
    "                    there is one, else the installed one)\n"
    "  --help            show this text\n";

// Frame counts and rates beyond these would only be typing mistakes.
constexpr std::uint64_t MaxFrames = 100'000'000;
constexpr std::uint32_t MaxFramesPerSecond = 1000;
constexpr std::uint64_t ProgressInterval = 1000;

struct Options {
  std::uint64_t frames = 600;
  std::uint32_t framesPerSecond = 60;
  std::string pngDirectory;
  std::string animationPath;
  std::string tracePath;
  std::string iconPath;
  std::string texturePath;
};

template <typename Number>
bool ParseNumber(std::string_view text, Number minimum, Number maximum, Number& value) {
  Number parsed{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc{} || end != text.data() + text.size() || parsed < minimum || parsed > maximum) {
    return false;
  }
  value = parsed;
  return true;
}

enum class ParseResult { Run, Help, Error };

ParseResult ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      return ParseResult::Help;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "pyrovane-record: %s needs a value (see --help)\n", argv[i]);
      return ParseResult::Error;
    }
    const std::string_view value = argv[++i];
    bool valid = !value.empty();
    if (option == "--frames") {
      valid = ParseNumber<std::uint64_t>(value, 1, MaxFrames, options.frames);
    } else if (option == "--fps") {
      valid = ParseNumber<std::uint32_t>(value, 1, MaxFramesPerSecond, options.framesPerSecond);
    } else if (option == "--png") {
      options.pngDirectory = value;
    } else if (option == "--animation") {
      options.animationPath = value;
    } else if (option == "--trace") {
      options.tracePath = value;
    } else if (option == "--icon") {
      options.iconPath = value;
    } else if (option == "--texture") {
      options.texturePath = value;
    } else {
      std::fprintf(stderr, "pyrovane-record: unknown option %s (see --help)\n", argv[i - 1]);
      return ParseResult::Error;
    }
    if (!valid) {
      std::fprintf(stderr, "pyrovane-record: bad value for %s: \"%s\" (see --help)\n", argv[i - 1], argv[i]);
      return ParseResult::Error;
    }
  }
  return ParseResult::Run;
}

// The texture the show reads when none is named: "flare.3df" in the working directory if there is
// an entry of that name (so that a bad one is reported, not passed over), else the installed
// texture, found from this program's own place in the installed tree, so that a staged or moved
// tree finds its own.
std::string DefaultTexturePath() {
  constexpr const char* WorkingDirectoryTexture = "flare.3df";
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::symlink_status(WorkingDirectoryTexture, error))) {
    return WorkingDirectoryTexture;
  }
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return (program.parent_path() / PYROVANE_PROGRAM_TO_DATA / "flare.3df").lexically_normal().string();
}

// Writes the trace: after each frame's launch decision one frame record, then one record per
// live firework in the order of the active list.
class TraceWriter final : public show::ShowObserver {
public:
  explicit TraceWriter(std::FILE* file) : file_(file) {}

  void AfterLaunchDecision(std::uint64_t frame, double dt, double sinceLaunch) override {
    std::fprintf(file_, "F %llu %.17g %.17g %llu\n", static_cast<unsigned long long>(frame), dt, sinceLaunch,
                 static_cast<unsigned long long>(platform::RandCallCount()));
    for (std::int32_t index = sim::slotPool.activeHead; index >= 0; index = sim::slotPool.next[index]) {
      WriteSlot(index, sim::slotPool.slots[index]);
    }
  }

private:
  static double Sum(const double* values, std::int32_t count) {
    double sum = 0.0;
    for (std::int32_t i = 0; i < count; ++i) sum += values[i];
    return sum;
  }

  void WriteSlot(std::int32_t index, const sim::FireworkSlot& slot) {
    const std::int32_t particles = slot.particleCount;
    const std::int32_t trail = slot.trailCount;
    std::fprintf(file_, "S %d %d %.17g %d %d %d %d %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g\n",
                 index, static_cast<int>(slot.state), slot.size, particles, trail, slot.growing, slot.flashPhase,
                 Sum(slot.x, particles), Sum(slot.y, particles), Sum(slot.vx, particles), Sum(slot.vy, particles),
                 Sum(slot.red, particles), Sum(slot.green, particles), Sum(slot.blue, particles),
                 Sum(slot.alpha, particles), Sum(slot.trailX, trail), Sum(slot.trailY, trail));
  }

  std::FILE* file_;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// What happens to each frame of the show: it goes to the chosen outputs.
class FrameOutputs {
public:
  explicit FrameOutputs(const Options& options) : options_(options) {}

  bool Open() {
    if (!options_.pngDirectory.empty() && mkdir(options_.pngDirectory.c_str(), 0777) != 0 && errno != EEXIST) {
      std::fprintf(stderr, "pyrovane-record: cannot create %s: %s\n", options_.pngDirectory.c_str(),
                   std::strerror(errno));
      return false;
    }
    if (!options_.animationPath.empty()) {
      animation_ = std::make_unique<image_io::AnimationWriter>(glide::ScreenWidth, glide::ScreenHeight,
                                                               options_.framesPerSecond);
    }
    return true;
  }

  void OnFrame(std::uint64_t number, const glide::FrameView& frame) {
    if (failed_) {
      return;
    }
    if (!options_.pngDirectory.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "/frame-%05llu.png", static_cast<unsigned long long>(number));
      const std::string path = options_.pngDirectory + name;
      if (!image_io::WritePng(path, frame.pixels, frame.width, frame.height, frame.stride)) {
        std::fprintf(stderr, "pyrovane-record: cannot write %s\n", path.c_str());
        failed_ = true;
      }
    }
    if (!options_.iconPath.empty() && number == options_.frames) WriteIcon(frame);
    if (animation_ && !animation_->Add(frame.pixels, frame.stride)) {
      std::fprintf(stderr, "pyrovane-record: cannot encode frame %llu\n", static_cast<unsigned long long>(number));
      failed_ = true;
    }
    if (number % ProgressInterval == 0 && number < options_.frames) {
      std::fprintf(stderr, "pyrovane-record: %llu of %llu frames\n", static_cast<unsigned long long>(number),
                   static_cast<unsigned long long>(options_.frames));
    }
  }

  bool Finish() {
    if (animation_ && !failed_ && !animation_->Finish(options_.animationPath)) {
      std::fprintf(stderr, "pyrovane-record: cannot write %s\n", options_.animationPath.c_str());
      failed_ = true;
    }
    return !failed_;
  }

private:
  void WriteIcon(const glide::FrameView& frame) {
    const image_io::Image icon = image_io::IconFromFrame(frame.pixels, frame.width, frame.height, frame.stride);
    if (!image_io::WritePng(options_.iconPath, icon.pixels.data(), icon.width, icon.height, icon.width,
                            image_io::Alpha::Kept)) {
      std::fprintf(stderr, "pyrovane-record: cannot write %s\n", options_.iconPath.c_str());
      failed_ = true;
    }
  }

  const Options& options_;
  std::unique_ptr<image_io::AnimationWriter> animation_;
  bool failed_ = false;
};

} // namespace

int main(int argc, char** argv) {
  Options options;
  switch (ParseOptions(argc, argv, options)) {
  case ParseResult::Help: std::fputs(Usage, stdout); return 0;
  case ParseResult::Error: return 2;
  case ParseResult::Run: break;
  }

  File trace;
  if (!options.tracePath.empty()) {
    trace.reset(std::fopen(options.tracePath.c_str(), "w"));
    if (!trace) {
      std::fprintf(stderr, "pyrovane-record: cannot write %s: %s\n", options.tracePath.c_str(), std::strerror(errno));
      return 1;
    }
  }

  FrameOutputs outputs(options);
  if (!outputs.Open()) {
    return 1;
  }
  TraceWriter traceWriter(trace.get());
  const std::string texturePath = options.texturePath.empty() ? DefaultTexturePath() : options.texturePath;
  show::RunHeadlessShow(
      {.framesPerSecond = options.framesPerSecond,
       .frames = options.frames,
       .onFrame = [&outputs](std::uint64_t frame, const glide::FrameView& view) { outputs.OnFrame(frame, view); }},
      trace ? &traceWriter : nullptr, texturePath.c_str());

  const bool written = outputs.Finish() && (!trace || std::fflush(trace.get()) == 0);
  if (trace && std::ferror(trace.get())) {
    std::fprintf(stderr, "pyrovane-record: cannot write %s\n", options.tracePath.c_str());
    return 1;
  }
  return written ? 0 : 1;
}
