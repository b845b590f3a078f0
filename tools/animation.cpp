// Animated WebP files: frames of 0x00RRGGBB pixels encoded with libwebp's animation encoder.
#include "tools/tools.h"

#include <cstdio>

#include <webp/encode.h>
#include <webp/mux.h>

namespace image_io {

namespace {

// Lossy at a quality that keeps the glow smooth while a minute of show stays a few megabytes.
constexpr float AnimationQuality = 80.0f;

} // namespace

AnimationWriter::AnimationWriter(int width, int height, std::uint32_t framesPerSecond)
    : width_(width), height_(height), framesPerSecond_(framesPerSecond) {
  WebPAnimEncoderOptions options;
  if (!WebPAnimEncoderOptionsInit(&options)) return;
  options.anim_params.loop_count = 0; // loop forever
  options.allow_mixed = 1;
  encoder_ = WebPAnimEncoderNew(width, height, &options);
}

AnimationWriter::~AnimationWriter() {
  if (encoder_ != nullptr) WebPAnimEncoderDelete(encoder_);
}

int AnimationWriter::TimestampMilliseconds(std::uint64_t frame) const {
  return static_cast<int>(frame * 1000 / framesPerSecond_);
}

bool AnimationWriter::Add(const std::uint32_t* pixels, int stride) {
  if (encoder_ == nullptr) return false;
  WebPConfig config;
  if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, AnimationQuality)) return false;
  WebPPicture picture;
  if (!WebPPictureInit(&picture)) return false;
  picture.use_argb = 1;
  picture.width = width_;
  picture.height = height_;
  // Each pixel is 0x00RRGGBB in memory order B, G, R, X on this little-endian machine.
  const bool imported = WebPPictureImportBGRX(&picture, reinterpret_cast<const std::uint8_t*>(pixels),
                                              stride * static_cast<int>(sizeof(std::uint32_t))) != 0;
  const bool added = imported && WebPAnimEncoderAdd(encoder_, &picture, TimestampMilliseconds(frames_), &config) != 0;
  WebPPictureFree(&picture);
  if (added) ++frames_;
  return added;
}

bool AnimationWriter::Finish(const std::string& path) {
  if (encoder_ == nullptr || frames_ == 0) return false;
  // The final timestamp gives the last frame its duration.
  if (!WebPAnimEncoderAdd(encoder_, nullptr, TimestampMilliseconds(frames_), nullptr)) return false;
  WebPData data;
  WebPDataInit(&data);
  bool written = false;
  if (WebPAnimEncoderAssemble(encoder_, &data)) {
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
      written = std::fwrite(data.bytes, 1, data.size, file) == data.size;
      written = std::fclose(file) == 0 && written;
    }
  }
  WebPDataClear(&data);
  return written;
}

} // namespace image_io
