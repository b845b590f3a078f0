// Test helper: drives the desktop board and its button, for whole-process tests.
//
//   desktop_board_probe query
//       exit 0 when the board finds a display a person can see, 3 when not.
//   desktop_board_probe show [--path automatic|renderer|images] [--pattern quadrants|sparks]
//                            [--first-frame N]
//       opens the board (exit 3: no display, 4: it cannot open) and presents a test pattern:
//       by default the top half red on the left and green on the right, the bottom half blue and
//       white; or SparkCount coloured squares on black
//       that move for SparkFrames frames and then stay. --first-frame starts the sparks at a later
//       frame (with SparkFrames, where they stay). Each frame tells the board which tiles differ
//       from the one before, as the graphics library does.
//       After every frame it reads the button as the show does; when the value differs from
//       the one read first it prints "button 0x....", and ends with status 0. It prints
//       "presented N" every 10 frames.
#include "desktop/desktop.h"
#include "glide/board.h"
#include "support/frames.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int ExitNoDisplay = 3;
constexpr int ExitCannotOpen = 4;
constexpr int ExitUsage = 2;
constexpr std::uint64_t ProgressEvery = 10;

enum class Pattern { Quadrants, Sparks };

constexpr int SparkCount = 300;
constexpr std::uint64_t SparkFrames = 60;
constexpr int LargestSpark = 9;

// The sparks as they are in frame `index` (counted from 0): each has its own place, drift, size
// and colour from a fixed sequence, and moves until frame SparkFrames.
void DrawSparks(std::vector<std::uint32_t>& pixels, std::uint64_t index) {
  std::fill(pixels.begin(), pixels.end(), 0u);
  const int step = static_cast<int>(std::min(index, SparkFrames));
  std::uint32_t state = 12345;
  const auto next = [&state](int range) {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 8) % static_cast<std::uint32_t>(range));
  };
  const auto wrap = [](int value, int range) { return (value % range + range) % range; };
  for (int spark = 0; spark < SparkCount; ++spark) {
    const int size = 1 + next(LargestSpark);
    const int x = wrap(next(glide::ScreenWidth) + step * (next(7) - 3), glide::ScreenWidth - size);
    const int y = wrap(next(glide::ScreenHeight) + step * (next(5) - 2), glide::ScreenHeight - size);
    const std::uint32_t colour = static_cast<std::uint32_t>(next(1 << 24)) | 0x202020;
    for (int row = y; row < y + size; ++row) {
      std::fill_n(pixels.begin() + row * glide::ScreenWidth + x, size, colour);
    }
  }
}

int Usage() {
  std::fprintf(stderr, "usage: desktop_board_probe query | show [--path automatic|renderer|images] "
                       "[--pattern quadrants|sparks] [--first-frame N]\n");
  return ExitUsage;
}

int Show(desktop::DesktopBoard& board, Pattern pattern, std::uint64_t firstFrame) {
  if (!board.Open()) {
    std::printf("cannot open\n");
    return ExitCannotOpen;
  }
  std::vector<std::uint32_t> pixels = pattern == Pattern::Quadrants
                                          ? support::QuadrantsFrame()
                                          : std::vector<std::uint32_t>(glide::ScreenWidth * glide::ScreenHeight);
  std::vector<std::uint32_t> previous = pixels;
  glide::FrameDamage damage{};
  glide::FrameView frame{pixels.data(), glide::ScreenWidth, glide::ScreenHeight, glide::ScreenWidth};
  desktop::DesktopButton button(board);
  const std::int16_t start = button.LeftButtonState();
  for (std::uint64_t presented = 1;; ++presented) {
    if (pattern == Pattern::Sparks) {
      DrawSparks(pixels, firstFrame + presented - 1);
    }
    // The first frame goes whole; after it, only what changed is marked.
    if (presented > 1) {
      damage = support::DamageBetween(previous, pixels);
      frame.damage = &damage;
    }
    board.Present(frame);
    previous = pixels;
    const std::int16_t value = button.LeftButtonState();
    if (presented % ProgressEvery == 0) {
      std::printf("presented %llu\n", static_cast<unsigned long long>(presented));
      std::fflush(stdout);
    }
    if (value != start) {
      std::printf("button 0x%04x after %llu frames\n", static_cast<unsigned>(static_cast<std::uint16_t>(value)),
                  static_cast<unsigned long long>(presented));
      break;
    }
  }
  std::fflush(stdout);
  board.Close();
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2 || (argc - 2) % 2 != 0) {
    return Usage();
  }
  const std::string mode = argv[1];
  desktop::PresentPath path = desktop::PresentPath::Automatic;
  Pattern pattern = Pattern::Quadrants;
  std::uint64_t firstFrame = 0;
  for (int index = 2; index + 1 < argc; index += 2) {
    const std::string option = argv[index];
    const std::string value = argv[index + 1];
    if (option == "--path" && value == "automatic") {
      path = desktop::PresentPath::Automatic;
    } else if (option == "--path" && value == "renderer") {
      path = desktop::PresentPath::Renderer;
    } else if (option == "--path" && value == "images") {
      path = desktop::PresentPath::Images;
    } else if (option == "--pattern" && value == "quadrants") {
      pattern = Pattern::Quadrants;
    } else if (option == "--pattern" && value == "sparks") {
      pattern = Pattern::Sparks;
    } else if (option == "--first-frame") {
      firstFrame = std::strtoull(value.c_str(), nullptr, 10);
    } else {
      return Usage();
    }
  }
  const auto board = desktop::MakeDesktopBoard(path);
  if (!board->QueryHardware()) {
    std::printf("no display\n");
    return ExitNoDisplay;
  }
  if (mode == "query") {
    std::printf("display found\n");
    board->Close();
    return 0;
  }
  if (mode == "show") {
    return Show(*board, pattern, firstFrame);
  }
  return Usage();
}
