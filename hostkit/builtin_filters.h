#pragma once
// The filters built into aufhost, the benchmark and the end-to-end program: one list.
#include <span>
#include <string_view>

#include "core/filter_core.h"

namespace hostkit {

std::span<const core::FilterCore* const> BuiltinFilters();
// nullptr when no built-in filter has that name.
const core::FilterCore* FindBuiltinFilter(std::string_view name);

}  // namespace hostkit
