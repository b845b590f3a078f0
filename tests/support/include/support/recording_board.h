// A board for tests of the graphics library and what draws with it: it records what it is asked, and can fail.
#pragma once

#include <cstdint>

#include "glide/board.h"

namespace support {

// Answers the hardware query and opens as told, and counts every request.
class RecordingBoard final : public glide::Board {
public:
  bool hardware = true;
  bool opens = true;
  int queries = 0, opened = 0, presented = 0, closed = 0;
  std::uint32_t firstPixel = 0; // of the frame presented last

  bool QueryHardware() override {
    ++queries;
    return hardware;
  }
  bool Open() override {
    ++opened;
    return opens;
  }
  void Present(const glide::FrameView& frame) override {
    ++presented;
    firstPixel = frame.pixels[0];
  }
  void Close() override { ++closed; }
};

} // namespace support
