#pragma once
// Readers and writers of video and pictures in the host's pixel format, behind one small interface.
// Y4M (8-bit 4:2:0, 4:2:2, 4:4:4, mono; 10- and 12-bit 4:2:0, 4:2:2, 4:4:4; 16-bit mono), PNG (8 and 16 bits,
// with or without alpha), JPEG, and raw yc48 (the host's own pixels: little-endian int16 Y, Cb, Cr, frames
// back to back).
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/cpu.h"
#include "core/picture.h"
#include "core/workers.h"
#include "hostkit/planar.h"

namespace io {

class ByteSource;
class ByteSink;

class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Format { kY4m, kPng, kJpeg, kYc48 };

// The stream's shape and what a writer of the same format carries through.
struct VideoInfo {
  int w = 0;
  int h = 0;
  Chroma chroma = Chroma::k444;
  int bit_depth = 8;       // 8; 10, 12 or 16 for Y4M, 16 for PNG
  bool alpha = false;      // pictures whose frames carry an alpha plane (FrameExtras::alpha)
  std::string y4m_colour;  // the C tag as read ("420jpeg", "420mpeg2", ...); empty: derived from chroma
  std::vector<std::string> y4m_fields;  // every other header token (F, A, I, X...), in order
  int64_t frame_count = -1;             // -1 when not known
  // The chroma resolution the pictures were coded at, where frames carry more than that (a JPEG
  // coded 4:2:0 is read as 4:4:4 frames); empty: `chroma`. Writers that subsample keep it.
  std::optional<Chroma> coded_chroma;
};

struct ReaderOptions {
  int w = 0;  // raw input only
  int h = 0;
  int64_t max_pixels = kMaxPixels;              // larger pictures are refused before anything is allocated
  core::CpuFlags cpu = core::DetectCpuFlags();  // the vector tiers the conversions may use
  // Where Decode() (Read() too) converts: the workers must be free whenever it is called.
  core::Workers workers = core::SerialWorkers();
};

struct WriterOptions {
  int jpeg_quality = 95;                // 1..100
  std::optional<Chroma> jpeg_sampling;  // empty: the input's (VideoInfo::coded_chroma, else chroma)
  core::CpuFlags cpu = core::DetectCpuFlags();
  core::Workers workers = core::SerialWorkers();  // where Encode() (Write() too) converts
};

// What a frame carries besides the pixels the filters see. Writers that can hold it write it back
// unchanged.
struct FrameExtras {
  std::vector<uint16_t> alpha;  // a picture's alpha plane, w x h, at VideoInfo::bit_depth; empty: none
  std::string y4m_params;       // the tags of a Y4M FRAME line, each after one space
  bool interlaced = false;      // known to be interlaced
};

// A frame on its way in or out as the format stores it, so that one thread can move it while
// another converts: a format keeps here its stored bytes (bytes[start] on), or else the whole frame.
struct FramePacket {
  std::vector<uint8_t> bytes;
  size_t start = 0;
  core::Picture frame;
  FrameExtras extras;
};

class FrameReader {
 public:
  virtual ~FrameReader() = default;
  const VideoInfo& info() const { return info_; }
  // Reads the next frame into `frame`, reshaping it when needed, and what travels with it into
  // `extras`. False at a clean end of the input; throws IoError for anything else.
  virtual bool Read(core::Picture& frame, FrameExtras& extras) = 0;
  bool Read(core::Picture& frame) {
    FrameExtras ignored;
    return Read(frame, ignored);
  }

  // Read() in two halves: Fetch() takes the next frame from the input as stored (false at a clean
  // end), Decode() turns what it fetched into host pixels and extras. By default Fetch() does all of
  // Read() and Decode() hands the frame over, leaving the packet a frame of the same size.
  virtual bool Fetch(FramePacket& packet) { return Read(packet.frame, packet.extras); }
  virtual void Decode(FramePacket& packet, core::Picture& frame, FrameExtras& extras);

  // Keeps `what` (the adapter the reader reads through) until the reader is gone.
  void Keep(std::shared_ptr<void> what) { kept_ = std::move(what); }

 protected:
  VideoInfo info_;

 private:
  std::shared_ptr<void> kept_;  // destroyed after the derived reader that uses it
};

class FrameWriter {
 public:
  virtual ~FrameWriter() = default;
  // Writes one whole frame or nothing of it; throws IoError.
  virtual void Write(const core::Picture& frame, const FrameExtras& extras) = 0;
  void Write(const core::Picture& frame) { Write(frame, FrameExtras{}); }
  virtual void Finish() = 0;

  // Write() in two halves: Encode() turns a frame into what the format stores, Put() writes that
  // out. By default Encode() keeps a copy of the frame and Put() writes it.
  virtual void Encode(const core::Picture& frame, const FrameExtras& extras, FramePacket& packet);
  virtual void Put(FramePacket& packet) { Write(packet.frame, packet.extras); }

  // Keeps `what` (the adapter the writer writes through) until the writer is gone.
  void Keep(std::shared_ptr<void> what) { kept_ = std::move(what); }

 private:
  std::shared_ptr<void> kept_;
};

// `where` names the stream in error messages ("clip.y4m", "stdin"). The source must outlive the
// reader.
std::unique_ptr<FrameReader> OpenReader(Format format, ByteSource& in, const std::string& where,
                                        const ReaderOptions& options = {});
std::unique_ptr<FrameReader> OpenReader(Format format, std::istream& in, const std::string& where,
                                        const ReaderOptions& options = {});
// `info` is the input's: the output keeps its chroma layout, depth and header fields where the
// format has them. The sink must outlive the writer.
std::unique_ptr<FrameWriter> OpenWriter(Format format, ByteSink& out, const VideoInfo& info,
                                        const std::string& where, const WriterOptions& options = {});
std::unique_ptr<FrameWriter> OpenWriter(Format format, std::ostream& out, const VideoInfo& info,
                                        const std::string& where, int jpeg_quality = 95);

// The sample depth a writer of `format` stores a stream like `info` at; 0 for yc48, which stores the
// host's own samples.
int WrittenBitDepth(Format format, const VideoInfo& info);
// About what a writer of `format` stores for a stream like `info` (no Y4M frame tags), or at most
// that for pictures; -1 when the number of frames is not known.
int64_t StoredBytes(Format format, const VideoInfo& info);
// Whether this build reads and writes PNG and JPEG.
bool PicturesSupported();

std::optional<Format> ParseFormat(std::string_view name);     // "y4m", "png", "jpeg"/"jpg", "yc48"
std::optional<Format> FormatFromPath(std::string_view path);  // by extension; "-" is Y4M
const char* FormatName(Format format);

}  // namespace io
