#pragma once
// 8-bit RGB(A) pictures to the samples the filters work on and back: BT.601 full range in exact
// integer arithmetic. The pair is lossless: every one of the 2^24 colours comes back unchanged, and
// grey (r = g = b = v) is y = 16 v with no colour difference. 16-bit pictures (r, g, b, a words,
// 65535 standing for 1.0) convert with the same coefficients at the samples' full precision. The
// scalar pixel functions below define every output bit; the row kernels of every tier give the same
// bits.
#include <cstdint>

#include "core/cpu.h"
#include "core/pixel.h"
#include "core/workers.h"

namespace core {

// Y'CbCr from RGB with 11 fraction bits: y = 16 (0.299 r + 0.587 g + 0.114 b), cb and cr the
// differences 16 (b - y') / 1.772 and 16 (r - y') / 1.402. Each coefficient row sums to 16 x 2^11
// (luma) or to 0 (colour differences), so grey maps exactly. |sum| < 2^23.
inline constexpr int32_t kRgbToYcShift = 11;
inline constexpr int32_t kRgbToY[3] = {9798, 19235, 3735};
inline constexpr int32_t kRgbToCb[3] = {-5529, -10855, 16384};
inline constexpr int32_t kRgbToCr[3] = {16384, -13720, -2664};

// RGB from Y'CbCr with 14 fraction bits: r = y + 1.402 cr, g = y - 0.344136 cb - 0.714136 cr,
// b = y + 1.772 cb, all over 16. For any 16-bit samples the sums stay below 2^31 in magnitude.
inline constexpr int32_t kYcToRgbShift = 18;  // 14 fraction bits and the 16 units of a level
inline constexpr int32_t kYcToRgbY = 16384;
inline constexpr int32_t kCrToR = 22970;
inline constexpr int32_t kCbToG = -5638;
inline constexpr int32_t kCrToG = -11700;
inline constexpr int32_t kCbToB = 29032;

// Sums are rounded half up: floor((sum + 2^(shift - 1)) / 2^shift).
inline int32_t RoundShift(int32_t sum, int32_t shift) { return (sum + (int32_t{1} << (shift - 1))) >> shift; }
inline uint8_t ClampToByte(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

inline YcPixel RgbToYc(int32_t r, int32_t g, int32_t b) {
  const auto convert = [&](const int32_t* k) {
    return static_cast<int16_t>(RoundShift(k[0] * r + k[1] * g + k[2] * b, kRgbToYcShift));
  };
  return {convert(kRgbToY), convert(kRgbToCb), convert(kRgbToCr)};
}

// Any samples, including ones no RGB colour gives; each channel is clamped to 0..255.
inline void YcToRgb(const YcPixel& p, uint8_t* rgb) {
  const int32_t y = kYcToRgbY * p.y;
  rgb[0] = ClampToByte(RoundShift(y + kCrToR * p.cr, kYcToRgbShift));
  rgb[1] = ClampToByte(RoundShift(y + kCbToG * p.cb + kCrToG * p.cr, kYcToRgbShift));
  rgb[2] = ClampToByte(RoundShift(y + kCbToB * p.cb, kYcToRgbShift));
}

// 16-bit levels: v stands for 256 v / 257 of an 8-bit level with 8 fraction bits (so 257 v lands on
// the 8-bit level v, 65535 on 255), rounded half up: v - floor((v + 128) / 257).
inline constexpr int32_t kPa64LevelBits = 8;
inline int32_t Pa64Level(int32_t v) { return v - (v + 128) / 257; }

// A 16-bit colour to samples: the 8-bit coefficient rows on the levels of Pa64Level, rounded half
// up. A colour of whole 8-bit levels (257 v) gives exactly the samples of the 8-bit colour; every
// sample lies within 0.6 of a unit of the exact BT.601 value (half a unit of rounding, the rest from
// the levels and the coefficients). Back through YcToPa64, each word comes within 24 of where it was
// (grey within 9), and the samples through their words, where no word is clamped, come back
// exactly. |sum| < 2^31.
inline YcPixel Pa64ToYc(int32_t r, int32_t g, int32_t b) {
  r = Pa64Level(r), g = Pa64Level(g), b = Pa64Level(b);
  const auto convert = [&](const int32_t* k) {
    return static_cast<int16_t>(RoundShift(k[0] * r + k[1] * g + k[2] * b, kRgbToYcShift + kPa64LevelBits));
  };
  return {convert(kRgbToY), convert(kRgbToCb), convert(kRgbToCr)};
}

// Any samples to 16-bit levels: the sums of YcToRgb (units of 2^-14 of a sample) times 257 / 16 per
// sample unit, rounded half up, each clamped to 0..65535.
inline uint16_t SumToWord(int32_t sum) {
  const int64_t v = (int64_t{257} * sum + (int64_t{1} << (kYcToRgbShift - 1))) >> kYcToRgbShift;
  return static_cast<uint16_t>(v < 0 ? 0 : v > 65535 ? 65535 : v);
}
inline void YcToPa64(const YcPixel& p, uint16_t* rgb) {
  const int32_t y = kYcToRgbY * p.y;
  rgb[0] = SumToWord(y + kCrToR * p.cr);
  rgb[1] = SumToWord(y + kCbToG * p.cb + kCrToG * p.cr);
  rgb[2] = SumToWord(y + kCbToB * p.cb);
}

// A row of n pixels of 4 bytes r, g, b, a to n samples; alpha is not read.
using RgbaToYcRowFn = void (*)(const uint8_t* rgba, YcPixel* yc, int32_t n);
// n samples back into the r, g, b bytes of n pixels of 4 bytes; the alpha bytes keep their values.
using YcToRgbaRowFn = void (*)(const YcPixel* yc, uint8_t* rgba, int32_t n);

// The luma alone: luma[x] = RgbToYc(pixel x).y >> shift (arithmetic), shift in 0..15.
using RgbaToLumaRowFn = void (*)(const uint8_t* rgba, int16_t* luma, int32_t n, int32_t shift);

// A row of n pixels of 4 words r, g, b, a to n samples (Pa64ToYc); alpha is not read.
using Pa64ToYcRowFn = void (*)(const uint16_t* pa64, YcPixel* yc, int32_t n);
// The luma alone: luma[x] = Pa64ToYc(pixel x).y >> shift (arithmetic), shift in 0..15.
using Pa64ToLumaRowFn = void (*)(const uint16_t* pa64, int16_t* luma, int32_t n, int32_t shift);
// n samples back into the r, g, b words of n pixels of 4 words (YcToPa64); the alpha words keep their
// values.
using YcToPa64RowFn = void (*)(const YcPixel* yc, uint16_t* pa64, int32_t n);

// The table's slots, X(type, name), declared once: they make the table's members, its scalar
// kernels (name_C) and the kernel checker's list of what it must compare.
// clang-format off
#define RGBA_DSP_SLOTS(X)           \
  X(RgbaToYcRowFn, RgbaToYcRow)     \
  X(YcToRgbaRowFn, YcToRgbaRow)     \
  X(RgbaToLumaRowFn, RgbaToLumaRow) \
  X(Pa64ToYcRowFn, Pa64ToYcRow)     \
  X(YcToPa64RowFn, YcToPa64Row)     \
  X(Pa64ToLumaRowFn, Pa64ToLumaRow)
// clang-format on

struct RgbaDsp {
  RGBA_DSP_SLOTS(AUF_DSP_SLOT)
};

// The table of the best tier in `flags` that this CPU runs (TierTable).
const RgbaDsp& RgbaDspFor(CpuFlags flags);

// An image of w x h pixels, row after row without gaps: each pixel 4 bytes r, g, b, a, or, when
// `deep`, 4 16-bit words r, g, b, a (PA64). Its samples are RgbToYc, or Pa64ToYc, of each pixel.
struct RgbaImage {
  void* pixels;
  int32_t w, h;
  bool deep;
};

// Pixel x of row y.
inline void* RgbaImagePixel(const RgbaImage& image, int32_t x, int32_t y) {
  return static_cast<char*>(image.pixels) + (int64_t{image.w} * y + x) * (image.deep ? 8 : 4);
}

// n pixels of row y from column x to samples, with the image's conversion.
inline void RgbaImageToYcRow(const RgbaDsp& dsp, const RgbaImage& image, int32_t x, int32_t y, YcPixel* yc,
                             int32_t n) {
  const void* p = RgbaImagePixel(image, x, y);
  if (image.deep) dsp.Pa64ToYcRow(static_cast<const uint16_t*>(p), yc, n);
  else dsp.RgbaToYcRow(static_cast<const uint8_t*>(p), yc, n);
}
// n samples back into the pixels of row y from column x, alpha untouched.
inline void YcToRgbaImageRow(const RgbaDsp& dsp, const YcPixel* yc, const RgbaImage& image, int32_t x,
                             int32_t y, int32_t n) {
  void* p = RgbaImagePixel(image, x, y);
  if (image.deep) dsp.YcToPa64Row(yc, static_cast<uint16_t*>(p), n);
  else dsp.YcToRgbaRow(yc, static_cast<uint8_t*>(p), n);
}
// The luma of row y alone, each shifted right by `shift`.
inline void RgbaImageToLumaRow(const RgbaDsp& dsp, const RgbaImage& image, int32_t y, int16_t* luma,
                               int32_t shift) {
  const void* p = RgbaImagePixel(image, 0, y);
  if (image.deep) dsp.Pa64ToLumaRow(static_cast<const uint16_t*>(p), luma, image.w, shift);
  else dsp.RgbaToLumaRow(static_cast<const uint8_t*>(p), luma, image.w, shift);
}

// The whole image, at its depth, to w x h samples in a row, and back, its pixels split among the
// workers; pictures below 16384 pixels convert on the calling thread, where waking workers would cost
// more than the work.
void RgbaImageToYcOnWorkers(const RgbaDsp& dsp, const Workers& workers, const RgbaImage& image, YcPixel* yc);
void YcToRgbaImageOnWorkers(const RgbaDsp& dsp, const Workers& workers, const YcPixel* yc,
                            const RgbaImage& image);

void RgbaToYcRow_C(const uint8_t* rgba, YcPixel* yc, int32_t n);
void YcToRgbaRow_C(const YcPixel* yc, uint8_t* rgba, int32_t n);
void RgbaToLumaRow_C(const uint8_t* rgba, int16_t* luma, int32_t n, int32_t shift);
void Pa64ToYcRow_C(const uint16_t* pa64, YcPixel* yc, int32_t n);
void YcToPa64Row_C(const YcPixel* yc, uint16_t* pa64, int32_t n);
void Pa64ToLumaRow_C(const uint16_t* pa64, int16_t* luma, int32_t n, int32_t shift);

}  // namespace core
