#pragma once
// A picture of samples as the readers, writers, tools and hosts hold it: one plane of YcPixel, rows
// `stride` pixels apart. A filter that needs a scratch plane (FilterCore::needs_temp) gets it from
// the code that runs it: FilterPicture keeps one beside the picture.
#include <cstdint>
#include <vector>

#include "core/cpu.h"
#include "core/filter_core.h"
#include "core/pixel.h"
#include "core/workers.h"

namespace core {

struct Picture {
  Picture() = default;
  Picture(int32_t width, int32_t height, int32_t row_stride = 0)
      : w(width),
        h(height),
        stride(row_stride > 0 ? row_stride : width),
        pixels(static_cast<size_t>(stride) * height) {}

  YcPixel& at(int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * stride + x]; }
  const YcPixel& at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * stride + x]; }
  Plane plane() { return {pixels.data(), w, h, stride}; }

  int32_t w = 0;
  int32_t h = 0;
  int32_t stride = 0;
  std::vector<YcPixel> pixels;
};

// The scratch plane `filter` needs beside a picture of the shape of `plane`, in `storage` (grown as
// needed, kept between frames); where the filter needs none, an empty plane and no storage.
Plane ScratchPlane(const FilterCore& filter, const Plane& plane, std::vector<YcPixel>& storage);

// FilterCore::filter on `picture` in place, with its scratch plane in `scratch` (ScratchPlane).
void FilterPicture(const FilterCore& filter, CpuFlags flags, const int32_t* tracks, Picture& picture,
                   std::vector<YcPixel>& scratch, int32_t partitions, const Workers& workers);

}  // namespace core
