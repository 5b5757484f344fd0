// The command line, NUL-separated arguments: parsed, or refused with a UsageError; nothing else.
#include <cstdint>
#include <string>
#include <vector>

#include "core/cpu.h"
#include "tools/cli/options.h"

namespace {

bool KnownTier(const std::string& name) {
  for (const core::CpuTier& t : core::kCpuTiers)
    if (name == t.name) return true;
  return name == "auto";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) args.emplace_back();
    else args.back() += static_cast<char>(data[i]);
  }
  try {
    const cli::Options o = cli::ParseOptions(args);
    if (o.help || o.version) return 0;  // these need no PLUGIN
    if (o.plugin.empty() || o.threads < 0 || o.threads > 256 || (o.width == 0) != (o.height == 0))
      __builtin_trap();
    if (!KnownTier(o.cpu)) __builtin_trap();
  } catch (const cli::UsageError&) {
  }
  return 0;
}
