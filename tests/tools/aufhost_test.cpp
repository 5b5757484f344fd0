// aufhost run as a separate process, through pipes and files, against the same filter in-process.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "auf_version.h"
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
  for (const char* row :
       {"quant                 1        1       31", "n_shift               8        1       64",
        "matrix                3        0        4", "zero_weight           0        0       64"})
    EXPECT_NE(list.out.find(row), std::string::npos) << row << "\n" << list.out;

  const Result lib = RunAufhost({"--list", AUF_BUILD_DIR "/velour.so"});
  EXPECT_EQ(lib.status, 0) << lib.err;
  EXPECT_EQ(lib.out, list.out);
}

TEST(Aufhost, Y4mThroughAPipeMatchesYc48Files) {
  TempDir dir;
  for (const char* chroma :
       {"420jpeg", "444", "mono", "422p10", "444p10", "420p12", "422p12", "444p12", "mono16"}) {
    SCOPED_TRACE(chroma);
    const std::string clip = Y4mClip(37, 21, chroma, 3, 7);
    const Result piped = RunAufhost({"-j2", "-t", "quant=3", "velour", "-", "-"}, Feed(clip));
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, "");

    const std::vector<core::Picture> input = ReadAllFrames(io::Format::kY4m, clip);
    io::VideoInfo raw_info = InfoOf(clip);
    WriteFile(dir / "in.yc48", EncodeFrames(io::Format::kYc48, raw_info, input));
    const Result files =
        RunAufhost({"-j2", "-t", "quant=3", "--size", "37x21", "velour", dir / "in.yc48", dir / "out.yc48"});
    ASSERT_EQ(files.status, 0) << files.err;
    const std::vector<core::Picture> filtered =
        ReadAllFrames(io::Format::kYc48, ReadFile(dir / "out.yc48"), 37, 21);
    ASSERT_EQ(filtered.size(), 3u);
    EXPECT_EQ(piped.out, EncodeFrames(io::Format::kY4m, raw_info, filtered));

    // The raw output is exactly the filter's: the same frames filtered in-process.
    for (size_t i = 0; i < input.size(); ++i) {
      core::Picture f = input[i];
      FilterInProcess("velour", f, {{"quant", 3}});
      EXPECT_EQ(testsupport::DiffPictures(testsupport::Picture(f.pixels.data(), f.w, f.h, f.stride),
                                          testsupport::Picture(filtered[i].pixels.data(), f.w, f.h, f.stride),
                                          f.w, f.h),
                "")
          << "frame " << i;
    }
  }
}

// What comes back of each deeper Y4M layout through a filter that changes nothing: 10- and 12-bit
// levels exactly, words above the largest level as the largest; 16-bit levels to the nearest
// multiple of 16, halves up, and the top eight to 65535.
TEST(Aufhost, DeeperLayoutsComeBackAsTheReadmeSays) {
  testsupport::Rng rng(testsupport::TestSeed());
  for (const char* tag : {"420p10", "422p10", "444p10", "420p12", "422p12", "444p12", "mono16"}) {
    SCOPED_TRACE(tag);
    const Y4mTag t = Y4mTagOf(tag);
    const int w = 19, h = 7, max = (1 << t.depth) - 1;
    const size_t samples =
        size_t(w) * h + (t.mono ? 0 : 2 * size_t((w + t.sx - 1) / t.sx) * ((h + t.sy - 1) / t.sy));
    const std::string header = std::string("YUV4MPEG2 W19 H7 F25:1 C") + tag + "\n";
    std::string in = header + "FRAME\n", want = in;
    for (size_t i = 0; i < samples; ++i) {
      const int word = i < 4 ? 65535 - int(i) : rng.Uniform(0, 65535),
                back = t.depth == 16 ? std::min((word + 8) >> 4 << 4, max) : std::min(word, max);
      in += {char(word & 0xFF), char(word >> 8)};
      want += {char(back & 0xFF), char(back >> 8)};
    }
    const Result r = RunAufhost({"-t", "quant=0", "deblock", "-", "-"}, Feed(in));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out.size(), want.size());
    const auto [a, b] = std::mismatch(want.begin(), want.end(), r.out.begin());
    EXPECT_TRUE(a == want.end()) << "byte " << (a - want.begin()) << " is " << int(uint8_t(*b)) << ", not "
                                 << int(uint8_t(*a));
  }
}

// Each built-in filter: the forced tiers, the threads and the serial run all give the same bits.
class AufhostBuiltIn : public ::testing::TestWithParam<const char*> {};

TEST_P(AufhostBuiltIn, KernelTiersGiveTheSameOutput) {
  const std::string filter = GetParam();
  if (RunAufhost({"--list", filter}).status != 0) GTEST_SKIP() << filter << " is not built into aufhost";
  const std::vector<std::string> tracks = filter == "velour" ? std::vector<std::string>{"-t", "n_shift=5"}
                                                             : std::vector<std::string>{"-t", "quant=40"};
  auto run = [&](std::vector<std::string> options) {
    options.insert(options.end(), tracks.begin(), tracks.end());
    options.insert(options.end(), {filter, "-", "-"});
    const Result r = RunAufhost(options, Feed(Y4mClip(64, 40, "420jpeg", 2, 11)));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  };
  const std::string c = run({"--cpu=c", "-j2"});
  EXPECT_NE(c, Y4mClip(64, 40, "420jpeg", 2, 11));
  for (const core::CpuTier& tier : core::kCpuTiers)
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
  const std::vector<std::string> tracks = filter == "velour" ? std::vector<std::string>{"-t", "n_shift=5"}
                                                             : std::vector<std::string>{"-t", "quant=40"};
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
  const std::vector<core::Picture> frames = ReadAllFrames(io::Format::kY4m, Y4mClip(40, 24, "444", 1, 3));
  io::VideoInfo info;
  info.w = 40;
  info.h = 24;
  WriteFile(dir / "in.jpg", EncodeFrames(io::Format::kJpeg, info, frames));
  const Result r = RunAufhost({"velour", dir / "in.jpg", dir / "out.png", "--compare", dir / "cmp.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAllFrames(io::Format::kPng, ReadFile(dir / "out.png"))[0].w, 40);
  const std::vector<core::Picture> cmp = ReadAllFrames(io::Format::kPng, ReadFile(dir / "cmp.png"));
  ASSERT_EQ(cmp.size(), 1u);
  EXPECT_EQ(cmp[0].w, 80);
  EXPECT_EQ(cmp[0].h, 24);
  const Result j = RunAufhost({"velour", dir / "out.png", dir / "out.jpeg"});
  EXPECT_EQ(j.status, 0) << j.err;
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"cmp.png", "in.jpg", "out.jpeg", "out.png"}));
}

// A JPEG of two components (no colour space takes two), from one of three: its frame and scan headers
// cut to two components; the reader stops at the scan header.
std::string TwoComponentJpeg() {
  io::VideoInfo info;
  info.w = info.h = 8;
  std::string jpeg =
      EncodeFrames(io::Format::kJpeg, info, ReadAllFrames(io::Format::kY4m, Y4mClip(8, 8, "444", 1, 2)));
  for (const char* marker : {"\xff\xc0", "\xff\xda"}) {
    const size_t at = jpeg.find(marker, 2, 2);
    const bool frame = marker[1] == '\xc0';
    const size_t count = at + (frame ? 9 : 4), entry = frame ? 3 : 2;
    jpeg[count] = 2;
    jpeg.erase(count + 1 + 2 * entry, entry);
    jpeg[at + 3] = char(uint8_t(jpeg[at + 3]) - entry);
  }
  return jpeg;
}

// Every failure: its message on one line naming the file and the reason, status 2 for usage errors and
// 1 for the rest, and no output file (nor temporary).
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
  WriteFile(dir / "keep.png", "previous picture");
  WriteFile(dir / "empty.y4m", "YUV4MPEG2 W16 H16\n");
  WriteFile(dir / "wide.y4m", "YUV4MPEG2 W65536 H2\n");
  WriteFile(dir / "two.jpg", TwoComponentJpeg());
  for (const char* folder : {"clip.y4m", "pics.png", "raw.yc48", "outdir.y4m"})
    mkdir((dir / folder).c_str(), 0755);
  const struct {
    std::vector<std::string> args;
    std::string message;
    int status;
  } cases[] = {
      {{"velour", dir / "trunc.y4m", dir / "out.y4m"}, "trunc.y4m: frame 2: truncated", 1},
      {{"velour", dir / "badhead.y4m", dir / "out.y4m"},
       "badhead.y4m: header: unsupported colour space 'C411'",
       1},
      {{"--size", "15x16", "velour", dir / "in.yc48", dir / "out.y4m"},
       "is not a whole number of 15x16 yc48 frames",
       1},
      {{"velour", dir / "in.yc48", dir / "out.y4m"}, "needs its frame size (--size WxH)", 1},
      {{"velour", dir / "junk.png", dir / "out.png"}, "junk.png: not a readable PNG", 1},
      {{"velour", dir / "junk.jpg", dir / "out.png"}, "junk.jpg: not a readable JPEG", 1},
      {{"velour", dir / "missing.y4m", dir / "out.y4m"},
       "missing.y4m: cannot open for reading (No such file or directory)",
       1},
      {{"velour", dir / "clip.y4m", dir / "out.y4m"}, "clip.y4m: is a directory", 1},
      {{"velour", dir / "pics.png", dir / "out.png"}, "pics.png: is a directory", 1},
      {{"--size", "8x8", "velour", dir / "raw.yc48", dir / "out.yc48"}, "raw.yc48: is a directory", 1},
      {{"velour", dir / "good.y4m", dir / "outdir.y4m"}, "outdir.y4m: is a directory", 1},
      {{"velour", dir / "good.y4m", dir / "good.y4m/out.y4m"},
       "good.y4m/out.y4m: cannot create (Not a directory)",
       1},
      // Outputs are checked before the first frame: the truncated input is never reached.
      {{"velour", dir / "trunc.y4m", dir / "outdir.y4m"}, "outdir.y4m: is a directory", 1},
      {{"velour", dir / "trunc.y4m", dir / "out.y4m", "--compare", dir / "no/such/cmp.png"},
       "no/such/cmp.png: cannot create (No such file or directory)",
       1},
      {{dir / "nothing.so", dir / "good.y4m", dir / "out.y4m"},
       dir / "nothing.so: neither a built-in filter (velour, deblock) nor an existing file",
       1},
      {{"velor", dir / "good.y4m", dir / "out.y4m"},
       "velor: neither a built-in filter (velour, deblock) nor an existing file",
       1},
      {{NO_ENTRY_PLUGIN, dir / "good.y4m", dir / "out.y4m"}, "has no GetFilterTable export", 1},
      {{dir / "junk.png", dir / "good.y4m", dir / "out.y4m"}, "cannot load plug-in '" + dir / "junk.png", 1},
      {{"-t", "bogus=1", "velour", dir / "good.y4m", dir / "out.y4m"},
       "has no track bar 'bogus' (it has: quant, n_shift, matrix, zero_weight)",
       2},
      {{"-t", "quant=32", "velour", dir / "good.y4m", dir / "out.y4m"},
       "track bar 'quant' of 'Velour for AviUtl' takes 1..31, not 32",
       2},
      {{"-t", "quant=99999999999", "velour", dir / "good.y4m", dir / "out.y4m"},
       "takes 1..31, not 99999999999",
       2},
      {{"-t", "matrix=-99999999999999999999", "velour", dir / "good.y4m", dir / "out.y4m"},
       "track bar 'matrix' of 'Velour for AviUtl' takes 0..4, not -99999999999999999999",
       2},
      {{"--frobnicate", "velour", dir / "good.y4m", dir / "out.y4m"}, "unknown option '--frobnicate'", 2},
      {{"velour", dir / "good.y4m"}, "missing OUTPUT", 2},
      {{"velour", dir / "good.y4m", dir / "out.avi"}, "cannot tell the format of output", 2},
      // Pictures hold exactly one frame: the input is looked at before any frame is filtered.
      {{"velour", dir / "good.y4m", dir / "out.png"},
       "out.png: a picture holds one frame, and " + dir / "good.y4m has more than one (write Y4M or yc48)",
       1},
      {{"deblock", dir / "empty.y4m", dir / "keep.png"},
       "keep.png: a picture cannot hold zero frames (" + dir / "empty.y4m has none)",
       1},
      {{"deblock", dir / "empty.y4m", dir / "new.jpg"}, "new.jpg: a picture cannot hold zero frames", 1},
      {{"--size", "16x16", "velour", dir / "in.yc48", dir / "out.png"},
       "out.png: a picture holds one frame, and " + dir / "in.yc48 has 2",
       1},
      {{"velour", dir / "wide.y4m", dir / "out.y4m"},
       "picture size 65536x2 exceeds the limit of 65535 pixels per side",
       1},
      {{"velour", dir / "two.jpg", dir / "out.png"}, "2-component pictures are not supported", 1},
      // Names are shown with what a terminal would act on escaped, so the message stays one line.
      {{"velour", dir / "a\nb\x1b[2J\xc2\x9b\xff.y4m", dir / "out.y4m"},
       "a\\nb\\x1b[2J\\u009b\\xff.y4m: cannot open for reading",
       1},
      {{"--cpu=c", dir / "nothing.so", dir / "good.y4m", dir / "out.y4m"},
       "--cpu applies to the built-in",
       2},
      {{"velour", dir / "trunc.y4m", dir / "keep.y4m"}, "trunc.y4m: frame 2: truncated", 1},
      {{"velour", dir / "trunc.y4m", dir / "out.y4m", "--compare", dir / "cmp.png"}, "truncated", 1},
      {{"velour", dir / "good.y4m", dir / "no/such/dir/out.y4m"},
       "no/such/dir/out.y4m: cannot create (No such file or directory)",
       1},
      {{"velour", dir / "good.y4m", dir / "out.y4m", "--compare", dir / "cmp.y4m"},
       "is not a .png or .jpg name",
       2},
      {{"--size", "16x15", "velour", dir / "good.y4m", dir / "out.y4m"},
       "frame size 16x16 does not match --size 16x15",
       1},
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
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    if (c.status == 2) {
      EXPECT_NE(r.err.find("(try 'aufhost --help')\n"), std::string::npos) << r.err;
    }
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.Files(), before);
  }
  EXPECT_EQ(ReadFile(dir / "keep.y4m"), "previous contents");
  EXPECT_EQ(ReadFile(dir / "keep.png"), "previous picture");
}

// No output may overwrite the input or another output, under any spelling of the same file; the
// refusal comes before any work and touches nothing.
TEST(Aufhost, OutputsNeverOverwriteTheInputOrEachOther) {
  TempDir dir;
  io::VideoInfo info;
  info.w = 24;
  info.h = 16;
  const std::string picture =
      EncodeFrames(io::Format::kPng, info, ReadAllFrames(io::Format::kY4m, Y4mClip(24, 16, "444", 1, 8)));
  WriteFile(dir / "in.png", picture);
  WriteFile(dir / "out.png", "previous result");
  mkdir((dir / "sub").c_str(), 0755);
  ASSERT_EQ(symlink("in.png", (dir / "link.png").c_str()), 0);
  ASSERT_EQ(link((dir / "in.png").c_str(), (dir / "hard.png").c_str()), 0);
  const std::vector<std::string> files = dir.Files();
  const struct {
    std::string input, output, compare, message;
  } cases[] = {
      {dir / "in.png", dir / "out.png", dir / "in.png", "--compare names the INPUT file"},
      {dir / "in.png", dir / "out.png", dir / "out.png", "--compare names the OUTPUT file"},
      {dir / "in.png", dir / "out.png", dir / "sub/../in.png", "--compare names the INPUT file"},
      {dir / "in.png", dir / "out.png", dir / "./out.png", "--compare names the OUTPUT file"},
      {dir / "in.png", dir / "out.png", dir / "link.png", "--compare names the INPUT file"},
      {dir / "in.png", dir / "out.png", dir / "hard.png", "--compare names the INPUT file"},
      {dir / "in.png", dir / "new.png", dir / "sub/../new.png", "--compare names the OUTPUT file"},
      {dir / "in.png", dir / "sub/../in.png", "", "INPUT and OUTPUT are the same file"},
      {dir / "link.png", dir / "hard.png", "", "INPUT and OUTPUT are the same file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input + " " + c.output + " " + c.compare);
    std::vector<std::string> args = {"velour", c.input, c.output};
    if (!c.compare.empty()) args.insert(args.end(), {"--compare", c.compare});
    const Result r = RunAufhost(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(dir.Files(), files);
    EXPECT_TRUE(ReadFile(dir / "in.png") == picture);
    EXPECT_EQ(ReadFile(dir / "out.png"), "previous result");
  }

  // A JPEG name gets a JPEG: the two frames side by side.
  const Result r = RunAufhost({"velour", dir / "in.png", dir / "out.png", "--compare", dir / "cmp.jpg"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string jpeg = ReadFile(dir / "cmp.jpg");
  EXPECT_EQ(jpeg.substr(0, 2), "\xff\xd8");
  const std::vector<core::Picture> both = ReadAllFrames(io::Format::kJpeg, jpeg);
  ASSERT_EQ(both.size(), 1u);
  EXPECT_EQ(both[0].w, 48);
  EXPECT_EQ(both[0].h, 16);
}

// What OUTPUT names decides how it is written: a device, a FIFO or /dev/stdout straight through, a
// symbolic link by replacing its target and keeping the link.
TEST(Aufhost, DevicesFifosAndLinksAsOutput) {
  TempDir dir;
  const std::string clip = Y4mClip(16, 16, "420jpeg", 2, 21);
  WriteFile(dir / "in.y4m", clip);
  const Result piped = RunAufhost({"-j1", "velour", dir / "in.y4m", "-"});
  ASSERT_EQ(piped.status, 0) << piped.err;

  const Result to_stdout = RunAufhost({"-j1", "velour", dir / "in.y4m", "/dev/stdout"});
  EXPECT_EQ(to_stdout.status, 0) << to_stdout.err;
  EXPECT_TRUE(to_stdout.out == piped.out);

  // The FIFO's reader is open before aufhost starts; two small frames fit in its buffer.
  ASSERT_EQ(mkfifo((dir / "fifo.y4m").c_str(), 0644), 0);
  const int fifo = open((dir / "fifo.y4m").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fifo, 0);
  const Result to_fifo = RunAufhost({"-j1", "velour", dir / "in.y4m", dir / "fifo.y4m"});
  EXPECT_EQ(to_fifo.status, 0) << to_fifo.err;
  std::string from_fifo;
  char buffer[4096];
  for (ssize_t n; (n = read(fifo, buffer, sizeof buffer)) > 0;) from_fifo.append(buffer, size_t(n));
  close(fifo);
  EXPECT_TRUE(from_fifo == piped.out);
  struct stat st;
  ASSERT_EQ(lstat((dir / "fifo.y4m").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // A copy of the null device, made where the test may make one (as root).
  if (mknod((dir / "null.y4m").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    const Result to_null = RunAufhost({"velour", dir / "in.y4m", dir / "null.y4m"});
    EXPECT_EQ(to_null.status, 0) << to_null.err;
    ASSERT_EQ(lstat((dir / "null.y4m").c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }

  // Links: followed to their target, which is replaced in its own folder; a dangling link creates it.
  mkdir((dir / "real").c_str(), 0755);
  WriteFile(dir / "real/target.y4m", "old contents");
  chmod((dir / "real/target.y4m").c_str(), 0600);
  ASSERT_EQ(symlink("real/target.y4m", (dir / "link.y4m").c_str()), 0);
  ASSERT_EQ(symlink("real/new.y4m", (dir / "dangling.y4m").c_str()), 0);
  for (const char* name : {"link.y4m", "dangling.y4m"}) {
    const Result r = RunAufhost({"-j1", "velour", dir / "in.y4m", dir / name});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(lstat((dir / name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
  }
  EXPECT_TRUE(ReadFile(dir / "real/target.y4m") == piped.out);
  EXPECT_TRUE(ReadFile(dir / "real/new.y4m") == piped.out);
  ASSERT_EQ(stat((dir / "real/target.y4m").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // a replaced file keeps its permissions
  std::vector<std::string> expected = {"dangling.y4m", "fifo.y4m", "in.y4m", "link.y4m", "real"};
  if (lstat((dir / "null.y4m").c_str(), &st) == 0) expected.insert(expected.begin() + 4, "null.y4m");
  EXPECT_EQ(dir.Files(), expected);
  EXPECT_EQ(TempDir::FilesIn(dir / "real"), (std::vector<std::string>{"new.y4m", "target.y4m"}));
}

// Nothing of a picture is lost without a word: alpha comes back unchanged, 16-bit stays 16-bit, and a
// format without alpha gets a warning.
TEST(Aufhost, PicturesKeepTheirAlphaAndDepth) {
  TempDir dir;
  testsupport::Rng rng(testsupport::TestSeed());
  std::vector<int> rgba, grey16;
  for (int i = 0; i < 24 * 16; ++i) {
    const int level = 60 + 120 * ((i % 24) / 8 % 2) + rng.Uniform(0, 20);  // blocky, so velour has work
    rgba.insert(rgba.end(), {level, level / 2, 255 - level, rng.Uniform(0, 255)});
    grey16.push_back(257 * level + rng.Uniform(0, 256));
  }
  WriteFile(dir / "rgba.png", MakePng(24, 16, 8, 6, rgba));
  WriteFile(dir / "grey16.png", MakePng(24, 16, 16, 0, grey16));

  const Result r = RunAufhost({"-t", "quant=8", "velour", dir / "rgba.png", dir / "out.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string out = ReadFile(dir / "out.png");
  EXPECT_EQ(PngColourType(out), 6);
  std::istringstream in(out);
  core::Picture f;
  io::FrameExtras extras;
  ASSERT_TRUE(io::OpenReader(io::Format::kPng, in, "out.png")->Read(f, extras));
  ASSERT_EQ(extras.alpha.size(), 24u * 16);
  for (size_t i = 0; i < extras.alpha.size(); ++i) ASSERT_EQ(extras.alpha[i], rgba[4 * i + 3]) << i;

  const Result deep = RunAufhost({"-t", "quant=8", "velour", dir / "grey16.png", dir / "out16.png"});
  ASSERT_EQ(deep.status, 0) << deep.err;
  EXPECT_EQ(deep.err, "");
  EXPECT_EQ(PngDepth(ReadFile(dir / "out16.png")), 16);
  EXPECT_EQ(PngColourType(ReadFile(dir / "out16.png")), 0);

  const Result jpeg = RunAufhost({"velour", dir / "rgba.png", dir / "out.jpg"});
  EXPECT_EQ(jpeg.status, 0) << jpeg.err;
  EXPECT_EQ(jpeg.err, "aufhost: warning: " + dir / "out.jpg" + ": the alpha channel of " + dir / "rgba.png" +
                          " is not kept (jpeg has none)\n");
  EXPECT_EQ(RunAufhost({"-q", "velour", dir / "rgba.png", dir / "out.y4m"}).err, "");
  // So is a depth the output cannot store: 16-bit colour in Y4M. 16-bit grey it stores, as 16 times
  // the host's luma.
  std::vector<int> rgb16;
  for (int i = 0; i < 3 * 8 * 8; ++i) rgb16.push_back(rng.Uniform(0, 65535));
  WriteFile(dir / "rgb16.png", MakePng(8, 8, 16, 2, rgb16));
  EXPECT_EQ(RunAufhost({"velour", dir / "rgb16.png", dir / "out8.y4m"}).err,
            "aufhost: warning: " + dir / "out8.y4m" + ": the 16-bit samples of " + dir / "rgb16.png" +
                " are written at 8 bits (y4m)\n");
  const Result grey = RunAufhost({"-t", "quant=0", "deblock", dir / "grey16.png", "-"});
  EXPECT_EQ(grey.err, "");
  EXPECT_EQ(grey.out.substr(0, grey.out.find('\n')), "YUV4MPEG2 W24 H16 F25:1 Cmono16");
  const size_t first = grey.out.find("FRAME\n") + 6;
  ASSERT_EQ(grey.out.size(), first + 2 * 24 * 16);
  for (size_t i = 0; i < 24 * 16; ++i)
    ASSERT_EQ(uint8_t(grey.out[first + 2 * i]) | uint8_t(grey.out[first + 2 * i + 1]) << 8,
              16 * ((32 * grey16[i] + 257) / 514))  // 16 v / 257 rounded, times 16
        << i;
}

// The chroma sampling of the first JPEG component pair: luma's (h << 4 | v), then chroma's; 0 for a
// grey picture.
std::pair<int, int> JpegSampling(const std::string& jpeg) {
  const size_t frame = jpeg.find("\xff\xc0", 2);
  if (frame == std::string::npos || jpeg.size() < frame + 15) return {-1, -1};
  if (jpeg[frame + 9] == 1) return {0, 0};
  return {uint8_t(jpeg[frame + 11]), uint8_t(jpeg[frame + 14])};
}

// A JPEG keeps the chroma sampling of what it is made from, or the one asked for; RGB pictures are
// 4:4:4. Written without --quality, it is written at the documented 95.
TEST(Aufhost, JpegKeepsTheChromaSampling) {
  TempDir dir;
  for (const char* chroma : {"444", "420jpeg", "mono"})
    WriteFile(dir / (std::string(chroma) + ".y4m"), Y4mClip(48, 32, chroma, 1, 31));
  const std::string planes = Y4mFrame(48, 32, "444", 31).substr(6);  // 4:2:2 takes the first two thirds
  WriteFile(dir / "422.y4m", "YUV4MPEG2 W48 H32 F25:1 C422\nFRAME\n" + planes.substr(0, 48 * 32 * 2));
  io::VideoInfo info;
  info.w = 48;
  info.h = 32;
  WriteFile(dir / "rgb.png",
            EncodeFrames(io::Format::kPng, info, ReadAllFrames(io::Format::kY4m, ReadFile(dir / "444.y4m"))));
  const auto jpeg = [&](const std::string& in, std::vector<std::string> options = {}) {
    options.insert(options.end(), {"velour", dir / in, dir / "out.jpg"});
    const Result r = RunAufhost(options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return ReadFile(dir / "out.jpg");
  };
  const struct {
    std::string in;
    std::vector<std::string> options;
    std::pair<int, int> sampling;
  } cases[] = {
      {"444.y4m", {}, {0x11, 0x11}},
      {"422.y4m", {}, {0x21, 0x11}},
      {"420jpeg.y4m", {}, {0x22, 0x11}},
      {"mono.y4m", {}, {0, 0}},
      {"rgb.png", {}, {0x11, 0x11}},
      {"444.y4m", {"--sampling", "420"}, {0x22, 0x11}},
      {"420jpeg.y4m", {"--sampling=422"}, {0x21, 0x11}},
  };
  for (const auto& c : cases) {
    std::string options;
    for (const std::string& o : c.options) options += " " + o;
    SCOPED_TRACE(c.in + options);
    EXPECT_EQ(JpegSampling(jpeg(c.in, c.options)), c.sampling);
  }
  // A JPEG read as 4:4:4 frames is written back at the sampling it was coded at.
  WriteFile(dir / "422.jpg", jpeg("422.y4m"));
  EXPECT_EQ(JpegSampling(jpeg("422.jpg")), std::make_pair(0x21, 0x11));
  // And 4:4:4 keeps every chroma sample: through an identity (deblock changing nothing) at quality
  // 100 each comes back within a few levels.
  const Result same =
      RunAufhost({"--quality", "100", "-t", "quant=0", "deblock", dir / "444.y4m", dir / "444.jpg"});
  ASSERT_EQ(same.status, 0) << same.err;
  const core::Picture before = ReadAllFrames(io::Format::kY4m, ReadFile(dir / "444.y4m")).at(0);
  const core::Picture after = ReadAllFrames(io::Format::kJpeg, ReadFile(dir / "444.jpg")).at(0);
  int worst = 0;
  for (size_t i = 0; i < before.pixels.size(); ++i)
    worst = std::max({worst, std::abs(before.pixels[i].cb - after.pixels[i].cb),
                      std::abs(before.pixels[i].cr - after.pixels[i].cr)});
  EXPECT_LE(worst, 4 * 16) << "in the host's steps of 16 a level";

  EXPECT_TRUE(jpeg("444.y4m") == jpeg("444.y4m", {"--quality", "95"}));
  EXPECT_FALSE(jpeg("444.y4m") == jpeg("444.y4m", {"--quality", "94"}));
}

// Out of memory or threads, the message names the file and what was needed; and frames take memory
// only once the first one arrives. (The memory limit cannot be set for a sanitizer's run-time.)
TEST(Aufhost, OutOfMemoryOrThreadsNamesWhatWasNeeded) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's run-time cannot run under a memory limit";
#endif
  TempDir dir;
  chmod((dir / "").c_str(), 0755);  // for a run as another user
  const std::string header = "YUV4MPEG2 W8192 H8192 F25:1 Cmono\n";
  WriteFile(dir / "big.y4m", header + "FRAME\n" + std::string(8192 * 8192, '\x80'));
  WriteFile(dir / "header.y4m", header);
  {
    std::string rows;
    for (int y = 0; y < 8192; ++y) rows += '\0' + std::string(8192, '\x80');
    uLongf size = compressBound(uLong(rows.size()));
    std::string z(size, '\0');
    compress(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(rows.data()),
             uLong(rows.size()));
    z.resize(size);
    std::string ihdr = {0, 0, 0x20, 0, 0, 0, 0x20, 0, 8, 0, 0, 0, 0};  // 8192x8192, grey, 8 bits
    WriteFile(dir / "big.png",
              "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", ihdr) + PngChunk("IDAT", z) + PngChunk("IEND", ""));
  }
  WriteFile(dir / "small.y4m", Y4mClip(16, 16, "420jpeg", 1, 4));
  const auto memory = [](const ChildSetup& more = {}) -> ChildSetup {
    return [more] {
      const rlimit limit = {rlim_t{512} << 20, rlim_t{512} << 20};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(kSetupFailed);
      if (more) more();
    };
  };
  const struct {
    std::vector<std::string> args;
    ChildSetup setup;
    int status;
    std::string err;
  } cases[] = {
      {{"-j1", "velour", dir / "big.y4m", dir / "out.y4m"},
       memory(),
       1,
       dir / "big.y4m: not enough memory for 8192x8192 frames"},
      {{"-j1", "velour", dir / "big.png", dir / "out.png"},
       memory(),
       1,
       dir / "big.png: not enough memory for 8192x8192 frames"},
      {{"-j1", "velour", dir / "header.y4m", dir / "out.y4m"}, memory(), 0, dir / "header.y4m: no frames"},
      // A user of its own with room for one process and one thread more.
      {{"-j", "256", "velour", dir / "small.y4m", "-"},
       [] {
         const rlimit two = {2, 2};
         if (setrlimit(RLIMIT_NPROC, &two) != 0) _exit(kSetupFailed);
         if (setgroups(0, nullptr) != 0 || setgid(54321) != 0 || setuid(54321) != 0) _exit(kSetupFailed);
       },
       1,
       "cannot start 256 worker threads (Resource temporarily unavailable; -j sets fewer, --serial starts "
       "none)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    const Result r = RunAufhost(c.args, {}, {}, {}, c.setup);
    if (r.status == kSetupFailed || r.status == 127) {
      std::printf("[  SKIPPED ] %s: this machine does not allow it\n", c.err.c_str());
      continue;
    }
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "aufhost: " + c.err + "\n");
    std::vector<std::string> files = {"big.png", "big.y4m", "header.y4m", "small.y4m"};
    if (c.status == 0) files.insert(files.begin() + 3, "out.y4m");
    EXPECT_EQ(dir.Files(), files);
    unlink((dir / "out.y4m").c_str());
  }
}

// Y4M streams keep every frame's tags; interlaced input is filtered with one warning; a malformed tag
// is refused; and whatever one aufhost writes, the next one reads.
TEST(Aufhost, Y4mTagsInterlacingAndLongHeaders) {
  const std::string planes = Y4mFrame(16, 8, "420jpeg", 3).substr(6);
  auto stream = [&](const std::string& header_tags, const std::vector<std::string>& frame_tags) {
    std::string s = "YUV4MPEG2 W16 H8 F25:1 " + header_tags + " C420jpeg\n";
    for (const std::string& t : frame_tags) s += "FRAME" + t + "\n" + planes;
    return s;
  };
  const std::vector<std::string> mixed = {" Itii", "", " I1pp XKEY=1", " Ibip"};
  const Result r = RunAufhost({"velour", "-", "-"}, Feed(stream("Im", mixed)));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines;
  for (size_t at = r.out.find("FRAME"); at != std::string::npos; at = r.out.find("FRAME", at + 1))
    lines.push_back(r.out.substr(at + 5, r.out.find('\n', at) - at - 5));
  EXPECT_EQ(lines, mixed);
  EXPECT_EQ(r.err,
            "aufhost: warning: stdin: interlaced frames are filtered as progressive ones (the filters work "
            "on whole frames)\n");

  const Result top = RunAufhost({"velour", "-", "-"}, Feed(stream("It", {"", ""})));
  EXPECT_EQ(top.status, 0);
  EXPECT_EQ(std::count(top.err.begin(), top.err.end(), '\n'), 1) << top.err;
  EXPECT_EQ(RunAufhost({"velour", "-", "-"}, Feed(stream("Ip", {"", " I1pp"}))).err, "");
  EXPECT_EQ(RunAufhost({"-q", "velour", "-", "-"}, Feed(stream("It", {""}))).err, "");

  const Result bare = RunAufhost({"velour", "-", "-"}, Feed(stream("F", {""})));
  EXPECT_EQ(bare.status, 1);
  EXPECT_NE(bare.err.find("stdin: header: malformed tag 'F'"), std::string::npos) << bare.err;
  EXPECT_EQ(bare.out, "");

  // Headers at the reader's limit, with and without the tags a writer adds: what one run accepts
  // goes through the next.
  for (const bool complete : {false, true}) {
    std::string header = std::string("YUV4MPEG2 W16 H8") + (complete ? " F25:1 C420jpeg" : "") + " X";
    header += std::string(4096 - header.size(), 'a') + "\n";
    const Result first = RunAufhost({"velour", "-", "-"}, Feed(header + "FRAME\n" + planes));
    if (!complete && first.status != 0) continue;  // refused: fine, as long as it says so
    ASSERT_EQ(first.status, 0) << first.err;
    const Result second = RunAufhost({"deblock", "-", "-"}, Feed(first.out));
    EXPECT_EQ(second.status, 0) << second.err;
  }
}

// What the README says the filters leave alone, seen through aufhost as a user sees it.
TEST(Aufhost, WhatTheFiltersLeaveAlone) {
  auto mono = [](int w, int h, const std::function<int(int, int)>& level) {
    std::string s = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F25:1 Cmono\nFRAME\n";
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) s += char(level(x, y));
    return s;
  };
  auto luma = [](const std::string& y4m, int x, int y, int w) {
    return uint8_t(y4m[y4m.find("FRAME\n") + 6 + size_t(y) * w + x]);
  };
  testsupport::Rng rng(5);
  std::vector<int> noise(64 * 40);
  for (int& v : noise) v = rng.Uniform(0, 255);
  const std::string busy = mono(40, 24, [&](int x, int y) { return noise[size_t(y) * 40 + x]; });
  const Result v = RunAufhost({"-t", "quant=31", "-t", "n_shift=16", "velour", "-", "-"}, Feed(busy));
  ASSERT_EQ(v.status, 0) << v.err;
  int changed = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) {
      if (x == 39 || y == 23) EXPECT_EQ(luma(v.out, x, y, 40), luma(busy, x, y, 40)) << x << "," << y;
      else changed += luma(v.out, x, y, 40) != luma(busy, x, y, 40);
    }
  EXPECT_GT(changed, 500);
  for (auto [w, h] : {std::pair{8, 24}, {40, 8}}) {
    const std::string narrow = mono(w, h, [&](int x, int y) { return noise[size_t(y) * 40 + x]; });
    EXPECT_TRUE(RunAufhost({"-t", "quant=31", "velour", "-", "-"}, Feed(narrow)).out == narrow)
        << w << "x" << h;
  }

  // 10-bit input comes back in 8-bit steps, truncated, even where velour filters nothing: every sample
  // of an 8x40 picture becomes the multiple of 4 below it.
  std::string ten = "YUV4MPEG2 W8 H40 F25:1 C420p10\nFRAME\n";
  for (int i = 0; i < 8 * 40; ++i) ten += {char(noise[size_t(i)]), char(noise[size_t(i) + 1] & 3)};
  for (int i = 0; i < 8 * 40 / 2; ++i) ten += {char(0x00), char(0x02)};
  const Result deep = RunAufhost({"velour", "-", "-"}, Feed(ten));
  ASSERT_EQ(deep.status, 0) << deep.err;
  const size_t y0 = deep.out.find("FRAME\n") + 6, y_in = ten.find("FRAME\n") + 6;
  auto word = [](const std::string& s, size_t at) {
    return uint8_t(s[at]) | uint8_t(s[at + 1]) << 8;
  };
  for (size_t i = 0; i < 8 * 40; ++i)
    ASSERT_EQ(word(deep.out, y0 + 2 * i), word(ten, y_in + 2 * i) & ~3) << i;

  // Luma far beyond white overflows the transform: a flat 16384 comes back scrambled.
  std::string flat;
  for (int i = 0; i < 32 * 32; ++i) flat += {char(0x00), char(0x40), 0, 0, 0, 0};
  TempDir dir;
  WriteFile(dir / "flat.yc48", flat);
  ASSERT_EQ(RunAufhost({"--size", "32x32", "velour", dir / "flat.yc48", dir / "out.yc48"}).status, 0);
  const std::string scrambled = ReadFile(dir / "out.yc48");
  ASSERT_EQ(scrambled.size(), flat.size());
  int lowest = 16384;
  for (size_t i = 0; i < scrambled.size(); i += 6)
    lowest = std::min(lowest, int(int16_t(word(scrambled, i))));
  EXPECT_LT(lowest, 8192);

  // deblock: an edge inside the first 4 rows (a step at x = 4 there) stays; the same edge below is
  // filtered. Transposed, the same holds for the first 4 columns; there the vertical edge at x = 4,
  // filtered after the horizontal ones, still reaches columns 2 and 3 below row 3.
  for (const bool transposed : {false, true}) {
    SCOPED_TRACE(transposed ? "columns" : "rows");
    const std::string step = mono(16, 16, [&](int x, int y) {
      if (transposed) std::swap(x, y);
      return x < 4 ? 100 : 110;
    });
    const Result d = RunAufhost({"-t", "quant=51", "deblock", "-", "-"}, Feed(step));
    ASSERT_EQ(d.status, 0) << d.err;
    for (int a = 0; a < 16; ++a)
      for (int b = 0; b < (transposed ? 2 : 4); ++b) {
        const int x = transposed ? b : a, y = transposed ? a : b;
        EXPECT_EQ(luma(d.out, x, y, 16), luma(step, x, y, 16)) << x << "," << y;
      }
    const int x = transposed ? 8 : 3, y = transposed ? 3 : 8;
    EXPECT_NE(luma(d.out, x, y, 16), luma(step, x, y, 16));
  }
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

// A reader that has gone away ends the run with its one line, even while the input stays open with
// no more frames coming: the wait for input is cut short.
TEST(Aufhost, AClosedPipeEndsARunWhoseInputWaits) {
  const Child child = Spawn(kAufhost, {"-j2", "velour", "-", "-"});
  const pid_t pid = child.pid;
  // Two frames, each larger than a pipe holds, and the input stays open. Once the output has begun,
  // nobody reads it any more.
  WriteFd(child.in, Y4mClip(640, 480, "420jpeg", 2, 3));
  char first[64];
  EXPECT_GT(read(child.out, first, sizeof first), 0);
  close(child.out);
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 2000 && !ended; ++i) {
    ended = waitpid(pid, &status, WNOHANG) == pid;
    if (!ended) usleep(10000);
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  close(child.in);
  std::string err;
  char buffer[4096];
  for (ssize_t n; (n = read(child.err, buffer, sizeof buffer)) > 0;) err.append(buffer, size_t(n));
  close(child.err);
  ASSERT_TRUE(ended) << "aufhost still waited for input 20 s after its output was closed";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(err, "aufhost: stdout: write failed (Broken pipe)\n");
}

}  // namespace
