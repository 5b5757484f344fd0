#pragma once
// The vector operations on 16-bit lanes that the kernels of every x86 tier of both filters spell
// alike, written once. AUF_VECTOR_OPS(P, SI) defines them as static members of a traits struct
// whose Reg is the tier's register type, from the prefix P of the tier's intrinsics (_mm, _mm256,
// _mm512) and the suffix SI of its whole-register loads, stores and logic (si128, si256, si512).
// Only the filters' ISA files use it, after their intrinsics header.
//
// Loads and stores are unaligned; Add32 adds 32-bit lanes, the others work on 16-bit ones; SubSat
// and AddSat saturate signed, SubSatU unsigned; ShiftRight3 is arithmetic; AverageU is the unsigned
// rounding average; the unpacks interleave within 128-bit lanes; MulHiU16 keeps the high half of
// the unsigned product, MulLo16 the low half.

// Operations of two registers: X(P, name, intrinsic name after the prefix).
// clang-format off
#define AUF_VECTOR_LANE_OPS(X, P)                                                                      \
  X(P, Add, add_epi16) X(P, Add32, add_epi32) X(P, Sub, sub_epi16) X(P, AddSat, adds_epi16)            \
  X(P, SubSat, subs_epi16) X(P, SubSatU, subs_epu16) X(P, Max, max_epi16) X(P, Min, min_epi16)         \
  X(P, AverageU, avg_epu16) X(P, MulHiU16, mulhi_epu16) X(P, MulLo16, mullo_epi16)                    \
  X(P, UnpackLo16, unpacklo_epi16) X(P, UnpackHi16, unpackhi_epi16) X(P, UnpackLo32, unpacklo_epi32)  \
  X(P, UnpackHi32, unpackhi_epi32) X(P, UnpackLo64, unpacklo_epi64) X(P, UnpackHi64, unpackhi_epi64)
// clang-format on
// Bitwise operations, whose intrinsics end in SI instead: X(P, SI, name, intrinsic name between).
#define AUF_VECTOR_BIT_OPS(X, P, SI) \
  X(P, SI, And, and) X(P, SI, AndNot, andnot) X(P, SI, Or, or) X(P, SI, Xor, xor)

#define AUF_VECTOR_LANE_OP(P, name, op) \
  static Reg name(Reg a, Reg b) { return P##_##op(a, b); }
#define AUF_VECTOR_BIT_OP(P, SI, name, op) \
  static Reg name(Reg a, Reg b) { return P##_##op##_##SI(a, b); }

#define AUF_VECTOR_OPS(P, SI)                                                                   \
  static Reg Load(const int16_t* p) { return P##_loadu_##SI(reinterpret_cast<const Reg*>(p)); } \
  static void Store(int16_t* p, Reg v) { P##_storeu_##SI(reinterpret_cast<Reg*>(p), v); }       \
  static Reg Set1(int16_t v) { return P##_set1_epi16(v); }                                      \
  static Reg Zero() { return P##_setzero_##SI(); }                                              \
  static Reg ShiftLeft2(Reg a) { return P##_slli_epi16(a, 2); }                                 \
  static Reg ShiftRight3(Reg a) { return P##_srai_epi16(a, 3); }                                \
  AUF_VECTOR_LANE_OPS(AUF_VECTOR_LANE_OP, P)                                                    \
  AUF_VECTOR_BIT_OPS(AUF_VECTOR_BIT_OP, P, SI)
