#include "velour/velour_dsp.h"

#if defined(AUF_X86_SIMD)
#include "velour/x86/velour_x86.h"
#endif

namespace velour {
namespace {

// Scalar first; each tier replaces what it improves.
void InitVelourDsp(VelourDsp& dsp, core::CpuFlags flags) {
  dsp.FilterBlockRow = FilterBlockRow_C;
  dsp.FilterBlockRowWide = FilterBlockRowWide_C;
  dsp.LumaRow = LumaRow_C;
  dsp.SeedRow = SeedRow_C;
  dsp.AddRow = AddRow_C;
  dsp.AddRowWide = AddRowWide_C;
  dsp.FoldRow = FoldRow_C;
  dsp.AverageRow = AverageRow_C;
#if defined(AUF_X86_SIMD)
  if (!(flags & core::kCpuSse2)) return;
  InitVelourDsp_SSE2(dsp);
  if (!(flags & core::kCpuAvx2)) return;
  InitVelourDsp_AVX2(dsp);
  if (!(flags & core::kCpuAvx512)) return;
  if (flags & core::kCpuAvx512Ymm) InitVelourDsp_AVX512Ymm(dsp);
  else InitVelourDsp_AVX512(dsp);
#else
  (void)flags;
#endif
}

}  // namespace

const VelourDsp& VelourDspFor(core::CpuFlags flags) {
  return core::TierTable<VelourDsp, InitVelourDsp>(flags);
}

}  // namespace velour
