// PNG (libpng) and JPEG (libjpeg-turbo). A JPEG is decoded straight to Y'CbCr, the space its blocks
// were coded in; PNG RGB goes through BT.601 full range, as JPEG's own conversion. A PNG keeps its
// depth (8 or 16 bits) and its alpha channel, which travels beside the frame unfiltered.
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>

#include <algorithm>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include "tools/io/io_internal.h"
#include "tools/io/samples.h"

namespace io {
namespace {

constexpr size_t kMaxFileBytes = size_t{1} << 30;

// A decoded picture: interleaved components of one byte, or of two bytes most significant first
// (16-bit PNG). Components: grey, RGB or Y'CbCr, then alpha when there is one.
struct Picture {
  int w = 0, h = 0, components = 0;
  int depth = 8;
  bool ycbcr = false;
  bool alpha = false;
  Chroma coded = Chroma::k444;  // a JPEG's chroma sampling
  std::vector<uint8_t> pixels;

  int Sample(size_t i) const { return depth == 16 ? pixels[2 * i] << 8 | pixels[2 * i + 1] : pixels[i]; }
  void Put(size_t i, int v) {
    if (depth == 16) {
      pixels[2 * i] = static_cast<uint8_t>(v >> 8);
      pixels[2 * i + 1] = static_cast<uint8_t>(v);
    } else {
      pixels[i] = static_cast<uint8_t>(v);
    }
  }
};

void PictureToFrame(const Picture& pic, core::Picture& frame, FrameExtras& extras) {
  Reshape(frame, pic.w, pic.h);
  extras = {};
  const bool deep = pic.depth == 16;
  const int colours = pic.components - (pic.alpha ? 1 : 0);
  if (pic.alpha) extras.alpha.resize(size_t(pic.w) * pic.h);
  size_t s = 0, i = 0;
  for (int y = 0; y < pic.h; ++y)
    for (int x = 0; x < pic.w; ++x, s += size_t(pic.components), ++i) {
      core::YcPixel& p = frame.at(x, y);
      if (colours == 1) p = {deep ? Luma16ToHost(pic.Sample(s)) : LumaToHost(pic.Sample(s), 16), 0, 0};
      else if (pic.ycbcr)
        p = {LumaToHost(pic.Sample(s), 16), ChromaToHost(pic.Sample(s + 1), 16, 128),
             ChromaToHost(pic.Sample(s + 2), 16, 128)};
      else if (deep) p = Rgb16ToHost(pic.Sample(s), pic.Sample(s + 1), pic.Sample(s + 2));
      else p = RgbToHost(pic.Sample(s), pic.Sample(s + 1), pic.Sample(s + 2));
      if (pic.alpha) extras.alpha[i] = static_cast<uint16_t>(pic.Sample(s + size_t(colours)));
    }
}

// One picture, read on the first call.
class PictureReader : public FrameReader {
 public:
  PictureReader(Picture picture) : picture_(std::move(picture)) {
    info_.w = picture_.w;
    info_.h = picture_.h;
    info_.chroma = picture_.components - (picture_.alpha ? 1 : 0) == 1 ? Chroma::kMono : Chroma::k444;
    info_.bit_depth = picture_.depth;
    info_.alpha = picture_.alpha;
    if (info_.chroma != Chroma::kMono && picture_.coded != Chroma::k444) info_.coded_chroma = picture_.coded;
    info_.frame_count = 1;
  }
  bool Read(core::Picture& frame, FrameExtras& extras) override {
    if (done_) return false;
    PictureToFrame(picture_, frame, extras);
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
  void Write(const core::Picture& frame, const FrameExtras& extras) override {
    CheckFrameShape(frame, info_, where_);
    if (written_)
      throw IoError(where_ + ": a picture holds one frame, and the input has more (write Y4M or yc48)");
    EncodePicture(frame, extras);
    written_ = true;
  }
  void Finish() override {
    errno = 0;
    out_.flush();
    if (!out_) throw IoError(where_ + ": write failed" + Reason(errno));
  }

 protected:
  virtual void EncodePicture(const core::Picture& frame, const FrameExtras& extras) = 0;
  std::ostream& out_;
  VideoInfo info_;
  std::string where_;
  bool written_ = false;
};

// ---- PNG. libpng reports errors by a call that must not return: it longjmps back to the one setjmp
// in each function below, whose frames hold nothing that needs destroying after that point.

struct PngState {
  const uint8_t* data = nullptr;  // reading
  size_t size = 0;
  size_t pos = 0;
  std::vector<uint8_t>* out = nullptr;  // writing
  bool out_of_memory = false;
  char message[200] = {};
};

[[noreturn]] void PngError(png_structp png, png_const_charp message) {
  PngState* state = static_cast<PngState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  png_longjmp(png, 1);
}

// Damaged ancillary chunks are skipped, as every viewer does; the picture data itself is checked.
void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep dst, size_t n) {
  PngState* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (n > state->size - state->pos) png_error(png, "file truncated");
  std::memcpy(dst, state->data + state->pos, n);
  state->pos += n;
}

void PngWrite(png_structp png, png_bytep src, size_t n) {
  PngState* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (state->out_of_memory) return;
  try {
    state->out->insert(state->out->end(), src, src + n);
  } catch (const std::bad_alloc&) {
    state->out_of_memory = true;  // reported once libpng is done: no exception may cross its frames
  }
}

void PngFlush(png_structp) {}

// Returns false with `message` filled on failure.
bool DecodePngInto(const uint8_t* data, size_t size, int64_t max_pixels, Picture* pic, char* message,
                   size_t n) {
  if (size < 8 || png_sig_cmp(data, 0, 8) != 0) {
    std::snprintf(message, n, "not a readable PNG (no PNG signature)");
    return false;
  }
  PngState state;
  state.data = data;
  state.size = size;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    std::snprintf(message, n, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::snprintf(message, n, "damaged PNG (%s)", state.message);
    return false;
  }
  png_set_read_fn(png, &state, PngRead);
  png_read_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  if (const std::string limit = SizeLimitExceeded(w, h, max_pixels); !limit.empty()) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::snprintf(message, n, "%s", limit.c_str());
    return false;
  }
  // Palettes become RGB, grey below 8 bits becomes 8 bits, a transparent colour becomes alpha.
  png_set_expand(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  pic->w = static_cast<int>(w);
  pic->h = static_cast<int>(h);
  pic->depth = png_get_bit_depth(png, info);
  pic->components = png_get_channels(png, info);
  pic->alpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) != 0;
  const size_t row = png_get_rowbytes(png, info);
  try {
    pic->pixels.resize(row * h);
  } catch (const std::bad_alloc&) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::snprintf(message, n, "not enough memory for a %ux%u picture", w, h);
    return false;
  }
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, pic->pixels.data() + row * y, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// Returns false with `message` filled on failure.
bool EncodePngInto(const Picture& pic, std::vector<uint8_t>* out, char* message, size_t n) {
  PngState state;
  state.out = out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, PngError, PngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    std::snprintf(message, n, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::snprintf(message, n, "%s", state.message);
    return false;
  }
  png_set_write_fn(png, &state, PngWrite, PngFlush);
  const int colours = pic.components - (pic.alpha ? 1 : 0);
  const int type =
      (colours == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB) | (pic.alpha ? PNG_COLOR_MASK_ALPHA : 0);
  png_set_IHDR(png, info, static_cast<png_uint_32>(pic.w), static_cast<png_uint_32>(pic.h), pic.depth, type,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t row = size_t(pic.w) * pic.components * (pic.depth / 8);
  for (int y = 0; y < pic.h; ++y) png_write_row(png, pic.pixels.data() + row * size_t(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (state.out_of_memory) std::snprintf(message, n, "out of memory");
  return !state.out_of_memory;
}

// The frame as PNG levels: grey or RGB at the stream's depth (16 bits for anything deeper than 8),
// with the alpha plane that came with it.
Picture FrameToPicture(const core::Picture& frame, const VideoInfo& info, const FrameExtras& extras) {
  Picture pic;
  pic.w = frame.w;
  pic.h = frame.h;
  pic.depth = info.bit_depth > 8 ? 16 : 8;
  pic.alpha = extras.alpha.size() == size_t(frame.w) * frame.h && !extras.alpha.empty();
  const bool grey = info.chroma == Chroma::kMono;
  const int colours = grey ? 1 : 3;
  pic.components = colours + (pic.alpha ? 1 : 0);
  pic.pixels.resize(size_t(pic.w) * pic.h * pic.components * (pic.depth / 8));
  size_t d = 0, i = 0;
  for (int y = 0; y < frame.h; ++y)
    for (int x = 0; x < frame.w; ++x, ++i) {
      const core::YcPixel& p = frame.at(x, y);
      if (grey) {
        pic.Put(d++, pic.depth == 16 ? Luma16FromHost(p.y) : LumaFromHost(p.y, 16, 255));
      } else if (pic.depth == 16) {
        uint16_t rgb[3];
        HostToRgb16(p, rgb);
        for (uint16_t v : rgb) pic.Put(d++, v);
      } else {
        uint8_t rgb[3];
        HostToRgb(p, rgb);
        for (uint8_t v : rgb) pic.Put(d++, v);
      }
      if (pic.alpha) pic.Put(d++, extras.alpha[i]);
    }
  return pic;
}

class PngWriter : public PictureWriter {
 public:
  using PictureWriter::PictureWriter;

 protected:
  void EncodePicture(const core::Picture& frame, const FrameExtras& extras) override {
    std::vector<uint8_t> png;
    char message[256] = {};
    if (!EncodePngInto(FrameToPicture(frame, info_, extras), &png, message, sizeof message))
      throw IoError(where_ + ": PNG encoding failed (" + message + ")");
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

// The colours to decode a JPEG to: its own (grey, Y'CbCr or RGB); false with `message` filled for
// the others.
bool ChooseJpegOutput(jpeg_decompress_struct* cinfo, char* message) {
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB: cinfo->out_color_space = cinfo->jpeg_color_space; return true;
    case JCS_CMYK:
    case JCS_YCCK:
      std::snprintf(message, JMSG_LENGTH_MAX, "%s pictures are not supported",
                    cinfo->jpeg_color_space == JCS_CMYK ? "CMYK" : "YCCK");
      return false;
    default:
      std::snprintf(message, JMSG_LENGTH_MAX, "%d-component pictures are not supported",
                    cinfo->num_components);
      return false;
  }
}

// The chroma sampling a JPEG's components were coded at, as the nearest layout that keeps it whole:
// 4:2:0 where chroma has half the rows and columns of luma (or fewer), 4:2:2 where half the columns.
Chroma CodedChroma(const jpeg_decompress_struct& cinfo) {
  if (cinfo.num_components != 3 || cinfo.jpeg_color_space != JCS_YCbCr) return Chroma::k444;
  const jpeg_component_info* c = cinfo.comp_info;
  const int across = c[0].h_samp_factor / std::max(c[1].h_samp_factor, c[2].h_samp_factor);
  const int down = c[0].v_samp_factor / std::max(c[1].v_samp_factor, c[2].v_samp_factor);
  return across >= 2 && down >= 2 ? Chroma::k420 : across >= 2 ? Chroma::k422 : Chroma::k444;
}

// Returns false with `message` filled on failure; `no_memory` tells that memory ran out.
bool DecodeJpegInto(const uint8_t* data, size_t size, int64_t max_pixels, Picture* pic, char* message,
                    bool* no_memory) {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegErrorExit;
  errors.manager.emit_message = JpegEmitMessage;
  if (setjmp(errors.jump)) {
    *no_memory = errors.manager.msg_code == JERR_OUT_OF_MEMORY;
    if (*no_memory)
      std::snprintf(message, JMSG_LENGTH_MAX, "not enough memory for a %ux%u picture", cinfo.image_width,
                    cinfo.image_height);
    else std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  if (!ChooseJpegOutput(&cinfo, message)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (const std::string limit = SizeLimitExceeded(cinfo.image_width, cinfo.image_height, max_pixels);
      !limit.empty()) {
    std::snprintf(message, JMSG_LENGTH_MAX, "%s", limit.c_str());
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_start_decompress(&cinfo);
  pic->w = static_cast<int>(cinfo.output_width);
  pic->h = static_cast<int>(cinfo.output_height);
  pic->components = cinfo.output_components;
  pic->ycbcr = cinfo.out_color_space == JCS_YCbCr;
  pic->coded = CodedChroma(cinfo);
  try {
    pic->pixels.resize(size_t(pic->w) * pic->h * pic->components);
  } catch (const std::bad_alloc&) {
    *no_memory = true;
    std::snprintf(message, JMSG_LENGTH_MAX, "not enough memory for a %dx%d picture", pic->w, pic->h);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pic->pixels.data() + size_t(cinfo.output_scanline) * pic->w * pic->components;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// `pixels` Y'CbCr (3 components, their chroma coded at `sampling`) or grey (1). On success *out is
// malloc'd by libjpeg.
bool EncodeJpegInto(const uint8_t* pixels, int w, int h, int components, Chroma sampling, int quality,
                    unsigned char** out, unsigned long* out_size, char* message) {
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
  if (components == 3) {
    cinfo.comp_info[0].h_samp_factor = sampling == Chroma::k444 ? 1 : 2;
    cinfo.comp_info[0].v_samp_factor = sampling == Chroma::k420 ? 2 : 1;
    for (int c : {1, 2}) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  }
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(pixels) + size_t(cinfo.next_scanline) * w * components;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

// The input's chroma sampling is kept (a JPEG's as it was coded), unless another is asked for.
class JpegWriter : public PictureWriter {
 public:
  JpegWriter(std::ostream& out, const VideoInfo& info, const std::string& where, const WriterOptions& options)
      : PictureWriter(out, info, where),
        quality_(options.jpeg_quality),
        sampling_(options.jpeg_sampling.value_or(info.coded_chroma.value_or(info.chroma))) {}

 protected:
  void EncodePicture(const core::Picture& frame, const FrameExtras&) override {
    const int components = info_.chroma == Chroma::kMono ? 1 : 3;
    std::vector<uint8_t> pixels(size_t(frame.w) * frame.h * components);
    uint8_t* d = pixels.data();
    for (int y = 0; y < frame.h; ++y)
      for (int x = 0; x < frame.w; ++x) {
        const core::YcPixel& p = frame.at(x, y);
        *d++ = static_cast<uint8_t>(LumaFromHost(p.y, 16, 255));
        if (components == 3) {
          *d++ = static_cast<uint8_t>(ChromaFromHost(p.cb, 16, 128, 255));
          *d++ = static_cast<uint8_t>(ChromaFromHost(p.cr, 16, 128, 255));
        }
      }
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    char message[JMSG_LENGTH_MAX] = {};
    const bool ok = EncodeJpegInto(pixels.data(), frame.w, frame.h, components, sampling_, quality_, &jpeg,
                                   &size, message);
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
  Chroma sampling_;
};

}  // namespace

bool PicturesSupported() { return true; }

std::unique_ptr<FrameReader> OpenPngReader(std::istream& in, const std::string& where,
                                           const ReaderOptions& options) {
  const std::vector<uint8_t> data = ReadAll(in, where, kMaxFileBytes);
  if (data.empty()) throw IoError(where + ": empty file, expected a PNG picture");
  Picture pic;
  char message[256] = {};
  if (!DecodePngInto(data.data(), data.size(), options.max_pixels, &pic, message, sizeof message))
    throw IoError(where + ": " + message);
  return std::make_unique<PictureReader>(std::move(pic));
}

std::unique_ptr<FrameReader> OpenJpegReader(std::istream& in, const std::string& where,
                                            const ReaderOptions& options) {
  const std::vector<uint8_t> data = ReadAll(in, where, kMaxFileBytes);
  if (data.empty()) throw IoError(where + ": empty file, expected a JPEG picture");
  Picture pic;
  char message[JMSG_LENGTH_MAX] = {};
  bool no_memory = false;
  if (!DecodeJpegInto(data.data(), data.size(), options.max_pixels, &pic, message, &no_memory))
    throw IoError(where + (no_memory ? ": " + std::string(message)
                                     : ": not a readable JPEG (" + std::string(message) + ")"));
  return std::make_unique<PictureReader>(std::move(pic));
}

std::unique_ptr<FrameWriter> OpenPngWriter(std::ostream& out, const VideoInfo& info,
                                           const std::string& where) {
  return std::make_unique<PngWriter>(out, info, where);
}

std::unique_ptr<FrameWriter> OpenJpegWriter(std::ostream& out, const VideoInfo& info,
                                            const std::string& where, const WriterOptions& options) {
  if (options.jpeg_quality < 1 || options.jpeg_quality > 100)
    throw IoError(where + ": JPEG quality must be 1..100");
  return std::make_unique<JpegWriter>(out, info, where, options);
}

}  // namespace io
