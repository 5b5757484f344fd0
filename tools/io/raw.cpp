// yc48: the host's pixels as they are, little-endian int16 Y, Cb, Cr, row-major, no header.
#include <istream>
#include <ostream>

#include "tools/io/io_internal.h"

namespace io {
namespace {

class RawReader : public FrameReader {
 public:
  RawReader(std::istream& in, const std::string& where, const ReaderOptions& options) : in_(in), where_(where) {
    if (options.w <= 0 || options.h <= 0) throw IoError(where_ + ": yc48 input needs its frame size (--size WxH)");
    CheckPictureSize(options.w, options.h, options, where_);
    info_.w = options.w;
    info_.h = options.h;
    info_.chroma = Chroma::k444;
    buffer_.resize(size_t(info_.w) * info_.h * 6);
    const int64_t remaining = RemainingBytes(in_);
    if (remaining >= 0) {
      if (remaining % static_cast<int64_t>(buffer_.size()) != 0)
        throw IoError(where_ + ": " + std::to_string(remaining) + " bytes is not a whole number of " +
                      std::to_string(info_.w) + "x" + std::to_string(info_.h) + " yc48 frames (" +
                      std::to_string(buffer_.size()) + " bytes each)");
      info_.frame_count = remaining / static_cast<int64_t>(buffer_.size());
    }
  }

  bool Read(host::Frame& frame, FrameExtras& extras) override {
    const size_t got = ReadUpTo(in_, reinterpret_cast<char*>(buffer_.data()), buffer_.size());
    if (in_.bad()) throw IoError(where_ + ": read error");
    if (got == 0) return false;
    if (got != buffer_.size())
      throw IoError(where_ + ": frame " + std::to_string(frames_ + 1) + ": truncated (" + std::to_string(got) + " of " +
                    std::to_string(buffer_.size()) + " bytes; is --size right?)");
    ++frames_;
    extras = {};
    Reshape(frame, info_.w, info_.h);
    const uint8_t* b = buffer_.data();
    for (int y = 0; y < info_.h; ++y)
      for (int x = 0; x < info_.w; ++x, b += 6) {
        host::YcPixel& p = frame.at(x, y);
        p.y = static_cast<int16_t>(b[0] | b[1] << 8);
        p.cb = static_cast<int16_t>(b[2] | b[3] << 8);
        p.cr = static_cast<int16_t>(b[4] | b[5] << 8);
      }
    return true;
  }

 private:
  std::istream& in_;
  std::string where_;
  std::vector<uint8_t> buffer_;
  int64_t frames_ = 0;
};

class RawWriter : public FrameWriter {
 public:
  RawWriter(std::ostream& out, const VideoInfo& info, const std::string& where) : out_(out), info_(info), where_(where) {
    buffer_.resize(size_t(info.w) * info.h * 6);
  }

  void Write(const host::Frame& frame, const FrameExtras&) override {
    CheckFrameShape(frame, info_, where_);
    uint8_t* b = buffer_.data();
    for (int y = 0; y < info_.h; ++y)
      for (int x = 0; x < info_.w; ++x, b += 6) {
        const host::YcPixel& p = frame.at(x, y);
        const uint16_t v[3] = {uint16_t(p.y), uint16_t(p.cb), uint16_t(p.cr)};
        for (int i = 0; i < 3; ++i) {
          b[2 * i] = static_cast<uint8_t>(v[i]);
          b[2 * i + 1] = static_cast<uint8_t>(v[i] >> 8);
        }
      }
    WriteAll(out_, buffer_.data(), buffer_.size(), where_);
  }

  void Finish() override {
    out_.flush();
    if (!out_) throw IoError(where_ + ": write failed");
  }

 private:
  std::ostream& out_;
  VideoInfo info_;
  std::string where_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

std::unique_ptr<FrameReader> OpenRawReader(std::istream& in, const std::string& where, const ReaderOptions& options) {
  return std::make_unique<RawReader>(in, where, options);
}

std::unique_ptr<FrameWriter> OpenRawWriter(std::ostream& out, const VideoInfo& info, const std::string& where) {
  return std::make_unique<RawWriter>(out, info, where);
}

}  // namespace io
