// The record that build/deblock.so hands to the host.
#include <gtest/gtest.h>

#include <cstring>

#include "deblock/deblock.h"
#include "tests/deblock/deblock_test_util.h"

namespace {

using host::FilterTable;

void ExpectDeblockRecord(const FilterTable* t) {
  EXPECT_EQ(t->flags, 0x00040000);
  EXPECT_STREQ(t->name, "deblock for AviUtl");
  EXPECT_STREQ(t->information, "deblock for AviUtl");
  EXPECT_NE(static_cast<const void*>(t->name), static_cast<const void*>(t->information)) << "two separate copies";
  ASSERT_EQ(t->track_count, 3);
  const char* names[] = {"quant", "aOffset", "bOffset"};
  const int32_t def[] = {25, 0, 0}, min[] = {0, 0, 0}, max[] = {60, 60, 60};
  for (int i = 0; i < 3; ++i) {
    EXPECT_STREQ(t->track_names[i], names[i]);
    EXPECT_EQ(t->track_defaults[i], def[i]);
    EXPECT_EQ(t->track_minimums[i], min[i]);
    EXPECT_EQ(t->track_maximums[i], max[i]);
  }
  EXPECT_NE(t->process, nullptr);
  // The words at +0x44 (track values) and +0x60 (host functions) are the host's to fill.
  EXPECT_EQ(t->track_values, nullptr);
  EXPECT_EQ(t->host_functions, nullptr);
  // Every other word is zero.
  FilterTable rest;
  std::memcpy(&rest, t, sizeof rest);
  rest.flags = 0;
  rest.name = nullptr;
  rest.track_count = 0;
  rest.track_names = nullptr;
  rest.track_defaults = rest.track_minimums = rest.track_maximums = nullptr;
  rest.process = nullptr;
  rest.information = nullptr;
  const FilterTable zero{};
  EXPECT_EQ(std::memcmp(&rest, &zero, sizeof rest), 0);
}

TEST(DeblockRecord, PluginDeclaresExactlyThePartsRecord) {
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
