// SSE2 kernels of the planar conversions: eight pixels a register.
#include <emmintrin.h>

#include "hostkit/x86/planar_simd.h"
#include "hostkit/x86/planar_x86.h"

namespace io {
namespace {

struct Sse2 : core::simd::Sse2 {
  template <int imm>
  static Reg Shuffle(Reg a, Reg b) {
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), imm));
  }

  static void StoreTriple(core::YcPixel* out, Reg r0, Reg r1, Reg r2) {
    Store(out, r0), Store(reinterpret_cast<char*>(out) + 16, r1),
        Store(reinterpret_cast<char*>(out) + 32, r2);
  }
  static void LoadTriple(const core::YcPixel* in, Reg* r0, Reg* r1, Reg* r2) {
    const char* p = reinterpret_cast<const char*>(in);
    *r0 = Load(p), *r1 = Load(p + 16), *r2 = Load(p + 32);
  }

  template <int kBits>
  static Reg Samples(const uint8_t* row, int i) {
    if constexpr (kBits == 8)
      return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + i)), Zero());
    else return Load(row + 2 * i);
  }
  template <int kBits>
  static void StoreSamples(uint8_t* row, int i, Reg v) {
    if constexpr (kBits == 8) _mm_storel_epi64(reinterpret_cast<__m128i*>(row + i), PackBytes(v, v));
    else Store(row + 2 * i, v);
  }
  static void Double(Reg v, Reg* lo, Reg* hi) { *lo = UnpackLo16(v, v), *hi = UnpackHi16(v, v); }
  static Reg PackInOrder(Reg a, Reg b) { return PackSigned(a, b); }
};

}  // namespace

void InitPlanarDsp_Sse2(PlanarDsp& dsp) { SetPlanarKernels<VectorTier<Sse2>>(dsp); }

}  // namespace io
