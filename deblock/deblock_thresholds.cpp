#include <algorithm>

#include "deblock/deblock.h"
#include "deblock/deblock_tables.h"

namespace deblock {

DeblockParams ParamsFromTracks(const int32_t* tracks) {
  int32_t v[kTrackCount];
  for (int i = 0; i < kTrackCount; ++i) v[i] = core::ClampTrack(kTracks[i], tracks[i]);
  return {v[kTrackQuant], v[kTrackAOffset], v[kTrackBOffset]};
}

Thresholds ComputeThresholds(int32_t quant, int32_t a_offset, int32_t b_offset) {
  const int32_t index_a = std::clamp(quant + a_offset, 0, kTableSize - 1);
  const int32_t index_b = std::clamp(quant + b_offset, 0, kTableSize - 1);
  return {AlphaTable[index_a] << 4, BetaTable[index_b] << 4, Tc0Table[index_a] << 4};
}

}  // namespace deblock
