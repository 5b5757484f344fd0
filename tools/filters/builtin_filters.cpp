#include "tools/filters/builtin_filters.h"

#include "deblock/deblock.h"
#include "velour/velour.h"

namespace tools {
namespace {

constexpr const core::FilterCore* kFilters[] = {&velour::kVelourCore, &deblock::kDeblockCore};

}  // namespace

std::span<const core::FilterCore* const> BuiltinFilters() { return kFilters; }

const core::FilterCore* FindBuiltinFilter(std::string_view name) {
  for (const core::FilterCore* f : kFilters)
    if (name == f->name) return f;
  return nullptr;
}

}  // namespace tools
