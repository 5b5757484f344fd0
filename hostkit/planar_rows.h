#pragma once
// The scalar row conversions of planar.h, written once: the whole rows of the scalar tier, and the
// last pixels of a row that a vector kernel leaves over; and how a tier's kernels fill the table.
//
// Included by the ISA files too, so everything here has internal linkage (and calls nothing of the
// standard library that could be shared): each file keeps its own copy, compiled for its own
// instruction set, and the scalar tier never runs a vector tier's copy.
#include <cstdint>

#include "core/pixel.h"
#include "hostkit/planar.h"

namespace io::planar {
namespace {

inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// Per depth: host units per level as a shift (negative: levels per host unit), the chroma level of
// zero, the largest level.
template <int kBits>
struct Depth {
  static constexpr int kShift = 12 - kBits;
  static constexpr int kZero = 1 << (kBits - 1);
  static constexpr int kMax = (1 << kBits) - 1;
};

// The level of sample i of a row: a byte, or a little-endian word, clamped to the largest level, or
// with kHigh the level in its high bits.
template <int kBits, bool kHigh = false>
inline int LoadSample(const uint8_t* row, int i) {
  if constexpr (kBits == 8) {
    return row[i];
  } else {
    const int word = row[2 * i] | row[2 * i + 1] << 8;
    if constexpr (kHigh) return word >> (16 - kBits);
    else return Clamp(word, 0, Depth<kBits>::kMax);
  }
}

template <int kBits, bool kHigh = false>
inline void StoreSample(uint8_t* row, int i, int v) {
  if constexpr (kBits == 8) {
    row[i] = static_cast<uint8_t>(v);
  } else {
    if constexpr (kHigh) v <<= 16 - kBits;
    row[2 * i] = static_cast<uint8_t>(v);
    row[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
}

// A level in host units, rounded half up where the host holds fewer (16 bits).
template <int kBits>
inline int LevelToHost(int level) {
  constexpr int s = Depth<kBits>::kShift;
  if constexpr (s >= 0) return level * (1 << s);
  else return (level + (1 << (-s - 1))) >> -s;
}

template <int kBits>
inline int16_t LumaToHost(int level) {
  return static_cast<int16_t>(LevelToHost<kBits>(level));
}
template <int kBits>
inline int16_t ChromaToHost(int level) {
  return static_cast<int16_t>(LevelToHost<kBits>(level) - LevelToHost<kBits>(Depth<kBits>::kZero));
}

// The mean of 2^kLog2N host samples summed in `sum`, rounded half up, as a stored level: `zero` is
// added, and the level clamped.
template <int kBits, int kLog2N>
inline int LevelOfMean(int sum, int zero) {
  constexpr int s = Depth<kBits>::kShift + kLog2N;
  int v = sum;
  if constexpr (s > 0) v = (sum + (1 << (s - 1))) >> s;
  else if constexpr (s < 0) v = sum * (1 << -s);
  return Clamp(v + zero, 0, Depth<kBits>::kMax);
}

template <int kBits>
inline int LumaLevel(int v) {
  return LevelOfMean<kBits, 0>(v, 0);
}

template <int kBits, int kLog2N>
inline int ChromaLevel(int sum) {
  return LevelOfMean<kBits, kLog2N>(sum, Depth<kBits>::kZero);
}

// Where chroma sample k of a row lies, in samples: in a plane of its own k, in pairs 2 k. Words in
// pairs hold their levels in their high bits, luma too.
template <bool kPairs>
inline constexpr int kChromaStep = kPairs ? 2 : 1;

// Pixels x0 .. w-1 of a row. kSx: pixels across per chroma sample (2 or 1), 0 for no chroma; with
// kPairs (kSx 2), cb and cr point into one row of pairs.
template <int kBits, int kSx, bool kPairs = false>
inline void UnpackRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, core::YcPixel* out, int x0,
                      int w) {
  constexpr bool kHigh = kPairs && kBits > 8;
  for (int x = x0; x < w; ++x) {
    out[x].y = LumaToHost<kBits>(LoadSample<kBits, kHigh>(y, x));
    if constexpr (kSx == 0) {
      out[x].cb = out[x].cr = 0;
    } else {
      const int at = kChromaStep<kPairs> * (x / kSx);
      out[x].cb = ChromaToHost<kBits>(LoadSample<kBits, kHigh>(cb, at));
      out[x].cr = ChromaToHost<kBits>(LoadSample<kBits, kHigh>(cr, at));
    }
  }
}

// The chroma of pixels x0 .. w-1 of the rows under one chroma row (PackRows), kSx 1 or 2.
template <int kBits, int kSx, int kSy, bool kPairs>
inline void PackChromaRows(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* cb, uint8_t* cr,
                           int x0, int w) {
  constexpr bool kHigh = kPairs && kBits > 8;
  constexpr int kLog2Rows = kSy == 2 ? 1 : 0;
  auto column = [&](int x, int16_t core::YcPixel::*c) {
    return top[x].*c + (kSy == 2 ? bottom[x].*c : 0);
  };
  auto store = [&](int x, int cb_level, int cr_level) {
    StoreSample<kBits, kHigh>(cb, kChromaStep<kPairs> * (x / kSx), cb_level);
    StoreSample<kBits, kHigh>(cr, kChromaStep<kPairs> * (x / kSx), cr_level);
  };
  int x = x0;
  for (; x + kSx <= w; x += kSx) {
    if constexpr (kSx == 2) {
      store(x,
            ChromaLevel<kBits, kLog2Rows + 1>(column(x, &core::YcPixel::cb) +
                                              column(x + 1, &core::YcPixel::cb)),
            ChromaLevel<kBits, kLog2Rows + 1>(column(x, &core::YcPixel::cr) +
                                              column(x + 1, &core::YcPixel::cr)));
    } else {
      store(x, ChromaLevel<kBits, kLog2Rows>(column(x, &core::YcPixel::cb)),
            ChromaLevel<kBits, kLog2Rows>(column(x, &core::YcPixel::cr)));
    }
  }
  if (x < w)
    store(x, ChromaLevel<kBits, kLog2Rows>(column(x, &core::YcPixel::cb)),
          ChromaLevel<kBits, kLog2Rows>(column(x, &core::YcPixel::cr)));
}

// Pixels x0 .. w-1 of the rows under one chroma row; x0 even. kSy: rows per chroma sample (2: top
// and bottom). With kSx == 2 and w odd, the last chroma sample covers the last column alone.
template <int kBits, int kSx, int kSy, bool kPairs = false>
inline void PackRows(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top, uint8_t* y_bottom,
                     uint8_t* cb, uint8_t* cr, int x0, int w) {
  constexpr bool kHigh = kPairs && kBits > 8;
  for (int x = x0; x < w; ++x) {
    StoreSample<kBits, kHigh>(y_top, x, LumaLevel<kBits>(top[x].y));
    if constexpr (kSy == 2) StoreSample<kBits, kHigh>(y_bottom, x, LumaLevel<kBits>(bottom[x].y));
  }
  if constexpr (kSx != 0) PackChromaRows<kBits, kSx, kSy, kPairs>(top, bottom, cb, cr, x0, w);
}

}  // namespace
}  // namespace io::planar

namespace io {
namespace {

// Every slot of `dsp` that a layout has, from the kernels of one tier: Tier::kUnpack<kBits, kSx,
// kPairs> and Tier::kPack<kBits, kSx, kSy, kPairs>.
template <class Tier>
void SetPlanarKernels(PlanarDsp& dsp) {
  auto planes = [&]<int kBits>(PlanarDepth d) {
    dsp.UnpackRow[d][kChroma2x2] = dsp.UnpackRow[d][kChroma2x1] = Tier::template kUnpack<kBits, 2, false>;
    dsp.UnpackRow[d][kChroma1x1] = Tier::template kUnpack<kBits, 1, false>;
    dsp.PackRows[d][kChroma2x2] = Tier::template kPack<kBits, 2, 2, false>;
    dsp.PackRows[d][kChroma2x1] = Tier::template kPack<kBits, 2, 1, false>;
    dsp.PackRows[d][kChroma1x1] = Tier::template kPack<kBits, 1, 1, false>;
  };
  auto mono = [&]<int kBits>(PlanarDepth d) {
    dsp.UnpackRow[d][kNoChroma] = Tier::template kUnpack<kBits, 0, false>;
    dsp.PackRows[d][kNoChroma] = Tier::template kPack<kBits, 0, 1, false>;
  };
  auto pairs = [&]<int kBits>(PlanarDepth d) {
    dsp.UnpackRow[d][kPairs2x2] = dsp.UnpackRow[d][kPairs2x1] = Tier::template kUnpack<kBits, 2, true>;
    dsp.PackRows[d][kPairs2x2] = Tier::template kPack<kBits, 2, 2, true>;
    dsp.PackRows[d][kPairs2x1] = Tier::template kPack<kBits, 2, 1, true>;
  };
  planes.template operator()<8>(kDepth8), mono.template operator()<8>(kDepth8);
  pairs.template operator()<8>(kDepth8);
  planes.template operator()<10>(kDepth10), mono.template operator()<10>(kDepth10);
  pairs.template operator()<10>(kDepth10);
  planes.template operator()<12>(kDepth12), mono.template operator()<12>(kDepth12);
  mono.template operator()<16>(kDepth16);
}

}  // namespace
}  // namespace io
