#include "deblock/deblock_dsp.h"

#if defined(AUF_X86_SIMD)
#include "deblock/x86/deblock_x86.h"
#endif

namespace deblock {

// Scalar first; each tier replaces what it improves.
void InitDeblockDsp(DeblockDsp& dsp, core::CpuFlags flags) {
  dsp.FilterHorizontalEdges = FilterHorizontalEdges_C;
  dsp.FilterVerticalEdges = FilterVerticalEdges_C;
  dsp.FilterTile = FilterTile_C;
#if defined(AUF_X86_SIMD)
  if (!(flags & core::kCpuSse2)) return;
  dsp.FilterHorizontalEdges = FilterHorizontalEdges_SSE2;
  dsp.FilterVerticalEdges = FilterVerticalEdges_SSE2;
  dsp.FilterTile = FilterTile_SSE2;
  if (!(flags & core::kCpuAvx2)) return;
  dsp.FilterHorizontalEdges = FilterHorizontalEdges_AVX2;
  dsp.FilterVerticalEdges = FilterVerticalEdges_AVX2;
  dsp.FilterTile = FilterTile_AVX2;
  if (!(flags & core::kCpuAvx512)) return;
  dsp.FilterVerticalEdges = FilterVerticalEdges_AVX512;
  const bool ymm = flags & core::kCpuAvx512Ymm;
  dsp.FilterHorizontalEdges = ymm ? FilterHorizontalEdges_AVX512Ymm : FilterHorizontalEdges_AVX512;
  dsp.FilterTile = ymm ? FilterTile_AVX512Ymm : FilterTile_AVX512;
#else
  (void)flags;
#endif
}

const DeblockDsp& DetectedDeblockDsp() {
  static const DeblockDsp dsp = [] {
    DeblockDsp d;
    InitDeblockDsp(d, core::DetectCpuFlags());
    return d;
  }();
  return dsp;
}

}  // namespace deblock
