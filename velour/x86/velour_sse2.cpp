// SSE2 kernels: one 8x8 block at a time, a block row per register (8 x 16-bit lanes).
#include <emmintrin.h>

#include "velour/velour_dsp.h"
#include "velour/x86/velour_simd.h"
#include "velour/x86/velour_x86.h"

namespace velour {
namespace {

struct Sse2 : simd::Sse2 {
  // No sign instruction: (t ^ s) - s with s the sign mask of x (t is 0 where x is).
  static Reg CopySign(Reg t, Reg x) {
    const Reg s = ShiftRight(x, 15);
    return Sub(Xor(t, s), s);
  }
  static Reg KeepDc(Reg r, Reg original) { return _mm_insert_epi16(r, _mm_extract_epi16(original, 0), 0); }
  static bool NoneInBoth(Reg a, Reg b) { return _mm_movemask_epi8(Equal(And(a, b), Zero())) == 0xFFFF; }
};

// luma * weight in 32 bits: pmaddwd of (luma, 0) pairs with (weight, 0).
void SeedRow(const int16_t* luma, AccSample* acc, int n, int32_t weight) {
  using V = Sse2;
  const V::Reg w = V::Set32(weight), zero = V::Zero();
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const V::Reg v = V::Load(luma + x);
    V::Store(acc + x, V::MulAdd(V::UnpackLo16(v, zero), w));
    V::Store(acc + x + 4, V::MulAdd(V::UnpackHi16(v, zero), w));
  }
  SeedRow_C(luma + x, acc + x, n - x, weight);
}

struct Quotients {
  __m128 w;
  explicit Quotients(int32_t weight) : w(_mm_set1_ps(static_cast<float>(weight))) {}
  __m128i Of(const AccSample* acc) const {
    using V = Sse2;
    auto half = [&](const AccSample* a) {
      const __m128i q = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(V::ShiftLeft32(V::Load(a), 4)), w));
      return V::ShiftRight32(V::ShiftLeft32(q, 16), 16);  // low 16 bits, so the pack cannot saturate
    };
    return V::PackSigned(half(acc), half(acc + 4));
  }
};

}  // namespace

void InitVelourDsp_Sse2(VelourDsp& dsp) {
  SetVectorKernels<Sse2>(dsp);
  dsp.SeedRow = SeedRow;
  dsp.AverageRow = AverageRowT<Quotients>;
}

}  // namespace velour
