#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <istream>
#include <ostream>

#include "hostkit/planar.h"
#include "tools/io/io_internal.h"

namespace io {

void FrameReader::Decode(FramePacket& packet, core::Picture& frame, FrameExtras& extras) {
  std::swap(frame, packet.frame);
  std::swap(extras, packet.extras);
}

void FrameWriter::Encode(const core::Picture& frame, const FrameExtras& extras, FramePacket& packet) {
  // Writers never look at the temp plane.
  packet.frame.w = frame.w;
  packet.frame.h = frame.h;
  packet.frame.stride = frame.stride;
  packet.frame.pixels = frame.pixels;
  packet.extras = extras;
}

namespace {

// The picture formats read and write whole files through the standard streams.
struct SourceStream {
  explicit SourceStream(ByteSource& source) : buffer(source), stream(&buffer) {}
  SourceStreamBuf buffer;
  std::istream stream;
};

struct SinkStream {
  explicit SinkStream(ByteSink& sink) : buffer(sink), stream(&buffer) {}
  SinkStreamBuf buffer;
  std::ostream stream;
};

bool IsPicture(Format format) { return format == Format::kPng || format == Format::kJpeg; }

std::unique_ptr<FrameReader> OpenPictureReader(Format format, std::istream& in, const std::string& where,
                                               const ReaderOptions& options) {
  return format == Format::kPng ? OpenPngReader(in, where, options) : OpenJpegReader(in, where, options);
}

std::unique_ptr<FrameWriter> OpenPictureWriter(Format format, std::ostream& out, const VideoInfo& info,
                                               const std::string& where, const WriterOptions& options) {
  return format == Format::kPng ? OpenPngWriter(out, info, where) : OpenJpegWriter(out, info, where, options);
}

}  // namespace

std::unique_ptr<FrameReader> OpenReader(Format format, ByteSource& in, const std::string& where,
                                        const ReaderOptions& options) {
  switch (format) {
    case Format::kY4m: return OpenY4mReader(in, where, options);
    case Format::kYc48: return OpenRawReader(in, where, options);
    case Format::kPng:
    case Format::kJpeg: {
      SourceStream stream(in);  // pictures are decoded whole when opened
      return OpenPictureReader(format, stream.stream, where, options);
    }
  }
  throw IoError(where + ": unknown format");
}

std::unique_ptr<FrameReader> OpenReader(Format format, std::istream& in, const std::string& where,
                                        const ReaderOptions& options) {
  if (IsPicture(format)) return OpenPictureReader(format, in, where, options);
  auto source = std::make_shared<StreamSource>(in);
  std::unique_ptr<FrameReader> reader = OpenReader(format, *source, where, options);
  reader->Keep(std::move(source));
  return reader;
}

std::unique_ptr<FrameWriter> OpenWriter(Format format, ByteSink& out, const VideoInfo& info,
                                        const std::string& where, const WriterOptions& options) {
  switch (format) {
    case Format::kY4m: return OpenY4mWriter(out, info, where, options);
    case Format::kYc48: return OpenRawWriter(out, info, where);
    case Format::kPng:
    case Format::kJpeg: {
      auto stream = std::make_shared<SinkStream>(out);
      std::unique_ptr<FrameWriter> writer = OpenPictureWriter(format, stream->stream, info, where, options);
      writer->Keep(std::move(stream));
      return writer;
    }
  }
  throw IoError(where + ": unknown format");
}

std::unique_ptr<FrameWriter> OpenWriter(Format format, std::ostream& out, const VideoInfo& info,
                                        const std::string& where, int jpeg_quality) {
  WriterOptions options;
  options.jpeg_quality = jpeg_quality;
  if (IsPicture(format)) return OpenPictureWriter(format, out, info, where, options);
  auto sink = std::make_shared<StreamSink>(out);
  std::unique_ptr<FrameWriter> writer = OpenWriter(format, *sink, info, where, options);
  writer->Keep(std::move(sink));
  return writer;
}

std::optional<Format> ParseFormat(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "y4m") return Format::kY4m;
  if (lower == "png") return Format::kPng;
  if (lower == "jpeg" || lower == "jpg") return Format::kJpeg;
  if (lower == "yc48") return Format::kYc48;
  return std::nullopt;
}

std::optional<Format> FormatFromPath(std::string_view path) {
  if (path == "-") return Format::kY4m;
  const size_t dot = path.rfind('.');
  const size_t slash = path.find_last_of("/\\");
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::nullopt;
  return ParseFormat(path.substr(dot + 1));
}

int WrittenBitDepth(Format format, const VideoInfo& info) {
  switch (format) {
    case Format::kY4m: return Y4mBitDepth(info);
    case Format::kPng: return info.bit_depth > 8 ? 16 : 8;
    case Format::kJpeg: return 8;
    case Format::kYc48: return 0;
  }
  return 0;
}

int64_t StoredBytes(Format format, const VideoInfo& info) {
  const int64_t pixels = int64_t{info.w} * info.h;
  switch (format) {
    case Format::kY4m: {
      if (info.frame_count < 0) return -1;
      const size_t frame = PlanarLayoutOf(info.w, info.h, info.chroma, Y4mBitDepth(info)).FrameBytes();
      return 4096 + info.frame_count * (6 + static_cast<int64_t>(frame));
    }
    case Format::kYc48: return info.frame_count < 0 ? -1 : info.frame_count * pixels * 6;
    // One picture at most as large as its samples unpacked, plus a little.
    case Format::kPng:
      return 4096 + pixels * ((info.chroma == Chroma::kMono ? 1 : 3) + (info.alpha ? 1 : 0)) * 2;
    case Format::kJpeg: return 4096 + pixels * 3;
  }
  return -1;
}

const char* FormatName(Format format) {
  switch (format) {
    case Format::kY4m: return "y4m";
    case Format::kPng: return "png";
    case Format::kJpeg: return "jpeg";
    case Format::kYc48: return "yc48";
  }
  return "?";
}

size_t ReadUpTo(std::istream& in, char* dst, size_t n) {
  size_t got = 0;
  while (got < n && in) {
    in.read(dst + got, static_cast<std::streamsize>(n - got));
    got += static_cast<size_t>(in.gcount());
  }
  return got;
}

int64_t RemainingBytes(std::istream& in) {
  const std::istream::pos_type here = in.tellg();
  if (here == std::istream::pos_type(-1)) {
    in.clear();
    return -1;
  }
  in.seekg(0, std::ios::end);
  const std::istream::pos_type end = in.tellg();
  in.clear();
  in.seekg(here);
  if (end == std::istream::pos_type(-1) || !in) {
    in.clear();
    return -1;
  }
  return static_cast<int64_t>(end - here);
}

std::vector<uint8_t> ReadAll(std::istream& in, const std::string& where, size_t max_bytes) {
  std::vector<uint8_t> data;
  char chunk[65536];
  while (in) {
    const size_t got = ReadUpTo(in, chunk, sizeof chunk);
    if (data.size() + got > max_bytes)
      throw IoError(where + ": file larger than " + std::to_string(max_bytes) + " bytes");
    data.insert(data.end(), chunk, chunk + got);
    if (got < sizeof chunk) break;
  }
  if (in.bad()) throw IoError(where + ": read error" + Reason(errno));
  return data;
}

std::string Reason(int error) { return error != 0 ? std::string(" (") + std::strerror(error) + ")" : ""; }

void WriteAll(std::ostream& out, const void* data, size_t n, const std::string& where) {
  errno = 0;
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
  if (!out) throw IoError(where + ": write failed" + Reason(errno));
}

void WriteAll(ByteSink& out, const void* data, size_t n, const std::string& where) {
  errno = 0;
  if (!out.Write(data, n)) throw IoError(where + ": write failed" + Reason(errno));
}

void FlushAll(ByteSink& out, const std::string& where) {
  errno = 0;
  if (!out.Flush()) throw IoError(where + ": write failed" + Reason(errno));
}

void CheckPictureSize(int64_t w, int64_t h, const ReaderOptions& options, const std::string& where) {
  if (w <= 0 || h <= 0)
    throw IoError(where + ": picture size " + std::to_string(w) + "x" + std::to_string(h) + " is empty");
  const std::string limit = SizeLimitExceeded(w, h, options.max_pixels);
  if (!limit.empty()) throw IoError(where + ": " + limit);
}

std::string SizeLimitExceeded(int64_t w, int64_t h, int64_t max_pixels) {
  const std::string size = "picture size " + std::to_string(w) + "x" + std::to_string(h);
  if (w > kMaxSide || h > kMaxSide)
    return size + " exceeds the limit of " + std::to_string(kMaxSide) + " pixels per side";
  if (w * h > max_pixels) return size + " exceeds the limit of " + std::to_string(max_pixels) + " pixels";
  return "";
}

void CheckFrameShape(const core::Picture& frame, const VideoInfo& info, const std::string& where) {
  if (frame.w != info.w || frame.h != info.h)
    throw IoError(where + ": frame size " + std::to_string(frame.w) + "x" + std::to_string(frame.h) +
                  " does not match the stream's " + std::to_string(info.w) + "x" + std::to_string(info.h));
}

void Reshape(core::Picture& frame, int w, int h) {
  if (frame.w != w || frame.h != h || frame.stride != w) frame = core::Picture(w, h);
}

}  // namespace io
