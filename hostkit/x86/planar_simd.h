#pragma once
// The planar conversions of every vector tier, written once over a vector-traits type V. A register
// holds V::kLanes 16-bit samples of one plane, pixels 8k .. 8k+7 in 128-bit lane k, or the 32-bit
// sums of their pairs; every step here works within the lanes. A row of Cb Cr pairs has as many
// samples as its pixels: a register of it holds the pairs of the pixels of a register of luma.
//
// Included only by the ISA files. Everything here has internal linkage: each ISA file keeps its own
// copy, compiled for its own instruction set.
//
// V: a tier's vector operations (core/x86/vector_ops.h) and Shuffle<imm> (two words from each of two
// registers, as shufps, within lanes); StoreTriple / LoadTriple (three registers to and from the 48
// bytes of each lane's eight pixels, in memory order); Double (each sample twice, in order over two
// registers); PackInOrder (the 32-bit lanes of two registers packed with signed saturation, in the
// order of the registers); and, per depth, Samples (kLanes samples from sample i of a row, bytes
// widened to 16 bits) and StoreSamples (kLanes samples to sample i on; to bytes with unsigned
// saturation).
#include <cstdint>

#include "core/x86/vector_ops.h"
#include "hostkit/planar_rows.h"

namespace io {
namespace {

// Pixels 2k and 2k+1 are three 32-bit words, (y cb) (cr y') (cb' cr'); the words of the four pairs
// of a lane are interleaved into its 48 bytes.
template <class V>
inline void StorePixels(core::YcPixel* out, typename V::Reg y, typename V::Reg cb, typename V::Reg cr) {
  const typename V::Reg low = V::Set32(0xFFFF);
  const typename V::Reg w0 = V::Or(V::And(y, low), V::ShiftLeft32(cb, 16));
  const typename V::Reg w1 = V::Or(V::And(cr, low), V::AndNot(low, y));
  const typename V::Reg w2 = V::Or(V::ShiftRightU32(cb, 16), V::AndNot(low, cr));
  const typename V::Reg a = V::UnpackLo32(w0, w1);                         // w0_0 w1_0 w0_1 w1_1
  const typename V::Reg b = V::UnpackLo32(w2, w0);                         // w2_0 w0_0 w2_1 w0_1
  const typename V::Reg c = V::UnpackLo32(w1, w2);                         // w1_0 w2_0 w1_1 w2_1
  const typename V::Reg d = V::UnpackHi32(w0, w1);                         // w0_2 w1_2 w0_3 w1_3
  const typename V::Reg e = V::UnpackHi32(w2, w0);                         // w2_2 w0_2 w2_3 w0_3
  const typename V::Reg f = V::UnpackHi32(w1, w2);                         // w1_2 w2_2 w1_3 w2_3
  V::StoreTriple(out, V::template Shuffle<_MM_SHUFFLE(3, 0, 1, 0)>(a, b),  // w0_0 w1_0 w2_0 w0_1
                 V::template Shuffle<_MM_SHUFFLE(1, 0, 3, 2)>(c, d),       // w1_1 w2_1 w0_2 w1_2
                 V::template Shuffle<_MM_SHUFFLE(3, 2, 3, 0)>(e, f));      // w2_2 w0_3 w1_3 w2_3
}

// The reverse of StorePixels.
template <class V>
inline void LoadPixels(const core::YcPixel* in, typename V::Reg* y, typename V::Reg* cb,
                       typename V::Reg* cr) {
  typename V::Reg o0, o1, o2;
  V::LoadTriple(in, &o0, &o1, &o2);
  const typename V::Reg q = V::template Shuffle<_MM_SHUFFLE(1, 0, 2, 1)>(o0, o1);  // o0_1 o0_2 o1_0 o1_1
  const typename V::Reg r = V::template Shuffle<_MM_SHUFFLE(2, 1, 3, 2)>(o1, o2);  // o1_2 o1_3 o2_1 o2_2
  const typename V::Reg w0 = V::template Shuffle<_MM_SHUFFLE(2, 0, 3, 0)>(o0, r);  // o0_0 o0_3 o1_2 o2_1
  const typename V::Reg w1 = V::template Shuffle<_MM_SHUFFLE(3, 1, 2, 0)>(q, r);   // o0_1 o1_0 o1_3 o2_2
  const typename V::Reg w2 = V::template Shuffle<_MM_SHUFFLE(3, 0, 3, 1)>(q, o2);  // o0_2 o1_1 o2_0 o2_3
  const typename V::Reg low = V::Set32(0xFFFF);
  *y = V::Or(V::And(w0, low), V::AndNot(low, w1));
  *cb = V::Or(V::ShiftRightU32(w0, 16), V::ShiftLeft32(w2, 16));
  *cr = V::Or(V::And(w1, low), V::AndNot(low, w2));
}

// The 32-bit sums of neighbouring samples.
template <class V>
inline typename V::Reg SumPairs(typename V::Reg v) {
  return V::MulAdd(v, V::Set1(1));
}

// The levels of kLanes samples from sample i of a row: 10- and 12-bit words clamped to the largest
// level, or with kHigh the level in the high bits.
template <class V, int kBits, bool kHigh>
inline typename V::Reg LoadLevels(const uint8_t* row, int i) {
  const typename V::Reg v = V::template Samples<kBits>(row, i);
  if constexpr (kHigh) return V::ShiftRightU(v, 16 - kBits);
  else if constexpr (kBits == 10 || kBits == 12)
    return V::Sub(v, V::SubSatU(v, V::Set1(planar::Depth<kBits>::kMax)));
  else return v;
}

// Levels to host units: (v - zero) times the scale; 16-bit levels divided by 16, rounded half up as
// the unsigned average of v / 8 and 0.
template <class V, int kBits>
inline typename V::Reg ToHost(typename V::Reg v, int zero) {
  constexpr int s = planar::Depth<kBits>::kShift;
  if constexpr (s >= 0) return V::ShiftLeft(V::Sub(v, V::Set1(zero)), s);
  else return V::Sub(V::AverageU(V::ShiftRightU(v, -s - 1), V::Zero()), V::Set1(zero >> -s));
}

// Host samples to levels, rounded half up, the sum saturating only where the level is beyond the
// largest one anyway; to be clamped when stored. 16-bit levels are clamped here: v + zero / 16 to
// 0 .. 4096, times 16, where the one product past a word (65536, which wraps to 0) is taken down by
// one to 65535.
template <class V, int kBits>
inline typename V::Reg Levels(typename V::Reg v, int zero) {
  constexpr int s = planar::Depth<kBits>::kShift;
  if constexpr (s > 0) {
    return V::Add(V::ShiftRight(V::AddSat(v, V::Set1(1 << (s - 1))), s), V::Set1(zero));
  } else if constexpr (s == 0) {
    return V::AddSat(v, V::Set1(zero));
  } else {
    const typename V::Reg t = V::Min(V::Max(V::AddSat(v, V::Set1(zero >> -s)), V::Zero()), V::Set1(4096));
    return V::Sub(V::ShiftLeft(t, -s), V::ShiftRightU(t, 12));
  }
}

// kLanes levels to sample i of a row on, clamped to the stored range (8-bit ones as they are packed
// into bytes); with kHigh in the high bits of the words.
template <class V, int kBits, bool kHigh>
inline void StoreLevels(uint8_t* row, int i, typename V::Reg v) {
  if constexpr (kBits == 10 || kBits == 12) {
    v = V::Min(V::Max(v, V::Zero()), V::Set1(planar::Depth<kBits>::kMax));
    if constexpr (kHigh) v = V::ShiftLeft(v, 16 - kBits);
  }
  V::template StoreSamples<kBits>(row, i, v);
}

// 32-bit sums of 2^kLog2N samples to their means, rounded, before the chroma zero is added.
template <class V, int kBits, int kLog2N>
inline typename V::Reg Means(typename V::Reg sums) {
  constexpr int s = planar::Depth<kBits>::kShift + kLog2N;
  static_assert(s > 0);
  return V::ShiftRight32(V::Add32(sums, V::Set32(1 << (s - 1))), s);
}

// Chroma of two pixels across: a step covers 2 kLanes pixels and kLanes samples of each plane.
template <class V, int kBits, int kSx>
inline void UnpackRowSimd(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, core::YcPixel* out, int w) {
  using Reg = typename V::Reg;
  constexpr int kZero = planar::Depth<kBits>::kZero, n = V::kLanes;
  auto host = [](const uint8_t* row, int i, int zero) {
    return ToHost<V, kBits>(LoadLevels<V, kBits, false>(row, i), zero);
  };
  int x = 0;
  if constexpr (kSx == 2) {
    for (; x + 2 * n <= w; x += 2 * n) {
      Reg b0, b1, c0, c1;
      V::Double(host(cb, x / 2, kZero), &b0, &b1);
      V::Double(host(cr, x / 2, kZero), &c0, &c1);
      StorePixels<V>(out + x, host(y, x, 0), b0, c0);
      StorePixels<V>(out + x + n, host(y, x + n, 0), b1, c1);
    }
  } else {
    for (; x + n <= w; x += n) {
      Reg b = V::Zero(), c = V::Zero();
      if constexpr (kSx == 1) b = host(cb, x, kZero), c = host(cr, x, kZero);
      StorePixels<V>(out + x, host(y, x, 0), b, c);
    }
  }
  planar::UnpackRow<kBits, kSx>(y, cb, cr, out, x, w);
}

// Pairs: a step covers kLanes pixels, and their pairs, which hold the Cb and Cr of both pixels each.
template <class V, int kBits>
inline void UnpackPairsSimd(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, core::YcPixel* out,
                            int w) {
  using Reg = typename V::Reg;
  constexpr bool kHigh = kBits > 8;
  constexpr int kZero = planar::Depth<kBits>::kZero, n = V::kLanes;
  const uint8_t* pairs = cr < cb ? cr : cb;
  const bool swapped = cr < cb;
  const Reg low = V::Set32(0xFFFF);
  int x = 0;
  for (; x + n <= w; x += n) {
    const Reg p = ToHost<V, kBits>(LoadLevels<V, kBits, kHigh>(pairs, x), kZero);
    const Reg first = V::Or(V::And(p, low), V::ShiftLeft32(p, 16));
    const Reg second = V::Or(V::ShiftRightU32(p, 16), V::AndNot(low, p));
    StorePixels<V>(out + x, ToHost<V, kBits>(LoadLevels<V, kBits, kHigh>(y, x), 0), swapped ? second : first,
                   swapped ? first : second);
  }
  planar::UnpackRow<kBits, 2, true>(y, cb, cr, out, x, w);
}

// The luma of kLanes pixels of a row, and for chroma of two pixels across the 32-bit sums of their
// pairs (with those of the row below for 2x2).
template <class V, int kBits, int kSy, bool kHigh>
inline void PackLumaAndSums(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top,
                            uint8_t* y_bottom, int x, typename V::Reg* sb, typename V::Reg* sc) {
  typename V::Reg py, pb, pc;
  LoadPixels<V>(top + x, &py, &pb, &pc);
  StoreLevels<V, kBits, kHigh>(y_top, x, Levels<V, kBits>(py, 0));
  *sb = SumPairs<V>(pb), *sc = SumPairs<V>(pc);
  if constexpr (kSy == 2) {
    LoadPixels<V>(bottom + x, &py, &pb, &pc);
    StoreLevels<V, kBits, kHigh>(y_bottom, x, Levels<V, kBits>(py, 0));
    *sb = V::Add32(*sb, SumPairs<V>(pb)), *sc = V::Add32(*sc, SumPairs<V>(pc));
  }
}

template <class V, int kBits, int kSx, int kSy>
inline void PackRowsSimd(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top,
                         uint8_t* y_bottom, uint8_t* cb, uint8_t* cr, int w) {
  using Reg = typename V::Reg;
  constexpr int kZero = planar::Depth<kBits>::kZero, n = V::kLanes;
  int x = 0;
  if constexpr (kSx == 2) {
    constexpr int kLog2N = kSy == 2 ? 2 : 1;
    auto store_means = [](uint8_t* row, int i, Reg sums0, Reg sums1) {
      const Reg means = V::PackInOrder(Means<V, kBits, kLog2N>(sums0), Means<V, kBits, kLog2N>(sums1));
      StoreLevels<V, kBits, false>(row, i, V::AddSat(means, V::Set1(kZero)));
    };
    for (; x + 2 * n <= w; x += 2 * n) {
      Reg sb0, sc0, sb1, sc1;
      PackLumaAndSums<V, kBits, kSy, false>(top, bottom, y_top, y_bottom, x, &sb0, &sc0);
      PackLumaAndSums<V, kBits, kSy, false>(top, bottom, y_top, y_bottom, x + n, &sb1, &sc1);
      store_means(cb, x / 2, sb0, sb1);
      store_means(cr, x / 2, sc0, sc1);
    }
  } else {
    static_assert(kSy == 1);
    for (; x + n <= w; x += n) {
      Reg py, pb, pc;
      LoadPixels<V>(top + x, &py, &pb, &pc);
      StoreLevels<V, kBits, false>(y_top, x, Levels<V, kBits>(py, 0));
      if constexpr (kSx == 1) {
        StoreLevels<V, kBits, false>(cb, x, Levels<V, kBits>(pb, kZero));
        StoreLevels<V, kBits, false>(cr, x, Levels<V, kBits>(pc, kZero));
      }
    }
  }
  planar::PackRows<kBits, kSx, kSy>(top, bottom, y_top, y_bottom, cb, cr, x, w);
}

// Pairs: a step covers kLanes pixels; the means of Cb and of Cr of each two (four) pixels, packed
// side by side within each 128-bit lane, are interleaved into their pairs.
template <class V, int kBits, int kSy>
inline void PackPairsSimd(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top,
                          uint8_t* y_bottom, uint8_t* cb, uint8_t* cr, int w) {
  using Reg = typename V::Reg;
  constexpr bool kHigh = kBits > 8;
  constexpr int kZero = planar::Depth<kBits>::kZero, n = V::kLanes, kLog2N = kSy == 2 ? 2 : 1;
  uint8_t* pairs = cr < cb ? cr : cb;
  const bool swapped = cr < cb;
  int x = 0;
  for (; x + n <= w; x += n) {
    Reg sb, sc;
    PackLumaAndSums<V, kBits, kSy, kHigh>(top, bottom, y_top, y_bottom, x, &sb, &sc);
    const Reg mb = Means<V, kBits, kLog2N>(sb), mc = Means<V, kBits, kLog2N>(sc);
    const Reg m = swapped ? V::PackSigned(mc, mb) : V::PackSigned(mb, mc);
    StoreLevels<V, kBits, kHigh>(pairs, x, V::AddSat(V::UnpackLo16(m, V::UnpackHi64(m, m)), V::Set1(kZero)));
  }
  planar::PackRows<kBits, 2, kSy, true>(top, bottom, y_top, y_bottom, cb, cr, x, w);
}

}  // namespace
}  // namespace io

namespace io {
namespace {

// The kernels of V's tier, for SetPlanarKernels.
template <class V>
struct VectorTier {
  template <int kBits, int kSx, bool kPairs>
  static consteval UnpackRowFn Unpack() {
    if constexpr (kPairs) return UnpackPairsSimd<V, kBits>;
    else return UnpackRowSimd<V, kBits, kSx>;
  }
  template <int kBits, int kSx, int kSy, bool kPairs>
  static consteval PackRowsFn Pack() {
    if constexpr (kPairs) return PackPairsSimd<V, kBits, kSy>;
    else return PackRowsSimd<V, kBits, kSx, kSy>;
  }
  template <int kBits, int kSx, bool kPairs>
  static constexpr UnpackRowFn kUnpack = Unpack<kBits, kSx, kPairs>();
  template <int kBits, int kSx, int kSy, bool kPairs>
  static constexpr PackRowsFn kPack = Pack<kBits, kSx, kSy, kPairs>();
};

}  // namespace
}  // namespace io
