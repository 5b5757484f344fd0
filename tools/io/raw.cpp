// yc48: the host's pixels as they are, little-endian int16 Y, Cb, Cr, row-major, no header. On a
// little-endian machine that is the frame's own memory: rows are read into it and written from it.
#include <bit>
#include <cstring>

#include "tools/io/io_internal.h"

namespace io {
namespace {

constexpr bool kHostOrder = std::endian::native == std::endian::little;

// Rows of pixels to and from their stored bytes.
void PixelsFromBytes(const uint8_t* b, core::YcPixel* p, int n) {
  if constexpr (kHostOrder) {
    std::memcpy(p, b, size_t(n) * sizeof(core::YcPixel));
  } else {
    for (int x = 0; x < n; ++x, b += 6)
      p[x] = {static_cast<int16_t>(b[0] | b[1] << 8), static_cast<int16_t>(b[2] | b[3] << 8),
              static_cast<int16_t>(b[4] | b[5] << 8)};
  }
}

void PixelsToBytes(const core::YcPixel* p, uint8_t* b, int n) {
  if constexpr (kHostOrder) {
    std::memcpy(b, p, size_t(n) * sizeof(core::YcPixel));
  } else {
    for (int x = 0; x < n; ++x, b += 6) {
      const uint16_t v[3] = {uint16_t(p[x].y), uint16_t(p[x].cb), uint16_t(p[x].cr)};
      for (int i = 0; i < 3; ++i) {
        b[2 * i] = static_cast<uint8_t>(v[i]);
        b[2 * i + 1] = static_cast<uint8_t>(v[i] >> 8);
      }
    }
  }
}

// Whether the frame's pixels are the stored bytes, back to back.
bool StoredAsIs(const core::Picture& frame) {
  static_assert(sizeof(core::YcPixel) == 6);
  return kHostOrder && frame.stride == frame.w;
}

class RawReader : public FrameReader {
 public:
  RawReader(ByteSource& in, const std::string& where, const ReaderOptions& options)
      : in_(in, where), where_(where) {
    if (options.w <= 0 || options.h <= 0)
      throw IoError(where_ + ": yc48 input needs its frame size (--size WxH)");
    CheckPictureSize(options.w, options.h, options, where_);
    info_.w = options.w;
    info_.h = options.h;
    info_.chroma = Chroma::k444;
    frame_bytes_ = size_t(info_.w) * info_.h * 6;
    const int64_t remaining = in_.Remaining();
    if (remaining >= 0) {
      if (remaining % static_cast<int64_t>(frame_bytes_) != 0)
        throw IoError(where_ + ": " + std::to_string(remaining) + " bytes is not a whole number of " +
                      std::to_string(info_.w) + "x" + std::to_string(info_.h) + " yc48 frames (" +
                      std::to_string(frame_bytes_) + " bytes each)");
      info_.frame_count = remaining / static_cast<int64_t>(frame_bytes_);
    }
  }

  // Straight into the frame's memory where that is the stored bytes.
  bool Read(core::Picture& frame, FrameExtras& extras) override {
    Reshape(frame, info_.w, info_.h);
    if (!StoredAsIs(frame)) {
      if (!Fetch(packet_)) return false;
      Decode(packet_, frame, extras);
      return true;
    }
    if (!ReadFrame(reinterpret_cast<uint8_t*>(frame.pixels.data()))) return false;
    extras = {};
    return true;
  }

  bool Fetch(FramePacket& packet) override {
    packet.bytes.resize(frame_bytes_);
    packet.start = 0;
    packet.extras = {};
    return ReadFrame(packet.bytes.data());
  }

  void Decode(FramePacket& packet, core::Picture& frame, FrameExtras& extras) override {
    Reshape(frame, info_.w, info_.h);
    for (int y = 0; y < info_.h; ++y)
      PixelsFromBytes(packet.bytes.data() + size_t(y) * info_.w * 6,
                      frame.pixels.data() + size_t(y) * frame.stride, info_.w);
    extras = {};
  }

 private:
  bool ReadFrame(uint8_t* dst) {
    const size_t got = in_.Read(dst, frame_bytes_);
    if (got == 0) return false;
    if (got != frame_bytes_)
      throw IoError(where_ + ": frame " + std::to_string(frames_ + 1) + ": truncated (" +
                    std::to_string(got) + " of " + std::to_string(frame_bytes_) +
                    " bytes; is --size right?)");
    ++frames_;
    return true;
  }

  BufferedInput in_;
  std::string where_;
  size_t frame_bytes_ = 0;
  FramePacket packet_;  // for Read() where the frame's memory is not the stored bytes
  int64_t frames_ = 0;
};

class RawWriter : public FrameWriter {
 public:
  RawWriter(ByteSink& out, const VideoInfo& info, const std::string& where)
      : out_(out), info_(info), where_(where) {}

  void Write(const core::Picture& frame, const FrameExtras&) override {
    CheckFrameShape(frame, info_, where_);
    const size_t bytes = size_t(info_.w) * info_.h * 6;
    if (StoredAsIs(frame)) {
      WriteAll(out_, frame.pixels.data(), bytes, where_);
      return;
    }
    buffer_.resize(bytes);
    for (int y = 0; y < info_.h; ++y)
      PixelsToBytes(frame.pixels.data() + size_t(y) * frame.stride, buffer_.data() + size_t(y) * info_.w * 6,
                    info_.w);
    WriteAll(out_, buffer_.data(), bytes, where_);
  }

  void Finish() override { FlushAll(out_, where_); }

 private:
  ByteSink& out_;
  VideoInfo info_;
  std::string where_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

std::unique_ptr<FrameReader> OpenRawReader(ByteSource& in, const std::string& where,
                                           const ReaderOptions& options) {
  return std::make_unique<RawReader>(in, where, options);
}

std::unique_ptr<FrameWriter> OpenRawWriter(ByteSink& out, const VideoInfo& info, const std::string& where) {
  return std::make_unique<RawWriter>(out, info, where);
}

}  // namespace io
