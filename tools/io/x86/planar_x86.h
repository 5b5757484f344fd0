#pragma once
// Vector kernels of the planar conversions; signatures as in planar.h. kBits 8 or 10; kSx pixels
// across per chroma sample (2, 1, or 0 for none), kSy rows down (2 or 1).
#include <cstdint>

#include "tools/io/planar.h"

namespace io {

template <int kBits, int kSx>
void UnpackRow_SSE2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, core::YcPixel* out, int w);
template <int kBits, int kSx, int kSy>
void PackRows_SSE2(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top, uint8_t* y_bottom,
                   uint8_t* cb, uint8_t* cr, int w);

template <int kBits, int kSx>
void UnpackRow_AVX2(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, core::YcPixel* out, int w);
template <int kBits, int kSx, int kSy>
void PackRows_AVX2(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top, uint8_t* y_bottom,
                   uint8_t* cb, uint8_t* cr, int w);

}  // namespace io
