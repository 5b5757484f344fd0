#include "core/cpu.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#include <cpuid.h>
#define AUF_X86 1
#endif

namespace core {
namespace {

CpuFlags Probe() {
  CpuFlags flags = 0;
#if defined(AUF_X86)
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  if (d & (1u << 26)) flags |= kCpuSse2;
  const bool osxsave = (c & (1u << 27)) != 0;
  const bool avx = (c & (1u << 28)) != 0;
  if (!(flags & kCpuSse2) || !osxsave || !avx) return flags;
  unsigned xcr0_lo, xcr0_hi;
  __asm__ volatile("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
  if ((xcr0_lo & 0x6) != 0x6) return flags;  // XMM and YMM state saved by the OS
  if (__get_cpuid_max(0, nullptr) < 7) return flags;
  __cpuid_count(7, 0, a, b, c, d);
  if (!(b & (1u << 5))) return flags;
  flags |= kCpuAvx2;
  // AVX-512 F (bit 16), BW (30), VL (31); XCR0: opmask, upper halves of ZMM0-15, and ZMM16-31.
  const unsigned avx512 = (1u << 16) | (1u << 30) | (1u << 31);
  if ((b & avx512) != avx512 || (xcr0_lo & 0xE0) != 0xE0) return flags;
  flags |= kCpuAvx512;
  // The family: the base family (bits 8..11 of leaf 1), plus the extended one (bits 20..27) where
  // the base is 0xF. Family 0x19 with AVX-512 is Zen 4, whose 512-bit operations run in two halves.
  __get_cpuid(1, &a, &b, &c, &d);
  const unsigned base = (a >> 8) & 0xF;
  if (base + (base == 0xF ? (a >> 20) & 0xFF : 0) == 0x19) flags |= kCpuAvx512Split;
#endif
  return flags;
}

}  // namespace

CpuFlags DetectCpuFlags() {
  static const CpuFlags flags = Probe();
  return flags;
}

CpuFlags RunnableCpuFlags() {
  const CpuFlags flags = DetectCpuFlags();
  return flags & kCpuAvx512 ? flags | kCpuAvx512Ymm | kCpuAvx512Split : flags;
}

bool CpuFlagsForTier(std::string_view tier, CpuFlags* flags) {
  if (tier == "auto") {
    *flags = DetectCpuFlags();
    return true;
  }
  for (const CpuTier& t : kCpuTiers) {
    if (tier != t.name) continue;
    *flags = t.flags & RunnableCpuFlags();
    return true;
  }
  return false;
}

size_t BestRunnableTier(CpuFlags flags) {
  flags &= RunnableCpuFlags();
  size_t best = 0;
  for (size_t i = 0; i < sizeof kCpuTiers / sizeof kCpuTiers[0]; ++i)
    if ((flags & kCpuTiers[i].flags) == kCpuTiers[i].flags) best = i;
  return best;
}

const char* CpuTierName(CpuFlags flags) {
  const char* name = kCpuTiers[0].name;
  for (const CpuTier& t : kCpuTiers)
    if ((flags & t.flags) == t.flags) name = t.name;
  return name;
}

}  // namespace core
