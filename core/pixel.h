#pragma once
// The samples every filter works on, and a view of a plane of them.
#include <cstddef>
#include <cstdint>

namespace core {

// One pixel: luma at 16 units per 8-bit level, then the two colour differences.
struct YcPixel {
  int16_t y;
  int16_t cb;
  int16_t cr;
};
static_assert(sizeof(YcPixel) == 6, "YcPixel is three packed 16-bit samples");

// The w x h picture of a plane: pixel (x, y) at pixels[y * stride + x], stride >= w. The storage
// holds at least stride * h pixels.
struct Plane {
  YcPixel* pixels;
  int32_t w;
  int32_t h;
  int32_t stride;
};

inline YcPixel* PlaneRow(const Plane& plane, int32_t y) {
  return plane.pixels + static_cast<ptrdiff_t>(y) * plane.stride;
}

}  // namespace core
