#pragma once
// CPU feature tiers for kernel dispatch.
#include <cstdint>
#include <string_view>

namespace host {

using CpuFlags = uint32_t;
inline constexpr CpuFlags kCpuSse2 = 1u << 0;
inline constexpr CpuFlags kCpuAvx2 = 1u << 1;  // AVX2 with YMM state enabled by the OS; implies SSE2

// What this CPU (and OS) offers, detected once.
CpuFlags DetectCpuFlags();
// Flags for a tier name: "c" (none), "sse2", "avx2", "auto" (detected). Masks with what the CPU has.
// Returns false for an unknown name.
bool CpuFlagsForTier(std::string_view tier, CpuFlags* flags);
// "c", "sse2" or "avx2": the best tier in the flags.
const char* CpuTierName(CpuFlags flags);

}  // namespace host
