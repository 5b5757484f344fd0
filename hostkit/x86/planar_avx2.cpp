// AVX2 kernels of the planar conversions: sixteen pixels a register, pixels 0-7 in the low lane.
#include <immintrin.h>

#include "hostkit/x86/planar_simd.h"
#include "hostkit/x86/planar_x86.h"

namespace io {
namespace {

using Xmm = core::simd::Sse2;

struct Avx2 : core::simd::Avx2 {
  template <int imm>
  static Reg Shuffle(Reg a, Reg b) {
    return _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), imm));
  }

  // Lane 0 holds bytes 0-47 of the 96 (16 in each register), lane 1 bytes 48-95.
  static void StoreTriple(core::YcPixel* out, Reg r0, Reg r1, Reg r2) {
    char* o = reinterpret_cast<char*>(out);
    Store(o, _mm256_permute2x128_si256(r0, r1, 0x20));
    Store(o + 32, _mm256_permute2x128_si256(r2, r0, 0x30));
    Store(o + 64, _mm256_permute2x128_si256(r1, r2, 0x31));
  }
  static void LoadTriple(const core::YcPixel* in, Reg* r0, Reg* r1, Reg* r2) {
    const char* p = reinterpret_cast<const char*>(in);
    const Reg m0 = Load(p), m1 = Load(p + 32), m2 = Load(p + 64);
    *r0 = _mm256_permute2x128_si256(m0, m1, 0x30);
    *r1 = _mm256_permute2x128_si256(m0, m2, 0x21);
    *r2 = _mm256_permute2x128_si256(m1, m2, 0x30);
  }

  template <int kBits>
  static Reg Samples(const uint8_t* row, int i) {
    if constexpr (kBits == 8) return _mm256_cvtepu8_epi16(Xmm::Load(row + i));
    else return Load(row + 2 * i);
  }
  template <int kBits>
  static void StoreSamples(uint8_t* row, int i, Reg v) {
    if constexpr (kBits == 8)
      Xmm::Store(row + i, Xmm::PackBytes(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
    else Store(row + 2 * i, v);
  }
  static void Double(Reg v, Reg* lo, Reg* hi) {
    const Reg a = UnpackLo16(v, v), b = UnpackHi16(v, v);  // lanes: 0-3 8-11, 4-7 12-15
    *lo = _mm256_permute2x128_si256(a, b, 0x20), *hi = _mm256_permute2x128_si256(a, b, 0x31);
  }
  // packs works within the lanes: the four quarters put back in order.
  static Reg PackInOrder(Reg a, Reg b) {
    return _mm256_permute4x64_epi64(PackSigned(a, b), _MM_SHUFFLE(3, 1, 2, 0));
  }
};

}  // namespace

void InitPlanarDsp_Avx2(PlanarDsp& dsp) { SetPlanarKernels<VectorTier<Avx2>>(dsp); }

}  // namespace io
