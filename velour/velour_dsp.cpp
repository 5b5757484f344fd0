#include "velour/velour_dsp.h"

#if defined(AUF_X86_SIMD)
#include "velour/x86/velour_x86.h"
#endif

namespace velour {
namespace {

// Scalar first; each tier replaces what it improves.
void InitVelourDsp(VelourDsp& dsp, core::CpuFlags flags) {
  VELOUR_DSP_SLOTS(AUF_DSP_SCALAR_SLOT)
#if defined(AUF_X86_SIMD)
  if (!(flags & core::kCpuSse2)) return;
  InitVelourDsp_Sse2(dsp);
  if (!(flags & core::kCpuAvx2)) return;
  InitVelourDsp_Avx2(dsp);
  if (!(flags & core::kCpuAvx512)) return;
  if (flags & core::kCpuAvx512Ymm) InitVelourDsp_Avx512Ymm(dsp);
  else InitVelourDsp_Avx512(dsp);
#else
  (void)flags;
#endif
}

}  // namespace

const VelourDsp& VelourDspFor(core::CpuFlags flags) {
  return core::TierTable<VelourDsp, InitVelourDsp>(flags);
}

}  // namespace velour
