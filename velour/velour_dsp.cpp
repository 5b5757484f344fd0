#include "velour/velour_dsp.h"

#if defined(AUF_X86_SIMD)
#include "velour/x86/velour_x86.h"
#endif

namespace velour {

// Scalar first; each tier replaces what it improves.
void InitVelourDsp(VelourDsp& dsp, host::CpuFlags flags) {
  dsp.FilterBlockRow = FilterBlockRow_C;
  dsp.FilterBlockRowWide = FilterBlockRowWide_C;
  dsp.LumaRow = LumaRow_C;
  dsp.SeedRow = SeedRow_C;
  dsp.AddRow = AddRow_C;
  dsp.AddRowWide = AddRowWide_C;
  dsp.FoldRow = FoldRow_C;
  dsp.AverageRow = AverageRow_C;
#if defined(AUF_X86_SIMD)
  if (!(flags & host::kCpuSse2)) return;
  dsp.FilterBlockRow = FilterBlockRow_SSE2;
  dsp.FilterBlockRowWide = FilterBlockRowWide_SSE2;
  dsp.SeedRow = SeedRow_SSE2;
  dsp.AddRow = AddRow_SSE2;
  dsp.AddRowWide = AddRowWide_SSE2;
  dsp.FoldRow = FoldRow_SSE2;
  dsp.AverageRow = AverageRow_SSE2;
  if (!(flags & host::kCpuAvx2)) return;
  dsp.FilterBlockRow = FilterBlockRow_AVX2;
  dsp.FilterBlockRowWide = FilterBlockRowWide_AVX2;
  dsp.LumaRow = LumaRow_AVX2;
  dsp.SeedRow = SeedRow_AVX2;
  dsp.AddRow = AddRow_AVX2;
  dsp.AddRowWide = AddRowWide_AVX2;
  dsp.FoldRow = FoldRow_AVX2;
  dsp.AverageRow = AverageRow_AVX2;
#else
  (void)flags;
#endif
}

const VelourDsp& DetectedVelourDsp() {
  static const VelourDsp dsp = [] {
    VelourDsp d;
    InitVelourDsp(d, host::DetectCpuFlags());
    return d;
  }();
  return dsp;
}

}  // namespace velour
