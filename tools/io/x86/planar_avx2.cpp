// AVX2 kernels of the planar conversions: sixteen pixels a register, pixels 0-7 in the low lane.
#include <immintrin.h>

#include "tools/io/x86/planar_simd.h"
#include "tools/io/x86/planar_x86.h"

namespace io {
namespace {

struct Avx2 {
  using Reg = __m256i;
  static constexpr int kPixels = 16;

  static Reg Zero() { return _mm256_setzero_si256(); }
  static Reg Set16(int v) { return _mm256_set1_epi16(static_cast<int16_t>(v)); }
  static Reg Set32(int v) { return _mm256_set1_epi32(v); }
  static Reg And(Reg a, Reg b) { return _mm256_and_si256(a, b); }
  static Reg AndNot(Reg a, Reg b) { return _mm256_andnot_si256(a, b); }
  static Reg Or(Reg a, Reg b) { return _mm256_or_si256(a, b); }
  static Reg Add16(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
  static Reg Sub16(Reg a, Reg b) { return _mm256_sub_epi16(a, b); }
  static Reg AddSat16(Reg a, Reg b) { return _mm256_adds_epi16(a, b); }
  static Reg SubSatU16(Reg a, Reg b) { return _mm256_subs_epu16(a, b); }
  template <int n>
  static Reg ShiftLeft16(Reg a) {
    return _mm256_slli_epi16(a, n);
  }
  template <int n>
  static Reg ShiftRightArith16(Reg a) {
    return _mm256_srai_epi16(a, n);
  }
  static Reg Add32(Reg a, Reg b) { return _mm256_add_epi32(a, b); }
  template <int n>
  static Reg ShiftLeft32(Reg a) {
    return _mm256_slli_epi32(a, n);
  }
  template <int n>
  static Reg ShiftRight32(Reg a) {
    return _mm256_srli_epi32(a, n);
  }
  template <int n>
  static Reg ShiftRightArith32(Reg a) {
    return _mm256_srai_epi32(a, n);
  }
  static Reg SumPairs(Reg a) { return _mm256_madd_epi16(a, _mm256_set1_epi16(1)); }
  static Reg UnpackLo32(Reg a, Reg b) { return _mm256_unpacklo_epi32(a, b); }
  static Reg UnpackHi32(Reg a, Reg b) { return _mm256_unpackhi_epi32(a, b); }
  template <int imm>
  static Reg Shuffle(Reg a, Reg b) {
    return _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), imm));
  }

  // Lane 0 holds bytes 0-47 of the 96 (16 in each register), lane 1 bytes 48-95.
  static void StoreTriple(core::YcPixel* out, Reg r0, Reg r1, Reg r2) {
    auto* o = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(o, _mm256_permute2x128_si256(r0, r1, 0x20));
    _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(r2, r0, 0x30));
    _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(r1, r2, 0x31));
  }
  static void LoadTriple(const core::YcPixel* in, Reg* r0, Reg* r1, Reg* r2) {
    const auto* p = reinterpret_cast<const __m256i*>(in);
    const Reg m0 = _mm256_loadu_si256(p), m1 = _mm256_loadu_si256(p + 1), m2 = _mm256_loadu_si256(p + 2);
    *r0 = _mm256_permute2x128_si256(m0, m1, 0x30);
    *r1 = _mm256_permute2x128_si256(m0, m2, 0x21);
    *r2 = _mm256_permute2x128_si256(m1, m2, 0x30);
  }

  template <int kBits>
  static Reg Samples(const uint8_t* row, int i) {
    if constexpr (kBits == 8)
      return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)));
    else return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 2 * i));
  }
  static void Double(Reg v, Reg* lo, Reg* hi) {
    const Reg a = _mm256_unpacklo_epi16(v, v), b = _mm256_unpackhi_epi16(v, v);  // lanes: 0-3 8-11, 4-7 12-15
    *lo = _mm256_permute2x128_si256(a, b, 0x20), *hi = _mm256_permute2x128_si256(a, b, 0x31);
  }
  static __m128i Clamp10(__m128i v) {
    return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), _mm_set1_epi16(1023));
  }
  template <int kBits>
  static void StoreLevels(uint8_t* row, int i, Reg v) {
    const __m128i lo = _mm256_castsi256_si128(v), hi = _mm256_extracti128_si256(v, 1);
    if constexpr (kBits == 8) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_packus_epi16(lo, hi));
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * i), Clamp10(lo));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * i + 16), Clamp10(hi));
    }
  }
  template <int kBits>
  static void StoreMeans(uint8_t* row, int i, Reg means0, Reg means1) {
    // packs works within the lanes: put the four quarters back in order.
    const Reg packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(means0, means1), _MM_SHUFFLE(3, 1, 2, 0));
    StoreLevels<kBits>(row, i, _mm256_add_epi16(packed, Set16(planar::Depth<kBits>::kZero)));
  }
};

}  // namespace
}  // namespace io

PLANAR_SIMD_KERNELS(AVX2, Avx2)
