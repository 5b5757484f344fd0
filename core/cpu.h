#pragma once
// CPU feature tiers for kernel dispatch: one table that --cpu, the tests, the benchmark and the
// end-to-end runs all iterate.
#include <cstdint>
#include <string_view>

namespace core {

using CpuFlags = uint32_t;
inline constexpr CpuFlags kCpuSse2 = 1u << 0;
inline constexpr CpuFlags kCpuAvx2 = 1u << 1;  // AVX2 with YMM state enabled by the OS
// AVX-512 F, BW and VL with opmask and ZMM state enabled by the OS
inline constexpr CpuFlags kCpuAvx512 = 1u << 2;

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
};

// What this CPU (and OS) offers, detected once.
CpuFlags DetectCpuFlags();
inline bool CpuHasTier(const CpuTier& tier) { return (DetectCpuFlags() & tier.flags) == tier.flags; }
// Flags for a tier name from the table, or "auto" (detected), masked with what the CPU has.
// Returns false for an unknown name.
bool CpuFlagsForTier(std::string_view tier, CpuFlags* flags);
// The name of the best tier whose flags are all in `flags`.
const char* CpuTierName(CpuFlags flags);

}  // namespace core
