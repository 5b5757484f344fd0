#pragma once
// Sample scaling between stored values and host units, and BT.601 full-range colour conversion.
// 8-bit: luma v is 16 v in the host, chroma c is 16 (c - 128); 10- and 12-bit values scale by 4 and
// by 1 instead; 16-bit picture levels by 16 / 257.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/rgba_dsp.h"

namespace io {

// Host units per stored level: 16 for 8-bit, 4 for 10-bit, 1 for 12-bit.
constexpr int HostScale(int bit_depth) { return 1 << (12 - bit_depth); }
constexpr int MaxLevel(int bit_depth) { return (1 << bit_depth) - 1; }
constexpr int ChromaZero(int bit_depth) { return 1 << (bit_depth - 1); }

inline int16_t LumaToHost(int v, int scale) { return static_cast<int16_t>(v * scale); }
inline int16_t ChromaToHost(int c, int scale, int zero) { return static_cast<int16_t>((c - zero) * scale); }

// floor(a / b) for b > 0.
constexpr int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The mean of n host samples (summed in `sum`) as a stored level, rounded half up and clamped.
inline int LumaFromHostSum(int64_t sum, int n, int scale, int max_level) {
  return static_cast<int>(
      std::clamp<int64_t>(FloorDiv(2 * sum + int64_t{scale} * n, 2 * int64_t{scale} * n), 0, max_level));
}
inline int ChromaFromHostSum(int64_t sum, int n, int scale, int zero, int max_level) {
  return static_cast<int>(std::clamp<int64_t>(
      FloorDiv(2 * sum + int64_t{scale} * n, 2 * int64_t{scale} * n) + zero, 0, max_level));
}
inline int LumaFromHost(int16_t v, int scale, int max_level) {
  return LumaFromHostSum(v, 1, scale, max_level);
}
inline int ChromaFromHost(int16_t c, int scale, int zero, int max_level) {
  return ChromaFromHostSum(c, 1, scale, zero, max_level);
}

// 8-bit RGB to host Y'CbCr at host precision (16 units per level) and back: the one conversion the
// 64-bit editor's plug-ins use too, exact and lossless for every colour (core/rgba_dsp.h).
inline core::YcPixel RgbToHost(int r, int g, int b) { return core::RgbToYc(r, g, b); }
inline void HostToRgb(const core::YcPixel& p, uint8_t* rgb) { core::YcToRgb(p, rgb); }

// 16-bit picture levels: a level v stands for v / 257 of an 8-bit level, so 257 v lands exactly where
// the 8-bit level v does and 65535 where 255 does; the host keeps 16 units per 8-bit level.
inline int16_t Luma16ToHost(int v) {
  return static_cast<int16_t>((32 * v + 257) / 514);
}  // 16 v / 257, rounded
inline uint16_t ClampWord(double v) { return static_cast<uint16_t>(std::clamp(std::lround(v), 0l, 65535l)); }
inline uint16_t Luma16FromHost(int16_t y) { return ClampWord(y * (257.0 / 16.0)); }

// 16-bit RGB with the coefficients of the 8-bit conversion, exactly: 257 v converts as the 8-bit v.
inline core::YcPixel Rgb16ToHost(int r16, int g16, int b16) {
  const auto convert = [&](const int32_t* k) {
    const int64_t sum = int64_t{k[0]} * r16 + int64_t{k[1]} * g16 + int64_t{k[2]} * b16;
    return static_cast<int16_t>(
        FloorDiv(sum + (int64_t{257} << (core::kRgbToYcShift - 1)), int64_t{257} << core::kRgbToYcShift));
  };
  return {convert(core::kRgbToY), convert(core::kRgbToCb), convert(core::kRgbToCr)};
}

inline void HostToRgb16(const core::YcPixel& p, uint16_t* rgb) {
  const auto word = [](int64_t sum) {
    const int64_t v =
        FloorDiv(257 * sum + (int64_t{1} << (core::kYcToRgbShift - 1)), int64_t{1} << core::kYcToRgbShift);
    return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 65535));
  };
  const int64_t y = int64_t{core::kYcToRgbY} * p.y;
  rgb[0] = word(y + int64_t{core::kCrToR} * p.cr);
  rgb[1] = word(y + int64_t{core::kCbToG} * p.cb + int64_t{core::kCrToG} * p.cr);
  rgb[2] = word(y + int64_t{core::kCbToB} * p.cb);
}

}  // namespace io
