#pragma once
// CPU feature tiers for kernel dispatch: one table that --cpu, the tests, the benchmark and the
// end-to-end runs all iterate.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace core {

using CpuFlags = uint32_t;
inline constexpr CpuFlags kCpuSse2 = 1u << 0;
inline constexpr CpuFlags kCpuAvx2 = 1u << 1;  // AVX2 with YMM state enabled by the OS
// AVX-512 F, BW and VL with opmask and ZMM state enabled by the OS
inline constexpr CpuFlags kCpuAvx512 = 1u << 2;
// Not a feature but a choice of kernels: the AVX-512 kernels on 256-bit registers (with the 32
// registers and the mask registers), which any CPU with AVX-512 can run. Meant for CPUs that
// execute each 512-bit operation as two 256-bit halves (AMD family 0x19, Zen 4); but measured on
// one, the 512-bit kernels were still the faster (velour's frame by 4%, deblock's alike: the same
// work in half the instructions), and on CPUs with full-width 512-bit units they are faster still.
// So the detection never sets it: every AVX-512 CPU gets the 512-bit kernels, and the 256-bit ones
// are a tier of their own for measuring and testing (--cpu=avx512ymm).
inline constexpr CpuFlags kCpuAvx512Ymm = 1u << 3;
// Not a feature but a kind of CPU: one that executes each 512-bit operation as two 256-bit halves
// (AMD family 0x19, Zen 4), detected. There deblock keeps its tiles of 16 lanes on 256-bit registers:
// its tiles of 512-bit registers take about as many operations for twice the lanes, which only pays
// where a 512-bit operation costs no more than a 256-bit one. The other families run their 512-bit
// kernels alike on both kinds. Any CPU with AVX-512 runs the choice (--cpu=avx512split).
inline constexpr CpuFlags kCpuAvx512Split = 1u << 4;

// A tier is a cluster of flags and includes every lower tier's flags.
struct CpuTier {
  const char* name;
  CpuFlags flags;
};
inline constexpr CpuTier kCpuTiers[] = {
    {"c", 0},
    {"sse2", kCpuSse2},
    {"avx2", kCpuSse2 | kCpuAvx2},
    {"avx512", kCpuSse2 | kCpuAvx2 | kCpuAvx512},
    {"avx512ymm", kCpuSse2 | kCpuAvx2 | kCpuAvx512 | kCpuAvx512Ymm},
    {"avx512split", kCpuSse2 | kCpuAvx2 | kCpuAvx512 | kCpuAvx512Split},
};

// What this CPU (and OS) offers, detected once.
CpuFlags DetectCpuFlags();
// The flags whose kernels this CPU can run: the detected ones, and every choice of AVX-512 kernels
// where it has AVX-512.
CpuFlags RunnableCpuFlags();
inline bool CpuHasTier(const CpuTier& tier) { return (RunnableCpuFlags() & tier.flags) == tier.flags; }
// Flags for a tier name from the table, or "auto" (detected), masked with what the CPU can run.
// Returns false for an unknown name.
bool CpuFlagsForTier(std::string_view tier, CpuFlags* flags);
// The name of the best tier whose flags are all in `flags`.
const char* CpuTierName(CpuFlags flags);
// The index in kCpuTiers of the best tier whose flags are all in `flags` and that this CPU runs:
// flags beyond what the CPU runs are dropped, so that they can never select another CPU's kernels.
size_t BestRunnableTier(CpuFlags flags);

// A family declares its table's slots once, as a list X(type, name) (VELOUR_DSP_SLOTS, ...); these
// turn the list into the table's members and into the scalar table (the kernels name_C).
#define AUF_DSP_SLOT(type, name) type name;
#define AUF_DSP_SCALAR_SLOT(type, name) dsp.name = name##_C;

// Each kernel family's one way to its table (VelourDspFor, DeblockDspFor, RgbaDspFor, PlanarDspFor):
// the table of BestRunnableTier(flags). On the first call, fill(table, tier flags) builds the table
// of each tier this CPU runs, and of no other: a tier's table builder is compiled for its tier, so
// even building a table the CPU cannot run could stop the program. Thread-safe; nothing happens
// before the first call.
template <class Dsp, void (*kFill)(Dsp&, CpuFlags)>
const Dsp& TierTable(CpuFlags flags) {
  constexpr size_t kTiers = sizeof kCpuTiers / sizeof kCpuTiers[0];
  struct Tables {
    Dsp tier[kTiers];
  };
  static const Tables tables = [] {
    Tables t{};
    for (size_t i = 0; i < kTiers; ++i)
      if (CpuHasTier(kCpuTiers[i])) kFill(t.tier[i], kCpuTiers[i].flags);
    return t;
  }();
  return tables.tier[BestRunnableTier(flags)];
}

}  // namespace core
