#include <gtest/gtest.h>

#include <limits>

#include "tools/cli/options.h"

namespace {

using cli::Options;
using cli::ParseOptions;

std::string UsageErrorOf(const std::vector<std::string>& args) {
  try {
    ParseOptions(args);
  } catch (const cli::UsageError& e) {
    return e.what();
  }
  return "";
}

TEST(Options, SpellingsOfEachOption) {
  const Options o = ParseOptions({"-t", "quant=4", "--track=n_shift=16", "-tmatrix=-2", "-j3", "--serial",
                                  "--size", "16x8", "--format=yc48:y4m", "--compare", "c.png", "--cpu=sse2",
                                  "--sampling=422", "-q", "velour", "in.yc48", "-"});
  EXPECT_EQ(o.plugin, "velour");
  EXPECT_EQ(o.input, "in.yc48");
  EXPECT_EQ(o.output, "-");
  ASSERT_EQ(o.tracks.size(), 3u);
  EXPECT_EQ(o.tracks[0], (cli::TrackSetting{"quant", 4, "4"}));
  EXPECT_EQ(o.tracks[1], (cli::TrackSetting{"n_shift", 16, "16"}));
  EXPECT_EQ(o.tracks[2], (cli::TrackSetting{"matrix", -2, "-2"}));
  EXPECT_EQ(o.threads, 3);
  EXPECT_TRUE(o.serial);
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(o.width, 16);
  EXPECT_EQ(o.height, 8);
  EXPECT_EQ(o.input_format, io::Format::kYc48);
  EXPECT_EQ(o.output_format, io::Format::kY4m);
  EXPECT_EQ(o.compare, "c.png");
  EXPECT_EQ(o.cpu, "sse2");
  EXPECT_EQ(o.jpeg_sampling, io::Chroma::k422);
}

TEST(Options, DefaultsAndPositionals) {
  const Options o = ParseOptions({"./x.so", "-", "--", "-odd-name"});
  EXPECT_EQ(o.plugin, "./x.so");
  EXPECT_EQ(o.input, "-");
  EXPECT_EQ(o.output, "-odd-name");
  EXPECT_EQ(o.threads, 0);
  EXPECT_EQ(o.cpu, "auto");
  EXPECT_FALSE(o.input_format.has_value());
  const Options f = ParseOptions({"--format", "png", "velour", "a", "b"});
  EXPECT_EQ(f.input_format, io::Format::kPng);
  EXPECT_EQ(f.output_format, io::Format::kPng);
  EXPECT_TRUE(ParseOptions({"--list", "deblock"}).list);
  EXPECT_TRUE(ParseOptions({"--help"}).help);
  // --version, like --help, needs no PLUGIN, INPUT or OUTPUT.
  EXPECT_TRUE(ParseOptions({"--version"}).version);
  EXPECT_FALSE(ParseOptions({"velour", "a", "b"}).version);
  // Only -x and --name are options, on Windows too: names starting with / are files.
  const Options slashes = ParseOptions({"velour", "/data/in.y4m", "//server/share/o.y4m"});
  EXPECT_EQ(slashes.input, "/data/in.y4m");
  EXPECT_EQ(slashes.output, "//server/share/o.y4m");
  EXPECT_EQ(UsageErrorOf({"/t", "quant=2", "velour", "a", "b"}), "unexpected argument 'a'");
}

TEST(Options, MistakesNameTheArgument) {
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{}, "missing PLUGIN"},
      {{"velour"}, "missing INPUT and OUTPUT"},
      {{"velour", "a"}, "missing OUTPUT"},
      {{"velour", "a", "b", "c"}, "unexpected argument 'c'"},
      {{"--list", "velour", "a"}, "unexpected argument 'a'"},
      {{"--bogus", "velour", "a", "b"}, "unknown option '--bogus'"},
      {{"-t", "quant", "velour", "a", "b"}, "-t: expected NAME=VALUE, got 'quant'"},
      {{"-t", "=3", "velour", "a", "b"}, "expected NAME=VALUE"},
      {{"-t", "quant=x", "velour", "a", "b"}, "track bar 'quant': 'x' is not a whole number"},
      {{"-t", "quant=+-3", "velour", "a", "b"}, "'+-3' is not a whole number"},
      {{"-t", "quant=", "velour", "a", "b"}, "'' is not a whole number"},
      {{"-j", "0", "velour", "a", "b"}, "-j: 0 is outside 1..256"},
      {{"--host-threads", "0", "velour", "a", "b"}, "--host-threads: 0 is outside 1..256"},
      {{"--host-threads=257", "velour", "a", "b"}, "--host-threads: 257 is outside 1..256"},
      {{"--sampling", "411", "velour", "a", "b"},
       "--sampling: unknown chroma sampling '411' (444, 422, 420)"},
      {{"--threads"}, "--threads needs a value"},
      {{"--serial=1", "velour", "a", "b"}, "--serial takes no value"},
      {{"--version=2"}, "--version takes no value"},
      {{"--size", "640", "velour", "a", "b"}, "--size: expected WxH, got '640'"},
      {{"--size", "0x480", "velour", "a", "b"}, "--size width: 0 is outside"},
      {{"--size", "64x4k", "velour", "a", "b"}, "--size height: '4k' is not a whole number"},
      {{"--format", "avi", "velour", "a", "b"}, "unknown format 'avi'"},
      {{"--cpu=neon", "velour", "a", "b"}, "--cpu: unknown tier 'neon'"},
      {{"--compare", "-", "velour", "a", "b"}, "--compare needs a file name"},
      {{"--compare", "c.jpg.y4m", "velour", "a", "b"}, "'c.jpg.y4m' is not a .png or .jpg name"},
      {{"--compare", "c", "velour", "a", "b"}, "'c' is not a .png or .jpg name"},
  };
  for (const auto& c : cases) {
    const std::string message = UsageErrorOf(c.args);
    EXPECT_NE(message.find(c.message), std::string::npos) << "got: '" << message << "' wanted: " << c.message;
  }
}

// Track values are only range-checked once the plug-in is open: any whole number parses, and one
// beyond 64 bits saturates while its text is kept for the message.
TEST(Options, TrackValuesOfAnySize) {
  const Options o = ParseOptions({"-t", "quant=99999999999", "-t", "matrix=-99999999999999999999999", "-t",
                                  "n_shift=+99999999999999999999999", "velour", "a", "b"});
  ASSERT_EQ(o.tracks.size(), 3u);
  EXPECT_EQ(o.tracks[0], (cli::TrackSetting{"quant", 99999999999, "99999999999"}));
  EXPECT_EQ(o.tracks[1].value, std::numeric_limits<int64_t>::min());
  EXPECT_EQ(o.tracks[1].text, "-99999999999999999999999");
  EXPECT_EQ(o.tracks[2].value, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(ParseOptions({"--compare=x/c.JPEG", "velour", "a", "b"}).compare, "x/c.JPEG");
}

}  // namespace
