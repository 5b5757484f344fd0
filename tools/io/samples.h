#pragma once
// Sample scaling between stored values and host units, and BT.601 full-range colour conversion.
// 8-bit: luma v is 16 v in the host, chroma c is 16 (c - 128); 10-bit values scale by 4 instead;
// 16-bit picture levels by 16 / 257.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "host/host_abi.h"

namespace io {

// Host units per stored level: 16 for 8-bit, 4 for 10-bit.
constexpr int HostScale(int bit_depth) { return bit_depth == 10 ? 4 : 16; }
constexpr int MaxLevel(int bit_depth) { return (1 << bit_depth) - 1; }
constexpr int ChromaZero(int bit_depth) { return 1 << (bit_depth - 1); }

inline int16_t LumaToHost(int v, int scale) { return static_cast<int16_t>(v * scale); }
inline int16_t ChromaToHost(int c, int scale, int zero) { return static_cast<int16_t>((c - zero) * scale); }

// floor(a / b) for b > 0.
constexpr int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The mean of n host samples (summed in `sum`) as a stored level, rounded half up and clamped.
inline int LumaFromHostSum(int64_t sum, int n, int scale, int max_level) {
  return static_cast<int>(std::clamp<int64_t>(FloorDiv(2 * sum + int64_t{scale} * n, 2 * int64_t{scale} * n), 0, max_level));
}
inline int ChromaFromHostSum(int64_t sum, int n, int scale, int zero, int max_level) {
  return static_cast<int>(
      std::clamp<int64_t>(FloorDiv(2 * sum + int64_t{scale} * n, 2 * int64_t{scale} * n) + zero, 0, max_level));
}
inline int LumaFromHost(int16_t v, int scale, int max_level) { return LumaFromHostSum(v, 1, scale, max_level); }
inline int ChromaFromHost(int16_t c, int scale, int zero, int max_level) {
  return ChromaFromHostSum(c, 1, scale, zero, max_level);
}

inline int16_t RoundToSample(double v) {
  return static_cast<int16_t>(std::clamp(std::lround(v), -32768l, 32767l));
}

// 8-bit RGB to host Y'CbCr, kept at host precision (16 units per level).
inline host::YcPixel RgbToHost(int r, int g, int b) {
  const double y = 0.299 * r + 0.587 * g + 0.114 * b;
  return {RoundToSample(16.0 * y), RoundToSample(16.0 * (b - y) / 1.772), RoundToSample(16.0 * (r - y) / 1.402)};
}

inline uint8_t ClampByte(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0l, 255l)); }

inline void HostToRgb(const host::YcPixel& p, uint8_t* rgb) {
  const double y = p.y / 16.0, cb = p.cb / 16.0, cr = p.cr / 16.0;
  rgb[0] = ClampByte(y + 1.402 * cr);
  rgb[1] = ClampByte(y - 0.344136 * cb - 0.714136 * cr);
  rgb[2] = ClampByte(y + 1.772 * cb);
}

// 16-bit picture levels: a level v stands for v / 257 of an 8-bit level, so 257 v lands exactly where
// the 8-bit level v does and 65535 where 255 does; the host keeps 16 units per 8-bit level.
inline int16_t Luma16ToHost(int v) { return static_cast<int16_t>((32 * v + 257) / 514); }  // 16 v / 257, rounded
inline uint16_t ClampWord(double v) { return static_cast<uint16_t>(std::clamp(std::lround(v), 0l, 65535l)); }
inline uint16_t Luma16FromHost(int16_t y) { return ClampWord(y * (257.0 / 16.0)); }

inline host::YcPixel Rgb16ToHost(int r16, int g16, int b16) {
  const double r = r16 / 257.0, g = g16 / 257.0, b = b16 / 257.0;
  const double y = 0.299 * r + 0.587 * g + 0.114 * b;
  return {RoundToSample(16.0 * y), RoundToSample(16.0 * (b - y) / 1.772), RoundToSample(16.0 * (r - y) / 1.402)};
}

inline void HostToRgb16(const host::YcPixel& p, uint16_t* rgb) {
  const double y = p.y / 16.0, cb = p.cb / 16.0, cr = p.cr / 16.0;
  rgb[0] = ClampWord(257.0 * (y + 1.402 * cr));
  rgb[1] = ClampWord(257.0 * (y - 0.344136 * cb - 0.714136 * cr));
  rgb[2] = ClampWord(257.0 * (y + 1.772 * cb));
}

}  // namespace io
