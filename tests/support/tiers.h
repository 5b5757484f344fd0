#pragma once
// CPU tiers as GoogleTest parameters: every tier of the one tier table, named by it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "host/cpu.h"

namespace host {
inline void PrintTo(const CpuTier& tier, std::ostream* os) { *os << tier.name; }
}  // namespace host

namespace testsupport {

inline std::vector<host::CpuTier> AllTiers() {
  return {std::begin(host::kCpuTiers), std::end(host::kCpuTiers)};
}
// The vector tiers: every tier but the scalar one.
inline std::vector<host::CpuTier> VectorTiers() {
  std::vector<host::CpuTier> tiers;
  for (const host::CpuTier& t : host::kCpuTiers)
    if (t.flags != 0) tiers.push_back(t);
  return tiers;
}
inline std::string TierParamName(const ::testing::TestParamInfo<host::CpuTier>& info) {
  return info.param.name;
}

}  // namespace testsupport

// In SetUp of a test parameterised by a tier: skip where this CPU lacks it.
#define SKIP_UNLESS_CPU_HAS(tier) \
  if (!host::CpuHasTier(tier)) GTEST_SKIP() << "CPU lacks " << (tier).name
