#include "core/rgba_dsp.h"

#if defined(AUF_X86_SIMD)
#include "core/x86/rgba_x86.h"
#endif

namespace core {
namespace {

constexpr int32_t kSerialPixels = 16384;

struct ConvertRun {
  const RgbaDsp* dsp;
  const uint8_t* from_rgba;
  uint8_t* to_rgba;
  const YcPixel* from_yc;
  YcPixel* to_yc;
  int32_t n;
};

// Worker `index` of `count` converts pixels n x index / count .. n x (index + 1) / count.
void ConvertShare(int32_t index, int32_t count, void* data) {
  const ConvertRun* run = static_cast<const ConvertRun*>(data);
  const int64_t begin = int64_t{run->n} * index / count, end = int64_t{run->n} * (index + 1) / count;
  const int32_t n = static_cast<int32_t>(end - begin);
  if (run->to_yc != nullptr) run->dsp->RgbaToYcRow(run->from_rgba + 4 * begin, run->to_yc + begin, n);
  else run->dsp->YcToRgbaRow(run->from_yc + begin, run->to_rgba + 4 * begin, n);
}

void Convert(const Workers& workers, ConvertRun run) {
  if (run.n < kSerialPixels) ConvertShare(0, 1, &run);
  else RunWorkers(workers, &ConvertShare, &run);
}

// Scalar first; each tier replaces what it improves.
void InitRgbaDsp(RgbaDsp& dsp, CpuFlags flags) {
  dsp.RgbaToYcRow = RgbaToYcRow_C;
  dsp.YcToRgbaRow = YcToRgbaRow_C;
  dsp.RgbaToLumaRow = RgbaToLumaRow_C;
#if defined(AUF_X86_SIMD)
  if (!(flags & kCpuSse2)) return;
  InitRgbaDsp_SSE2(dsp);
  if (!(flags & kCpuAvx2)) return;
  InitRgbaDsp_AVX2(dsp);
  if (!(flags & kCpuAvx512)) return;
  InitRgbaDsp_AVX512(dsp);
#else
  (void)flags;
#endif
}

}  // namespace

const RgbaDsp& RgbaDspFor(CpuFlags flags) { return TierTable<RgbaDsp, InitRgbaDsp>(flags); }

void RgbaToYcOnWorkers(const RgbaDsp& dsp, const Workers& workers, const uint8_t* rgba, YcPixel* yc,
                       int32_t n) {
  Convert(workers, {&dsp, rgba, nullptr, nullptr, yc, n});
}

void YcToRgbaOnWorkers(const RgbaDsp& dsp, const Workers& workers, const YcPixel* yc, uint8_t* rgba,
                       int32_t n) {
  Convert(workers, {&dsp, nullptr, rgba, yc, nullptr, n});
}

}  // namespace core
