#pragma once
// The scalar row conversions of planar.h, written once: the whole rows of the scalar tier, and the
// last pixels of a row that a vector kernel leaves over; and how a tier's kernels fill the table.
//
// Included by the ISA files too, so everything here has internal linkage (and calls nothing of the
// standard library that could be shared): each file keeps its own copy, compiled for its own
// instruction set, and the scalar tier never runs a vector tier's copy.
#include <cstdint>

#include "core/pixel.h"
#include "tools/io/planar.h"

namespace io::planar {
namespace {

inline int Clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// Per depth: host units per level as a shift, the chroma level of zero, the largest level.
template <int kBits>
struct Depth {
  static constexpr int kShift = kBits == 8 ? 4 : 2;
  static constexpr int kZero = 1 << (kBits - 1);
  static constexpr int kMax = (1 << kBits) - 1;
};

template <int kBits>
inline int LoadSample(const uint8_t* row, int i) {
  if constexpr (kBits == 8) return row[i];
  else return Clamp(row[2 * i] | row[2 * i + 1] << 8, 0, 1023);
}

template <int kBits>
inline void StoreSample(uint8_t* row, int i, int v) {
  if constexpr (kBits == 8) {
    row[i] = static_cast<uint8_t>(v);
  } else {
    row[2 * i] = static_cast<uint8_t>(v);
    row[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
}

template <int kBits>
inline int LumaLevel(int v) {
  constexpr int s = Depth<kBits>::kShift;
  return Clamp((v + (1 << (s - 1))) >> s, 0, Depth<kBits>::kMax);
}

// The mean of 2^kLog2N host samples summed in `sum`, as a stored chroma level.
template <int kBits, int kLog2N>
inline int ChromaLevel(int sum) {
  constexpr int s = Depth<kBits>::kShift + kLog2N;
  return Clamp(((sum + (1 << (s - 1))) >> s) + Depth<kBits>::kZero, 0, Depth<kBits>::kMax);
}

// Pixels x0 .. w-1 of a row. kSx: pixels across per chroma sample (2 or 1), 0 for no chroma.
template <int kBits, int kSx>
inline void UnpackRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, core::YcPixel* out, int x0,
                      int w) {
  using D = Depth<kBits>;
  for (int x = x0; x < w; ++x) {
    out[x].y = static_cast<int16_t>(LoadSample<kBits>(y, x) * (1 << D::kShift));
    if constexpr (kSx == 0) {
      out[x].cb = out[x].cr = 0;
    } else {
      out[x].cb = static_cast<int16_t>((LoadSample<kBits>(cb, x / kSx) - D::kZero) * (1 << D::kShift));
      out[x].cr = static_cast<int16_t>((LoadSample<kBits>(cr, x / kSx) - D::kZero) * (1 << D::kShift));
    }
  }
}

// Pixels x0 .. w-1 of the rows under one chroma row; x0 even. kSy: rows per chroma sample (2: top
// and bottom). With kSx == 2 and w odd, the last chroma sample covers the last column alone.
template <int kBits, int kSx, int kSy>
inline void PackRows(const core::YcPixel* top, const core::YcPixel* bottom, uint8_t* y_top, uint8_t* y_bottom,
                     uint8_t* cb, uint8_t* cr, int x0, int w) {
  for (int x = x0; x < w; ++x) {
    StoreSample<kBits>(y_top, x, LumaLevel<kBits>(top[x].y));
    if constexpr (kSy == 2) StoreSample<kBits>(y_bottom, x, LumaLevel<kBits>(bottom[x].y));
  }
  if constexpr (kSx == 0) return;
  constexpr int kLog2Rows = kSy == 2 ? 1 : 0;
  auto column = [&](int x, int16_t core::YcPixel::*c) {
    return top[x].*c + (kSy == 2 ? bottom[x].*c : 0);
  };
  int x = x0;
  for (; x + kSx <= w; x += kSx) {
    if constexpr (kSx == 2) {
      StoreSample<kBits>(cb, x / 2,
                         ChromaLevel<kBits, kLog2Rows + 1>(column(x, &core::YcPixel::cb) +
                                                           column(x + 1, &core::YcPixel::cb)));
      StoreSample<kBits>(cr, x / 2,
                         ChromaLevel<kBits, kLog2Rows + 1>(column(x, &core::YcPixel::cr) +
                                                           column(x + 1, &core::YcPixel::cr)));
    } else {
      StoreSample<kBits>(cb, x, ChromaLevel<kBits, kLog2Rows>(column(x, &core::YcPixel::cb)));
      StoreSample<kBits>(cr, x, ChromaLevel<kBits, kLog2Rows>(column(x, &core::YcPixel::cr)));
    }
  }
  if (x < w) {
    StoreSample<kBits>(cb, x / kSx, ChromaLevel<kBits, kLog2Rows>(column(x, &core::YcPixel::cb)));
    StoreSample<kBits>(cr, x / kSx, ChromaLevel<kBits, kLog2Rows>(column(x, &core::YcPixel::cr)));
  }
}

}  // namespace
}  // namespace io::planar

namespace io {
namespace {

// Every slot of `dsp` from the kernels of one tier: Tier::kUnpack<kBits, kSx> and
// Tier::kPack<kBits, kSx, kSy>.
template <class Tier>
void SetPlanarKernels(PlanarDsp& dsp) {
  auto set = [&]<int kBits>() {
    const int d = kBits == 10 ? 1 : 0;
    dsp.unpack[d][kChroma2x2] = dsp.unpack[d][kChroma2x1] = Tier::template kUnpack<kBits, 2>;
    dsp.unpack[d][kChroma1x1] = Tier::template kUnpack<kBits, 1>;
    dsp.unpack[d][kNoChroma] = Tier::template kUnpack<kBits, 0>;
    dsp.pack[d][kChroma2x2] = Tier::template kPack<kBits, 2, 2>;
    dsp.pack[d][kChroma2x1] = Tier::template kPack<kBits, 2, 1>;
    dsp.pack[d][kChroma1x1] = Tier::template kPack<kBits, 1, 1>;
    dsp.pack[d][kNoChroma] = Tier::template kPack<kBits, 0, 1>;
  };
  set.template operator()<8>();
  set.template operator()<10>();
}

}  // namespace
}  // namespace io
