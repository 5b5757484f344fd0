#include "tools/filters/builtin_filters.h"

#include "deblock/deblock.h"
#include "velour/velour.h"

namespace tools {
namespace {

constexpr const host::FilterCore* kFilters[] = {&velour::kVelourCore, &deblock::kDeblockCore};

}  // namespace

std::span<const host::FilterCore* const> BuiltinFilters() { return kFilters; }

const host::FilterCore* FindBuiltinFilter(std::string_view name) {
  for (const host::FilterCore* f : kFilters)
    if (name == f->name) return f;
  return nullptr;
}

}  // namespace tools
