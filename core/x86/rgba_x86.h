#pragma once
// Vector kernels of the RGBA conversion; signatures as in rgba_dsp.h.
#include <cstdint>

#include "core/pixel.h"

namespace core {

void RgbaToYcRow_SSE2(const uint8_t* rgba, YcPixel* yc, int32_t n);
void YcToRgbaRow_SSE2(const YcPixel* yc, uint8_t* rgba, int32_t n);
void RgbaToLumaRow_SSE2(const uint8_t* rgba, int16_t* luma, int32_t n, int32_t shift);
void RgbaToYcRow_AVX2(const uint8_t* rgba, YcPixel* yc, int32_t n);
void RgbaToLumaRow_AVX2(const uint8_t* rgba, int16_t* luma, int32_t n, int32_t shift);
void YcToRgbaRow_AVX2(const YcPixel* yc, uint8_t* rgba, int32_t n);
void RgbaToYcRow_AVX512(const uint8_t* rgba, YcPixel* yc, int32_t n);
void RgbaToLumaRow_AVX512(const uint8_t* rgba, int16_t* luma, int32_t n, int32_t shift);
void YcToRgbaRow_AVX512(const YcPixel* yc, uint8_t* rgba, int32_t n);

}  // namespace core
