// SSE2 kernels of the planar conversions: eight pixels a register.
#include <emmintrin.h>

#include "tools/io/x86/planar_simd.h"
#include "tools/io/x86/planar_x86.h"

namespace io {
namespace {

struct Sse2 {
  using Reg = __m128i;
  static constexpr int kPixels = 8;

  static Reg Zero() { return _mm_setzero_si128(); }
  static Reg Set16(int v) { return _mm_set1_epi16(static_cast<int16_t>(v)); }
  static Reg Set32(int v) { return _mm_set1_epi32(v); }
  static Reg And(Reg a, Reg b) { return _mm_and_si128(a, b); }
  static Reg AndNot(Reg a, Reg b) { return _mm_andnot_si128(a, b); }
  static Reg Or(Reg a, Reg b) { return _mm_or_si128(a, b); }
  static Reg Add16(Reg a, Reg b) { return _mm_add_epi16(a, b); }
  static Reg Sub16(Reg a, Reg b) { return _mm_sub_epi16(a, b); }
  static Reg AddSat16(Reg a, Reg b) { return _mm_adds_epi16(a, b); }
  static Reg SubSatU16(Reg a, Reg b) { return _mm_subs_epu16(a, b); }
  template <int n>
  static Reg ShiftLeft16(Reg a) {
    return _mm_slli_epi16(a, n);
  }
  template <int n>
  static Reg ShiftRightArith16(Reg a) {
    return _mm_srai_epi16(a, n);
  }
  static Reg Add32(Reg a, Reg b) { return _mm_add_epi32(a, b); }
  template <int n>
  static Reg ShiftLeft32(Reg a) {
    return _mm_slli_epi32(a, n);
  }
  template <int n>
  static Reg ShiftRight32(Reg a) {
    return _mm_srli_epi32(a, n);
  }
  template <int n>
  static Reg ShiftRightArith32(Reg a) {
    return _mm_srai_epi32(a, n);
  }
  static Reg SumPairs(Reg a) { return _mm_madd_epi16(a, _mm_set1_epi16(1)); }
  static Reg UnpackLo32(Reg a, Reg b) { return _mm_unpacklo_epi32(a, b); }
  static Reg UnpackHi32(Reg a, Reg b) { return _mm_unpackhi_epi32(a, b); }
  template <int imm>
  static Reg Shuffle(Reg a, Reg b) {
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), imm));
  }

  static void StoreTriple(core::YcPixel* out, Reg r0, Reg r1, Reg r2) {
    auto* o = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(o, r0);
    _mm_storeu_si128(o + 1, r1);
    _mm_storeu_si128(o + 2, r2);
  }
  static void LoadTriple(const core::YcPixel* in, Reg* r0, Reg* r1, Reg* r2) {
    const auto* p = reinterpret_cast<const __m128i*>(in);
    *r0 = _mm_loadu_si128(p), *r1 = _mm_loadu_si128(p + 1), *r2 = _mm_loadu_si128(p + 2);
  }

  template <int kBits>
  static Reg Samples(const uint8_t* row, int i) {
    if constexpr (kBits == 8)
      return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + i)), Zero());
    else return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * i));
  }
  static void Double(Reg v, Reg* lo, Reg* hi) {
    *lo = _mm_unpacklo_epi16(v, v), *hi = _mm_unpackhi_epi16(v, v);
  }
  // 10-bit levels clamped to 0 .. 1023; 8-bit ones are clamped as they are packed into bytes.
  static Reg Clamp10(Reg v) { return _mm_min_epi16(_mm_max_epi16(v, Zero()), Set16(1023)); }
  template <int kBits>
  static void StoreLevels(uint8_t* row, int i, Reg v) {
    if constexpr (kBits == 8) _mm_storel_epi64(reinterpret_cast<__m128i*>(row + i), _mm_packus_epi16(v, v));
    else _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * i), Clamp10(v));
  }
  template <int kBits>
  static void StoreMeans(uint8_t* row, int i, Reg means0, Reg means1) {
    StoreLevels<kBits>(row, i,
                       _mm_add_epi16(_mm_packs_epi32(means0, means1), Set16(planar::Depth<kBits>::kZero)));
  }
};

}  // namespace
}  // namespace io

PLANAR_SIMD_KERNELS(SSE2, Sse2)
