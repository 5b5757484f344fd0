#pragma once
// Building a plug-in's filter records: the one the editor gets, and one per forced CPU tier for code
// that links a filter in directly.
#include "host/cpu.h"
#include "host/host_abi.h"

namespace host {

// A record with the plug-in's fields filled in and every other word zero. `name` and `information`
// must be two separate copies of the same text.
constexpr FilterTable MakeFilterTable(const char* name, const char* information, int32_t track_count,
                                      const char* const* track_names, const int32_t* defaults,
                                      const int32_t* minimums, const int32_t* maximums, ProcessFrameFn process) {
  FilterTable t{};
  t.flags = kFilterFlags;
  t.name = name;
  t.track_count = track_count;
  t.track_names = track_names;
  t.track_defaults = defaults;
  t.track_minimums = minimums;
  t.track_maximums = maximums;
  t.process = process;
  t.information = information;
  return t;
}

// Index of the best tier in `flags`: 0 scalar, 1 SSE2, 2 AVX2.
constexpr int TierIndex(CpuFlags flags) { return (flags & kCpuAvx2) ? 2 : (flags & kCpuSse2) ? 1 : 0; }

}  // namespace host
