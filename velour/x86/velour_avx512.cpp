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

// The same for registers of 16 samples: lane l of the k-th is sample 16k + l.
struct SpreadTable16 {
  int16_t index[3][16];
};
constexpr SpreadTable16 MakeSpreadTable16() {
  SpreadTable16 t{};
  for (int k = 0; k < 3; ++k)
    for (int l = 0; l < 16; ++l) t.index[k][l] = static_cast<int16_t>((16 * k + l) / 3);
  return t;
}
constexpr SpreadTable16 kSpread16 = MakeSpreadTable16();
constexpr __mmask16 kLumaLanes16[3] = {0x9249, 0x4924, 0x2492};

struct Avx512 {
  using Reg = __m512i;
  static constexpr int kBlocks = 4;
  AUF_VECTOR_OPS(_mm512, si512)
  static Reg Abs(Reg x) { return _mm512_abs_epi16(x); }
  // t negated where x is negative; t is 0 where x is.
  static Reg CopySign(Reg t, Reg x) {
    return _mm512_mask_sub_epi16(t, _mm512_movepi16_mask(x), _mm512_setzero_si512(), t);
  }
  static Reg KeepDc(Reg r, Reg original) { return _mm512_mask_blend_epi16(0x01010101, r, original); }
  static bool NoneInBoth(Reg a, Reg b) { return _mm512_test_epi16_mask(a, b) == 0; }
  static Reg WidenLo(Reg r) { return _mm512_cvtepi16_epi32(_mm512_castsi512_si256(r)); }
  static Reg WidenHi(Reg r) { return _mm512_cvtepi16_epi32(_mm512_extracti64x4_epi64(r, 1)); }
};

struct Avx512Ymm {
  using Reg = __m256i;
  static constexpr int kBlocks = 2;
  AUF_VECTOR_OPS(_mm256, si256)
  static Reg Abs(Reg x) { return _mm256_abs_epi16(x); }
  static Reg CopySign(Reg t, Reg x) {
    return _mm256_mask_sub_epi16(t, _mm256_movepi16_mask(x), _mm256_setzero_si256(), t);
  }
  static Reg KeepDc(Reg r, Reg original) { return _mm256_mask_blend_epi16(0x0101, r, original); }
  static bool NoneInBoth(Reg a, Reg b) { return _mm256_test_epi16_mask(a, b) == 0; }
  static Reg WidenLo(Reg r) { return _mm256_cvtepi16_epi32(_mm256_castsi256_si128(r)); }
  static Reg WidenHi(Reg r) { return _mm256_cvtepi16_epi32(_mm256_extracti128_si256(r, 1)); }
};

// 32 pixels per step: the quotients as in the SSE2 kernel (exact), their low 16 bits (vpmovdw
// truncates), spread to every third lane of three registers and stored there under a mask, so the
// colour samples between them are neither read nor written.
void AverageRow(const AccSample* acc, int16_t* y, int n, int32_t weight) {
  const __m512 w = _mm512_set1_ps(static_cast<float>(weight));
  auto quotients = [&](const AccSample* a) {
    const __m512i v = _mm512_slli_epi32(_mm512_loadu_si512(a), 4);
    return _mm512_cvtepi32_epi16(_mm512_cvttps_epi32(_mm512_div_ps(_mm512_cvtepi32_ps(v), w)));
  };
  int x = 0;
  for (; x + 32 <= n; x += 32) {
    const __m512i q =
        _mm512_inserti64x4(_mm512_castsi256_si512(quotients(acc + x)), quotients(acc + x + 16), 1);
    int16_t* d = y + 3 * x;
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
      const __m512i spread = _mm512_permutexvar_epi16(_mm512_loadu_si512(kSpread.index[k]), q);
      _mm512_mask_storeu_epi16(d + 32 * k, kLumaLanes[k], spread);
    }
  }
  AverageRow_C(acc + x, y + 3 * x, n - x, weight);
}

// AverageRow with 256-bit registers: 16 pixels per step.
void AverageRowYmm(const AccSample* acc, int16_t* y, int n, int32_t weight) {
  const __m256 w = _mm256_set1_ps(static_cast<float>(weight));
  auto quotients = [&](const AccSample* a) {
    const __m256i v = _mm256_slli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)), 4);
    return _mm256_cvtepi32_epi16(_mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(v), w)));
  };
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m256i q =
        _mm256_inserti128_si256(_mm256_castsi128_si256(quotients(acc + x)), quotients(acc + x + 8), 1);
    int16_t* d = y + 3 * x;
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
      const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kSpread16.index[k]));
      _mm256_mask_storeu_epi16(d + 16 * k, kLumaLanes16[k], _mm256_permutexvar_epi16(index, q));
    }
  }
  AverageRow_C(acc + x, y + 3 * x, n - x, weight);
}

}  // namespace

void InitVelourDsp_AVX512(VelourDsp& dsp) {
  SetVectorKernels<Avx512>(dsp);
  dsp.AverageRow = AverageRow;
}

void InitVelourDsp_AVX512Ymm(VelourDsp& dsp) {
  SetVectorKernels<Avx512Ymm>(dsp);
  dsp.AverageRow = AverageRowYmm;
}

}  // namespace velour

#undef AUF_VECTOR_OPS
#undef VELOUR_INLINE
