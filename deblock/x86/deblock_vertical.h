#pragma once
// The vertical edges of a grid row with 256-bit registers: pixel x of the four rows in lanes 0..2,
// 4..6, 8..10 and 12..14, the edges of each row left to right, for any traits V of 16 lanes.
// Included by the AVX2 and AVX-512 files after deblock_simd.h.
#include <immintrin.h>

#include <cstring>

#include "deblock/x86/deblock_simd.h"

namespace deblock {
namespace {

using core::YcPixel;

// Pixel x of rows r[0] .. r[3] in lanes 0..2, 4..6, 8..10, 12..14.
AUF_INLINE __m256i LoadColumn(YcPixel* const* r, int x) {
  const __m128i lo = _mm_unpacklo_epi64(LoadPixel(r[0] + x), LoadPixel(r[1] + x));
  const __m128i hi = _mm_unpacklo_epi64(LoadPixel(r[2] + x), LoadPixel(r[3] + x));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

AUF_INLINE __m256i Load2x16(const YcPixel* a, const YcPixel* b, int byte) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(Load16(a, byte)), Load16(b, byte), 1);
}

AUF_INLINE void Store2x16(YcPixel* a, YcPixel* b, int byte, __m256i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(reinterpret_cast<char*>(a) + byte), _mm256_castsi256_si128(v));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(reinterpret_cast<char*>(b) + byte),
                   _mm256_extracti128_si256(v, 1));
}

// Byte moves within each 128-bit half, which holds one row: 24 bytes of a row (four pixels) are
// read and written as its bytes 0..15 and 8..23, and a pixel lives in lanes 0..2 of a qword slot.
struct QuadMasks {
  __m256i spread_lo, spread_hi, pack_lo01, pack_lo23, pack_hi01, pack_hi23;
};

AUF_INLINE QuadMasks MakeQuadMasks() {
  QuadMasks m;
  m.spread_lo = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1,  //
                                 0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1);
  m.spread_hi = _mm256_setr_epi8(4, 5, 6, 7, 8, 9, -1, -1, 10, 11, 12, 13, 14, 15, -1, -1,  //
                                 4, 5, 6, 7, 8, 9, -1, -1, 10, 11, 12, 13, 14, 15, -1, -1);
  m.pack_lo01 = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1,  //
                                 0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
  m.pack_lo23 = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3,  //
                                 -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3);
  m.pack_hi01 = _mm256_setr_epi8(10, 11, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                 10, 11, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  m.pack_hi23 = _mm256_setr_epi8(-1, -1, -1, -1, 0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13,  //
                                 -1, -1, -1, -1, 0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13);
  return m;
}

// Columns x .. x+3 of rows r[0] .. r[3], each in the layout of LoadColumn.
AUF_INLINE void LoadColumns(YcPixel* const* r, int x, const QuadMasks& m, __m256i& c0, __m256i& c1,
                            __m256i& c2, __m256i& c3) {
  // Halves: rows 0 and 2, rows 1 and 3; slots: pixels 0 and 1, pixels 2 and 3.
  const __m256i a01 = _mm256_shuffle_epi8(Load2x16(r[0] + x, r[2] + x, 0), m.spread_lo);
  const __m256i a23 = _mm256_shuffle_epi8(Load2x16(r[0] + x, r[2] + x, 8), m.spread_hi);
  const __m256i b01 = _mm256_shuffle_epi8(Load2x16(r[1] + x, r[3] + x, 0), m.spread_lo);
  const __m256i b23 = _mm256_shuffle_epi8(Load2x16(r[1] + x, r[3] + x, 8), m.spread_hi);
  c0 = _mm256_unpacklo_epi64(a01, b01);
  c1 = _mm256_unpackhi_epi64(a01, b01);
  c2 = _mm256_unpacklo_epi64(a23, b23);
  c3 = _mm256_unpackhi_epi64(a23, b23);
}

// LoadColumns' inverse; the two 16-byte stores of a row overlap in bytes 8..15 and agree there.
AUF_INLINE void StoreColumns(YcPixel* const* r, int x, const QuadMasks& m, __m256i c0, __m256i c1, __m256i c2,
                             __m256i c3) {
  const __m256i a01 = _mm256_unpacklo_epi64(c0, c1), b01 = _mm256_unpackhi_epi64(c0, c1);
  const __m256i a23 = _mm256_unpacklo_epi64(c2, c3), b23 = _mm256_unpackhi_epi64(c2, c3);
  Store2x16(r[0] + x, r[2] + x, 0,
            _mm256_or_si256(_mm256_shuffle_epi8(a01, m.pack_lo01), _mm256_shuffle_epi8(a23, m.pack_lo23)));
  Store2x16(r[0] + x, r[2] + x, 8,
            _mm256_or_si256(_mm256_shuffle_epi8(a01, m.pack_hi01), _mm256_shuffle_epi8(a23, m.pack_hi23)));
  Store2x16(r[1] + x, r[3] + x, 0,
            _mm256_or_si256(_mm256_shuffle_epi8(b01, m.pack_lo01), _mm256_shuffle_epi8(b23, m.pack_lo23)));
  Store2x16(r[1] + x, r[3] + x, 8,
            _mm256_or_si256(_mm256_shuffle_epi8(b01, m.pack_hi01), _mm256_shuffle_epi8(b23, m.pack_hi23)));
}

template <class V>
void FilterVerticalEdgesT(YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha, int32_t beta,
                          int32_t tc0) {
  if (!VectorThresholds(alpha, beta, tc0))
    return FilterVerticalEdges_C(pix, stride, edges, rows, alpha, beta, tc0);
  if (edges <= 0 || rows <= 0 || NothingPasses(alpha, beta)) return;
  const Limits<V> t = MakeLimits<V>(alpha, beta, tc0);
  const QuadMasks masks = MakeQuadMasks();
  // Missing rows repeat the last one: the same lines, the same results stored twice.
  YcPixel* r[4];
  for (int i = 0; i < 4; ++i) r[i] = pix + (i < rows ? i : rows - 1) * stride;
  // An edge at x reads columns x-3 .. x+2 and writes x-2 .. x+1; the next one at x+4 takes x+1
  // (as just filtered) and x+2 over, and loads x+3 .. x+6. Columns x-3, x-2 of the first edge
  // come in one pixel at a time: loading four there would read columns before x-3.
  __m256i p2 = LoadColumn(r, -3), p1 = LoadColumn(r, -2), p0, q0, q1, q2;
  LoadColumns(r, -1, masks, p0, q0, q1, q2);
  for (int x = 0;;) {
    FilterLanes<V>(p2, p1, p0, q0, q1, q2, t);
    StoreColumns(r, x - 2, masks, p1, p0, q0, q1);
    if (--edges == 0) break;
    x += 4;
    p2 = q1;
    p1 = q2;
    LoadColumns(r, x - 1, masks, p0, q0, q1, q2);
  }
}

}  // namespace
}  // namespace deblock
