#include "host/rgba_dsp.h"

#if defined(AUF_X86_SIMD)
#include "host/x86/rgba_x86.h"
#endif

namespace host {

// Scalar first; each tier replaces what it improves.
void InitRgbaDsp(RgbaDsp& dsp, CpuFlags flags) {
  dsp.RgbaToYcRow = RgbaToYcRow_C;
  dsp.YcToRgbaRow = YcToRgbaRow_C;
#if defined(AUF_X86_SIMD)
  if (!(flags & kCpuSse2)) return;
  dsp.RgbaToYcRow = RgbaToYcRow_SSE2;
  dsp.YcToRgbaRow = YcToRgbaRow_SSE2;
  if (!(flags & kCpuAvx2)) return;
  dsp.RgbaToYcRow = RgbaToYcRow_AVX2;
  dsp.YcToRgbaRow = YcToRgbaRow_AVX2;
#else
  (void)flags;
#endif
}

const RgbaDsp& DetectedRgbaDsp() {
  static const RgbaDsp dsp = [] {
    RgbaDsp d;
    InitRgbaDsp(d, DetectCpuFlags());
    return d;
  }();
  return dsp;
}

}  // namespace host
