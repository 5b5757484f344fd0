#include "tools/cli/options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <functional>
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

// "c, sse2, avx2, avx512" from the tier table: every tier, or those this CPU runs.
std::string TierNames(bool runnable_only = false) {
  std::string names;
  for (const core::CpuTier& t : core::kCpuTiers)
    if (!runnable_only || core::CpuHasTier(t)) names += (names.empty() ? "" : ", ") + std::string(t.name);
  return names;
}

io::Format ParseFormatName(std::string_view name) {
  const std::optional<io::Format> f = io::ParseFormat(name);
  if (!f) throw UsageError("--format: unknown format '" + std::string(name) + "' (y4m, png, jpeg, yc48)");
  return *f;
}

// The command line through CLI11, each spelling of an option registered on its own so that a message
// quotes the one given. Values are checked as they are met, in the order given; CLI11's own errors
// become ours.
class Parser {
 public:
  Parser() {
    app_.set_help_flag();  // --help is an option like the others
    app_.allow_extras();   // unknown options are reported below, in our words
    // Options are spelt -x and --name only: on Windows too, a name starting with / is a file's.
    app_.allow_windows_style_options(false);
    app_.add_option("arguments", positional_);
  }

  void Value(const std::string& names,
             std::function<void(const std::string& name, const std::string&)> take) {
    for (const std::string& name : Spellings(names))
      app_.add_option_function<std::string>(name, [name, take](const std::string& v) { take(name, v); })
          ->trigger_on_parse();
  }

  void Flag(const std::string& names, bool* set) {
    for (const std::string& name : Spellings(names))
      app_.add_flag_function(name, [set](int64_t) { *set = true; })
          ->trigger_on_parse()
          ->disable_flag_override();
  }

  // The arguments that are not options, in order.
  std::vector<std::string> Parse(const std::vector<std::string>& args) {
    try {
      app_.parse(std::vector<std::string>(args.rbegin(), args.rend()));  // CLI11 takes them last first
    } catch (const CLI::ArgumentMismatch& e) {
      // "NAME: 1 required TEXT missing" or "NAME was given a disallowed flag override" (NAME bare).
      const std::string what = e.what();
      std::string name = what.substr(0, what.find_first_of(": "));
      if (name.rfind('-', 0) != 0) name = (name.size() == 1 ? "-" : "--") + name;
      throw UsageError(
          name + (what.find("flag override") != std::string::npos ? " takes no value" : " needs a value"));
    } catch (const CLI::ParseError& e) {
      throw UsageError(e.what());
    }
    for (const std::string& unknown : app_.remaining())  // "--" is kept there too, as a mark
      if (unknown != "--") throw UsageError("unknown option '" + unknown + "'");
    return positional_;
  }

 private:
  static std::vector<std::string> Spellings(const std::string& names) {
    std::vector<std::string> list;
    for (size_t at = 0; at < names.size();) {
      const size_t comma = names.find(',', at);
      list.push_back(names.substr(at, comma - at));
      at = comma == std::string::npos ? names.size() : comma + 1;
    }
    return list;
  }

  CLI::App app_;
  std::vector<std::string> positional_;
};

TrackSetting ParseTrack(const std::string& name, const std::string& v) {
  const size_t eq = v.find('=');
  if (eq == std::string::npos || eq == 0) throw UsageError(name + ": expected NAME=VALUE, got '" + v + "'");
  const std::string track = v.substr(0, eq), text = v.substr(eq + 1);
  return {track, ParseWhole(text, "track bar '" + track + "'"), text};
}

void ParseSize(const std::string& v, Options& o) {
  const size_t x = v.find('x');
  if (x == std::string::npos) throw UsageError("--size: expected WxH, got '" + v + "'");
  o.width = ParseInt(std::string_view(v).substr(0, x), "--size width", 1, 65535);
  o.height = ParseInt(std::string_view(v).substr(x + 1), "--size height", 1, 65535);
}

// F for both ends, or IN:OUT.
void ParseFormats(const std::string& v, Options& o) {
  const size_t colon = v.find(':');
  if (colon == std::string::npos) {
    o.input_format = o.output_format = ParseFormatName(v);
    return;
  }
  if (colon > 0) o.input_format = ParseFormatName(std::string_view(v).substr(0, colon));
  if (colon + 1 < v.size()) o.output_format = ParseFormatName(std::string_view(v).substr(colon + 1));
}

void ParseCompare(const std::string& v, Options& o) {
  o.compare = v;
  if (o.compare.empty() || o.compare == "-") throw UsageError("--compare needs a file name");
  const std::optional<io::Format> f = io::FormatFromPath(o.compare);
  if (f != io::Format::kPng && f != io::Format::kJpeg)
    throw UsageError("--compare writes a picture: '" + o.compare + "' is not a .png or .jpg name");
}

// --sampling 444|422|420.
void ParseSampling(const std::string& v, Options& o) {
  const struct {
    const char* name;
    io::Chroma chroma;
  } kSamplings[] = {{"444", io::Chroma::k444}, {"422", io::Chroma::k422}, {"420", io::Chroma::k420}};
  for (const auto& s : kSamplings)
    if (v == s.name) {
      o.jpeg_sampling = s.chroma;
      return;
    }
  throw UsageError("--sampling: unknown chroma sampling '" + v + "' (444, 422, 420)");
}

void ParseCpu(const std::string& v, Options& o) {
  o.cpu = v;
  core::CpuFlags flags;
  if (!core::CpuFlagsForTier(o.cpu, &flags))
    throw UsageError("--cpu: unknown tier '" + o.cpu + "' (" + TierNames() + ", auto)");
  // A tier beyond this CPU would run as the best one it has: say so instead.
  for (const core::CpuTier& t : core::kCpuTiers)
    if (o.cpu == t.name && !core::CpuHasTier(t))
      throw UsageError("--cpu: this CPU does not run tier '" + o.cpu + "' (it runs " + TierNames(true) +
                       ", auto)");
}

// PLUGIN INPUT OUTPUT, or PLUGIN alone for --list.
void TakePositionals(const std::vector<std::string>& positional, Options& o) {
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
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  Parser p;
  p.Value("-t,--track",
          [&](const std::string& name, const std::string& v) { o.tracks.push_back(ParseTrack(name, v)); });
  p.Value("-j,--threads",
          [&](const std::string& name, const std::string& v) { o.threads = ParseInt(v, name, 1, 256); });
  p.Value("--host-threads",
          [&](const std::string& name, const std::string& v) { o.host_threads = ParseInt(v, name, 1, 256); });
  p.Value("--size", [&](const std::string&, const std::string& v) { ParseSize(v, o); });
  p.Value("--format", [&](const std::string&, const std::string& v) { ParseFormats(v, o); });
  p.Value("--compare", [&](const std::string&, const std::string& v) { ParseCompare(v, o); });
  p.Value("--cpu", [&](const std::string&, const std::string& v) { ParseCpu(v, o); });
  p.Value("--quality",
          [&](const std::string& name, const std::string& v) { o.jpeg_quality = ParseInt(v, name, 1, 100); });
  p.Value("--sampling", [&](const std::string&, const std::string& v) { ParseSampling(v, o); });
  p.Flag("--serial", &o.serial);
  p.Flag("--list", &o.list);
  p.Flag("-h,--help", &o.help);
  p.Flag("--version", &o.version);
  p.Flag("-q,--quiet", &o.quiet);
  p.Flag("--progress", &o.progress);
  const std::vector<std::string> positional = p.Parse(args);
  if (o.help || o.version) return o;
  TakePositionals(positional, o);
  return o;
}

// What this build does: builds without PNG and JPEG (the Windows ones) leave them out.
std::string UsageText() {
  const bool pictures = io::PicturesSupported();
  const std::string compare =
      "      --compare FILE  also write the first frame before and after, side by side (.png or .jpg)\n";
  const std::string quality =
      "      --quality Q     JPEG output quality 1..100 (default 95)\n"
      "      --sampling S    444 | 422 | 420: chroma sampling of JPEG output (default: the\n"
      "                      input's; pictures other than JPEG 444)\n";
  std::string tiers;
  for (const core::CpuTier& t : core::kCpuTiers) tiers += std::string(t.name) + " | ";
  return std::string("Usage: aufhost [options] PLUGIN INPUT OUTPUT\nRuns a video filter plug-in over video") +
         (pictures ? " or pictures" : "") + R"(.

  PLUGIN              velour | deblock (built in) or a path to a plug-in library
  INPUT, OUTPUT       files (.y4m, )" +
         (pictures ? ".png, .jpg/.jpeg, " : "") + R"(.yc48), or '-' for Y4M on stdin/stdout
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
      --format F      )" +
         (pictures ? "y4m | png | jpeg | yc48" : "y4m | yc48") +
         " for both ends, or IN:OUT (default: from the names)\n" + (pictures ? compare : "") +
         "      --cpu TIER      " + tiers + R"(auto: kernel tier of the built-in filters and of
                      the Y4M conversions (default auto)
)" + (pictures ? quality : "") +
         R"(  -q, --quiet         no progress and no warnings
      --progress      progress even when stderr is not a terminal
  -h, --help          this text
      --version       print the version and exit

yc48 is the host's own pixel: little-endian int16 Y, Cb, Cr, row-major, frames back to back.
)";
}

}  // namespace cli
