// The deblocking filter's kernels: runs of every length that reaches a vector tail, every number of
// rows, tiles whose runs start and end anywhere, in planes whose rows lie in any order (as in a ring
// of rows); thresholds at the table's corners, at the largest the vector lanes take and one past it;
// pictures of extremes, of lines that pass the thresholds, near both ends of int16, and random. At
// the scalar tier, where an edge may write (p2 and q2 never, p1 and q1 not with tc0 0, nothing with
// alpha or beta 0), and lines worked by hand.
#include <string>

#include "deblock/deblock_dsp.h"
#include "deblock/deblock_tables.h"
#include "tests/kernels/kernel_check.h"

namespace kcheck {
namespace {

using core::YcPixel;
using deblock::DeblockDsp;

struct Limits {
  int32_t alpha, beta, tc0;
};

// Table corners and in-between, the largest the vector lanes take and one past it (scalar path).
Limits PickLimits(int iter, Rng& rng) {
  switch (iter % 8) {
    case 0: return {0, 0, 0};
    case 1: return {16 * deblock::AlphaTable[60], 16 * deblock::BetaTable[60], 16 * deblock::Tc0Table[60]};
    case 2: return {4096, 4096, 4096};
    case 3: return {4097, 300, 4097};
    case 4: return {16 * 255, 0, 16 * 35};
    case 5: return {16 * deblock::AlphaTable[40], 16 * deblock::BetaTable[40], 0};
    default: {
      const int a = rng.Uniform(16, 60), b = rng.Uniform(16, 60);
      return {16 * deblock::AlphaTable[a], 16 * deblock::BetaTable[b], 16 * deblock::Tc0Table[a]};
    }
  }
}

std::string ShowLimits(const Limits& l) {
  return "alpha " + std::to_string(l.alpha) + " beta " + std::to_string(l.beta) + " tc0 " +
         std::to_string(l.tc0);
}

// Extreme pictures first (all min, all max, alternating, a spike), then lines that mostly pass the
// thresholds: around mid-range, near both ends of int16 (stores wrap), or with steps just at the
// thresholds; then any int16.
constexpr int kKinds = 9;
int16_t Sample(int kind, int x, int y, int c, const Limits& l, int32_t base, Rng& rng) {
  int32_t v;
  switch (kind) {
    case 0: v = -32768; break;
    case 1: v = 32767; break;
    case 2: v = (x + y + c) % 2 ? -32768 : 32767; break;
    case 3: v = (x == 5 && c == 0) ? 32767 : 0; break;
    case 4:
      v = base + rng.Uniform(-l.beta, l.beta) + (x % 4 == 0 ? rng.Uniform(-l.alpha, l.alpha) : 0);
      break;
    case 5: v = (c % 2 ? 32767 : -32768) + (c % 2 ? -1 : 1) * rng.Uniform(0, l.beta + 2 * l.tc0 + 8); break;
    case 6: {
      const int32_t steps[] = {l.alpha - 1, l.alpha, l.beta - 1, l.beta, 0, 1};
      v = base + (x + y) % 3 * steps[rng.Uniform(0, 5)] * (rng.Uniform(0, 1) ? 1 : -1);
      break;
    }
    default: v = rng.Uniform(-32768, 32767);
  }
  return static_cast<int16_t>(v);  // wraps, as a stored result may
}

// A w x h picture in a plane of rows `stride` pixels apart (the padding random); the input of both.
void Fill(Twin<YcPixel>& p, int w, int h, int stride, int kind, const Limits& l, Rng& rng) {
  const int32_t base = rng.Uniform(-32768, 32767);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p.in(static_cast<size_t>(y) * stride + x) = {Sample(kind, x, y, 0, l, base, rng),
                                                   Sample(kind, x, y, 1, l, base, rng),
                                                   Sample(kind, x, y, 2, l, base, rng)};
  p.Reset();
}

int KindOf(int iter, Rng& rng) { return iter < 4 * kKinds ? iter % kKinds : rng.Uniform(0, kKinds - 1); }

// For the timings: a 1920-pixel picture of 4 x 4 blocks, and thresholds that filter most edges.
std::vector<YcPixel> GridPicture(int h) {
  std::vector<YcPixel> plane(1920 * h);
  for (size_t i = 0; i < plane.size(); ++i)
    plane[i] = {static_cast<int16_t>(2000 + (i % 1920 / 4 * 37 + i / 1920 / 4 * 53) % 150 * 4), 0, 0};
  return plane;
}
constexpr Limits kBenchLimits{16 * deblock::AlphaTable[40], 16 * deblock::BetaTable[40],
                              16 * deblock::Tc0Table[40]};

// At the scalar tier: "" when the edge kept to what it may write, inside(x, y) (p1 p0 q0 q1 of its
// lines; with tc0 0, p0 and q0; with alpha or beta 0, nothing); `changed` counts calls that changed
// something.
std::string Footprint(Checker& c, Twin<YcPixel>& p, int stride, const Limits& l, int* changed,
                      const std::function<bool(int x, int y, bool outer)>& inside) {
  if (!c.scalar()) return "";
  const bool none = l.alpha <= 0 || l.beta <= 0;
  const ptrdiff_t at = p.ChangedOutside([&](size_t i) {
    return !none && inside(static_cast<int>(i % stride), static_cast<int>(i / stride), l.tc0 != 0);
  });
  *changed += p.ChangedOutside([](size_t) { return false; }) >= 0;
  return at < 0 ? ""
                : "the scalar slot wrote at (" + std::to_string(at % stride) + ", " +
                      std::to_string(at / stride) + ")";
}

// Rows y-3 .. y+2 exactly, columns from 0 or 1 to the run's end: 0 to 44 columns reach every tail of
// 8, 16 and 32 samples (3 per column); the rows above the edge after the others in memory half the
// time, as in a ring of rows.
void CheckHorizontal(Checker& c, const DeblockDsp& ref, const DeblockDsp& tst) {
  if (!c.Slot("FilterHorizontalEdges", reinterpret_cast<const void*>(ref.FilterHorizontalEdges),
              reinterpret_cast<const void*>(tst.FilterHorizontalEdges)))
    return;
  Rng& rng = c.rng();
  int changed = 0;
  for (int iter = 0; iter < 1500; ++iter) {
    const int count = iter % 45, x0 = iter / 45 % 2;
    const int w = x0 + count > 0 ? x0 + count : 1, h = 6;
    const int stride = w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 5));
    const Limits l = PickLimits(iter / 3, rng);
    const int kind = KindOf(iter, rng);
    Twin<YcPixel> p(rng, static_cast<size_t>(stride) * h, iter % 3 == 0 ? -1 : iter % 3 == 1 ? 0 : 2);
    Fill(p, w, h, stride, kind, l, rng);
    const int q = iter % 4 < 2 ? 3 : 0, above = 3 - q;  // first rows of the two sides
    ref.FilterHorizontalEdges(p.ref() + q * stride + x0, p.ref() + above * stride + x0, stride, count,
                              l.alpha, l.beta, l.tc0);
    tst.FilterHorizontalEdges(p.tst() + q * stride + x0, p.tst() + above * stride + x0, stride, count,
                              l.alpha, l.beta, l.tc0);
    const std::string diff =
        p.Diff(stride) + Footprint(c, p, stride, l, &changed, [&](int x, int y, bool outer) {
          const bool p1p0 = y == above + 2 || (outer && y == above + 1),
                     q0q1 = y == q || (outer && y == q + 1);
          return x >= x0 && x < x0 + count && (p1p0 || q0q1);
        });
    if (!c.Expect("FilterHorizontalEdges", diff,
                  "iter " + std::to_string(iter) + ", " + std::to_string(count) + " columns from " +
                      std::to_string(x0) + ", kind " + std::to_string(kind) + ", " + ShowLimits(l)))
      return;
  }
  if (c.scalar()) c.Expect("FilterHorizontalEdges", changed > 100 ? "" : "too few runs filtered", "the runs");
  std::vector<YcPixel> plane = GridPicture(6);
  const Limits& l = kBenchLimits;
  YcPixel* row = plane.data() + 3 * 1920 + 4;
  c.Bench(
      "FilterHorizontalEdges (1916 columns)", 4,
      [&] { ref.FilterHorizontalEdges(row, row - 3 * 1920, 1920, 1916, l.alpha, l.beta, l.tc0); },
      [&] { tst.FilterHorizontalEdges(row, row - 3 * 1920, 1920, 1916, l.alpha, l.beta, l.tc0); });
}

// Columns x-3 .. x+4 (edges-1)+2 exactly, four picture rows of which the kernel filters 0..4.
void CheckVertical(Checker& c, const DeblockDsp& ref, const DeblockDsp& tst) {
  if (!c.Slot("FilterVerticalEdges", reinterpret_cast<const void*>(ref.FilterVerticalEdges),
              reinterpret_cast<const void*>(tst.FilterVerticalEdges)))
    return;
  Rng& rng = c.rng();
  int changed = 0;
  for (int iter = 0; iter < 1500; ++iter) {
    const int edges = 1 + iter % 7, rows = iter / 7 % 5;
    const int w = 4 * (edges - 1) + 6, h = 4;
    const int stride = w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 5));
    const Limits l = PickLimits(iter / 5, rng);
    const int kind = KindOf(iter, rng);
    Twin<YcPixel> p(rng, static_cast<size_t>(stride) * h, iter % 2 ? 0 : -1);
    Fill(p, w, h, stride, kind, l, rng);
    ref.FilterVerticalEdges(p.ref() + 3, stride, edges, rows, l.alpha, l.beta, l.tc0);
    tst.FilterVerticalEdges(p.tst() + 3, stride, edges, rows, l.alpha, l.beta, l.tc0);
    const std::string diff =
        p.Diff(stride) + Footprint(c, p, stride, l, &changed, [&](int x, int y, bool outer) {
          return y < rows && x >= 1 && x <= w - 2 && (outer || x % 4 == 2 || x % 4 == 3);
        });
    if (!c.Expect("FilterVerticalEdges", diff,
                  "iter " + std::to_string(iter) + ", " + std::to_string(edges) + " edges on " +
                      std::to_string(rows) + " rows, kind " + std::to_string(kind) + ", " + ShowLimits(l)))
      return;
  }
  if (c.scalar()) c.Expect("FilterVerticalEdges", changed > 100 ? "" : "too few runs filtered", "the runs");
  // Single lines, one component at a time, through thresholds 0 .. max: the sign and wrap cases of
  // each step of the arithmetic.
  const int16_t corners[] = {-32768, -32767, -32766, -2, -1, 0, 1, 2, 32765, 32766, 32767};
  Twin<YcPixel> p(rng, 6);
  changed = 0;
  for (int iter = 0; iter < 20000; ++iter) {
    const Limits l = PickLimits(iter, rng);
    const int16_t q0 =
        iter % 2 ? corners[rng.Uniform(0, 10)] : static_cast<int16_t>(rng.Uniform(-32768, 32767));
    for (int x = 0; x < 6; ++x) {
      const int32_t spread = rng.Uniform(0, 2) == 0 ? l.alpha : l.beta;
      YcPixel& v = p.in(x);
      v = {static_cast<int16_t>(x), static_cast<int16_t>(-x), static_cast<int16_t>(7 * x)};
      (iter % 3 == 0   ? v.y
       : iter % 3 == 1 ? v.cb
                       : v.cr) = static_cast<int16_t>(q0 + rng.Uniform(-spread, spread));
    }
    p.Reset();
    ref.FilterVerticalEdges(p.ref() + 3, 6, 1, 1, l.alpha, l.beta, l.tc0);
    tst.FilterVerticalEdges(p.tst() + 3, 6, 1, 1, l.alpha, l.beta, l.tc0);
    changed += p.ChangedOutside([](size_t) { return false; }) >= 0;
    if (!c.Expect("FilterVerticalEdges", p.Diff(),
                  "single line " + std::to_string(iter) + ", " + ShowLimits(l)))
      return;
  }
  if (c.scalar())
    c.Expect("FilterVerticalEdges", changed > 2000 ? "" : "too few lines filtered", "the lines");
  std::vector<YcPixel> plane = GridPicture(4);
  const Limits& l = kBenchLimits;
  c.Bench(
      "FilterVerticalEdges (479 edges, 4 rows)", 4,
      [&] { ref.FilterVerticalEdges(plane.data() + 4, 1920, 479, 4, l.alpha, l.beta, l.tc0); },
      [&] { tst.FilterVerticalEdges(plane.data() + 4, 1920, 479, 4, l.alpha, l.beta, l.tc0); });
}

// A tile of the tier's shape (two or four grid rows), against the scalar run kernels in that shape,
// over runs that start at the picture's left edge, inside it, or past its right edge, end before it,
// inside it, or never: the rows' common part in whole and partial steps and the parts each row does
// alone, at widths around the full grid points and the steps. The tile's groups of rows (the three
// above it, then four for each grid row) lie in as many slots of four rows, in turn from any slot on.
void CheckTile(Checker& c, const DeblockDsp& ref, const DeblockDsp& tst, const char* slot = "FilterTile") {
  if (!c.Slot(slot, reinterpret_cast<const void*>(ref.FilterTile),
              reinterpret_cast<const void*>(tst.FilterTile)))
    return;
  const deblock::TileShape shape = tst.tile;
  if (shape.rows < 1 || shape.rows > deblock::kMaxTileRows || shape.shift < 4 || shape.shift % 4 != 0) {
    c.Expect(slot, "no tile shape: " + std::to_string(shape.rows) + " rows", "the table");
    return;
  }
  const int slots = shape.rows + 1;
  auto groups = [&](YcPixel* plane, int stride, int turn, YcPixel** g) {
    for (int i = 0; i < slots; ++i) g[i] = plane + (4 * ((i + turn) % slots) + (i == 0 ? 1 : 0)) * stride;
  };
  auto reference = [&](YcPixel* const* g, int stride, int w, int x_begin, int x_end, const Limits& l) {
    deblock::FilterTileShaped_C(shape, g, stride, w, x_begin, x_end, l.alpha, l.beta, l.tc0);
  };
  Rng& rng = c.rng();
  for (int iter = 0; iter < 600; ++iter) {
    const int w = iter % 4 == 0   ? rng.Uniform(1, 48)
                  : iter % 4 == 3 ? rng.Uniform(600, 700)
                                  : rng.Uniform(48, 160);
    const int h = 4 * slots, turn = iter % 2 == 0 ? 0 : rng.Uniform(1, slots - 1);
    const int stride = w + (iter % 3 == 0 ? 0 : rng.Uniform(1, 5));
    const int x_begin = iter % 3 == 0 ? 4 : 4 * rng.Uniform(1, (w + 60) / 4);
    const int x_end = iter % 5 == 0 ? 1 << 20 : x_begin + 4 * rng.Uniform(0, 70);
    const Limits l = PickLimits(iter / 2, rng);
    const int kind = KindOf(iter, rng);
    Twin<YcPixel> p(rng, static_cast<size_t>(stride) * h, iter % 2 ? 0 : -1);
    Fill(p, w, h, stride, kind, l, rng);
    YcPixel *gr[deblock::kMaxTileRows + 1], *gt[deblock::kMaxTileRows + 1];
    groups(p.ref(), stride, turn, gr);
    groups(p.tst(), stride, turn, gt);
    reference(gr, stride, w, x_begin, x_end, l);
    tst.FilterTile(gt, stride, w, x_begin, x_end, l.alpha, l.beta, l.tc0);
    if (!c.Expect(slot, p.Diff(stride),
                  std::to_string(w) + " wide, turned by " + std::to_string(turn) + ", run " +
                      std::to_string(x_begin) + ".." + std::to_string(x_end) + ", kind " +
                      std::to_string(kind) + ", " + ShowLimits(l)))
      return;
  }
  // Sixteen rows of tiles below three: one tile of four grid rows, or two of two.
  std::vector<YcPixel> plane = GridPicture(19);
  const Limits& l = kBenchLimits;
  auto tiles = [&](const std::function<void(YcPixel* const*)>& tile) {
    for (int y = 3; y + 4 * shape.rows <= 19; y += 4 * shape.rows) {
      YcPixel* g[deblock::kMaxTileRows + 1] = {plane.data() + (y - 3) * 1920};
      for (int k = 0; k < shape.rows; ++k) g[k + 1] = plane.data() + (y + 4 * k) * 1920;
      tile(g);
    }
  };
  c.Bench(
      std::string(slot) + " (1920 x 16 pixels)", 4,
      [&] { tiles([&](YcPixel* const* g) { reference(g, 1920, 1920, 4, 1920, l); }); },
      [&] {
        tiles([&](YcPixel* const* g) { tst.FilterTile(g, 1920, 1920, 4, 1920, l.alpha, l.beta, l.tc0); });
      });
}

// Lines worked by hand: p2 p1 p0 q0 q1 q2 before, at alpha, beta, tc0, and after.
struct WorkedLine {
  int16_t in[6];
  Limits l;
  int16_t out[6];
};
constexpr WorkedLine kWorked[] = {
    {{600, 610, 620, 700, 705, 712}, {208, 64, 16}, {600, 626, 638, 682, 689, 712}},
    {{600, 610, 620, 700, 705, 800}, {208, 64, 16}, {600, 626, 637, 683, 705, 800}},
    {{500, 500, 500, 490, 490, 490}, {208, 64, 16}, {500, 497, 496, 494, 492, 490}},
    // alpha is a strict bound: |p0 - q0| = 80.
    {{600, 610, 620, 700, 705, 712}, {80, 64, 16}, {600, 610, 620, 700, 705, 712}},
    {{600, 610, 620, 700, 705, 712}, {81, 64, 16}, {600, 626, 638, 682, 689, 712}},
    // beta bounds the tests (|p1 - p0| = 10) and the side terms (ap 20, aq 12).
    {{600, 610, 620, 700, 705, 712}, {208, 10, 16}, {600, 610, 620, 700, 705, 712}},
    {{600, 610, 620, 700, 705, 712}, {208, 11, 16}, {600, 610, 636, 684, 705, 712}},
    {{600, 610, 620, 700, 705, 712}, {208, 20, 16}, {600, 610, 637, 683, 689, 712}},
    // tc0 0 keeps p1 and q1; with ap and aq both at least beta, tc is 0 and nothing moves.
    {{600, 610, 620, 700, 705, 712}, {208, 64, 0}, {600, 610, 622, 698, 705, 712}},
    {{500, 610, 620, 700, 705, 900}, {208, 64, 0}, {500, 610, 620, 700, 705, 900}},
    // Negative samples shift arithmetically.
    {{-300, -290, -280, -200, -195, -188}, {208, 64, 16}, {-300, -274, -262, -218, -211, -188}},
    // Stored results wrap and m takes the stored values: delta -1, p0 32766, q0 32768 stored as
    // -32768, m = (32766 - 32768 + 1) >> 1 = -1 (not 32767); the p1 and q1 terms clip to -16.
    {{32767, 32757, 32767, 32767, 32767, 32767}, {208, 64, 16}, {32767, 32741, 32766, -32768, 32751, 32767}},
};

// At the scalar tier: each worked line at each of the four positions of an edge and in each
// component, through both directions' kernels, every other line one that no threshold lets through
// (|p0 - q0| = 5000): that line comes out as worked, and nothing else changes.
void CheckWorkedLines(Checker& c, const DeblockDsp& ref) {
  if (!c.scalar()) return;
  const int16_t blocked[6] = {0, 0, 0, 5000, 5000, 5000};
  for (const WorkedLine& line : kWorked)
    for (const bool horizontal : {true, false})
      for (int at = 0; at < 12; ++at) {
        // Sample s of the line of position i and component k: in a 4 x 6 plane across a horizontal
        // edge, or a 6 x 4 one across a vertical edge.
        YcPixel plane[24], want[24];
        auto sample = [&](YcPixel* p, int i, int s, int k) -> int16_t& {
          YcPixel& px = horizontal ? p[4 * s + i] : p[6 * i + s];
          return k == 0 ? px.y : k == 1 ? px.cb : px.cr;
        };
        for (int i = 0; i < 4; ++i)
          for (int k = 0; k < 3; ++k)
            for (int s = 0; s < 6; ++s) {
              sample(plane, i, s, k) = (i * 3 + k == at ? line.in : blocked)[s];
              sample(want, i, s, k) = (i * 3 + k == at ? line.out : blocked)[s];
            }
        if (horizontal)
          ref.FilterHorizontalEdges(plane + 12, plane, 4, 4, line.l.alpha, line.l.beta, line.l.tc0);
        else ref.FilterVerticalEdges(plane + 3, 6, 1, 4, line.l.alpha, line.l.beta, line.l.tc0);
        if (std::memcmp(plane, want, sizeof plane) == 0) continue;
        std::string got;
        for (int s = 0; s < 6; ++s) got += " " + std::to_string(sample(plane, at / 3, s, at % 3));
        c.Expect(horizontal ? "FilterHorizontalEdges" : "FilterVerticalEdges",
                 "the line comes out as" + got + ", or another line changed",
                 "worked line " + std::to_string(&line - kWorked) + " at position " + std::to_string(at / 3) +
                     ", component " + std::to_string(at % 3));
        return;
      }
}

}  // namespace

void CheckDeblock(Checker& c, core::CpuFlags flags) {
  const DeblockDsp& ref = deblock::DeblockDspFor(0);
  const DeblockDsp& tst = deblock::DeblockDspFor(flags);
  if (c.scalar()) c.Expect("DeblockDspFor", CheckTableChoice(deblock::DeblockDspFor), "the choice of tables");
  CheckWorkedLines(c, ref);
  CheckHorizontal(c, ref, tst);
  CheckVertical(c, ref, tst);
  CheckTile(c, ref, tst);
  // At the AVX-512 tier, the tiles of its 32-bit build too, which this build can run.
  DeblockDsp narrow;
  if (flags == (core::kCpuSse2 | core::kCpuAvx2 | core::kCpuAvx512) &&
      deblock::InitDeblockDspNarrow(narrow, flags) && narrow.FilterTile != tst.FilterTile)
    CheckTile(c, ref, narrow, "FilterTile of 32-bit code");
}

}  // namespace kcheck
