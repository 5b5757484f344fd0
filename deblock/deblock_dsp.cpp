#include "deblock/deblock_dsp.h"

#if defined(AUF_X86_SIMD)
#include "deblock/x86/deblock_x86.h"
#endif

namespace deblock {
namespace {

// Scalar first; each tier replaces what it improves.
void InitDeblockDsp(DeblockDsp& dsp, core::CpuFlags flags) {
  DEBLOCK_DSP_SLOTS(AUF_DSP_SCALAR_SLOT)
  dsp.tile = kQuadTile;
#if defined(AUF_X86_SIMD)
  if (!(flags & core::kCpuSse2)) return;
  InitDeblockDsp_Sse2(dsp);
  if (!(flags & core::kCpuAvx2)) return;
  InitDeblockDsp_Avx2(dsp);
  if (!(flags & core::kCpuAvx512)) return;
  if (flags & core::kCpuAvx512Ymm) InitDeblockDsp_Avx512Ymm(dsp);
  else if (flags & core::kCpuAvx512Split) InitDeblockDsp_Avx512Split(dsp);
  else InitDeblockDsp_Avx512(dsp);
#else
  (void)flags;
#endif
}

}  // namespace

const DeblockDsp& DeblockDspFor(core::CpuFlags flags) {
  return core::TierTable<DeblockDsp, InitDeblockDsp>(flags);
}

bool InitDeblockDspNarrow(DeblockDsp& dsp, core::CpuFlags flags) {
#if defined(AUF_X86_SIMD)
  flags &= core::RunnableCpuFlags();  // never a tier this CPU lacks
  if (!(flags & core::kCpuAvx512)) return false;
  InitDeblockDsp(dsp, flags);
  InitDeblockDsp_Avx512Narrow(dsp);
  return true;
#else
  (void)dsp, (void)flags;
  return false;
#endif
}

}  // namespace deblock
