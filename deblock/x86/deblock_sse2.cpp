// SSE2 kernels: edge lines in 16-bit lanes, 8 per register.
//
// Why 16-bit lanes are exact, for 0 <= alpha, beta, tc0 <= 4096 (VectorThresholds; the tables
// reach 4080, 432 and 560):
// - |a - b| of two int16 is max - min taken modulo 2^16: exact as an unsigned 16-bit value
//   (0..65535), and d < t is "t -sat d is not 0" in unsigned saturating arithmetic.
// - Only lines that pass the three tests are stored, and for them |q0 - p0| < alpha and
//   |p1 - q1| < alpha + 2 * beta, so |(q0 - p0) * 4 + (p1 - q1) + 4| <= 7 * 4095 + 4 < 2^15:
//   formed modulo 2^16 it is the exact value, and the arithmetic shift is exact too.
// - (a + b + 1) >> 1 of two int16 is the unsigned rounding average of a ^ 0x8000 and b ^ 0x8000,
//   flipped back; (a + b) >> 1 is that minus (a ^ b) & 1.
// - (p2 + m - 2 * p1) >> 1 = ((p2 + m) >> 1) - p1; that difference can leave 16 bits, but it is
//   clipped to [-tc0, tc0] next, so saturating it first changes nothing.
// - Stores keep the low 16 bits, as the wrapping adds and subtracts do.
#include <emmintrin.h>

#include <cstring>

#include "deblock/deblock_dsp.h"
#include "deblock/x86/deblock_x86.h"

namespace deblock {
namespace {

using host::YcPixel;

#define DEBLOCK_INLINE inline __attribute__((always_inline))

struct Limits {
  __m128i alpha, beta, tc0;
};

DEBLOCK_INLINE __m128i AbsDiff(__m128i a, __m128i b) { return _mm_sub_epi16(_mm_max_epi16(a, b), _mm_min_epi16(a, b)); }

// All ones where the unsigned d is not below t.
DEBLOCK_INLINE __m128i NotBelow(__m128i d, __m128i t) {
  return _mm_cmpeq_epi16(_mm_subs_epu16(t, d), _mm_setzero_si128());
}

// a where mask is set, else b.
DEBLOCK_INLINE __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

DEBLOCK_INLINE __m128i Clip(__m128i v, __m128i limit) {
  return _mm_min_epi16(_mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), limit)), limit);
}

// One edge line per lane: p2 .. q2 in, p1 .. q1 filtered in place.
DEBLOCK_INLINE void FilterLanes(__m128i p2, __m128i& p1, __m128i& p0, __m128i& q0, __m128i& q1, __m128i q2,
                                const Limits& t) {
  const __m128i bias = _mm_set1_epi16(-0x8000);
  const __m128i one = _mm_set1_epi16(1);
  const __m128i skip = _mm_or_si128(NotBelow(AbsDiff(p0, q0), t.alpha),
                                    _mm_or_si128(NotBelow(AbsDiff(p1, p0), t.beta), NotBelow(AbsDiff(q1, q0), t.beta)));
  const __m128i keep_p1 = _mm_or_si128(skip, NotBelow(AbsDiff(p2, p0), t.beta));
  const __m128i keep_q1 = _mm_or_si128(skip, NotBelow(AbsDiff(q2, q0), t.beta));
  const __m128i tc = _mm_add_epi16(_mm_add_epi16(t.tc0, _mm_andnot_si128(keep_p1, one)), _mm_andnot_si128(keep_q1, one));
  __m128i d = _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1));
  d = Clip(_mm_srai_epi16(_mm_add_epi16(d, _mm_set1_epi16(4)), 3), tc);
  const __m128i np0 = _mm_add_epi16(p0, d);
  const __m128i nq0 = _mm_sub_epi16(q0, d);
  const __m128i m = _mm_xor_si128(_mm_avg_epu16(_mm_xor_si128(np0, bias), _mm_xor_si128(nq0, bias)), bias);
  const __m128i mb = _mm_xor_si128(m, bias);
  const __m128i hp = _mm_sub_epi16(_mm_xor_si128(_mm_avg_epu16(_mm_xor_si128(p2, bias), mb), bias),
                                   _mm_and_si128(_mm_xor_si128(p2, m), one));
  const __m128i hq = _mm_sub_epi16(_mm_xor_si128(_mm_avg_epu16(_mm_xor_si128(q2, bias), mb), bias),
                                   _mm_and_si128(_mm_xor_si128(q2, m), one));
  const __m128i np1 = _mm_add_epi16(p1, Clip(_mm_subs_epi16(hp, p1), t.tc0));
  const __m128i nq1 = _mm_add_epi16(q1, Clip(_mm_subs_epi16(hq, q1), t.tc0));
  p1 = Select(keep_p1, p1, np1);
  q1 = Select(keep_q1, q1, nq1);
  p0 = Select(skip, p0, np0);
  q0 = Select(skip, q0, nq0);
}

DEBLOCK_INLINE __m128i Load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
DEBLOCK_INLINE void Store(int16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Eight samples of the horizontal edge above row q; rs = row step in samples.
DEBLOCK_INLINE void FilterRun8(int16_t* q, ptrdiff_t rs, const Limits& t) {
  __m128i p1 = Load(q - 2 * rs), p0 = Load(q - rs), q0 = Load(q), q1 = Load(q + rs);
  FilterLanes(Load(q - 3 * rs), p1, p0, q0, q1, Load(q + 2 * rs), t);
  Store(q - 2 * rs, p1);
  Store(q - rs, p0);
  Store(q, q0);
  Store(q + rs, q1);
}

// One pixel into lanes 0..2 (lane 3 zero).
DEBLOCK_INLINE __m128i LoadPixel(const YcPixel* p) {
  int32_t ycb;
  std::memcpy(&ycb, p, 4);
  return _mm_insert_epi16(_mm_cvtsi32_si128(ycb), p->cr, 2);
}

// Pixel a in lanes 0..2, pixel b in lanes 4..6.
DEBLOCK_INLINE __m128i LoadColumn(const YcPixel* a, const YcPixel* b) {
  return _mm_unpacklo_epi64(LoadPixel(a), LoadPixel(b));
}

DEBLOCK_INLINE __m128i Load16(const YcPixel* p, int byte) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(reinterpret_cast<const char*>(p) + byte));
}

DEBLOCK_INLINE void Store16(YcPixel* p, int byte, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(reinterpret_cast<char*>(p) + byte), v);
}

// Columns x .. x+3 of rows a and b in the layout of LoadColumn, from bytes 0..15 and 8..23 of the
// four pixels of each row; lanes 3 and 7 hold whatever followed the pixel.
DEBLOCK_INLINE void LoadColumns(const YcPixel* a, const YcPixel* b, __m128i& c0, __m128i& c1, __m128i& c2,
                                __m128i& c3) {
  const __m128i la = Load16(a, 0), ha = Load16(a, 8), lb = Load16(b, 0), hb = Load16(b, 8);
  c0 = _mm_unpacklo_epi64(la, lb);
  c1 = _mm_unpacklo_epi64(_mm_srli_si128(la, 6), _mm_srli_si128(lb, 6));
  c2 = _mm_unpacklo_epi64(_mm_srli_si128(ha, 4), _mm_srli_si128(hb, 4));
  c3 = _mm_unpacklo_epi64(_mm_srli_si128(ha, 10), _mm_srli_si128(hb, 10));
}

// Two pixels in qword slots to 12 contiguous bytes, zeros above.
DEBLOCK_INLINE __m128i PackPair(__m128i v) {
  const __m128i first = _mm_set_epi32(0, 0, 0xFFFF, -1), second = _mm_set_epi32(0xFFFF, -1, 0, 0);
  return _mm_or_si128(_mm_and_si128(v, first), _mm_srli_si128(_mm_and_si128(v, second), 2));
}

// Four pixels (slots of px01, px23) to 24 bytes at p: bytes 0..15, then 8..23 (the same values
// again in 8..15).
DEBLOCK_INLINE void StoreRow(YcPixel* p, __m128i px01, __m128i px23) {
  const __m128i a = PackPair(px01), b = PackPair(px23);
  Store16(p, 0, _mm_or_si128(a, _mm_slli_si128(b, 12)));
  Store16(p, 8, _mm_or_si128(_mm_srli_si128(a, 8), _mm_slli_si128(b, 4)));
}

DEBLOCK_INLINE void StoreColumns(YcPixel* a, YcPixel* b, __m128i c0, __m128i c1, __m128i c2, __m128i c3) {
  StoreRow(a, _mm_unpacklo_epi64(c0, c1), _mm_unpacklo_epi64(c2, c3));
  StoreRow(b, _mm_unpackhi_epi64(c0, c1), _mm_unpackhi_epi64(c2, c3));
}

// The six columns of an edge in two pixel rows.
struct Window {
  __m128i p2, p1, p0, q0, q1, q2;
};

DEBLOCK_INLINE void FirstWindow(const YcPixel* a, const YcPixel* b, Window& w) {
  // Columns x-3, x-2 one pixel at a time: loading four there would read columns before x-3.
  w.p2 = LoadColumn(a - 3, b - 3);
  w.p1 = LoadColumn(a - 2, b - 2);
  LoadColumns(a - 1, b - 1, w.p0, w.q0, w.q1, w.q2);
}

// An edge at x reads columns x-3 .. x+2 and writes x-2 .. x+1; the next one at x+4 takes x+1
// (as just filtered) and x+2 over and loads x+3 .. x+6.
DEBLOCK_INLINE void NextWindow(const YcPixel* a, const YcPixel* b, Window& w) {
  w.p2 = w.q1;
  w.p1 = w.q2;
  LoadColumns(a - 1, b - 1, w.p0, w.q0, w.q1, w.q2);
}

DEBLOCK_INLINE void FilterWindow(YcPixel* a, YcPixel* b, Window& w, const Limits& t) {
  FilterLanes(w.p2, w.p1, w.p0, w.q0, w.q1, w.q2, t);
  StoreColumns(a - 2, b - 2, w.p1, w.p0, w.q0, w.q1);
}

// The vertical edges of rows a, b (one register) and c, d (another), left to right; a row given
// twice is filtered once. Each edge waits for the one before it in its row, so the two pairs are
// interleaved to keep the vector units busy.
void FilterRows(YcPixel* a, YcPixel* b, YcPixel* c, YcPixel* d, int edges, const Limits& t) {
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

}  // namespace

void FilterHorizontalEdges_SSE2(YcPixel* pix, ptrdiff_t stride, int count, int32_t alpha, int32_t beta,
                                int32_t tc0) {
  if (!VectorThresholds(alpha, beta, tc0)) return FilterHorizontalEdges_C(pix, stride, count, alpha, beta, tc0);
  const Limits t = {_mm_set1_epi16(static_cast<int16_t>(alpha)), _mm_set1_epi16(static_cast<int16_t>(beta)),
                    _mm_set1_epi16(static_cast<int16_t>(tc0))};
  // Rows y-3 .. y+2 of these columns are runs of 3 * count samples, every sample an edge line of
  // its own: the components need not be told apart.
  int16_t* q = &pix->y;
  const ptrdiff_t rs = 3 * stride;
  const int n = 3 * count;
  if (n % 8 == 0) {
    for (int i = 0; i < n; i += 8) FilterRun8(q + i, rs, t);
    return;
  }
  if (n > 8) {
    // The last 8 samples, filtered from the unfiltered rows and stored after the others: where
    // they overlap the last whole vector, both give the same values.
    int16_t* e = q + n - 8;
    __m128i p1 = Load(e - 2 * rs), p0 = Load(e - rs), q0 = Load(e), q1 = Load(e + rs);
    FilterLanes(Load(e - 3 * rs), p1, p0, q0, q1, Load(e + 2 * rs), t);
    for (int i = 0; i + 8 <= n; i += 8) FilterRun8(q + i, rs, t);
    Store(e - 2 * rs, p1);
    Store(e - rs, p0);
    Store(e, q0);
    Store(e + rs, q1);
    return;
  }
  // Fewer than 8 samples through a zeroed copy: nothing past the run is read or written.
  int16_t buf[6 * 8] = {};
  const size_t bytes = sizeof(int16_t) * static_cast<size_t>(n);
  for (int r = 0; r < 6; ++r) std::memcpy(buf + 8 * r, q + (r - 3) * rs, bytes);
  FilterRun8(buf + 3 * 8, 8, t);
  for (int r = 1; r < 5; ++r) std::memcpy(q + (r - 3) * rs, buf + 8 * r, bytes);
}

void FilterVerticalEdges_SSE2(YcPixel* pix, ptrdiff_t stride, int edges, int rows, int32_t alpha, int32_t beta,
                              int32_t tc0) {
  if (!VectorThresholds(alpha, beta, tc0)) return FilterVerticalEdges_C(pix, stride, edges, rows, alpha, beta, tc0);
  if (edges <= 0) return;
  const Limits t = {_mm_set1_epi16(static_cast<int16_t>(alpha)), _mm_set1_epi16(static_cast<int16_t>(beta)),
                    _mm_set1_epi16(static_cast<int16_t>(tc0))};
  if (rows <= 0) return;
  // Missing rows repeat the last one: the same lines, the same results stored twice.
  YcPixel* r[4];
  for (int i = 0; i < 4; ++i) r[i] = pix + (i < rows ? i : rows - 1) * stride;
  FilterRows(r[0], r[1], r[2], r[3], edges, t);
}

#undef DEBLOCK_INLINE

}  // namespace deblock
