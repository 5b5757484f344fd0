#include <algorithm>

#include "velour/velour.h"
#include "velour/velour_tables.h"

namespace velour {

VelourParams ParamsFromTracks(const int32_t* tracks) {
  int32_t v[kTrackCount];
  for (int i = 0; i < kTrackCount; ++i) v[i] = core::ClampTrack(kTracks[i], tracks[i]);
  return {v[kTrackQuant], v[kTrackNShift], v[kTrackMatrix], v[kTrackZeroWeight]};
}

void LoadStepTable(int16_t* steps, int32_t matrix) {
  for (int k = 0; k < 64; ++k) steps[k] = static_cast<int16_t>(QuantMatrices[matrix][k]);
}

void ScaleStepTable(int16_t* steps, int32_t quant) {
  for (int k = 0; k < 64; ++k) {
    const int32_t p = int32_t{steps[k]} * quant;
    steps[k] = static_cast<int16_t>(p > 255 ? 255 : p);
  }
}

int PassCount(int32_t n_shift, int32_t partitions) {
  const int64_t t = std::max<int32_t>(partitions, 1);
  const int64_t rounded = (n_shift + t - 1) / t * t;
  return static_cast<int>(std::min<int64_t>(rounded, 64));
}

}  // namespace velour
