#pragma once
// A frame as the classic editor holds it: an edit plane and a temp plane of YcPixel, rows stride
// pixels apart. The editor stand-in and the code that drives classic plug-ins use it; every other
// tool and host holds a core::Picture.
#include <cstdint>
#include <vector>

#include "core/pixel.h"

namespace host {

struct Frame {
  Frame() = default;
  Frame(int width, int height, int row_stride = 0)
      : w(width),
        h(height),
        stride(row_stride > 0 ? row_stride : width),
        edit(static_cast<size_t>(stride) * height),
        temp(static_cast<size_t>(stride) * height) {}

  core::YcPixel& at(int x, int y) { return edit[static_cast<size_t>(y) * stride + x]; }
  const core::YcPixel& at(int x, int y) const { return edit[static_cast<size_t>(y) * stride + x]; }

  core::Plane EditPlane() { return {edit.data(), w, h, stride}; }
  core::Plane TempPlane() { return {temp.data(), w, h, stride}; }

  int w = 0;
  int h = 0;
  int stride = 0;
  std::vector<core::YcPixel> edit;
  std::vector<core::YcPixel> temp;
};

}  // namespace host
