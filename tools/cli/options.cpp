#include "tools/cli/options.h"

#include <charconv>
#include <limits>
#include <string_view>

#include "core/cpu.h"

namespace cli {
namespace {

// A whole number, optionally signed. Beyond the 64-bit range it saturates: only range checks follow,
// and they quote the text as given.
int64_t ParseWhole(std::string_view text, const std::string& what) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(first, last, v);
  if (first == last || end != last || (ec != std::errc() && ec != std::errc::result_out_of_range))
    throw UsageError(what + ": '" + std::string(text) + "' is not a whole number");
  if (ec == std::errc::result_out_of_range)
    return *first == '-' ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
  return v;
}

int32_t ParseInt(std::string_view text, const std::string& what, int64_t lo, int64_t hi) {
  const int64_t v = ParseWhole(text, what);
  if (v < lo || v > hi)
    throw UsageError(what + ": " + std::string(text) + " is outside " + std::to_string(lo) + ".." +
                     std::to_string(hi));
  return static_cast<int32_t>(v);
}

// "c, sse2, avx2, avx512" from the tier table.
std::string TierNames() {
  std::string names;
  for (const core::CpuTier& t : core::kCpuTiers) names += (names.empty() ? "" : ", ") + std::string(t.name);
  return names;
}

io::Format ParseFormatName(std::string_view name) {
  const std::optional<io::Format> f = io::ParseFormat(name);
  if (!f) throw UsageError("--format: unknown format '" + std::string(name) + "' (y4m, png, jpeg, yc48)");
  return *f;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> positional;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg == "-" || arg.empty() || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    // Split "--name=value" and "-xvalue" into a name and an attached value.
    std::string name = arg;
    std::optional<std::string> attached;
    if (arg.compare(0, 2, "--") == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        attached = arg.substr(eq + 1);
      }
    } else if (arg.size() > 2) {
      name = arg.substr(0, 2);
      attached = arg.substr(2);
    }
    auto value = [&]() -> std::string {
      if (attached) return *attached;
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      return args[++i];
    };
    auto flag = [&]() {
      if (attached) throw UsageError(name + " takes no value");
      return true;
    };

    if (name == "-t" || name == "--track") {
      const std::string v = value();
      const size_t eq = v.find('=');
      if (eq == std::string::npos || eq == 0)
        throw UsageError(name + ": expected NAME=VALUE, got '" + v + "'");
      const std::string track = v.substr(0, eq), text = v.substr(eq + 1);
      o.tracks.push_back({track, ParseWhole(text, "track bar '" + track + "'"), text});
    } else if (name == "-j" || name == "--threads") {
      o.threads = ParseInt(value(), name, 1, 256);
    } else if (name == "--host-threads") {
      o.host_threads = ParseInt(value(), name, 1, 256);
    } else if (name == "--serial") {
      o.serial = flag();
    } else if (name == "--list") {
      o.list = flag();
    } else if (name == "-h" || name == "--help") {
      o.help = flag();
    } else if (name == "--version") {
      o.version = flag();
    } else if (name == "-q" || name == "--quiet") {
      o.quiet = flag();
    } else if (name == "--progress") {
      o.progress = flag();
    } else if (name == "--size") {
      const std::string v = value();
      const size_t x = v.find('x');
      if (x == std::string::npos) throw UsageError("--size: expected WxH, got '" + v + "'");
      o.width = ParseInt(std::string_view(v).substr(0, x), "--size width", 1, 65535);
      o.height = ParseInt(std::string_view(v).substr(x + 1), "--size height", 1, 65535);
    } else if (name == "--format") {
      // F for both ends, or IN:OUT.
      const std::string v = value();
      const size_t colon = v.find(':');
      if (colon == std::string::npos) {
        o.input_format = o.output_format = ParseFormatName(v);
      } else {
        if (colon > 0) o.input_format = ParseFormatName(std::string_view(v).substr(0, colon));
        if (colon + 1 < v.size()) o.output_format = ParseFormatName(std::string_view(v).substr(colon + 1));
      }
    } else if (name == "--compare") {
      o.compare = value();
      if (o.compare.empty() || o.compare == "-") throw UsageError("--compare needs a file name");
      const std::optional<io::Format> f = io::FormatFromPath(o.compare);
      if (f != io::Format::kPng && f != io::Format::kJpeg)
        throw UsageError("--compare writes a picture: '" + o.compare + "' is not a .png or .jpg name");
    } else if (name == "--cpu") {
      o.cpu = value();
      core::CpuFlags flags;
      if (!core::CpuFlagsForTier(o.cpu, &flags))
        throw UsageError("--cpu: unknown tier '" + o.cpu + "' (" + TierNames() + ", auto)");
    } else if (name == "--quality") {
      o.jpeg_quality = ParseInt(value(), name, 1, 100);
    } else {
      throw UsageError("unknown option '" + arg + "'");
    }
  }
  if (o.help || o.version) return o;
  if (positional.empty()) throw UsageError("missing PLUGIN (velour, deblock or a plug-in library)");
  o.plugin = positional[0];
  if (o.plugin.empty()) throw UsageError("PLUGIN is empty");
  const size_t wanted = o.list ? 1 : 3;
  if (positional.size() < wanted)
    throw UsageError(positional.size() == 1 ? "missing INPUT and OUTPUT" : "missing OUTPUT");
  if (positional.size() > wanted) throw UsageError("unexpected argument '" + positional[wanted] + "'");
  if (!o.list) {
    o.input = positional[1];
    o.output = positional[2];
  }
  return o;
}

std::string UsageText() {
  std::string tiers;
  for (const core::CpuTier& t : core::kCpuTiers) tiers += std::string(t.name) + " | ";
  return R"(Usage: aufhost [options] PLUGIN INPUT OUTPUT
Runs a video filter plug-in over video or pictures.

  PLUGIN              velour | deblock (built in) or a path to a plug-in library
  INPUT, OUTPUT       files (.y4m, .png, .jpg/.jpeg, .yc48), or '-' for Y4M on stdin/stdout
  -t, --track NAME=V  set a track bar by its name (repeatable)
  -j, --threads N     worker threads (default: the number of cores). For the built-in filters
                      only the speed depends on it, never the output; a plug-in library derives
                      what it does from the editor's worker count, which is N
      --host-threads T  built-in filters: give the result the editor gives with T worker
                      threads (default: the editor's result with one thread, the same on
                      every machine)
      --serial        start no thread: read, filter and write in turn, the workers one
                      after another
      --list          print the plug-in's name and its track bars, then exit
      --size WxH      frame size of raw yc48 input
      --format F      y4m | png | jpeg | yc48 for both ends, or IN:OUT (default: from the names)
      --compare FILE  also write the first frame before and after, side by side (.png or .jpg)
      --cpu TIER      )" +
         tiers + R"(auto: kernel tier of the built-in filters and of
                      the Y4M conversions (default auto)
      --quality Q     JPEG output quality 1..100 (default 95)
  -q, --quiet         no progress and no warnings
      --progress      progress even when stderr is not a terminal
  -h, --help          this text
      --version       print the version and exit

yc48 is the host's own pixel: little-endian int16 Y, Cb, Cr, row-major, frames back to back.
)";
}

}  // namespace cli
