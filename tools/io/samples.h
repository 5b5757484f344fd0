#pragma once
// Sample scaling between stored values and host units, and BT.601 full-range colour conversion.
// 8-bit: luma v is 16 v in the host, chroma c is 16 (c - 128); 10-bit values scale by 4 instead.
#include <algorithm>
#include <cstdint>

#include "host/host_abi.h"
#include "host/rgba_dsp.h"

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

// 8-bit RGB to host Y'CbCr at host precision (16 units per level) and back: the one conversion the
// 64-bit editor's plug-ins use too, exact and lossless for every colour (host/rgba_dsp.h).
inline host::YcPixel RgbToHost(int r, int g, int b) { return host::RgbToYc(r, g, b); }
inline void HostToRgb(const host::YcPixel& p, uint8_t* rgb) { host::YcToRgb(p, rgb); }

}  // namespace io
