// PNG and JPEG for builds without libpng and libjpeg (the Windows cross builds): every entry refuses
// with one clear message, so the other formats work and these fail cleanly.
#include "tools/io/io_internal.h"

namespace io {
namespace {

[[noreturn]] void Absent(const char* format, const std::string& where) {
  throw IoError(where + ": " + format + " is not supported in this build (use y4m or yc48)");
}

}  // namespace

bool PicturesSupported() { return false; }

std::unique_ptr<FrameReader> OpenPngReader(std::istream&, const std::string& where, const ReaderOptions&) {
  Absent("PNG", where);
}

std::unique_ptr<FrameReader> OpenJpegReader(std::istream&, const std::string& where, const ReaderOptions&) {
  Absent("JPEG", where);
}

std::unique_ptr<FrameWriter> OpenPngWriter(std::ostream&, const VideoInfo&, const std::string& where) {
  Absent("PNG", where);
}

std::unique_ptr<FrameWriter> OpenJpegWriter(std::ostream&, const VideoInfo&, const std::string& where,
                                            const WriterOptions&) {
  Absent("JPEG", where);
}

}  // namespace io
