// PNG (libpng's simplified API) and JPEG (libjpeg-turbo). A JPEG is decoded straight to Y'CbCr, the
// space its blocks were coded in; PNG RGB goes through BT.601 full range, as JPEG's own conversion.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>

#include <jpeglib.h>
#include <png.h>

#include "tools/io/io_internal.h"
#include "tools/io/samples.h"

namespace io {
namespace {

constexpr size_t kMaxFileBytes = size_t{1} << 30;

// A decoded picture: 1 byte per component, interleaved.
struct Picture {
  int w = 0, h = 0, components = 0;
  bool ycbcr = false;  // else RGB (3 components) or grey (1)
  std::vector<uint8_t> pixels;
};

void PictureToFrame(const Picture& pic, host::Frame& frame) {
  Reshape(frame, pic.w, pic.h);
  const uint8_t* s = pic.pixels.data();
  for (int y = 0; y < pic.h; ++y)
    for (int x = 0; x < pic.w; ++x, s += pic.components) {
      host::YcPixel& p = frame.at(x, y);
      if (pic.components == 1)
        p = {LumaToHost(s[0], 16), 0, 0};
      else if (pic.ycbcr)
        p = {LumaToHost(s[0], 16), ChromaToHost(s[1], 16, 128), ChromaToHost(s[2], 16, 128)};
      else
        p = RgbToHost(s[0], s[1], s[2]);
    }
}

// One picture, read on the first call.
class PictureReader : public FrameReader {
 public:
  PictureReader(Picture picture) : picture_(std::move(picture)) {
    info_.w = picture_.w;
    info_.h = picture_.h;
    info_.chroma = picture_.components == 1 ? Chroma::kMono : Chroma::k444;
    info_.frame_count = 1;
  }
  bool Read(host::Frame& frame) override {
    if (done_) return false;
    PictureToFrame(picture_, frame);
    done_ = true;
    return true;
  }

 private:
  Picture picture_;
  bool done_ = false;
};

// Pictures hold one frame; a second one is an error rather than a silent drop.
class PictureWriter : public FrameWriter {
 public:
  PictureWriter(std::ostream& out, const VideoInfo& info, const std::string& where)
      : out_(out), info_(info), where_(where) {}
  void Write(const host::Frame& frame) override {
    CheckFrameShape(frame, info_, where_);
    if (written_) throw IoError(where_ + ": a picture holds one frame, and the input has more (write Y4M or yc48)");
    Encode(frame);
    written_ = true;
  }
  void Finish() override {
    out_.flush();
    if (!out_) throw IoError(where_ + ": write failed");
  }

 protected:
  virtual void Encode(const host::Frame& frame) = 0;
  std::ostream& out_;
  VideoInfo info_;
  std::string where_;
  bool written_ = false;
};

// ---- PNG

Picture DecodePng(const std::vector<uint8_t>& data, const std::string& where, const ReaderOptions& options) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size()))
    throw IoError(where + ": not a readable PNG (" + image.message + ")");
  Picture pic;
  pic.w = static_cast<int>(std::min<png_uint_32>(image.width, 1u << 30));
  pic.h = static_cast<int>(std::min<png_uint_32>(image.height, 1u << 30));
  try {
    CheckPictureSize(pic.w, pic.h, options, where);
  } catch (...) {
    png_image_free(&image);
    throw;
  }
  const bool grey = (image.format & PNG_FORMAT_FLAG_COLOR) == 0;
  image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  pic.components = grey ? 1 : 3;
  pic.pixels.resize(PNG_IMAGE_SIZE(image));
  // Transparent pixels are composed onto white.
  const png_color white{255, 255, 255};
  if (!png_image_finish_read(&image, &white, pic.pixels.data(), 0, nullptr)) {
    const std::string message = image.message;
    png_image_free(&image);
    throw IoError(where + ": damaged PNG (" + message + ")");
  }
  png_image_free(&image);
  return pic;
}

std::vector<uint8_t> EncodePng(const uint8_t* pixels, int w, int h, bool grey, const std::string& where) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_get_memory_size(image, size, 0, pixels, 0, nullptr))
    throw IoError(where + ": PNG encoding failed (" + image.message + ")");
  std::vector<uint8_t> out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels, 0, nullptr))
    throw IoError(where + ": PNG encoding failed (" + image.message + ")");
  out.resize(size);
  return out;
}

std::vector<uint8_t> FrameToRgb(const host::Frame& frame, bool grey) {
  std::vector<uint8_t> pixels(size_t(frame.w) * frame.h * (grey ? 1 : 3));
  uint8_t* d = pixels.data();
  for (int y = 0; y < frame.h; ++y)
    for (int x = 0; x < frame.w; ++x) {
      if (grey) {
        *d++ = static_cast<uint8_t>(LumaFromHost(frame.at(x, y).y, 16, 255));
      } else {
        HostToRgb(frame.at(x, y), d);
        d += 3;
      }
    }
  return pixels;
}

class PngWriter : public PictureWriter {
 public:
  using PictureWriter::PictureWriter;

 protected:
  void Encode(const host::Frame& frame) override {
    const bool grey = info_.chroma == Chroma::kMono;
    const std::vector<uint8_t> png = EncodePng(FrameToRgb(frame, grey).data(), frame.w, frame.h, grey, where_);
    WriteAll(out_, png.data(), png.size(), where_);
  }
};

// ---- JPEG. libjpeg reports errors by a call that must not return: it longjmps back to the one
// setjmp in each function below, whose frames hold nothing that needs destroying after that point.

struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, errors->message);
  std::longjmp(errors->jump, 1);
}

// Warnings (level -1) mean damaged data that libjpeg would paper over; they are errors here.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) JpegErrorExit(cinfo);
}

// Returns false with `message` filled on failure.
bool DecodeJpegInto(const uint8_t* data, size_t size, int64_t max_pixels, Picture* pic, char* message) {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegErrorExit;
  errors.manager.emit_message = JpegEmitMessage;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE: cinfo.out_color_space = JCS_GRAYSCALE; break;
    case JCS_YCbCr: cinfo.out_color_space = JCS_YCbCr; break;
    case JCS_RGB: cinfo.out_color_space = JCS_RGB; break;
    default:
      jpeg_destroy_decompress(&cinfo);
      std::snprintf(message, JMSG_LENGTH_MAX, "%s pictures are not supported",
                    cinfo.jpeg_color_space == JCS_CMYK   ? "CMYK"
                    : cinfo.jpeg_color_space == JCS_YCCK ? "YCCK"
                                                         : "four-component");
      return false;
  }
  if (int64_t{cinfo.image_width} * cinfo.image_height > max_pixels || cinfo.image_width > 65535 ||
      cinfo.image_height > 65535) {
    std::snprintf(message, JMSG_LENGTH_MAX, "picture size %ux%u exceeds the limit of %lld pixels", cinfo.image_width,
                  cinfo.image_height, static_cast<long long>(max_pixels));
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_start_decompress(&cinfo);
  pic->w = static_cast<int>(cinfo.output_width);
  pic->h = static_cast<int>(cinfo.output_height);
  pic->components = cinfo.output_components;
  pic->ycbcr = cinfo.out_color_space == JCS_YCbCr;
  pic->pixels.resize(size_t(pic->w) * pic->h * pic->components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pic->pixels.data() + size_t(cinfo.output_scanline) * pic->w * pic->components;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// `pixels` Y'CbCr (3 components) or grey (1). On success *out is malloc'd by libjpeg.
bool EncodeJpegInto(const uint8_t* pixels, int w, int h, int components, int quality, unsigned char** out,
                    unsigned long* out_size, char* message) {
  jpeg_compress_struct cinfo;
  JpegErrors errors;
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegErrorExit;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, out_size);
  cinfo.image_width = static_cast<JDIMENSION>(w);
  cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_YCbCr;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(pixels) + size_t(cinfo.next_scanline) * w * components;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

class JpegWriter : public PictureWriter {
 public:
  JpegWriter(std::ostream& out, const VideoInfo& info, const std::string& where, int quality)
      : PictureWriter(out, info, where), quality_(quality) {}

 protected:
  void Encode(const host::Frame& frame) override {
    const int components = info_.chroma == Chroma::kMono ? 1 : 3;
    std::vector<uint8_t> pixels(size_t(frame.w) * frame.h * components);
    uint8_t* d = pixels.data();
    for (int y = 0; y < frame.h; ++y)
      for (int x = 0; x < frame.w; ++x) {
        const host::YcPixel& p = frame.at(x, y);
        *d++ = static_cast<uint8_t>(LumaFromHost(p.y, 16, 255));
        if (components == 3) {
          *d++ = static_cast<uint8_t>(ChromaFromHost(p.cb, 16, 128, 255));
          *d++ = static_cast<uint8_t>(ChromaFromHost(p.cr, 16, 128, 255));
        }
      }
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    char message[JMSG_LENGTH_MAX] = {};
    const bool ok = EncodeJpegInto(pixels.data(), frame.w, frame.h, components, quality_, &jpeg, &size, message);
    if (!ok) {
      std::free(jpeg);
      throw IoError(where_ + ": JPEG encoding failed (" + message + ")");
    }
    try {
      WriteAll(out_, jpeg, size, where_);
    } catch (...) {
      std::free(jpeg);
      throw;
    }
    std::free(jpeg);
  }

 private:
  int quality_;
};

}  // namespace

std::unique_ptr<FrameReader> OpenPngReader(std::istream& in, const std::string& where, const ReaderOptions& options) {
  const std::vector<uint8_t> data = ReadAll(in, where, kMaxFileBytes);
  if (data.empty()) throw IoError(where + ": empty file, expected a PNG picture");
  return std::make_unique<PictureReader>(DecodePng(data, where, options));
}

std::unique_ptr<FrameReader> OpenJpegReader(std::istream& in, const std::string& where, const ReaderOptions& options) {
  const std::vector<uint8_t> data = ReadAll(in, where, kMaxFileBytes);
  if (data.empty()) throw IoError(where + ": empty file, expected a JPEG picture");
  Picture pic;
  char message[JMSG_LENGTH_MAX] = {};
  if (!DecodeJpegInto(data.data(), data.size(), options.max_pixels, &pic, message))
    throw IoError(where + ": not a readable JPEG (" + message + ")");
  return std::make_unique<PictureReader>(std::move(pic));
}

std::unique_ptr<FrameWriter> OpenPngWriter(std::ostream& out, const VideoInfo& info, const std::string& where) {
  return std::make_unique<PngWriter>(out, info, where);
}

std::unique_ptr<FrameWriter> OpenJpegWriter(std::ostream& out, const VideoInfo& info, const std::string& where,
                                            int quality) {
  if (quality < 1 || quality > 100) throw IoError(where + ": JPEG quality must be 1..100");
  return std::make_unique<JpegWriter>(out, info, where, quality);
}

void WriteComparePng(std::ostream& out, const host::Frame& before, const host::Frame& after, bool mono,
                     const std::string& where) {
  if (before.w != after.w || before.h != after.h) throw IoError(where + ": before and after differ in size");
  const int c = mono ? 1 : 3;
  const std::vector<uint8_t> a = FrameToRgb(before, mono), b = FrameToRgb(after, mono);
  const size_t row = size_t(before.w) * c;
  std::vector<uint8_t> both(2 * row * before.h);
  for (int y = 0; y < before.h; ++y) {
    std::memcpy(&both[2 * row * y], &a[row * y], row);
    std::memcpy(&both[2 * row * y + row], &b[row * y], row);
  }
  const std::vector<uint8_t> png = EncodePng(both.data(), 2 * before.w, before.h, mono, where);
  WriteAll(out, png.data(), png.size(), where);
}

}  // namespace io
