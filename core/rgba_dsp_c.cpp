// Scalar row kernels of the RGBA conversion: the pixel functions of rgba_dsp.h, one pixel at a time.
#include "core/rgba_dsp.h"

namespace core {

void RgbaToYcRow_C(const uint8_t* rgba, YcPixel* yc, int32_t n) {
  for (int32_t i = 0; i < n; ++i, rgba += 4) yc[i] = RgbToYc(rgba[0], rgba[1], rgba[2]);
}

void YcToRgbaRow_C(const YcPixel* yc, uint8_t* rgba, int32_t n) {
  for (int32_t i = 0; i < n; ++i, rgba += 4) YcToRgb(yc[i], rgba);
}

void RgbaToLumaRow_C(const uint8_t* rgba, int16_t* luma, int32_t n, int32_t shift) {
  for (int32_t i = 0; i < n; ++i, rgba += 4)
    luma[i] = static_cast<int16_t>(RgbToYc(rgba[0], rgba[1], rgba[2]).y >> shift);
}

void Pa64ToYcRow_C(const uint16_t* pa64, YcPixel* yc, int32_t n) {
  for (int32_t i = 0; i < n; ++i, pa64 += 4) yc[i] = Pa64ToYc(pa64[0], pa64[1], pa64[2]);
}

void YcToPa64Row_C(const YcPixel* yc, uint16_t* pa64, int32_t n) {
  for (int32_t i = 0; i < n; ++i, pa64 += 4) YcToPa64(yc[i], pa64);
}

void Pa64ToLumaRow_C(const uint16_t* pa64, int16_t* luma, int32_t n, int32_t shift) {
  for (int32_t i = 0; i < n; ++i, pa64 += 4)
    luma[i] = static_cast<int16_t>(Pa64ToYc(pa64[0], pa64[1], pa64[2]).y >> shift);
}

}  // namespace core
