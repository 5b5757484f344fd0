#pragma once
// The kernel checker: every slot of every kernel table (velour, deblock, the planar conversions, the
// RGBA conversions), at every tier this CPU runs, against the scalar slot on extreme and random
// inputs, in buffers against inaccessible pages at odd alignments; at the scalar tier, the
// properties of the scalar slots' results. With --bench, each slot's time beside the scalar one's.
//
// A family's check builds the scalar table and the table of a tier and, for each slot that
// Checker::Slot says is to be checked, runs both on copies of the same inputs (Twin) and compares.
// The family's slot list (VELOUR_DSP_SLOTS, ...) names what must be checked: a slot of the list that
// the check never asks about, or one it selects and never compares, fails the tier.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "tests/support/test_support.h"

namespace kcheck {

using testsupport::Rng;

class Checker {
 public:
  Checker(uint32_t seed, bool bench) : seed_(seed), bench_(bench), rng_(seed) {}

  // Whether `slot` of the tier's table is to be checked: where it is not the scalar slot, and at the
  // scalar tier always (for the properties of its results). Re-seeds the random source, so that a
  // slot's inputs do not depend on the slots before it. `slot` is a name of the family's list, or
  // such a name, a space and which entry or variant of it.
  bool Slot(const char* slot, const void* ref, const void* tst);
  bool scalar() const { return tier_flags_ == 0; }
  Rng& rng() { return rng_; }
  // True when `diff` is empty; else records a failure of `slot` at `where` and returns false.
  bool Expect(const char* slot, const std::string& diff, const std::string& where);
  // --bench: `calls` calls of the scalar slot and of the tier's, timed side by side.
  void Bench(const std::string& what, int calls, const std::function<void()>& ref,
             const std::function<void()>& tst);

  // Runs check(checker, flags) for every tier the CPU runs that `only` names (all if empty), the
  // scalar one first, and holds it to the family's slot list `slots`; prints a line for each.
  void Run(const char* family, const std::vector<std::string>& slots, void (*check)(Checker&, core::CpuFlags),
           const std::string& only);
  // Prints the timings and the count of failures; the exit status.
  int Finish();

 private:
  struct Timing {
    std::string family, what;
    int tier;
    double ref_ns, tst_ns;
  };
  uint32_t seed_;
  bool bench_;
  Rng rng_;
  const char* family_ = "";
  int tier_ = 0;
  core::CpuFlags tier_flags_ = 0;
  int checked_ = 0, failures_ = 0;
  std::string scalar_slots_;
  std::vector<std::string> asked_;     // every slot name given to Slot() in this tier
  std::vector<std::string> selected_;  // those selected and not compared yet
  std::vector<Timing> timings_;
};

std::string Show(int32_t v);
std::string Show(const core::YcPixel& p);

// Two copies of n values of T, for the scalar slot's results and the tier's: the same random bytes in
// both (the input), each in a mapping of its own against an inaccessible page, right after the last
// value (offset < 0) or `offset` bytes before the first, canaries in the rest of the pages.
template <class T>
class Twin {
 public:
  Twin(Rng& rng, size_t n, int offset = -1)
      : n_(n), ref_(n * sizeof(T), offset), tst_(n * sizeof(T), offset), input_(n * sizeof(T)) {
    for (uint8_t& b : input_) b = static_cast<uint8_t>(rng.Next());
    Reset();
  }
  T* ref() { return reinterpret_cast<T*>(ref_.data()); }
  T* tst() { return reinterpret_cast<T*>(tst_.data()); }
  T& in(size_t i) { return reinterpret_cast<T*>(input_.data())[i]; }
  size_t size() const { return n_; }
  // Both copies back to the input.
  void Reset() {
    if (n_ == 0) return;
    std::memcpy(ref_.data(), input_.data(), input_.size());
    std::memcpy(tst_.data(), input_.data(), input_.size());
  }
  // "" when both copies and every canary are the same; else the first difference, at (x, y) of rows
  // of `row` values, and a map of where they differ.
  std::string Diff(size_t row = 0) const;
  // The first value of the scalar slot's results that differs from the input where inside(i) is
  // false, or -1.
  ptrdiff_t ChangedOutside(const std::function<bool(size_t)>& inside) const {
    for (size_t i = 0; i < n_; ++i)
      if (!inside(i) && std::memcmp(ref_.data() + i * sizeof(T), input_.data() + i * sizeof(T), sizeof(T)))
        return static_cast<ptrdiff_t>(i);
    return -1;
  }

 private:
  size_t n_;
  testsupport::GuardedBytes ref_, tst_;
  std::vector<uint8_t> input_;
};

// "" when the n values at a and b are the same; else the first difference, at (x, y) of rows of
// `row` values (0: one row), and a small map of where they differ: x differs, . equal.
template <class T>
std::string DiffValues(const T* a, const T* b, size_t n, size_t row) {
  auto same = [&](size_t i) {
    return std::memcmp(&a[i], &b[i], sizeof(T)) == 0;
  };
  size_t first = n, count = 0;
  for (size_t i = 0; i < n; ++i)
    if (!same(i) && count++ == 0) first = i;
  if (count == 0) return "";
  if (row == 0) row = n;
  const size_t fx = first % row, fy = first / row;
  std::string out = std::to_string(count) + " of " + std::to_string(n) + " differ, the first at (" +
                    std::to_string(fx) + ", " + std::to_string(fy) + "): the scalar slot gives " +
                    Show(a[first]) + ", the tier " + Show(b[first]) + "; from (";
  const size_t x0 = fx > 8 ? fx - 8 : 0, y0 = fy > 4 ? fy - 4 : 0;
  out += std::to_string(x0) + ", " + std::to_string(y0) + "):\n";
  for (size_t y = y0; y < y0 + 16 && y * row < n; ++y, out += '\n')
    for (size_t x = x0; x < x0 + 48 && x < row && y * row + x < n; ++x) out += same(y * row + x) ? '.' : 'x';
  return out;
}

template <class T>
std::string Twin<T>::Diff(size_t row) const {
  for (const auto* g : {&ref_, &tst_})
    if (std::string c = g->CheckCanaries(); !c.empty()) return (g == &ref_ ? "scalar slot: " : "tier: ") + c;
  return DiffValues(reinterpret_cast<const T*>(ref_.data()), reinterpret_cast<const T*>(tst_.data()), n_,
                    row);
}

// How a family's accessor (VelourDspFor, ...) chooses a table, "" or what is wrong: the flags of each
// tier give that tier's table, bits of no tier change nothing, and flags short of a tier's give the
// tier below, all within what this CPU runs: above that, the CPU's best tier, never a table built
// for another CPU. Each tier the CPU runs has a table of its own.
template <class Dsp>
std::string CheckTableChoice(const Dsp& (*dsp_for)(core::CpuFlags)) {
  using core::kCpuAvx2, core::kCpuAvx512, core::kCpuAvx512Ymm, core::kCpuSse2;
  constexpr core::CpuFlags kNoTier = 1u << 31;
  const struct {
    core::CpuFlags given;
    int tier;  // in kCpuTiers: c, sse2, avx2, avx512, avx512ymm
  } cases[] = {{0, 0},
               {kNoTier, 0},
               {kCpuAvx2 | kCpuAvx512, 0},
               {kCpuSse2 | kCpuAvx512 | kNoTier, 1},
               {kCpuSse2 | kCpuAvx2, 2},
               {kCpuSse2 | kCpuAvx2 | kCpuAvx512 | kNoTier, 3},
               {kCpuSse2 | kCpuAvx2 | kCpuAvx512 | kCpuAvx512Ymm | kNoTier, 4}};
  int best = 0;  // the CPU's best tier: the tiers it runs are the first ones of the list
  while (best + 1 < static_cast<int>(std::size(core::kCpuTiers)) &&
         core::CpuHasTier(core::kCpuTiers[best + 1]))
    ++best;
  for (const auto& c : cases) {
    const core::CpuTier& want = core::kCpuTiers[c.tier < best ? c.tier : best];
    if (&dsp_for(c.given) != &dsp_for(want.flags))
      return "flags 0x" + std::to_string(c.given) + " do not give the table of tier " + want.name;
  }
  for (int i = 0; i <= best; ++i)
    for (int j = 0; j < i; ++j)
      if (&dsp_for(core::kCpuTiers[i].flags) == &dsp_for(core::kCpuTiers[j].flags))
        return std::string("tiers ") + core::kCpuTiers[j].name + " and " + core::kCpuTiers[i].name +
               " share a table";
  return "";
}

// A family's slot list, X(type, name), as the names Checker::Run takes.
#define KCHECK_SLOT_NAME(type, name) #name,

// Each family's check: the tables of the scalar tier and of `flags`, compared slot by slot.
void CheckVelour(Checker& c, core::CpuFlags flags);
void CheckDeblock(Checker& c, core::CpuFlags flags);
void CheckPlanar(Checker& c, core::CpuFlags flags);
void CheckRgba(Checker& c, core::CpuFlags flags);

}  // namespace kcheck
