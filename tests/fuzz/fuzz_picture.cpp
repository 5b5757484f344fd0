// PNG and JPEG decoders on any bytes; a decoded picture must encode and decode again, a PNG with the
// same depth and alpha.
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "tools/io/frame_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  io::ReaderOptions options;
  options.max_pixels = 1 << 16;
  for (io::Format format : {io::Format::kPng, io::Format::kJpeg}) {
    std::istringstream in(bytes);
    core::Picture f;
    io::FrameExtras extras;
    io::VideoInfo info;
    try {
      auto reader = io::OpenReader(format, in, "fuzz", options);
      info = reader->info();
      if (!reader->Read(f, extras) || reader->Read(f)) std::abort();
    } catch (const io::IoError&) {
      continue;
    }
    if (f.w != info.w || f.h != info.h) std::abort();
    if (extras.alpha.size() != (info.alpha ? size_t(f.w) * f.h : 0)) std::abort();
    std::ostringstream out;
    auto writer = io::OpenWriter(format, out, info, "fuzz out", 50);
    writer->Write(f, extras);
    writer->Finish();
    std::istringstream again(out.str());
    core::Picture g;
    io::FrameExtras back;
    auto reader = io::OpenReader(format, again, "fuzz again", options);
    if (!reader->Read(g, back) || g.w != f.w || g.h != f.h) std::abort();
    if (format == io::Format::kPng &&
        (reader->info().bit_depth != info.bit_depth || back.alpha != extras.alpha))
      std::abort();
  }
  return 0;
}
