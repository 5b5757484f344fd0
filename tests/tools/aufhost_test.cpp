// aufhost run as a separate process, through pipes and files, against the same filter in-process.
#include <gtest/gtest.h>

#include "auf_version.h"
#include "host/plugin_host.h"
#include "tests/tools/aufhost_run.h"

namespace {

using namespace aufhost_test;

TEST(Aufhost, HelpAndList) {
  const Result help = RunAufhost({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: aufhost [options] PLUGIN INPUT OUTPUT", 0), 0u);
  for (const char* option : {"--track NAME=V", "--threads N", "--serial", "--list", "--size WxH", "--format",
                             "--compare", "--quiet", "--cpu", "--host-threads T", "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(help.err, "");

  const Result version = RunAufhost({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "aufhost " AUF_VERSION "\n");
  EXPECT_EQ(version.err, "");

  const Result list = RunAufhost({"--list", "velour"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out.rfind("Velour for AviUtl\n", 0), 0u);
  for (const char* row : {"quant                 1        1       31", "n_shift               8        1       64",
                          "matrix                3        0        4", "zero_weight           0        0       64"})
    EXPECT_NE(list.out.find(row), std::string::npos) << row << "\n" << list.out;

  const Result lib = RunAufhost({"--list", AUF_BUILD_DIR "/velour.so"});
  EXPECT_EQ(lib.status, 0) << lib.err;
  EXPECT_EQ(lib.out, list.out);
}

TEST(Aufhost, Y4mThroughAPipeMatchesYc48Files) {
  TempDir dir;
  for (const char* chroma : {"420jpeg", "444", "mono"}) {
    SCOPED_TRACE(chroma);
    const std::string clip = Y4mClip(37, 21, chroma, 3, 7);
    const Result piped = RunAufhost({"-j2", "-t", "quant=3", "velour", "-", "-"}, Feed(clip));
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, "");

    const std::vector<host::Frame> input = ReadAllFrames(io::Format::kY4m, clip);
    io::VideoInfo raw_info = InfoOf(clip);
    WriteFile(dir / "in.yc48", EncodeFrames(io::Format::kYc48, raw_info, input));
    const Result files = RunAufhost({"-j2", "-t", "quant=3", "--size", "37x21", "velour", dir / "in.yc48", dir / "out.yc48"});
    ASSERT_EQ(files.status, 0) << files.err;
    const std::vector<host::Frame> filtered = ReadAllFrames(io::Format::kYc48, ReadFile(dir / "out.yc48"), 37, 21);
    ASSERT_EQ(filtered.size(), 3u);
    EXPECT_EQ(piped.out, EncodeFrames(io::Format::kY4m, raw_info, filtered));

    // The raw output is exactly the filter's: the same frames filtered in-process.
    for (size_t i = 0; i < input.size(); ++i) {
      host::Frame f = input[i];
      FilterInProcess("velour", f, {{"quant", 3}});
      EXPECT_EQ(testsupport::DiffPictures(testsupport::Picture(f.edit.data(), f.w, f.h, f.stride),
                                          testsupport::Picture(filtered[i].edit.data(), f.w, f.h, f.stride), f.w, f.h),
              "")
          << "frame " << i;
    }
  }
}

// Each built-in filter: the forced tiers, the threads and the serial run all give the same bits.
class AufhostBuiltIn : public ::testing::TestWithParam<const char*> {};

TEST_P(AufhostBuiltIn, KernelTiersGiveTheSameOutput) {
  const std::string filter = GetParam();
  if (RunAufhost({"--list", filter}).status != 0) GTEST_SKIP() << filter << " is not built into aufhost";
  const std::vector<std::string> tracks =
      filter == "velour" ? std::vector<std::string>{"-t", "n_shift=5"} : std::vector<std::string>{"-t", "quant=40"};
  auto run = [&](std::vector<std::string> options) {
    options.insert(options.end(), tracks.begin(), tracks.end());
    options.insert(options.end(), {filter, "-", "-"});
    const Result r = RunAufhost(options, Feed(Y4mClip(64, 40, "420jpeg", 2, 11)));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  };
  const std::string c = run({"--cpu=c", "-j2"});
  EXPECT_NE(c, Y4mClip(64, 40, "420jpeg", 2, 11));
  for (const host::CpuTier& tier : host::kCpuTiers)
    EXPECT_TRUE(run({std::string("--cpu=") + tier.name, "-j2"}) == c) << tier.name;
  EXPECT_TRUE(run({"--cpu=auto", "-j2"}) == c);
  EXPECT_TRUE(run({"--cpu=c", "-j2", "--serial"}) == c);
  // The worker count changes only the speed.
  for (const char* j : {"-j1", "-j7"}) EXPECT_TRUE(run({j}) == c) << j;
}

// --host-threads T gives what the plug-in library gives in the editor stand-in with T workers, and
// for velour at n_shift 5 with T = 4 that differs from the default (eight passes, not five).
TEST_P(AufhostBuiltIn, HostThreadsGiveTheEditorsResult) {
  const std::string filter = GetParam();
  const std::string library = AUF_BUILD_DIR "/" + filter + ".so";
  const std::vector<std::string> tracks =
      filter == "velour" ? std::vector<std::string>{"-t", "n_shift=5"} : std::vector<std::string>{"-t", "quant=40"};
  const std::string clip = Y4mClip(64, 42, "420jpeg", 2, 13);
  auto run = [&](const std::string& plugin, std::vector<std::string> options) {
    options.insert(options.end(), tracks.begin(), tracks.end());
    options.insert(options.end(), {plugin, "-", "-"});
    const Result r = RunAufhost(options, Feed(clip));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  };
  const std::string editor = run(library, {"-j4"});
  EXPECT_TRUE(run(filter, {"--host-threads", "4", "-j2"}) == editor);
  EXPECT_TRUE(run(filter, {"--host-threads", "4", "-j1"}) == editor);
  EXPECT_FALSE(run(filter, {"-j4"}) == editor) << "the default is the result of one editor thread";
  EXPECT_TRUE(run(library, {"-j1"}) == run(filter, {"-j3"}));
}

INSTANTIATE_TEST_SUITE_P(Filters, AufhostBuiltIn, ::testing::Values("velour", "deblock"));

TEST(Aufhost, PicturesInAndOutWithACompareImage) {
  TempDir dir;
  const std::vector<host::Frame> frames = ReadAllFrames(io::Format::kY4m, Y4mClip(40, 24, "444", 1, 3));
  io::VideoInfo info;
  info.w = 40;
  info.h = 24;
  WriteFile(dir / "in.jpg", EncodeFrames(io::Format::kJpeg, info, frames));
  const Result r = RunAufhost({"velour", dir / "in.jpg", dir / "out.png", "--compare", dir / "cmp.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAllFrames(io::Format::kPng, ReadFile(dir / "out.png"))[0].w, 40);
  const std::vector<host::Frame> cmp = ReadAllFrames(io::Format::kPng, ReadFile(dir / "cmp.png"));
  ASSERT_EQ(cmp.size(), 1u);
  EXPECT_EQ(cmp[0].w, 80);
  EXPECT_EQ(cmp[0].h, 24);
  const Result j = RunAufhost({"velour", dir / "out.png", dir / "out.jpeg"});
  EXPECT_EQ(j.status, 0) << j.err;
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"cmp.png", "in.jpg", "out.jpeg", "out.png"}));
}

// Every failure: its message on one line, a non-zero status, and no output file (nor temporary).
TEST(Aufhost, ErrorsLeaveNoOutput) {
  TempDir dir;
  const std::string clip = Y4mClip(16, 16, "420jpeg", 2, 5);
  WriteFile(dir / "trunc.y4m", clip.substr(0, clip.size() - 10));
  WriteFile(dir / "badhead.y4m", "YUV4MPEG2 W16 H16 C411\n");
  WriteFile(dir / "in.yc48", std::string(16 * 16 * 6 * 2, '\0'));
  WriteFile(dir / "junk.png", "this is not a picture");
  WriteFile(dir / "junk.jpg", "\xff\xd8\xff junk");
  WriteFile(dir / "good.y4m", clip);
  WriteFile(dir / "keep.y4m", "previous contents");
  const struct {
    std::vector<std::string> args;
    std::string message;
    int status;
  } cases[] = {
      {{"velour", dir / "trunc.y4m", dir / "out.y4m"}, "trunc.y4m: frame 2: truncated", 1},
      {{"velour", dir / "badhead.y4m", dir / "out.y4m"}, "badhead.y4m: header: unsupported colour space 'C411'", 1},
      {{"--size", "15x16", "velour", dir / "in.yc48", dir / "out.y4m"}, "is not a whole number of 15x16 yc48 frames", 1},
      {{"velour", dir / "in.yc48", dir / "out.y4m"}, "needs its frame size (--size WxH)", 1},
      {{"velour", dir / "junk.png", dir / "out.png"}, "junk.png: not a readable PNG", 1},
      {{"velour", dir / "junk.jpg", dir / "out.png"}, "junk.jpg: not a readable JPEG", 1},
      {{"velour", dir / "missing.y4m", dir / "out.y4m"}, "missing.y4m: cannot open for reading", 1},
      {{dir / "nothing.so", dir / "good.y4m", dir / "out.y4m"}, "cannot load plug-in '" + dir / "nothing.so", 1},
      {{NO_ENTRY_PLUGIN, dir / "good.y4m", dir / "out.y4m"}, "has no GetFilterTable export", 1},
      {{dir / "junk.png", dir / "good.y4m", dir / "out.y4m"}, "cannot load plug-in '" + dir / "junk.png", 1},
      {{"-t", "bogus=1", "velour", dir / "good.y4m", dir / "out.y4m"},
       "has no track bar 'bogus' (it has: quant, n_shift, matrix, zero_weight)", 1},
      {{"-t", "quant=32", "velour", dir / "good.y4m", dir / "out.y4m"}, "track bar 'quant' of 'Velour for AviUtl' takes 1..31, not 32", 1},
      {{"--frobnicate", "velour", dir / "good.y4m", dir / "out.y4m"}, "unknown option '--frobnicate'", 2},
      {{"velour", dir / "good.y4m"}, "missing OUTPUT", 2},
      {{"velour", dir / "good.y4m", dir / "out.avi"}, "cannot tell the format of output", 2},
      {{"velour", dir / "good.y4m", dir / "out.png"}, "out.png: a picture holds one frame", 1},
      {{"--cpu=c", dir / "nothing.so", dir / "good.y4m", dir / "out.y4m"}, "--cpu applies to the built-in", 2},
      {{"velour", dir / "trunc.y4m", dir / "keep.y4m"}, "trunc.y4m: frame 2: truncated", 1},
      {{"velour", dir / "trunc.y4m", dir / "out.y4m", "--compare", dir / "cmp.png"}, "truncated", 1},
      {{"velour", dir / "good.y4m", dir / "no/such/dir/out.y4m"}, "no/such/dir/out.y4m: cannot create", 1},
      {{"--size", "16x15", "velour", dir / "good.y4m", dir / "out.y4m"}, "frame size 16x16 does not match --size 16x15", 1},
  };
  const std::vector<std::string> before = dir.Files();
  for (const auto& c : cases) {
    const Result r = RunAufhost(c.args);
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.rfind("aufhost: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    const size_t lines = size_t(std::count(r.err.begin(), r.err.end(), '\n'));
    EXPECT_EQ(lines, c.status == 2 ? 2u : 1u) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.Files(), before);
  }
  EXPECT_EQ(ReadFile(dir / "keep.y4m"), "previous contents");
}

TEST(Aufhost, InterruptedRunsRemoveTheirTemporaryFile) {
  TempDir dir;
  const std::string clip = Y4mClip(16, 16, "444", 1, 4);
  pid_t child = 0;
  bool saw_temporary = false;
  const Result r = RunAufhost(
      {"velour", "-", dir / "out.y4m"},
      [&](int fd) {
        WriteFd(fd, clip);  // one frame, then the input stays open
        for (int i = 0; i < 500 && !saw_temporary; ++i) {
          saw_temporary = !dir.Files().empty();
          usleep(10000);
        }
        kill(child, SIGTERM);
      },
      {}, [&](pid_t pid) { child = pid; });
  EXPECT_TRUE(saw_temporary);
  EXPECT_EQ(r.status, 128 + SIGTERM);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{});
}

TEST(Aufhost, APipeStopsAtTheLastWholeFrame) {
  const std::string clip = Y4mClip(16, 8, "420jpeg", 3, 9);
  const size_t frame_bytes = 6 + 16 * 8 * 3 / 2;
  const Result r = RunAufhost({"velour", "-", "-"}, Feed(clip.substr(0, clip.size() - frame_bytes / 2)));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("stdin: frame 3: truncated"), std::string::npos) << r.err;
  const size_t header = clip.size() - 3 * frame_bytes;
  EXPECT_EQ(r.out.size(), header + 2 * frame_bytes);
  EXPECT_EQ(ReadAllFrames(io::Format::kY4m, r.out).size(), 2u);
}

}  // namespace
