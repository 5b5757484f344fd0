// yc48 with the frame size taken from the first two bytes: whatever reads must write back bit for bit.
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "tools/io/frame_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  io::ReaderOptions options;
  options.w = data[0] % 17;  // 0 is legal input: the reader must refuse it
  options.h = data[1] % 17;
  options.max_pixels = 1 << 16;
  const std::string body(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::istringstream in(body);
  std::ostringstream out;
  try {
    auto reader = io::OpenReader(io::Format::kYc48, in, "fuzz", options);
    auto writer = io::OpenWriter(io::Format::kYc48, out, reader->info(), "fuzz out");
    core::Picture f;
    while (reader->Read(f)) writer->Write(f);
    writer->Finish();
  } catch (const io::IoError&) {
    const size_t frame_bytes = size_t(options.w) * options.h * 6;
    if (frame_bytes > 0 && body.size() % frame_bytes == 0) std::abort();  // whole frames are never an error
    return 0;
  }
  if (out.str() != body) std::abort();
  return 0;
}
