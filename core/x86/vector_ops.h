#pragma once
// The vector operations that the kernels of every x86 tier spell alike, written once: one struct per
// tier in core::simd (Sse2, Avx2, Avx512, Avx512Ymm), each a register type Reg of kLanes 16-bit lanes
// and static operations on it. A family's traits for a tier derive from its struct and add what only
// that family needs; the family's templates, written once over the traits, become each tier's
// kernels.
//
// Included only by the ISA files. A struct exists where the file's instruction set has it (Avx2 in
// the files built for AVX2 and above, and so on), and everything here has internal linkage: each ISA
// file keeps its own copy, compiled for its own instruction set, and the linker can never hand one
// tier's code to another.
//
// Loads and stores are unaligned and take any address. Operations without a width work on 16-bit
// lanes, those ending in 32 on 32-bit ones. AddSat and SubSat saturate signed, AddSatU and SubSatU
// unsigned;
// ShiftRight is arithmetic, ShiftRightU logical (shift counts are constants where inlined);
// AverageU is the unsigned rounding average; MulHiU16 keeps the high half of the unsigned product,
// MulLo16 the low half; MulAdd adds the 32-bit products of each pair of neighbouring lanes;
// PackSigned packs the 32-bit lanes of two registers into 16 with signed saturation, PackBytes the
// 16-bit lanes into unsigned bytes with unsigned saturation; packs and unpacks interleave within
// 128-bit lanes. Abs of -32768 is -32768. WidenLo and WidenHi: the first and the second half of the
// lanes, in order, sign-extended to 32 bits.
//
// Lane masks: Sse2 and Avx2 hold them in registers of all-ones lanes (Equal). Avx512 and Avx512Ymm
// have mask registers of type Mask: Below (unsigned a < b), BelowWhere (the same where a mask is set,
// unset elsewhere), Negative, Test (a & b not 0), MaskAnd;
// AddWhere(v, m, w) is v + w where m is set, NegateWhere(v, m) is -v there, MinOrZero(m, a, b) the
// minimum there and 0 elsewhere, Blend(m, a, b) b there and a elsewhere.
#include <immintrin.h>

#include <cstdint>

// Always inlined, with internal linkage: the one spelling for these operations and for the helpers
// the families' ISA files build from them.
#define AUF_INLINE static inline __attribute__((always_inline))

// Operations of two registers: X(P, name, intrinsic name after the prefix).
// clang-format off
#define AUF_VECTOR_LANE_OPS(X, P)                                                                       \
  X(P, Add, add_epi16) X(P, Add32, add_epi32) X(P, Sub, sub_epi16) X(P, AddSat, adds_epi16)             \
  X(P, SubSat, subs_epi16) X(P, SubSatU, subs_epu16) X(P, AddSatU, adds_epu16) X(P, Max, max_epi16)    \
  X(P, Min, min_epi16)                                                                                  \
  X(P, AverageU, avg_epu16) X(P, MulHiU16, mulhi_epu16) X(P, MulLo16, mullo_epi16)                     \
  X(P, MulAdd, madd_epi16) X(P, PackSigned, packs_epi32) X(P, PackBytes, packus_epi16)                 \
  X(P, UnpackLo16, unpacklo_epi16) X(P, UnpackHi16, unpackhi_epi16) X(P, UnpackLo32, unpacklo_epi32)   \
  X(P, UnpackHi32, unpackhi_epi32) X(P, UnpackLo64, unpacklo_epi64) X(P, UnpackHi64, unpackhi_epi64)
// Shifts by a count: X(P, name, intrinsic name after the prefix).
#define AUF_VECTOR_SHIFT_OPS(X, P)                                                                      \
  X(P, ShiftLeft, slli_epi16) X(P, ShiftRight, srai_epi16) X(P, ShiftRightU, srli_epi16)                \
  X(P, ShiftLeft32, slli_epi32) X(P, ShiftRight32, srai_epi32) X(P, ShiftRightU32, srli_epi32)
// clang-format on
// Bitwise operations, whose intrinsics end in SI instead: X(P, SI, name, intrinsic name between).
#define AUF_VECTOR_BIT_OPS(X, P, SI) \
  X(P, SI, And, and) X(P, SI, AndNot, andnot) X(P, SI, Or, or) X(P, SI, Xor, xor)

#define AUF_VECTOR_LANE_OP(P, name, op) \
  AUF_INLINE Reg name(Reg a, Reg b) { return P##_##op(a, b); }
#define AUF_VECTOR_SHIFT_OP(P, name, op) \
  AUF_INLINE Reg name(Reg a, int n) { return P##_##op(a, n); }
#define AUF_VECTOR_BIT_OP(P, SI, name, op) \
  AUF_INLINE Reg name(Reg a, Reg b) { return P##_##op##_##SI(a, b); }

// What every tier has, from the prefix P of its intrinsics (_mm, _mm256, _mm512) and the suffix SI of
// its whole-register loads, stores and logic (si128, si256, si512).
#define AUF_VECTOR_OPS(P, SI)                                                               \
  AUF_INLINE Reg Load(const void* p) { return P##_loadu_##SI(static_cast<const Reg*>(p)); } \
  AUF_INLINE void Store(void* p, Reg v) { P##_storeu_##SI(static_cast<Reg*>(p), v); }       \
  AUF_INLINE Reg Set1(int16_t v) { return P##_set1_epi16(v); }                              \
  AUF_INLINE Reg Set32(int32_t v) { return P##_set1_epi32(v); }                             \
  AUF_INLINE Reg Zero() { return P##_setzero_##SI(); }                                      \
  AUF_VECTOR_LANE_OPS(AUF_VECTOR_LANE_OP, P)                                                \
  AUF_VECTOR_SHIFT_OPS(AUF_VECTOR_SHIFT_OP, P)                                              \
  AUF_VECTOR_BIT_OPS(AUF_VECTOR_BIT_OP, P, SI)

// The lane masks of the tiers with mask registers of type MASK.
#define AUF_VECTOR_MASK_OPS(P, SI, MASK)                                                                \
  using Mask = MASK;                                                                                    \
  AUF_INLINE Mask Below(Reg a, Reg b) { return P##_cmplt_epu16_mask(a, b); }                            \
  AUF_INLINE Mask BelowWhere(Mask m, Reg a, Reg b) { return P##_mask_cmplt_epu16_mask(m, a, b); }       \
  AUF_INLINE Mask Negative(Reg a) { return P##_movepi16_mask(a); }                                      \
  AUF_INLINE Mask Test(Reg a, Reg b) { return P##_test_epi16_mask(a, b); }                              \
  AUF_INLINE Mask MaskAnd(Mask a, Mask b) { return static_cast<Mask>(a & b); }                          \
  AUF_INLINE Reg AddWhere(Reg v, Mask m, Reg w) { return P##_mask_add_epi16(v, m, v, w); }              \
  AUF_INLINE Reg NegateWhere(Reg v, Mask m) { return P##_mask_sub_epi16(v, m, P##_setzero_##SI(), v); } \
  AUF_INLINE Reg MinOrZero(Mask m, Reg a, Reg b) { return P##_maskz_min_epi16(m, a, b); }               \
  AUF_INLINE Reg Blend(Mask m, Reg a, Reg b) { return P##_mask_blend_epi16(m, a, b); }

namespace core::simd {
namespace {

#if defined(__SSE2__)
struct Sse2 {
  using Reg = __m128i;
  static constexpr int kLanes = 8;
  AUF_VECTOR_OPS(_mm, si128)
  AUF_INLINE Reg Equal(Reg a, Reg b) { return _mm_cmpeq_epi16(a, b); }
  // No abs instruction: (x ^ s) - s with s the sign mask.
  AUF_INLINE Reg Abs(Reg x) {
    const Reg s = _mm_srai_epi16(x, 15);
    return _mm_sub_epi16(_mm_xor_si128(x, s), s);
  }
  AUF_INLINE Reg WidenLo(Reg r) { return _mm_srai_epi32(_mm_unpacklo_epi16(r, r), 16); }
  AUF_INLINE Reg WidenHi(Reg r) { return _mm_srai_epi32(_mm_unpackhi_epi16(r, r), 16); }
};
#endif

#if defined(__AVX2__)
struct Avx2 {
  using Reg = __m256i;
  static constexpr int kLanes = 16;
  AUF_VECTOR_OPS(_mm256, si256)
  AUF_INLINE Reg Equal(Reg a, Reg b) { return _mm256_cmpeq_epi16(a, b); }
  AUF_INLINE Reg Abs(Reg x) { return _mm256_abs_epi16(x); }
  AUF_INLINE Reg WidenLo(Reg r) { return _mm256_cvtepi16_epi32(_mm256_castsi256_si128(r)); }
  AUF_INLINE Reg WidenHi(Reg r) { return _mm256_cvtepi16_epi32(_mm256_extracti128_si256(r, 1)); }
};
#endif

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VL__)
struct Avx512 {
  using Reg = __m512i;
  static constexpr int kLanes = 32;
  AUF_VECTOR_OPS(_mm512, si512)
  AUF_VECTOR_MASK_OPS(_mm512, si512, __mmask32)
  AUF_INLINE Reg Abs(Reg x) { return _mm512_abs_epi16(x); }
  AUF_INLINE Reg WidenLo(Reg r) { return _mm512_cvtepi16_epi32(_mm512_castsi512_si256(r)); }
  AUF_INLINE Reg WidenHi(Reg r) { return _mm512_cvtepi16_epi32(_mm512_extracti64x4_epi64(r, 1)); }
};

// The same operations on 256-bit registers, with the 32 registers and the mask registers.
struct Avx512Ymm {
  using Reg = __m256i;
  static constexpr int kLanes = 16;
  AUF_VECTOR_OPS(_mm256, si256)
  AUF_VECTOR_MASK_OPS(_mm256, si256, __mmask16)
  AUF_INLINE Reg Abs(Reg x) { return _mm256_abs_epi16(x); }
  AUF_INLINE Reg WidenLo(Reg r) { return _mm256_cvtepi16_epi32(_mm256_castsi256_si128(r)); }
  AUF_INLINE Reg WidenHi(Reg r) { return _mm256_cvtepi16_epi32(_mm256_extracti128_si256(r, 1)); }
};
#endif

// Transposes the 8 x 8 block of 16-bit samples in each 128-bit lane of r[0..7].
template <class V>
AUF_INLINE void Transpose8x8(typename V::Reg* r) {
  using Reg = typename V::Reg;
  const Reg a0 = V::UnpackLo16(r[0], r[1]), a1 = V::UnpackHi16(r[0], r[1]);
  const Reg a2 = V::UnpackLo16(r[2], r[3]), a3 = V::UnpackHi16(r[2], r[3]);
  const Reg a4 = V::UnpackLo16(r[4], r[5]), a5 = V::UnpackHi16(r[4], r[5]);
  const Reg a6 = V::UnpackLo16(r[6], r[7]), a7 = V::UnpackHi16(r[6], r[7]);
  const Reg b0 = V::UnpackLo32(a0, a2), b1 = V::UnpackHi32(a0, a2);
  const Reg b2 = V::UnpackLo32(a1, a3), b3 = V::UnpackHi32(a1, a3);
  const Reg b4 = V::UnpackLo32(a4, a6), b5 = V::UnpackHi32(a4, a6);
  const Reg b6 = V::UnpackLo32(a5, a7), b7 = V::UnpackHi32(a5, a7);
  r[0] = V::UnpackLo64(b0, b4), r[1] = V::UnpackHi64(b0, b4);
  r[2] = V::UnpackLo64(b1, b5), r[3] = V::UnpackHi64(b1, b5);
  r[4] = V::UnpackLo64(b2, b6), r[5] = V::UnpackHi64(b2, b6);
  r[6] = V::UnpackLo64(b3, b7), r[7] = V::UnpackHi64(b3, b7);
}

}  // namespace
}  // namespace core::simd

#undef AUF_VECTOR_LANE_OPS
#undef AUF_VECTOR_SHIFT_OPS
#undef AUF_VECTOR_BIT_OPS
#undef AUF_VECTOR_LANE_OP
#undef AUF_VECTOR_SHIFT_OP
#undef AUF_VECTOR_BIT_OP
#undef AUF_VECTOR_OPS
#undef AUF_VECTOR_MASK_OPS
