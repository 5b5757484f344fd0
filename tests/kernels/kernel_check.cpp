// The kernel checker's driver: which families and tiers, the failures, and the timings of --bench.
//
//   kernel_check [--bench] [--seed=N] [--tier=NAME] [FAMILY...]
//
// FAMILY: velour, deblock, planar, rgba (all by default). The seed (default: AUF_TEST_SEED, else a
// fixed one) replays a failure; it is printed with every failure.
#include "tests/kernels/kernel_check.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "core/rgba_dsp.h"
#include "deblock/deblock_dsp.h"
#include "hostkit/planar.h"
#include "velour/velour_dsp.h"

namespace kcheck {

std::string Show(int32_t v) { return std::to_string(v); }
std::string Show(const core::YcPixel& p) {
  return "(" + std::to_string(p.y) + ", " + std::to_string(p.cb) + ", " + std::to_string(p.cr) + ")";
}

bool Checker::Slot(const char* slot, const void* ref, const void* tst) {
  rng_ = Rng(seed_ ^ std::hash<std::string>{}(slot));
  asked_.push_back(slot);
  if (!scalar() && ref == tst) {
    scalar_slots_ += std::string(scalar_slots_.empty() ? "" : ", ") + slot;
    return false;
  }
  ++checked_;
  selected_.push_back(slot);
  return true;
}

bool Checker::Expect(const char* slot, const std::string& diff, const std::string& where) {
  selected_.erase(std::remove(selected_.begin(), selected_.end(), slot), selected_.end());
  if (diff.empty()) return true;
  ++failures_;
  std::printf("FAIL %s.%s, tier %s, seed %u, %s: %s\n", family_, slot, core::kCpuTiers[tier_].name, seed_,
              where.c_str(), diff.c_str());
  std::fflush(stdout);
  return false;
}

void Checker::Bench(const std::string& what, int calls, const std::function<void()>& ref,
                    const std::function<void()>& tst) {
  if (!bench_) return;
  // Samples of `calls` calls each, the two in turn; the best sample of each is the least disturbed.
  double best[2] = {1e30, 1e30};
  for (int sample = 0; sample < 30; ++sample)
    for (int k = scalar() ? 1 : 0; k < 2; ++k) {
      const auto t0 = std::chrono::steady_clock::now();
      for (int i = 0; i < calls; ++i) (k == 0 ? tst : ref)();
      const double ns =
          std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
      best[k] = std::min(best[k], ns / calls);
    }
  timings_.push_back({family_, what, tier_, best[1], best[0]});
}

void Checker::Run(const char* family, const std::vector<std::string>& slots,
                  void (*check)(Checker&, core::CpuFlags), const std::string& only) {
  family_ = family;
  for (tier_ = 0; tier_ < static_cast<int>(std::size(core::kCpuTiers)); ++tier_) {
    const core::CpuTier& tier = core::kCpuTiers[tier_];
    if (!core::CpuHasTier(tier) || (!only.empty() && only != tier.name)) continue;
    tier_flags_ = tier.flags;
    checked_ = 0;
    scalar_slots_.clear();
    asked_.clear();
    selected_.clear();
    const int failures = failures_;
    check(*this, tier.flags);
    for (const std::string& slot : slots) {
      const auto of_slot = [&](const std::string& name) {
        return name == slot || name.rfind(slot + " ", 0) == 0;
      };
      if (std::none_of(asked_.begin(), asked_.end(), of_slot))
        Expect(slot.c_str(), "the table has it, the check never asks for it", "the slot list");
    }
    for (const std::string& slot : std::vector<std::string>(selected_))
      Expect(slot.c_str(), "selected, never compared", "the slot list");
    std::printf("%-8s %-10s %2d slots %s%s%s\n", family, tier.name, checked_,
                failures_ == failures ? "ok" : "FAILED",
                scalar() ? " (and the scalar results' properties)" : "",
                scalar_slots_.empty() ? "" : (" (the scalar slot: " + scalar_slots_ + ")").c_str());
    std::fflush(stdout);
  }
}

int Checker::Finish() {
  if (!timings_.empty()) {
    std::printf(
        "\nkernel timings: ns per call on in-cache data, the best of 30 samples, each tier's slot taken "
        "in turn with the scalar one\n");
    std::stable_sort(timings_.begin(), timings_.end(), [](const Timing& a, const Timing& b) {
      return a.family != b.family ? false : a.what != b.what ? false : a.tier < b.tier;
    });
    // Rows of one slot together, in the order the slots were first timed.
    std::vector<std::string> order;
    for (const Timing& t : timings_)
      if (std::find(order.begin(), order.end(), t.family + " " + t.what) == order.end())
        order.push_back(t.family + " " + t.what);
    for (const std::string& key : order) {
      const Timing* scalar = nullptr;
      for (const Timing& t : timings_) {
        if (t.family + " " + t.what != key) continue;
        if (t.tier == 0) scalar = &t;
        std::printf("  %-44s %-10s %12.0f ns", t.tier == 0 || !scalar ? key.c_str() : "",
                    core::kCpuTiers[t.tier].name, t.tier == 0 ? t.ref_ns : t.tst_ns);
        if (t.tier != 0)
          std::printf("  %6.1fx (beside the scalar slot at %.0f ns)", t.ref_ns / t.tst_ns, t.ref_ns);
        std::printf("\n");
      }
    }
  }
  std::printf("%s\n", failures_ == 0 ? "kernel_check: every slot checked is right"
                                     : ("kernel_check: " + std::to_string(failures_) + " FAILED").c_str());
  return failures_ == 0 ? 0 : 1;
}

}  // namespace kcheck

int main(int argc, char** argv) {
  bool bench = false;
  uint32_t seed = testsupport::TestSeed();
  std::string tier;
  std::vector<std::string> families;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--bench") bench = true;
    else if (a.rfind("--seed=", 0) == 0)
      seed = static_cast<uint32_t>(std::strtoul(a.c_str() + 7, nullptr, 0));
    else if (a.rfind("--tier=", 0) == 0) tier = a.substr(7);
    else if (a.rfind("--", 0) != 0) families.push_back(a);
    else {
      std::fprintf(
          stderr, "usage: kernel_check [--bench] [--seed=N] [--tier=NAME] [velour|deblock|planar|rgba]...\n");
      return 2;
    }
  }
  const struct {
    const char* name;
    std::vector<std::string> slots;
    void (*check)(kcheck::Checker&, core::CpuFlags);
  } kFamilies[] = {{"velour", {VELOUR_DSP_SLOTS(KCHECK_SLOT_NAME)}, kcheck::CheckVelour},
                   {"deblock", {DEBLOCK_DSP_SLOTS(KCHECK_SLOT_NAME)}, kcheck::CheckDeblock},
                   {"planar", {PLANAR_DSP_SLOTS(KCHECK_SLOT_NAME)}, kcheck::CheckPlanar},
                   {"rgba", {RGBA_DSP_SLOTS(KCHECK_SLOT_NAME)}, kcheck::CheckRgba}};
  kcheck::Checker checker(seed, bench);
  for (const auto& f : kFamilies)
    if (families.empty() || std::find(families.begin(), families.end(), f.name) != families.end())
      checker.Run(f.name, f.slots, f.check, tier);
  return checker.Finish();
}
