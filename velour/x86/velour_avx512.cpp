// AVX-512 kernels (F, BW, VL): four horizontally adjacent blocks at a time, a row of 32 samples per
// register; each 128-bit lane holds one block, and every step works within the lanes. Mask
// registers take the place of sign and blend instructions.
//
// And the same on 256-bit registers, two blocks at a time as in the AVX2 kernels, but with the 32
// registers and the mask registers: for CPUs that run each 512-bit operation as two 256-bit halves,
// where the wider registers save instructions but no time.
#include <immintrin.h>

#include "velour/velour_dsp.h"
#include "velour/x86/velour_simd.h"
#include "velour/x86/velour_x86.h"

namespace velour {
namespace {

// The vector operations of B with the filter's own on mask registers.
template <class B>
struct Masked : B {
  using Reg = typename B::Reg;
  using Mask = typename B::Mask;
  // t negated where x is negative; t is 0 where x is.
  static Reg CopySign(Reg t, Reg x) { return B::NegateWhere(t, B::Negative(x)); }
  // Lane 0 of each block (every eighth lane).
  static Reg KeepDc(Reg r, Reg original) {
    return B::Blend(static_cast<Mask>(0x0101010101010101ull), r, original);
  }
  static bool NoneInBoth(Reg a, Reg b) { return B::Test(a, b) == 0; }
};
using Avx512 = Masked<simd::Avx512>;
using Avx512Ymm = Masked<simd::Avx512Ymm>;

// Lane l of the k-th register of 32 host samples after x is sample 32k + l: luma of pixel
// x + (32k + l) / 3 where (32k + l) % 3 == 0.
struct SpreadTable {
  int16_t index[3][32];
};
constexpr SpreadTable MakeSpreadTable() {
  SpreadTable t{};
  for (int k = 0; k < 3; ++k)
    for (int l = 0; l < 32; ++l) t.index[k][l] = static_cast<int16_t>((32 * k + l) / 3);
  return t;
}
constexpr SpreadTable kSpread = MakeSpreadTable();
constexpr __mmask32 kLumaLanes[3] = {0x49249249u, 0x92492492u, 0x24924924u};

// 32 pixels per step: the quotients as in the SSE2 kernel (exact), their low 16 bits (vpmovdw
// truncates), spread to every third lane of three registers and stored there under a mask, so the
// colour samples between them are neither read nor written. (Both choices of AVX-512 kernels take
// it: the output is a small part of a frame's work.)
void AverageRow(const AccSample* acc, int16_t* y, int n, int32_t weight) {
  const __m512 w = _mm512_set1_ps(static_cast<float>(weight));
  auto quotients = [&](const AccSample* a) {
    const __m512i v = Avx512::ShiftLeft32(Avx512::Load(a), 4);
    return _mm512_cvtepi32_epi16(_mm512_cvttps_epi32(_mm512_div_ps(_mm512_cvtepi32_ps(v), w)));
  };
  int x = 0;
  for (; x + 32 <= n; x += 32) {
    const __m512i q =
        _mm512_inserti64x4(_mm512_castsi256_si512(quotients(acc + x)), quotients(acc + x + 16), 1);
    int16_t* d = y + 3 * x;
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
      const __m512i spread = _mm512_permutexvar_epi16(Avx512::Load(kSpread.index[k]), q);
      _mm512_mask_storeu_epi16(d + 32 * k, kLumaLanes[k], spread);
    }
  }
  AverageRow_C(acc + x, y + 3 * x, n - x, weight);
}

}  // namespace

void InitVelourDsp_Avx512(VelourDsp& dsp) {
  SetVectorKernels<Avx512>(dsp);
  dsp.AverageRow = AverageRow;
}

void InitVelourDsp_Avx512Ymm(VelourDsp& dsp) {
  SetVectorKernels<Avx512Ymm>(dsp);
  dsp.AverageRow = AverageRow;
}

}  // namespace velour
