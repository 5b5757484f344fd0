#pragma once
// Shared by the format files: one factory per format and small stream helpers.
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tools/io/bytes.h"
#include "tools/io/frame_io.h"

namespace io {

// Video streams read and write through sources and sinks; pictures, read and written whole, through
// the standard streams.
std::unique_ptr<FrameReader> OpenY4mReader(ByteSource& in, const std::string& where,
                                           const ReaderOptions& options);
std::unique_ptr<FrameWriter> OpenY4mWriter(ByteSink& out, const VideoInfo& info, const std::string& where,
                                           const WriterOptions& options);
std::unique_ptr<FrameReader> OpenRawReader(ByteSource& in, const std::string& where,
                                           const ReaderOptions& options);
std::unique_ptr<FrameWriter> OpenRawWriter(ByteSink& out, const VideoInfo& info, const std::string& where);
std::unique_ptr<FrameReader> OpenPngReader(std::istream& in, const std::string& where,
                                           const ReaderOptions& options);
std::unique_ptr<FrameWriter> OpenPngWriter(std::ostream& out, const VideoInfo& info,
                                           const std::string& where);
std::unique_ptr<FrameReader> OpenJpegReader(std::istream& in, const std::string& where,
                                            const ReaderOptions& options);
std::unique_ptr<FrameWriter> OpenJpegWriter(std::ostream& out, const VideoInfo& info,
                                            const std::string& where, const WriterOptions& options);

// The Y4M writer's sample depth for a stream like `info`.
int Y4mBitDepth(const VideoInfo& info);

// Reads up to n bytes; returns how many arrived (fewer only at the end of the stream).
size_t ReadUpTo(std::istream& in, char* dst, size_t n);
// Bytes left in a seekable stream, or -1 (pipes).
int64_t RemainingBytes(std::istream& in);
// The whole rest of the stream, at most max_bytes (IoError beyond).
std::vector<uint8_t> ReadAll(std::istream& in, const std::string& where, size_t max_bytes);
void WriteAll(std::ostream& out, const void* data, size_t n, const std::string& where);
void WriteAll(ByteSink& out, const void* data, size_t n, const std::string& where);
void FlushAll(ByteSink& out, const std::string& where);
// " (No space left on device)" for an errno value, "" for 0.
std::string Reason(int error);
// Refuses sizes that are not positive or exceed the limits.
void CheckPictureSize(int64_t w, int64_t h, const ReaderOptions& options, const std::string& where);
// What a picture of w x h exceeds ("picture size ... exceeds the limit of ..."), or "".
std::string SizeLimitExceeded(int64_t w, int64_t h, int64_t max_pixels);
constexpr int64_t kMaxSide = 65535;
void CheckFrameShape(const core::Picture& frame, const VideoInfo& info, const std::string& where);
void Reshape(core::Picture& frame, int w, int h);

}  // namespace io
