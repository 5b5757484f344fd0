#pragma once
// Readers and writers of video and pictures in the host's pixel format, behind one small interface.
// Y4M (8-bit 4:2:0, 4:2:2, 4:4:4, mono; 10-bit 4:2:0), PNG, JPEG, and raw yc48 (the host's own
// pixels: little-endian int16 Y, Cb, Cr, frames back to back).
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/frame.h"

namespace io {

class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Format { kY4m, kPng, kJpeg, kYc48 };
enum class Chroma { k420, k422, k444, kMono };

// The stream's shape and what a writer of the same format carries through.
struct VideoInfo {
  int w = 0;
  int h = 0;
  Chroma chroma = Chroma::k444;
  int bit_depth = 8;
  std::string y4m_colour;  // the C tag as read ("420jpeg", "420mpeg2", ...); empty: derived from chroma
  std::vector<std::string> y4m_fields;  // every other header token (F, A, I, X...), in order
  int64_t frame_count = -1;  // -1 when not known
};

struct ReaderOptions {
  int w = 0;  // raw input only
  int h = 0;
  int64_t max_pixels = int64_t{1} << 26;  // larger pictures are refused before anything is allocated
};

class FrameReader {
 public:
  virtual ~FrameReader() = default;
  const VideoInfo& info() const { return info_; }
  // Reads the next frame into `frame`, reshaping it when needed. False at a clean end of the input;
  // throws IoError for anything else.
  virtual bool Read(host::Frame& frame) = 0;

 protected:
  VideoInfo info_;
};

class FrameWriter {
 public:
  virtual ~FrameWriter() = default;
  // Writes one whole frame or nothing of it; throws IoError.
  virtual void Write(const host::Frame& frame) = 0;
  virtual void Finish() = 0;
};

// `where` names the stream in error messages ("clip.y4m", "stdin").
std::unique_ptr<FrameReader> OpenReader(Format format, std::istream& in, const std::string& where,
                                        const ReaderOptions& options = {});
// `info` is the input's: the output keeps its chroma layout, depth and header fields where the
// format has them. `jpeg_quality` 1..100.
std::unique_ptr<FrameWriter> OpenWriter(Format format, std::ostream& out, const VideoInfo& info,
                                        const std::string& where, int jpeg_quality = 95);

std::optional<Format> ParseFormat(std::string_view name);  // "y4m", "png", "jpeg"/"jpg", "yc48"
std::optional<Format> FormatFromPath(std::string_view path);  // by extension; "-" is Y4M
const char* FormatName(Format format);

// Writes the first frame's picture (w x h of `before` and `after` side by side) as an RGB PNG.
void WriteComparePng(std::ostream& out, const host::Frame& before, const host::Frame& after, bool mono,
                     const std::string& where);

}  // namespace io
