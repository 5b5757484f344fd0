#include "core/rgba_dsp.h"

#if defined(AUF_X86_SIMD)
#include "core/x86/rgba_x86.h"
#endif

namespace core {
namespace {

constexpr int32_t kSerialPixels = 16384;

enum class Direction { kRgbaToYc, kYcToRgba, kPa64ToYc, kYcToPa64 };

struct ConvertRun {
  const RgbaDsp* dsp;
  Direction direction;
  const void* from;
  void* to;
  int32_t n;
};

// Worker `index` of `count` converts pixels n x index / count .. n x (index + 1) / count.
void ConvertShare(int32_t index, int32_t count, void* data) {
  const ConvertRun* run = static_cast<const ConvertRun*>(data);
  const int64_t begin = int64_t{run->n} * index / count, end = int64_t{run->n} * (index + 1) / count;
  const int32_t n = static_cast<int32_t>(end - begin);
  const RgbaDsp& dsp = *run->dsp;
  switch (run->direction) {
    case Direction::kRgbaToYc:
      dsp.RgbaToYcRow(static_cast<const uint8_t*>(run->from) + 4 * begin,
                      static_cast<YcPixel*>(run->to) + begin, n);
      break;
    case Direction::kYcToRgba:
      dsp.YcToRgbaRow(static_cast<const YcPixel*>(run->from) + begin,
                      static_cast<uint8_t*>(run->to) + 4 * begin, n);
      break;
    case Direction::kPa64ToYc:
      dsp.Pa64ToYcRow(static_cast<const uint16_t*>(run->from) + 4 * begin,
                      static_cast<YcPixel*>(run->to) + begin, n);
      break;
    case Direction::kYcToPa64:
      dsp.YcToPa64Row(static_cast<const YcPixel*>(run->from) + begin,
                      static_cast<uint16_t*>(run->to) + 4 * begin, n);
      break;
  }
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
  dsp.Pa64ToYcRow = Pa64ToYcRow_C;
  dsp.YcToPa64Row = YcToPa64Row_C;
  dsp.Pa64ToLumaRow = Pa64ToLumaRow_C;
#if defined(AUF_X86_SIMD)
  if (!(flags & kCpuSse2)) return;
  InitRgbaDsp_Sse2(dsp);
  if (!(flags & kCpuAvx2)) return;
  InitRgbaDsp_Avx2(dsp);
  if (!(flags & kCpuAvx512)) return;
  InitRgbaDsp_Avx512(dsp);
#else
  (void)flags;
#endif
}

}  // namespace

const RgbaDsp& RgbaDspFor(CpuFlags flags) { return TierTable<RgbaDsp, InitRgbaDsp>(flags); }

void RgbaImageToYcOnWorkers(const RgbaDsp& dsp, const Workers& workers, const RgbaImage& image, YcPixel* yc) {
  const int32_t n = image.w * image.h;
  Convert(workers, {&dsp, image.deep ? Direction::kPa64ToYc : Direction::kRgbaToYc, image.pixels, yc, n});
}

void YcToRgbaImageOnWorkers(const RgbaDsp& dsp, const Workers& workers, const YcPixel* yc,
                            const RgbaImage& image) {
  const int32_t n = image.w * image.h;
  Convert(workers, {&dsp, image.deep ? Direction::kYcToPa64 : Direction::kYcToRgba, yc, image.pixels, n});
}

}  // namespace core
