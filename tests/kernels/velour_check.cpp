// The smoothing filter's kernels: blocks of extreme and random samples at the edges of the vector
// kernels' exact path, step tables the filter makes and random ones (and steps the vector kernels
// hand back to the scalar ones), every tail of the rows, sums in their whole range, accumulator
// lines aligned to 2 bytes only. At the scalar tier, the step reciprocals of the vector kernels.
#include <string>

#include "tests/kernels/kernel_check.h"
#include "velour/velour.h"
#include "velour/velour_dsp.h"

namespace kcheck {
namespace {

using velour::AccSample;
using velour::VelourDsp;

constexpr int16_t kMin = -32768, kMax = 32767;

// Blocks of samples: the first kinds extreme (all min, all max, alternating, one spike, byte-range
// edges, the edges of the vector kernels' exact path), then random over the whole 16-bit range, over
// 8-bit luma, or across those edges.
constexpr int kExtremeBlocks = 13;
void FillBlock(int16_t* b, int kind, Rng& rng) {
  for (int k = 0; k < 64; ++k) {
    const int i = k / 8, j = k % 8;
    int v;
    switch (kind) {
      case 0: v = kMin; break;
      case 1: v = kMax; break;
      case 2: v = (i + j) % 2 ? kMin : kMax; break;
      case 3: v = k == 27 ? kMax : kMin; break;
      case 4: v = k == 0 ? kMin : 0; break;
      case 5: v = (i * 8 + j) % 3 ? 255 : -256; break;
      case 6: v = j < 4 ? 255 : -256; break;
      case 7: v = k == 63 ? 256 : 255; break;  // full white
      case 8: v = i % 2 ? -2048 : 2047; break;
      // At the bound of the vector kernels' exact path: a Walsh pattern that makes one coefficient as
      // large as it gets there, the same with the signs of a few samples turned, and one sample past it.
      case 9: v = (__builtin_popcount((i & 5) | (j & 3) << 3) % 2) ? -384 : 384; break;
      case 10: v = ((__builtin_popcount((i & 6) | (j & 5) << 3) + (k % 13 == 0)) % 2) ? -384 : 384; break;
      case 11: v = k == 36 ? -385 : 384; break;
      case 12: v = 512; break;  // 64 of them leave 16 bits: the saturating path
      default:
        v = kind % 3 == 0   ? rng.Uniform(kMin, kMax)
            : kind % 3 == 1 ? rng.Uniform(0, 255)
                            : rng.Uniform(-400, 400);
    }
    b[k] = static_cast<int16_t>(v);
  }
}

// A step table the filter can make (matrix x quant), or random steps in 8..255; now and then one
// step of 2, which the vector kernels hand to the scalar ones.
void FillSteps(int16_t* steps, int iter, Rng& rng) {
  if (iter % 2 == 0) {
    velour::LoadStepTable(steps, iter / 2 % 5);
    velour::ScaleStepTable(steps, rng.Uniform(1, 31));
  } else {
    for (int k = 0; k < 64; ++k) steps[k] = static_cast<int16_t>(rng.Uniform(8, 255));
  }
  if (iter % 11 == 5) steps[rng.Uniform(1, 63)] = 2;
}

AccSample* Acc(int32_t* p) { return reinterpret_cast<AccSample*>(p); }

// Rows of `count` blocks, rows row_begin .. row_end - 1 added into 32-bit sums and into 16-bit
// partial sums. The luma ends against the inaccessible page, the sums' lines lie a pitch apart that
// puts every other one on a 2-byte boundary, and everything between lines must stay.
void CheckBlockRows(Checker& c, const VelourDsp& ref, const VelourDsp& tst) {
  const bool narrow = c.Slot("FilterBlockRow", reinterpret_cast<const void*>(ref.FilterBlockRow),
                             reinterpret_cast<const void*>(tst.FilterBlockRow));
  const bool wide = c.Slot("FilterBlockRowWide", reinterpret_cast<const void*>(ref.FilterBlockRowWide),
                           reinterpret_cast<const void*>(tst.FilterBlockRowWide));
  if (!narrow && !wide) return;
  Rng& rng = c.rng();
  for (int iter = 0; iter < 600; ++iter) {
    const int count = 1 + iter % 9, width = 8 * count;
    const int row_begin = iter % 5 == 1 ? rng.Uniform(0, 7) : 0;
    const int row_end = iter % 5 == 2 ? rng.Uniform(row_begin + 1, 8) : 8;
    const int luma_pitch = width + rng.Uniform(0, 5);  // in samples
    Twin<int16_t> luma(rng, 7 * luma_pitch + width);
    const int kind = iter < 5 * kExtremeBlocks ? iter % kExtremeBlocks : kExtremeBlocks + iter % 3;
    for (int b = 0; b < count; ++b) {
      int16_t block[64];
      FillBlock(block, iter % 4 == 3 ? kExtremeBlocks + b % 3 : kind, rng);  // rows of blocks of both paths
      for (int k = 0; k < 64; ++k) luma.ref()[k / 8 * luma_pitch + 8 * b + k % 8] = block[k];
    }
    int16_t steps[64];
    FillSteps(steps, iter, rng);
    const std::string where = "iter " + std::to_string(iter) + ", " + std::to_string(count) +
                              " blocks, rows " + std::to_string(row_begin) + ".." + std::to_string(row_end);
    if (wide) {
      // Sums anywhere in their range; the pitch in 16-bit units, 2 modulo 4 bytes on odd iterations.
      const int pitch = 2 * (width + 1) + iter % 2;
      Twin<int16_t> sums(rng, 7 * pitch + 2 * width, iter % 4 < 2 ? -1 : 2);
      for (int i = 0; i < 8; ++i)
        for (int x = 0; x < width; ++x) {
          const int32_t v = rng.Uniform(-(1 << 20), 1 << 20);
          std::memcpy(&sums.in(i * pitch + 2 * x), &v, 4);
        }
      sums.Reset();
      ref.FilterBlockRowWide(luma.ref(), 2 * luma_pitch, Acc(reinterpret_cast<int32_t*>(sums.ref())),
                             2 * pitch, count, row_begin, row_end, steps);
      tst.FilterBlockRowWide(luma.ref(), 2 * luma_pitch, Acc(reinterpret_cast<int32_t*>(sums.tst())),
                             2 * pitch, count, row_begin, row_end, steps);
      if (!c.Expect("FilterBlockRowWide", sums.Diff(pitch), where)) return;
    }
    if (narrow) {
      const int pitch = width + 1 + rng.Uniform(0, 3);
      Twin<int16_t> partial(rng, 7 * pitch + width, iter % 3 == 0 ? -1 : 2);
      ref.FilterBlockRow(luma.ref(), 2 * luma_pitch, partial.ref(), 2 * pitch, count, row_begin, row_end,
                         steps);
      tst.FilterBlockRow(luma.ref(), 2 * luma_pitch, partial.tst(), 2 * pitch, count, row_begin, row_end,
                         steps);
      if (!c.Expect("FilterBlockRow", partial.Diff(pitch), where)) return;
    }
  }
  // One 1920-pixel row of blocks at the default steps.
  std::vector<int16_t> luma(9 * 1920), partial(9 * 1920);
  std::vector<int32_t> acc(9 * 1920);
  for (auto& v : luma) v = static_cast<int16_t>(rng.Uniform(0, 255));
  int16_t steps[64];
  velour::LoadStepTable(steps, 3);
  velour::ScaleStepTable(steps, 1);
  const int blocks = 239;
  if (narrow)
    c.Bench(
        "FilterBlockRow (239 blocks)", 4,
        [&] {
          ref.FilterBlockRow(luma.data() + 3, 2 * 1920, partial.data() + 3, 2 * 1920, blocks, 0, 8, steps);
        },
        [&] {
          tst.FilterBlockRow(luma.data() + 3, 2 * 1920, partial.data() + 3, 2 * 1920, blocks, 0, 8, steps);
        });
  if (wide)
    c.Bench(
        "FilterBlockRowWide (239 blocks)", 4,
        [&] {
          ref.FilterBlockRowWide(luma.data() + 3, 2 * 1920, Acc(acc.data() + 3), 4 * 1920, blocks, 0, 8,
                                 steps);
        },
        [&] {
          tst.FilterBlockRowWide(luma.data() + 3, 2 * 1920, Acc(acc.data() + 3), 4 * 1920, blocks, 0, 8,
                                 steps);
        });
}

// The row kernels at every width up to 70 (every tail of every tier), alternating extremes first,
// the lines of sums 2 bytes off a 4-byte boundary on odd widths.
void CheckRows(Checker& c, const VelourDsp& ref, const VelourDsp& tst) {
  auto slot = [&](const char* name, auto r, auto t) {
    return c.Slot(name, reinterpret_cast<const void*>(r), reinterpret_cast<const void*>(t));
  };
  const bool luma = slot("LumaRow", ref.LumaRow, tst.LumaRow),
             seed = slot("SeedRow", ref.SeedRow, tst.SeedRow), add = slot("AddRow", ref.AddRow, tst.AddRow),
             add_wide = slot("AddRowWide", ref.AddRowWide, tst.AddRowWide),
             fold = slot("FoldRow", ref.FoldRow, tst.FoldRow),
             average = slot("AverageRow", ref.AverageRow, tst.AverageRow);
  Rng& rng = c.rng();
  for (int n = 0; n <= 70; ++n) {
    for (int rep = 0; rep < 4; ++rep) {
      const std::string where = "width " + std::to_string(n) + ", rep " + std::to_string(rep);
      // Lines of sums at 4-byte boundaries or 2 bytes off them, partial sums at 8 or 6 modulo 8.
      Twin<int16_t> pixels(rng, 3 * n), in(rng, n), acc(rng, 2 * n, n % 2 ? 2 : -1),
          partial(rng, n, n % 2 ? -1 : 6);
      for (int x = 0; x < n; ++x) in.in(x) = static_cast<int16_t>(rng.Uniform(-2048, 2047));
      for (int i = 0; i < 3 * n && rep == 0; ++i) pixels.in(i) = i % 2 ? kMin : kMax;
      in.Reset(), pixels.Reset();
      if (luma) {
        Twin<int16_t> out(rng, n, n % 2 ? 2 : -1);
        ref.LumaRow(pixels.ref(), out.ref(), n);
        tst.LumaRow(pixels.ref(), out.tst(), n);
        if (!c.Expect("LumaRow", out.Diff(), where)) return;
      }
      int32_t* const acc_ref = reinterpret_cast<int32_t*>(acc.ref());
      int32_t* const acc_tst = reinterpret_cast<int32_t*>(acc.tst());
      if (seed) {
        const int32_t weight = rep == 0 ? 64 : rng.Uniform(0, 64);
        ref.SeedRow(in.ref(), Acc(acc_ref), n, weight);
        tst.SeedRow(in.ref(), Acc(acc_tst), n, weight);
        if (!c.Expect("SeedRow", acc.Diff(), where + ", weight " + std::to_string(weight))) return;
      }
      // Sums of up to 128 contributions of [-4096, 4095] lie within 2^19, and these stay there.
      for (int x = 0; x < n; ++x) {
        const int32_t v = rng.Uniform(-450000, 450000);
        std::memcpy(acc_ref + x, &v, 4), std::memcpy(acc_tst + x, &v, 4);
      }
      if (add_wide) {
        ref.AddRowWide(in.ref(), Acc(acc_ref), n);
        tst.AddRowWide(in.ref(), Acc(acc_tst), n);
        if (!c.Expect("AddRowWide", acc.Diff(), where)) return;
      }
      if (add) {
        ref.AddRow(in.ref(), partial.ref(), n);
        tst.AddRow(in.ref(), partial.tst(), n);
        if (!c.Expect("AddRow", partial.Diff(), where)) return;
      }
      if (fold) {
        ref.FoldRow(partial.ref(), Acc(acc_ref), n);
        tst.FoldRow(partial.tst(), Acc(acc_tst), n);
        std::string diff = acc.Diff() + partial.Diff();
        for (int x = 0; x < n && c.scalar(); ++x)
          if (partial.ref()[x] != 0) diff = "the partial sums are not cleared";
        if (!c.Expect("FoldRow", diff, where)) return;
      }
      if (average) {
        // The luma of the pixels and nothing else; every weight a frame can have, 1 .. 64 + 64.
        const int32_t weight = rng.Uniform(1, 128);
        ref.AverageRow(Acc(acc_ref), pixels.ref(), n, weight);
        tst.AverageRow(Acc(acc_ref), pixels.tst(), n, weight);
        std::string diff = pixels.Diff(3);
        if (c.scalar() && pixels.ChangedOutside([](size_t i) { return i % 3 == 0; }) >= 0)
          diff = "a colour sample changed";
        if (!c.Expect("AverageRow", diff, where + ", weight " + std::to_string(weight))) return;
      }
    }
  }
  if (!average) return;
  // Every sum near zero and near the ends of the range a frame reaches (|sum| <= 2^19), a sweep with
  // an odd step between, with every weight.
  std::vector<int32_t> sums;
  for (int32_t v = -70000; v <= 70000; ++v) sums.push_back(v);
  for (int32_t v = -(1 << 19); v <= (1 << 19); v += 97) sums.push_back(v);
  for (int32_t v = (1 << 19) - 3000; v <= (1 << 19); ++v) sums.push_back(v), sums.push_back(-v);
  const int n = static_cast<int>(sums.size());
  std::vector<int16_t> want(3 * sums.size()), got(3 * sums.size());
  for (int32_t weight = 1; weight <= 128; ++weight) {
    ref.AverageRow(Acc(sums.data()), want.data(), n, weight);
    tst.AverageRow(Acc(sums.data()), got.data(), n, weight);
    if (!c.Expect("AverageRow", DiffValues(want.data(), got.data(), want.size(), 3),
                  "the sweep of sums, weight " + std::to_string(weight)))
      return;
  }
}

void BenchRows(Checker& c, const VelourDsp& ref, const VelourDsp& tst) {
  const int w = 1920;
  std::vector<int16_t> luma(w), partial(w), pixels(3 * w);
  std::vector<int32_t> acc(w);
  Rng& rng = c.rng();
  for (auto& v : luma) v = static_cast<int16_t>(rng.Uniform(-2048, 2047));
  for (auto& v : pixels) v = static_cast<int16_t>(rng.Uniform(0, 4095));
  const struct {
    const char* name;
    const void *ref, *tst;
    std::function<void(const VelourDsp&)> call;
  } rows[] = {
      {"LumaRow", reinterpret_cast<const void*>(ref.LumaRow), reinterpret_cast<const void*>(tst.LumaRow),
       [&](const VelourDsp& d) {
         d.LumaRow(pixels.data(), luma.data(), w);
       }},
      {"SeedRow", reinterpret_cast<const void*>(ref.SeedRow), reinterpret_cast<const void*>(tst.SeedRow),
       [&](const VelourDsp& d) {
         d.SeedRow(luma.data(), Acc(acc.data()), w, 9);
       }},
      {"AddRow", reinterpret_cast<const void*>(ref.AddRow), reinterpret_cast<const void*>(tst.AddRow),
       [&](const VelourDsp& d) {
         d.AddRow(luma.data(), partial.data(), w);
       }},
      {"AddRowWide", reinterpret_cast<const void*>(ref.AddRowWide),
       reinterpret_cast<const void*>(tst.AddRowWide),
       [&](const VelourDsp& d) {
         d.AddRowWide(luma.data(), Acc(acc.data()), w);
       }},
      {"FoldRow", reinterpret_cast<const void*>(ref.FoldRow), reinterpret_cast<const void*>(tst.FoldRow),
       [&](const VelourDsp& d) {
         d.FoldRow(partial.data(), Acc(acc.data()), w);
       }},
      {"AverageRow", reinterpret_cast<const void*>(ref.AverageRow),
       reinterpret_cast<const void*>(tst.AverageRow),
       [&](const VelourDsp& d) {
         d.AverageRow(Acc(acc.data()), pixels.data(), w, 9);
       }},
  };
  for (const auto& r : rows)
    if (c.scalar() || r.ref != r.tst)
      c.Bench(
          std::string(r.name) + " (1920 pixels)", 64, [&] { r.call(ref); }, [&] { r.call(tst); });
}

// At the scalar tier: the reciprocals the vector kernels requantise with divide every magnitude a
// coefficient can have exactly, for every step they take.
void CheckStepReciprocals(Checker& c) {
  if (!c.scalar()) return;
  for (int q = velour::kMinVectorStep; q <= velour::kMaxVectorStep; ++q) {
    const velour::StepReciprocal r = velour::kStepReciprocals.entry[q];
    for (uint32_t a = 0; a <= 4096; ++a)
      if ((((a * r.mul) >> 16) * r.shift >> 16) != a / q) {
        c.Expect("StepReciprocals",
                 std::to_string(a) + " / " + std::to_string(q) + " comes out wrong (mul " +
                     std::to_string(r.mul) + ", shift " + std::to_string(r.shift) + ")",
                 "the table");
        return;
      }
  }
}

}  // namespace

void CheckVelour(Checker& c, core::CpuFlags flags) {
  const VelourDsp& ref = velour::VelourDspFor(0);
  const VelourDsp& tst = velour::VelourDspFor(flags);
  if (c.scalar()) c.Expect("VelourDspFor", CheckTableChoice(velour::VelourDspFor), "the choice of tables");
  CheckStepReciprocals(c);
  CheckBlockRows(c, ref, tst);
  CheckRows(c, ref, tst);
  BenchRows(c, ref, tst);
}

}  // namespace kcheck
