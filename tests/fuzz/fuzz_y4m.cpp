// Any byte string: either an IoError or frames that re-encode to a stream giving the same frames, with
// the same frame tags.
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "tools/io/frame_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  io::ReaderOptions options;
  options.max_pixels = 1 << 16;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<core::Picture> frames;
  std::vector<io::FrameExtras> extras;
  io::VideoInfo info;
  try {
    auto reader = io::OpenReader(io::Format::kY4m, in, "fuzz", options);
    info = reader->info();
    core::Picture f;
    io::FrameExtras e;
    while (frames.size() < 8 && reader->Read(f, e)) {
      frames.push_back(f);
      extras.push_back(e);
    }
  } catch (const io::IoError&) {
    if (frames.empty()) return 0;
  }
  std::ostringstream out;
  auto writer = io::OpenWriter(io::Format::kY4m, out, info, "fuzz out");
  for (size_t k = 0; k < frames.size(); ++k) writer->Write(frames[k], extras[k]);
  writer->Finish();
  std::istringstream again(out.str());
  auto reader = io::OpenReader(io::Format::kY4m, again, "fuzz again", options);
  core::Picture g;
  io::FrameExtras e;
  for (size_t k = 0; k < frames.size(); ++k) {
    const core::Picture& f = frames[k];
    if (!reader->Read(g, e) || e.y4m_params != extras[k].y4m_params || e.interlaced != extras[k].interlaced)
      std::abort();
    for (size_t i = 0; i < f.pixels.size(); ++i)
      if (f.pixels[i].y != g.pixels[i].y || f.pixels[i].cb != g.pixels[i].cb ||
          f.pixels[i].cr != g.pixels[i].cr)
        std::abort();
  }
  if (reader->Read(g)) std::abort();
  return 0;
}
