#include "core/picture.h"

namespace core {

Plane ScratchPlane(const FilterCore& filter, const Plane& plane, std::vector<YcPixel>& storage) {
  if (!filter.needs_temp) return {nullptr, 0, 0, 0};
  const size_t n = static_cast<size_t>(plane.stride) * plane.h;
  if (storage.size() < n) storage.resize(n);
  return {storage.data(), plane.w, plane.h, plane.stride};
}

void FilterPicture(const FilterCore& filter, CpuFlags flags, const int32_t* tracks, Picture& picture,
                   std::vector<YcPixel>& scratch, int32_t partitions, const Workers& workers) {
  const Plane plane = picture.plane();
  filter.filter(flags, tracks, plane, ScratchPlane(filter, plane, scratch), partitions, workers);
}

}  // namespace core
