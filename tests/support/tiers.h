#pragma once
// CPU tiers as GoogleTest parameters: every tier of the one tier table, named by it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "core/cpu.h"

namespace core {
inline void PrintTo(const CpuTier& tier, std::ostream* os) { *os << tier.name; }
}  // namespace core

namespace testsupport {

inline std::vector<core::CpuTier> AllTiers() {
  return {std::begin(core::kCpuTiers), std::end(core::kCpuTiers)};
}
// The vector tiers: every tier but the scalar one.
inline std::vector<core::CpuTier> VectorTiers() {
  std::vector<core::CpuTier> tiers;
  for (const core::CpuTier& t : core::kCpuTiers)
    if (t.flags != 0) tiers.push_back(t);
  return tiers;
}
inline std::string TierParamName(const ::testing::TestParamInfo<core::CpuTier>& info) {
  return info.param.name;
}

}  // namespace testsupport

// In SetUp of a test parameterised by a tier: skip where this CPU lacks it.
#define SKIP_UNLESS_CPU_HAS(tier) \
  if (!core::CpuHasTier(tier)) GTEST_SKIP() << "CPU lacks " << (tier).name
