#include "hostkit/builtin_filters.h"

#include "deblock/deblock.h"
#include "velour/velour.h"

namespace hostkit {
namespace {

constexpr const core::FilterCore* kFilters[] = {&velour::kVelourCore, &deblock::kDeblockCore};

}  // namespace

std::span<const core::FilterCore* const> BuiltinFilters() { return kFilters; }

const core::FilterCore* FindBuiltinFilter(std::string_view name) {
  for (const core::FilterCore* f : kFilters)
    if (name == f->name) return f;
  return nullptr;
}

}  // namespace hostkit
