// The record that build/deblock.so hands to the host.
#include <gtest/gtest.h>

#include "deblock/deblock.h"
#include "tests/deblock/deblock_test_util.h"
#include "tests/support/test_support.h"

namespace {

using host::FilterTable;

void ExpectDeblockRecord(const FilterTable* t) {
  EXPECT_EQ(testsupport::RecordMismatch(t, "deblock for AviUtl",
                                        {{"quant", 25, 0, 60}, {"aOffset", 0, 0, 60}, {"bOffset", 0, 0, 60}}),
            "");
}

TEST(DeblockRecord, PluginDeclaresExactlyItsRecord) {
  const FilterTable* t = deblocktest::Plugin().table();
  ExpectDeblockRecord(t);
  EXPECT_EQ(deblocktest::Plugin().entry()(), t) << "GetFilterTable called twice returns one address";
  EXPECT_EQ(deblocktest::Plugin().entry()(), t);
  EXPECT_NO_THROW(host::ValidateFilterTable(t));
}

TEST(DeblockRecord, LinkedTablesOfEveryTierAreTheSameRecord) {
  ExpectDeblockRecord(deblock::DeblockFilterTable());
  for (host::CpuFlags f : {host::CpuFlags{0}, host::kCpuSse2, host::kCpuSse2 | host::kCpuAvx2})
    ExpectDeblockRecord(deblock::DeblockFilterTableForTier(f));
}

}  // namespace
