// SSE2 kernels: edge lines in 16-bit lanes, 8 per register (the arithmetic and why it is exact:
// deblock_simd.h).
#include <emmintrin.h>

#include <cstring>

#include "deblock/deblock_dsp.h"
#include "deblock/x86/deblock_simd.h"
#include "deblock/x86/deblock_x86.h"

namespace deblock {
namespace {

using core::YcPixel;
using V = simd::Sse2;

// Pixel a in lanes 0..2, pixel b in lanes 4..6.
AUF_INLINE __m128i LoadColumn(const YcPixel* a, const YcPixel* b) {
  return _mm_unpacklo_epi64(LoadPixel(a), LoadPixel(b));
}

AUF_INLINE void Store16(YcPixel* p, int byte, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(reinterpret_cast<char*>(p) + byte), v);
}

// Columns x .. x+3 of rows a and b in the layout of LoadColumn, from bytes 0..15 and 8..23 of the
// four pixels of each row; lanes 3 and 7 hold whatever followed the pixel.
AUF_INLINE void LoadColumns(const YcPixel* a, const YcPixel* b, __m128i& c0, __m128i& c1, __m128i& c2,
                            __m128i& c3) {
  const __m128i la = Load16(a, 0), ha = Load16(a, 8), lb = Load16(b, 0), hb = Load16(b, 8);
  c0 = _mm_unpacklo_epi64(la, lb);
  c1 = _mm_unpacklo_epi64(_mm_srli_si128(la, 6), _mm_srli_si128(lb, 6));
  c2 = _mm_unpacklo_epi64(_mm_srli_si128(ha, 4), _mm_srli_si128(hb, 4));
  c3 = _mm_unpacklo_epi64(_mm_srli_si128(ha, 10), _mm_srli_si128(hb, 10));
}

// Two pixels in qword slots to 12 contiguous bytes, zeros above.
AUF_INLINE __m128i PackPair(__m128i v) {
  const __m128i first = _mm_set_epi32(0, 0, 0xFFFF, -1), second = _mm_set_epi32(0xFFFF, -1, 0, 0);
  return _mm_or_si128(_mm_and_si128(v, first), _mm_srli_si128(_mm_and_si128(v, second), 2));
}

// Four pixels (slots of px01, px23) to 24 bytes at p: bytes 0..15, then 8..23 (the same values
// again in 8..15).
AUF_INLINE void StoreRow(YcPixel* p, __m128i px01, __m128i px23) {
  const __m128i a = PackPair(px01), b = PackPair(px23);
  Store16(p, 0, _mm_or_si128(a, _mm_slli_si128(b, 12)));
  Store16(p, 8, _mm_or_si128(_mm_srli_si128(a, 8), _mm_slli_si128(b, 4)));
}

AUF_INLINE void StoreColumns(YcPixel* a, YcPixel* b, __m128i c0, __m128i c1, __m128i c2, __m128i c3) {
  StoreRow(a, _mm_unpacklo_epi64(c0, c1), _mm_unpacklo_epi64(c2, c3));
  StoreRow(b, _mm_unpackhi_epi64(c0, c1), _mm_unpackhi_epi64(c2, c3));
}

// The six columns of an edge in two pixel rows.
struct Window {
  __m128i p2, p1, p0, q0, q1, q2;
};

AUF_INLINE void FirstWindow(const YcPixel* a, const YcPixel* b, Window& w) {
  // Columns x-3, x-2 one pixel at a time: loading four there would read columns before x-3.
  w.p2 = LoadColumn(a - 3, b - 3);
  w.p1 = LoadColumn(a - 2, b - 2);
  LoadColumns(a - 1, b - 1, w.p0, w.q0, w.q1, w.q2);
}

// An edge at x reads columns x-3 .. x+2 and writes x-2 .. x+1; the next one at x+4 takes x+1
// (as just filtered) and x+2 over and loads x+3 .. x+6.
AUF_INLINE void NextWindow(const YcPixel* a, const YcPixel* b, Window& w) {
  w.p2 = w.q1;
  w.p1 = w.q2;
  LoadColumns(a - 1, b - 1, w.p0, w.q0, w.q1, w.q2);
}

AUF_INLINE void FilterWindow(YcPixel* a, YcPixel* b, Window& w, const Limits<V>& t) {
  FilterLanes<V>(w.p2, w.p1, w.p0, w.q0, w.q1, w.q2, t);
  StoreColumns(a - 2, b - 2, w.p1, w.p0, w.q0, w.q1);
}

// The vertical edges of rows a, b (one register) and c, d (another), left to right; a row given
// twice is filtered once. Each edge waits for the one before it in its row, so the two pairs are
// interleaved to keep the vector units busy.
void FilterRows(YcPixel* a, YcPixel* b, YcPixel* c, YcPixel* d, int edges, const Limits<V>& t) {
  Window u, v;
  FirstWindow(a, b, u);
  FirstWindow(c, d, v);
  for (int e = 0;;) {
    FilterWindow(a, b, u, t);
    FilterWindow(c, d, v, t);
    if (++e == edges) break;
    a += 4, b += 4, c += 4, d += 4;
    NextWindow(a, b, u);
    NextWindow(c, d, v);
  }
}

void FilterVerticalEdges(YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha, int32_t beta,
                         int32_t tc0) {
  if (!VectorThresholds(alpha, beta, tc0))
    return FilterVerticalEdges_C(pix, stride, edges, rows, alpha, beta, tc0);
  if (edges <= 0 || NothingPasses(alpha, beta)) return;
  const Limits<V> t = MakeLimits<V>(alpha, beta, tc0);
  if (rows <= 0) return;
  // Missing rows repeat the last one: the same lines, the same results stored twice.
  YcPixel* r[4];
  for (int i = 0; i < 4; ++i) r[i] = pix + (i < rows ? i : rows - 1) * stride;
  FilterRows(r[0], r[1], r[2], r[3], edges, t);
}

}  // namespace

// Eight lanes hold too few rows to walk a tile's rows together: grid row after grid row.
void InitDeblockDsp_Sse2(DeblockDsp& dsp) {
  dsp.FilterHorizontalEdges = FilterHorizontalEdgesT<V>;
  dsp.FilterVerticalEdges = FilterVerticalEdges;
  dsp.FilterTile = FilterTileByRows<kQuadTile, FilterHorizontalEdgesT<V>, FilterVerticalEdges>;
  dsp.tile = kQuadTile;
}

}  // namespace deblock
