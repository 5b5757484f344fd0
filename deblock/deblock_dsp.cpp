#include "deblock/deblock_dsp.h"

namespace deblock {

void InitDeblockDsp(DeblockDsp& dsp, host::CpuFlags flags) {
  dsp.FilterHorizontalEdge = FilterHorizontalEdge_C;
  dsp.FilterVerticalEdge = FilterVerticalEdge_C;
  dsp.FilterHorizontalEdges = FilterHorizontalEdges_C;
  dsp.FilterVerticalEdges = FilterVerticalEdges_C;
  (void)flags;
}

const DeblockDsp& DetectedDeblockDsp() {
  static const DeblockDsp dsp = [] {
    DeblockDsp d;
    InitDeblockDsp(d, host::DetectCpuFlags());
    return d;
  }();
  return dsp;
}

}  // namespace deblock
