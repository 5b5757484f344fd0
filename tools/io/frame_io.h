#pragma once
// Readers and writers of video and pictures in the host's pixel format, behind one small interface.
// Y4M (8-bit 4:2:0, 4:2:2, 4:4:4, mono; 10-bit 4:2:0), PNG (8 and 16 bits, with or without alpha),
// JPEG, and raw yc48 (the host's own pixels: little-endian int16 Y, Cb, Cr, frames back to back).
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
  int bit_depth = 8;  // 8; 10 for Y4M, 16 for PNG
  bool alpha = false;  // pictures whose frames carry an alpha plane (FrameExtras::alpha)
  std::string y4m_colour;  // the C tag as read ("420jpeg", "420mpeg2", ...); empty: derived from chroma
  std::vector<std::string> y4m_fields;  // every other header token (F, A, I, X...), in order
  int64_t frame_count = -1;  // -1 when not known
};

struct ReaderOptions {
  int w = 0;  // raw input only
  int h = 0;
  int64_t max_pixels = int64_t{1} << 26;  // larger pictures are refused before anything is allocated
};

// What a frame carries besides the pixels the filters see. Writers that can hold it write it back
// unchanged.
struct FrameExtras {
  std::vector<uint16_t> alpha;  // a picture's alpha plane, w x h, at VideoInfo::bit_depth; empty: none
  std::string y4m_params;       // the tags of a Y4M FRAME line, each after one space
  bool interlaced = false;      // known to be interlaced
};

class FrameReader {
 public:
  virtual ~FrameReader() = default;
  const VideoInfo& info() const { return info_; }
  // Reads the next frame into `frame`, reshaping it when needed, and what travels with it into
  // `extras`. False at a clean end of the input; throws IoError for anything else.
  virtual bool Read(host::Frame& frame, FrameExtras& extras) = 0;
  bool Read(host::Frame& frame) {
    FrameExtras ignored;
    return Read(frame, ignored);
  }

 protected:
  VideoInfo info_;
};

class FrameWriter {
 public:
  virtual ~FrameWriter() = default;
  // Writes one whole frame or nothing of it; throws IoError.
  virtual void Write(const host::Frame& frame, const FrameExtras& extras) = 0;
  void Write(const host::Frame& frame) { Write(frame, FrameExtras{}); }
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

}  // namespace io
