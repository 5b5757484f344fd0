// Any byte string: either an IoError or frames that re-encode to a stream giving the same frames.
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "tools/io/frame_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  io::ReaderOptions options;
  options.max_pixels = 1 << 16;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<host::Frame> frames;
  io::VideoInfo info;
  try {
    auto reader = io::OpenReader(io::Format::kY4m, in, "fuzz", options);
    info = reader->info();
    host::Frame f;
    while (frames.size() < 8 && reader->Read(f)) frames.push_back(f);
  } catch (const io::IoError&) {
    if (frames.empty()) return 0;
  }
  std::ostringstream out;
  auto writer = io::OpenWriter(io::Format::kY4m, out, info, "fuzz out");
  for (const host::Frame& f : frames) writer->Write(f);
  writer->Finish();
  std::istringstream again(out.str());
  auto reader = io::OpenReader(io::Format::kY4m, again, "fuzz again", options);
  host::Frame g;
  for (const host::Frame& f : frames) {
    if (!reader->Read(g)) std::abort();
    for (size_t i = 0; i < f.edit.size(); ++i)
      if (f.edit[i].y != g.edit[i].y || f.edit[i].cb != g.edit[i].cb || f.edit[i].cr != g.edit[i].cr) std::abort();
  }
  if (reader->Read(g)) std::abort();
  return 0;
}
