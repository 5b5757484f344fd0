#pragma once
// The planar conversions of every vector tier, written once over a vector-traits type V. A register
// holds V::kLanes 16-bit samples of one plane, pixels 8k .. 8k+7 in 128-bit lane k, or the 32-bit
// sums of their pairs; every step here works within the lanes.
//
// Included only by the ISA files. Everything here has internal linkage: each ISA file keeps its own
// copy, compiled for its own instruction set.
//
// V: a tier's vector operations (core/x86/vector_ops.h) and Shuffle<imm> (two words from each of two
// registers, as shufps, within lanes); StoreTriple / LoadTriple (three registers to and from the 48
// bytes of each lane's eight pixels, in memory order); Double (each sample twice, in order over two
// registers); and, per depth, Samples (kLanes samples from sample i of a row, 16-bit), StoreLevels
// (kLanes levels, clamped, from sample i) and StoreMeans (the kLanes levels of two registers of
// 32-bit means, the zero added, clamped).
#include <cstdint>

#include "core/x86/vector_ops.h"
#include "tools/io/planar_rows.h"

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

// Stored samples to host units: (v - zero) times the scale; 10-bit words clamped to 1023 first.
template <class V, int kBits>
inline typename V::Reg ToHost(typename V::Reg v, int zero) {
  if constexpr (kBits == 10) v = V::Sub(v, V::SubSatU(v, V::Set1(1023)));
  return V::ShiftLeft(V::Sub(v, V::Set1(zero)), planar::Depth<kBits>::kShift);
}

// Host samples to levels before clamping: (v + round) >> shift + zero, the sum saturating only
// where the level is beyond the largest one anyway.
template <class V, int kBits>
inline typename V::Reg Levels(typename V::Reg v, int zero) {
  constexpr int s = planar::Depth<kBits>::kShift;
  return V::Add(V::ShiftRight(V::AddSat(v, V::Set1(1 << (s - 1))), s), V::Set1(zero));
}

// 32-bit sums of 2^kLog2N samples to their means, rounded, before the chroma zero is added.
template <class V, int kBits, int kLog2N>
inline typename V::Reg Means(typename V::Reg sums) {
  constexpr int s = planar::Depth<kBits>::kShift + kLog2N;
  return V::ShiftRight32(V::Add32(sums, V::Set32(1 << (s - 1))), s);
}

// Chroma of two pixels across: a step covers 2 kLanes pixels and kLanes samples of each plane.
template <class V, int kBits, int kSx>
inline void UnpackRowSimd(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, core::YcPixel* out, int w) {
  using Reg = typename V::Reg;
  constexpr int kZero = planar::Depth<kBits>::kZero, n = V::kLanes;
  int x = 0;
  if constexpr (kSx == 2) {
    for (; x + 2 * n <= w; x += 2 * n) {
      Reg b0, b1, c0, c1;
      V::Double(ToHost<V, kBits>(V::template Samples<kBits>(cb, x / 2), kZero), &b0, &b1);
      V::Double(ToHost<V, kBits>(V::template Samples<kBits>(cr, x / 2), kZero), &c0, &c1);
      StorePixels<V>(out + x, ToHost<V, kBits>(V::template Samples<kBits>(y, x), 0), b0, c0);
      StorePixels<V>(out + x + n, ToHost<V, kBits>(V::template Samples<kBits>(y, x + n), 0), b1, c1);
    }
  } else {
    for (; x + n <= w; x += n) {
      Reg b = V::Zero(), c = V::Zero();
      if constexpr (kSx == 1) {
        b = ToHost<V, kBits>(V::template Samples<kBits>(cb, x), kZero);
        c = ToHost<V, kBits>(V::template Samples<kBits>(cr, x), kZero);
      }
      StorePixels<V>(out + x, ToHost<V, kBits>(V::template Samples<kBits>(y, x), 0), b, c);
    }
  }
  planar::UnpackRow<kBits, kSx>(y, cb, cr, out, x, w);
}

// The luma of kLanes pixels of a row, and for chroma of two pixels across the 32-bit sums of their
// pairs (with those of the row below for 2x2).
template <class V, int kBits, int kSy>
inline void PackLumaAndSums(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top,
                            uint8_t* y_bottom, int x, typename V::Reg* sb, typename V::Reg* sc) {
  typename V::Reg py, pb, pc;
  LoadPixels<V>(top + x, &py, &pb, &pc);
  V::template StoreLevels<kBits>(y_top, x, Levels<V, kBits>(py, 0));
  *sb = SumPairs<V>(pb), *sc = SumPairs<V>(pc);
  if constexpr (kSy == 2) {
    LoadPixels<V>(bottom + x, &py, &pb, &pc);
    V::template StoreLevels<kBits>(y_bottom, x, Levels<V, kBits>(py, 0));
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
    for (; x + 2 * n <= w; x += 2 * n) {
      Reg sb0, sc0, sb1, sc1;
      PackLumaAndSums<V, kBits, kSy>(top, bottom, y_top, y_bottom, x, &sb0, &sc0);
      PackLumaAndSums<V, kBits, kSy>(top, bottom, y_top, y_bottom, x + n, &sb1, &sc1);
      V::template StoreMeans<kBits>(cb, x / 2, Means<V, kBits, kLog2N>(sb0), Means<V, kBits, kLog2N>(sb1));
      V::template StoreMeans<kBits>(cr, x / 2, Means<V, kBits, kLog2N>(sc0), Means<V, kBits, kLog2N>(sc1));
    }
  } else {
    static_assert(kSy == 1);
    for (; x + n <= w; x += n) {
      Reg py, pb, pc;
      LoadPixels<V>(top + x, &py, &pb, &pc);
      V::template StoreLevels<kBits>(y_top, x, Levels<V, kBits>(py, 0));
      if constexpr (kSx == 1) {
        V::template StoreLevels<kBits>(cb, x, Levels<V, kBits>(pb, kZero));
        V::template StoreLevels<kBits>(cr, x, Levels<V, kBits>(pc, kZero));
      }
    }
  }
  planar::PackRows<kBits, kSx, kSy>(top, bottom, y_top, y_bottom, cb, cr, x, w);
}

}  // namespace
}  // namespace io

namespace io {
namespace {

// The kernels of V's tier, for SetPlanarKernels.
template <class V>
struct VectorTier {
  template <int kBits, int kSx>
  static constexpr UnpackRowFn kUnpack = UnpackRowSimd<V, kBits, kSx>;
  template <int kBits, int kSx, int kSy>
  static constexpr PackRowsFn kPack = PackRowsSimd<V, kBits, kSx, kSy>;
};

}  // namespace
}  // namespace io
