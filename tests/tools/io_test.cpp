#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <utility>

#include "tests/support/test_support.h"
#include "tests/tools/aufhost_run.h"
#include "tools/io/frame_io.h"
#include "tools/io/samples.h"

namespace {

using aufhost_test::MakePng;
using aufhost_test::PngColourType;
using aufhost_test::PngDepth;
using io::Chroma;
using io::Format;

core::Picture RandomFrame(int w, int h, testsupport::Rng& rng, int lo = -32768, int hi = 32767) {
  core::Picture f(w, h);
  for (auto& p : f.pixels)
    p = {int16_t(rng.Uniform(lo, hi)), int16_t(rng.Uniform(lo, hi)), int16_t(rng.Uniform(lo, hi))};
  return f;
}

// A frame whose samples a format of this layout and depth stores exactly: levels times the host
// scale, chroma equal over each subsampled block. 16-bit levels (mono) hold every luma sample of the
// host from black to white and a little beyond, 0 .. 4096.
core::Picture RepresentableFrame(int w, int h, Chroma chroma, int depth, testsupport::Rng& rng) {
  const int scale = depth > 12 ? 1 : io::HostScale(depth), max = depth > 12 ? 4096 : io::MaxLevel(depth);
  const int zero = io::ChromaZero(depth);
  const int sx = chroma == Chroma::k444 ? 1 : 2, sy = chroma == Chroma::k420 ? 2 : 1;
  core::Picture f(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      f.at(x, y).y = io::LumaToHost(rng.Uniform(0, max), scale);
      if (chroma == Chroma::kMono) continue;
      if (x % sx == 0 && y % sy == 0) {
        f.at(x, y).cb = io::ChromaToHost(rng.Uniform(0, max), scale, zero);
        f.at(x, y).cr = io::ChromaToHost(rng.Uniform(0, max), scale, zero);
      } else {
        f.at(x, y).cb = f.at(x - x % sx, y - y % sy).cb;
        f.at(x, y).cr = f.at(x - x % sx, y - y % sy).cr;
      }
    }
  return f;
}

std::vector<core::YcPixel> Pixels(const core::Picture& f) {
  return testsupport::Picture(f.pixels.data(), f.w, f.h, f.stride);
}

std::string WriteFrames(Format format, const io::VideoInfo& info, const std::vector<core::Picture>& frames) {
  std::ostringstream out;
  auto writer = io::OpenWriter(format, out, info, "out");
  for (const core::Picture& f : frames) writer->Write(f);
  writer->Finish();
  return out.str();
}

std::vector<core::Picture> ReadFrames(Format format, const std::string& data, io::VideoInfo* info = nullptr,
                                      io::ReaderOptions options = {}) {
  std::istringstream in(data);
  auto reader = io::OpenReader(format, in, "in", options);
  if (info) *info = reader->info();
  std::vector<core::Picture> frames;
  core::Picture f;
  while (reader->Read(f)) frames.push_back(f);
  return frames;
}

// The IoError message of reading `data` in full, or "" when it reads cleanly.
std::string ReadError(Format format, const std::string& data, io::ReaderOptions options = {}) {
  try {
    ReadFrames(format, data, nullptr, options);
  } catch (const io::IoError& e) {
    return e.what();
  }
  return "";
}

// Every stored level survives the trip to host samples and back; every host sample, as a filter may
// leave it, goes to the nearest level (half a level up), and beyond the ends to the end level.
TEST(SampleScale, LevelsComeBackAndSamplesGoToTheNearestLevel) {
  struct Depth {
    int scale, zero, max_level;
  };
  for (const Depth d : {Depth{16, 128, 255}, Depth{4, 512, 1023}, Depth{1, 2048, 4095}}) {
    for (int v = 0; v <= d.max_level; ++v) {
      EXPECT_EQ(io::LumaFromHost(io::LumaToHost(v, d.scale), d.scale, d.max_level), v);
      EXPECT_EQ(io::ChromaFromHost(io::ChromaToHost(v, d.scale, d.zero), d.scale, d.zero, d.max_level), v);
    }
    for (int h = -32768; h <= 32767; ++h) {
      const int16_t s = static_cast<int16_t>(h);
      const int luma = io::LumaFromHost(s, d.scale, d.max_level);
      const int chroma = io::ChromaFromHost(s, d.scale, d.zero, d.max_level);
      for (const auto& [level, at] : {std::pair{luma, io::LumaToHost(luma, d.scale)},
                                      std::pair{chroma, io::ChromaToHost(chroma, d.scale, d.zero)}}) {
        // The level's span of samples: [at - scale/2, at + scale/2), open at the ends of the range.
        const bool above_low = level == 0 || 2 * (h - at) >= -d.scale;
        const bool below_high = level == d.max_level || 2 * (h - at) < d.scale;
        ASSERT_TRUE(above_low && below_high)
            << "sample " << h << " went to level " << level << " of " << d.max_level;
      }
    }
  }
}

TEST(SampleScale, Bt601FullRange) {
  const core::YcPixel white = io::RgbToHost(255, 255, 255), red = io::RgbToHost(255, 0, 0);
  EXPECT_EQ(white.y, 4080);
  EXPECT_EQ(white.cb, 0);
  EXPECT_EQ(white.cr, 0);
  EXPECT_EQ(red.y, 1220);   // 16 * 0.299 * 255
  EXPECT_EQ(red.cr, 2040);  // 16 * 0.5 * (255 - 76.245) / 0.701... = 16 * 127.5
  uint8_t rgb[3];
  for (int c : {0, 37, 128, 200, 255}) {
    io::HostToRgb(io::RgbToHost(c, 255 - c, c / 2), rgb);
    EXPECT_EQ(rgb[0], c);
    EXPECT_EQ(rgb[1], 255 - c);
    EXPECT_EQ(rgb[2], c / 2);
  }
}

TEST(SampleScale, SixteenBitLevelsSitOnTheEightBitScale) {
  for (int v = 0; v < 256; ++v) EXPECT_EQ(io::Luma16ToHost(257 * v), io::LumaToHost(v, 16)) << v;
  for (int v = 0; v < 65536; ++v) {
    const int16_t y = io::Luma16ToHost(v);
    ASSERT_EQ(y, std::lround(16.0 * v / 257)) << v;
    ASSERT_LE(std::abs(io::Luma16FromHost(y) - v), 8) << v;  // half of 257 / 16
  }
  EXPECT_EQ(io::Luma16FromHost(4080), 65535);
  EXPECT_EQ(io::Luma16FromHost(-5), 0);
  EXPECT_EQ(io::Luma16FromHost(32767), 65535);
  testsupport::Rng rng(testsupport::TestSeed());
  for (int i = 0; i < 1000; ++i) {
    const int r = rng.Uniform(0, 255), g = rng.Uniform(0, 255), b = rng.Uniform(0, 255);
    const core::YcPixel eight = io::RgbToHost(r, g, b), deep = io::Rgb16ToHost(257 * r, 257 * g, 257 * b);
    ASSERT_TRUE(eight.y == deep.y && eight.cb == deep.cb && eight.cr == deep.cr) << r << " " << g << " " << b;
    uint16_t rgb[3];
    io::HostToRgb16(deep, rgb);
    EXPECT_NEAR(rgb[0], 257 * r, 40);
    EXPECT_NEAR(rgb[1], 257 * g, 40);
    EXPECT_NEAR(rgb[2], 257 * b, 40);
  }
}

struct Layout {
  Chroma chroma;
  int depth;
  const char* tag;
};

TEST(Y4m, EveryLayoutRoundTripsAndKeepsItsHeader) {
  testsupport::Rng rng(testsupport::TestSeed());
  const Layout layouts[] = {
      {Chroma::k420, 8, "420jpeg"}, {Chroma::k420, 8, "420mpeg2"}, {Chroma::k422, 8, "422"},
      {Chroma::k444, 8, "444"},     {Chroma::kMono, 8, "mono"},    {Chroma::k420, 10, "420p10"},
      {Chroma::k422, 10, "422p10"}, {Chroma::k444, 10, "444p10"},  {Chroma::k420, 12, "420p12"},
      {Chroma::k422, 12, "422p12"}, {Chroma::k444, 12, "444p12"},  {Chroma::kMono, 16, "mono16"}};
  for (const Layout& l : layouts)
    for (auto [w, h] : {std::pair{1, 1}, {7, 5}, {16, 2}, {33, 17}}) {
      SCOPED_TRACE(std::string(l.tag) + " " + std::to_string(w) + "x" + std::to_string(h));
      const std::string header = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) +
                                 " F30000:1001 Ip A1:1 C" + l.tag + " XYSCSS=X\n";
      io::VideoInfo info;
      const std::vector<core::Picture> none = ReadFrames(Format::kY4m, header, &info);
      EXPECT_TRUE(none.empty());
      EXPECT_EQ(info.chroma, l.chroma);
      EXPECT_EQ(info.bit_depth, l.depth);
      const std::vector<core::Picture> frames = {RepresentableFrame(w, h, l.chroma, l.depth, rng),
                                                 RepresentableFrame(w, h, l.chroma, l.depth, rng)};
      const std::string data = WriteFrames(Format::kY4m, info, frames);
      EXPECT_EQ(data.substr(0, header.size()), header);
      const std::vector<core::Picture> back = ReadFrames(Format::kY4m, data);
      ASSERT_EQ(back.size(), 2u);
      for (int i = 0; i < 2; ++i)
        EXPECT_EQ(testsupport::DiffPictures(Pixels(frames[i]), Pixels(back[i]), frames[i].w, frames[i].h),
                  "");
    }
}

TEST(Y4m, ChromaIsSpreadOverItsBlockAndAveragedBack) {
  // 3x3 4:2:0: chroma planes are 2x2; the right column and bottom row are half blocks.
  std::string data = "YUV4MPEG2 W3 H3 C420\nFRAME\n";
  data += std::string(9, char(16));
  data += std::string{char(0), char(255), char(100), char(128)};
  data += std::string{char(128), char(128), char(128), char(200)};
  const std::vector<core::Picture> frames = ReadFrames(Format::kY4m, data);
  ASSERT_EQ(frames.size(), 1u);
  const core::Picture& f = frames[0];
  EXPECT_EQ(f.at(0, 0).y, 256);
  EXPECT_EQ(f.at(1, 1).cb, -2048);
  EXPECT_EQ(f.at(2, 0).cb, 127 * 16);
  EXPECT_EQ(f.at(0, 2).cb, (100 - 128) * 16);
  EXPECT_EQ(f.at(2, 2).cr, 72 * 16);

  core::Picture g = f;
  g.at(0, 0).cb = g.at(1, 0).cb = g.at(0, 1).cb = 0;
  g.at(1, 1).cb = 16 * 3;  // mean 0.75 levels above 128: rounds to 129
  io::VideoInfo info;
  ReadFrames(Format::kY4m, "YUV4MPEG2 W3 H3 C420\n", &info);
  const std::string out = WriteFrames(Format::kY4m, info, {g});
  const size_t cb = out.find("FRAME\n") + 6 + 9;
  EXPECT_EQ(uint8_t(out[cb]), 129);
  EXPECT_EQ(uint8_t(out[cb + 1]), 255);
}

TEST(Y4m, TenBitWordsAreLittleEndianAndClampedOnRead) {
  std::string data = "YUV4MPEG2 W2 H2 C420p10\nFRAME\n";
  data += std::string{char(0xFF), char(0x03), char(0x00), char(0x02),
                      char(0x01), char(0x00), char(0xFF), char(0xFF)};
  data += std::string{char(0x00), char(0x00), char(0x00), char(0x02)};
  const std::vector<core::Picture> frames = ReadFrames(Format::kY4m, data);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].at(0, 0).y, 4092);
  EXPECT_EQ(frames[0].at(1, 0).y, 2048);
  EXPECT_EQ(frames[0].at(0, 1).y, 4);
  EXPECT_EQ(frames[0].at(1, 1).y, 4092);
  EXPECT_EQ(frames[0].at(1, 1).cb, -2048);
  EXPECT_EQ(frames[0].at(1, 1).cr, 0);
}

// 12-bit words above 4095 read as 4095; 16-bit levels are rounded half up to the host's sixteenths,
// and come back as sixteen times those, 65535 at most.
TEST(Y4m, TwelveAndSixteenBitWordsAreClampedAndRounded) {
  auto words = [](std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += {char(v & 0xFF), char(v >> 8)};
    return s;
  };
  const std::vector<core::Picture> twelve =
      ReadFrames(Format::kY4m,
                 "YUV4MPEG2 W3 H1 C444p12\nFRAME\n" + words({4095, 4096, 1, 0xFFFF, 2048, 0, 2048, 4095, 7}));
  ASSERT_EQ(twelve.size(), 1u);
  const core::YcPixel want12[] = {{4095, 2047, 0}, {4095, 0, 2047}, {1, -2048, -2041}};
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(twelve[0].at(x, 0).y, want12[x].y) << x;
    EXPECT_EQ(twelve[0].at(x, 0).cb, want12[x].cb) << x;
    EXPECT_EQ(twelve[0].at(x, 0).cr, want12[x].cr) << x;
  }

  const std::string mono16 = "YUV4MPEG2 W7 H1 F25:1 Cmono16\n";
  io::VideoInfo info;
  const std::vector<core::Picture> sixteen =
      ReadFrames(Format::kY4m, mono16 + "FRAME\n" + words({7, 8, 24, 65527, 65528, 65535, 4096}), &info);
  ASSERT_EQ(sixteen.size(), 1u);
  const int want16[] = {0, 1, 2, 4095, 4096, 4096, 256};
  for (int x = 0; x < 7; ++x) EXPECT_EQ(sixteen[0].at(x, 0).y, want16[x]) << x;
  core::Picture back(7, 1);
  const int16_t host[] = {-1, 0, 1, 4095, 4096, 4097, 32767};
  for (int x = 0; x < 7; ++x) back.at(x, 0).y = host[x];
  EXPECT_EQ(WriteFrames(Format::kY4m, info, {back}),
            mono16 + "FRAME\n" + words({0, 0, 16, 65520, 65535, 65535, 65535}));
}

TEST(Y4m, MalformedStreamsNameWhatIsWrong) {
  const std::string frame16 = "FRAME\n" + std::string(16 * 6, 'x');
  const struct {
    std::string data, message;
  } cases[] = {
      {"", "empty input"},
      {"YUV4MPEG W4 H4\n", "not a YUV4MPEG2 stream"},
      {"YUV4MPEG2 W4 H4", "header: truncated"},
      {"YUV4MPEG2 H4\n", "missing W"},
      {"YUV4MPEG2 W4\n", "missing H"},
      {"YUV4MPEG2 W4x H4\n", "bad W value '4x'"},
      {"YUV4MPEG2 W0 H4\n", "bad W value '0'"},
      {"YUV4MPEG2 W99999999999 H4\n", "bad W value"},
      {"YUV4MPEG2 W60000 H60000\n", "exceeds the limit"},
      {"YUV4MPEG2 W4 H4 C411\n", "unsupported colour space 'C411'"},
      {"YUV4MPEG2 W4 H4 F C444\n", "header: malformed tag 'F'"},
      {"YUV4MPEG2 W4 H4 F25 C444\n", "header: malformed tag 'F25'"},
      {"YUV4MPEG2 W4 H4 F25:x C444\n", "header: malformed tag 'F25:x'"},
      {"YUV4MPEG2 W4 H4 A:1 C444\n", "header: malformed tag 'A:1'"},
      {"YUV4MPEG2 W4 H4 Ix C444\n", "header: malformed tag 'Ix'"},
      {"YUV4MPEG2 W4 H4 Ipp C444\n", "header: malformed tag 'Ipp'"},
      {"YUV4MPEG2 W4 H4 C444 X\n", "header: malformed tag 'X'"},
      {"YUV4MPEG2 W4 H4 C444\nFRAME X\n" + std::string(48, 'x'), "frame 1: malformed tag 'X'"},
      {"YUV4MPEG2 W4 H4 " + std::string(5000, 'X') + "\n", "header: line longer than"},
      {"YUV4MPEG2 W4 H4 C444\nFRAME\n" + std::string(47, 'x'), "frame 1: truncated (47 of 48 bytes)"},
      {"YUV4MPEG2 W4 H4 C444\nFRAME\n" + std::string(48, 'x') + "FRAMX\n",
       "frame 2: expected FRAME, found 'FRAMX'"},
      {"YUV4MPEG2 W4 H4 C444\nFRAME\n" + std::string(48, 'x') + "FRAME",
       "frame 2: truncated (no end of line)"},
      {"YUV4MPEG2 W4 H4 C444\nFRAME\n" + std::string(48, 'x') + "\n", "frame 2: expected FRAME, found ''"},
  };
  for (const auto& c : cases) {
    const std::string message = ReadError(Format::kY4m, c.data);
    EXPECT_NE(message.find("in: "), std::string::npos) << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << "got: " << message << "\nwanted: " << c.message;
  }
  EXPECT_EQ(ReadError(Format::kY4m, "YUV4MPEG2 W4 H4 C444\nFRAME Ixyz\n" + std::string(48, 'x')), "");
}

// Every frame's tags come back on its own FRAME line; It and Ib mark every frame interlaced, and in a
// mixed stream (Im) a frame whose I tag samples interlaced ("I?i?").
TEST(Y4m, FrameTagsTravelWithTheirFrames) {
  const std::string planes(16 * 3, 'x');
  const std::string frames =
      "FRAME Itii XA=1\n" + planes + "FRAME\n" + planes + "FRAME  I1pp \n" + planes + "FRAME Ibip\n" + planes;
  for (const char* interlace : {"Im", "It", "Ip"}) {
    SCOPED_TRACE(interlace);
    const std::string header = std::string("YUV4MPEG2 W4 H4 F25:1 ") + interlace + " C444\n";
    std::istringstream in(header + frames);
    auto reader = io::OpenReader(Format::kY4m, in, "in");
    std::ostringstream out;
    auto writer = io::OpenWriter(Format::kY4m, out, reader->info(), "out");
    core::Picture f;
    io::FrameExtras extras;
    std::vector<bool> interlaced;
    while (reader->Read(f, extras)) {
      interlaced.push_back(extras.interlaced);
      writer->Write(f, extras);
    }
    writer->Finish();
    const std::string mixed_frames =
        "FRAME Itii XA=1\n" + planes + "FRAME\n" + planes + "FRAME I1pp\n" + planes + "FRAME Ibip\n" + planes;
    EXPECT_EQ(out.str(), header + mixed_frames);
    if (std::string(interlace) == "It") EXPECT_EQ(interlaced, (std::vector<bool>{true, true, true, true}));
    else EXPECT_EQ(interlaced, (std::vector<bool>{true, false, false, true}));
  }
}

// A writer completes a header with a frame rate and a colour space; whatever header a reader takes, it
// takes again once written back, so that one aufhost can feed another.
TEST(Y4m, WhatTheWriterWritesTheReaderReads) {
  auto header = [](size_t size, bool complete) {
    std::string h = std::string("YUV4MPEG2 W4 H4") + (complete ? " F25:1 C444" : "") + " X";
    h += std::string(size - 1 - h.size(), 'a') + "\n";
    return h;
  };
  auto frame = [](bool complete) {
    return "FRAME\n" + std::string(complete ? 48 : 24, 'x');
  };  // 4:4:4 or 4:2:0
  int accepted = 0;
  for (size_t size : {4080, 4090, 4096, 4097})
    for (bool complete : {false, true}) {
      SCOPED_TRACE(std::to_string(size) + (complete ? " with F and C" : " without F and C"));
      const std::string h = header(size, complete);
      io::VideoInfo info;
      std::vector<core::Picture> frames;
      try {
        frames = ReadFrames(Format::kY4m, h + frame(complete), &info);
      } catch (const io::IoError& e) {
        EXPECT_NE(std::string(e.what()).find("in: header: "), std::string::npos) << e.what();
        continue;
      }
      ++accepted;
      const std::string again = WriteFrames(Format::kY4m, info, frames);
      EXPECT_EQ(ReadError(Format::kY4m, again), "");
      if (!complete) continue;
      EXPECT_EQ(again.substr(0, h.size()), h);
    }
  // The header of the largest size with its frame rate and colour space is taken, as before.
  EXPECT_EQ(ReadError(Format::kY4m, header(4097, true) + frame(true)), "");
  EXPECT_EQ(accepted, 5);  // all four complete ones, and the shortest without F and C
}

TEST(Y4m, WriterRefusesAFrameOfAnotherSize) {
  io::VideoInfo info;
  info.w = 4;
  info.h = 4;
  std::ostringstream out;
  auto writer = io::OpenWriter(Format::kY4m, out, info, "clip.y4m");
  const size_t header = out.str().size();
  EXPECT_THROW(
      {
        try {
          writer->Write(core::Picture(4, 5));
        } catch (const io::IoError& e) {
          EXPECT_STREQ(e.what(), "clip.y4m: frame size 4x5 does not match the stream's 4x4");
          throw;
        }
      },
      io::IoError);
  EXPECT_EQ(out.str().size(), header);
}

TEST(Yc48, RoundTripIsExactForEverySampleValue) {
  testsupport::Rng rng(testsupport::TestSeed());
  std::vector<core::Picture> frames = {RandomFrame(5, 3, rng), RandomFrame(5, 3, rng)};
  frames[0].at(0, 0) = {-32768, 32767, -1};
  io::VideoInfo info;
  info.w = 5;
  info.h = 3;
  const std::string data = WriteFrames(Format::kYc48, info, frames);
  ASSERT_EQ(data.size(), 2u * 5 * 3 * 6);
  EXPECT_EQ(data.substr(0, 6), std::string("\x00\x80\xff\x7f\xff\xff", 6));
  io::ReaderOptions options;
  options.w = 5;
  options.h = 3;
  io::VideoInfo read_info;
  const std::vector<core::Picture> back = ReadFrames(Format::kYc48, data, &read_info, options);
  EXPECT_EQ(read_info.frame_count, 2);
  ASSERT_EQ(back.size(), 2u);
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(testsupport::DiffPictures(Pixels(frames[i]), Pixels(back[i]), frames[i].w, frames[i].h), "");
}

TEST(Yc48, SizeIsRequiredAndMustDivideTheData) {
  io::ReaderOptions options;
  EXPECT_NE(ReadError(Format::kYc48, std::string(60, 'x'), options).find("needs its frame size (--size WxH)"),
            std::string::npos);
  options.w = 2;
  options.h = 5;
  EXPECT_EQ(ReadError(Format::kYc48, std::string(120, 'x'), options), "");
  EXPECT_NE(ReadError(Format::kYc48, std::string(121, 'x'), options).find("121 bytes is not a whole number"),
            std::string::npos);
}

// Alpha is neither filtered nor composited: it comes back from the writer as it was read, and the
// colour under it keeps its own value. 16-bit levels are read on the 8-bit scale at the host's
// precision and written back as 16-bit levels.
TEST(Picture, PngAlphaAndSixteenBitsAreKept) {
  struct Case {
    const char* name;
    std::string png;
    int depth, type, colours;
    std::vector<int> samples;
  };
  const std::vector<int> rgba = {255, 0,  0,  0, 10,  200, 30,  128, 0, 0, 0, 255,
                                 40,  50, 60, 1, 255, 255, 255, 0,   7, 8, 9, 254};
  const std::vector<int> grey16 = {0, 65535, 1, 9, 257, 300, 40000, 65534};
  const std::vector<int> grey_alpha16 = {0, 0, 65535, 1, 12345, 65535, 257, 32768};
  const std::vector<int> rgb16 = {0,       65535,   257,     514 * 100, 1000,  65534,
                                  257 * 7, 257 * 8, 257 * 9, 3,         33333, 65000};
  const std::vector<Case> cases = {
      {"RGBA 8", MakePng(3, 2, 8, 6, rgba), 8, 6, 3, rgba},
      {"grey 16", MakePng(4, 2, 16, 0, grey16), 16, 0, 1, grey16},
      {"grey+alpha 16", MakePng(2, 2, 16, 4, grey_alpha16), 16, 4, 1, grey_alpha16},
      {"RGB 16", MakePng(2, 2, 16, 2, rgb16), 16, 2, 3, rgb16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int components = c.colours + ((c.type & 4) ? 1 : 0);
    io::VideoInfo info;
    std::istringstream in(c.png);
    auto reader = io::OpenReader(Format::kPng, in, "in");
    info = reader->info();
    core::Picture f;
    io::FrameExtras extras;
    ASSERT_TRUE(reader->Read(f, extras));
    EXPECT_EQ(info.bit_depth, c.depth);
    EXPECT_EQ(info.alpha, (c.type & 4) != 0);
    EXPECT_EQ(info.chroma, c.colours == 1 ? Chroma::kMono : Chroma::k444);
    const size_t pixels = size_t(f.w) * f.h;
    ASSERT_EQ(extras.alpha.size(), info.alpha ? pixels : 0u);
    for (size_t i = 0; i < pixels; ++i) {
      const int* s = &c.samples[i * size_t(components)];
      if (info.alpha) {
        EXPECT_EQ(extras.alpha[i], s[c.colours]) << i;
      }
      const core::YcPixel expected =
          c.colours == 1  ? core::YcPixel{int16_t(std::lround(16.0 * s[0] / (c.depth == 16 ? 257 : 1))), 0, 0}
          : c.depth == 16 ? io::Rgb16ToHost(s[0], s[1], s[2])
                          : io::RgbToHost(s[0], s[1], s[2]);
      EXPECT_EQ(f.pixels[i].y, expected.y) << i;
      EXPECT_EQ(f.pixels[i].cb, expected.cb) << i;
      EXPECT_EQ(f.pixels[i].cr, expected.cr) << i;
    }

    std::ostringstream out;
    auto writer = io::OpenWriter(Format::kPng, out, info, "out");
    writer->Write(f, extras);
    writer->Finish();
    EXPECT_EQ(PngDepth(out.str()), c.depth);
    EXPECT_EQ(PngColourType(out.str()), c.type);
    std::istringstream again(out.str());
    core::Picture g;
    io::FrameExtras back;
    ASSERT_TRUE(io::OpenReader(Format::kPng, again, "again")->Read(g, back));
    EXPECT_EQ(back.alpha, extras.alpha);
    EXPECT_EQ(testsupport::DiffPictures(Pixels(f), Pixels(g), f.w, f.h), "");
  }

  // A palette's transparent entries become an alpha channel too.
  const std::string palette =
      MakePng(3, 1, 8, 3, {0, 1, 2}, std::string("\x00\x00\x00\xff\x00\x00\x10\x20\x30", 9),
              std::string("\x00\x80", 2));
  std::istringstream in(palette);
  core::Picture f;
  io::FrameExtras extras;
  ASSERT_TRUE(io::OpenReader(Format::kPng, in, "in")->Read(f, extras));
  EXPECT_EQ(extras.alpha, (std::vector<uint16_t>{0, 128, 255}));
  EXPECT_EQ(f.at(1, 0).y, io::RgbToHost(255, 0, 0).y);
}

TEST(Picture, PngRgbRoundTripsWithinRounding) {
  testsupport::Rng rng(testsupport::TestSeed());
  core::Picture f(9, 4);
  for (auto& p : f.pixels) p = io::RgbToHost(rng.Uniform(0, 255), rng.Uniform(0, 255), rng.Uniform(0, 255));
  io::VideoInfo info;
  info.w = 9;
  info.h = 4;
  const std::string png = WriteFrames(Format::kPng, info, {f});
  EXPECT_EQ(png.substr(1, 3), "PNG");
  io::VideoInfo read_info;
  const std::vector<core::Picture> back = ReadFrames(Format::kPng, png, &read_info);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(read_info.chroma, Chroma::k444);
  // The PNG holds whole RGB levels, so each sample comes back within one level.
  for (size_t i = 0; i < f.pixels.size(); ++i) {
    EXPECT_NEAR(back[0].pixels[i].y, f.pixels[i].y, 16);
    EXPECT_NEAR(back[0].pixels[i].cb, f.pixels[i].cb, 32);
    EXPECT_NEAR(back[0].pixels[i].cr, f.pixels[i].cr, 32);
  }
  // Writing what was read gives the same file bits back.
  EXPECT_EQ(WriteFrames(Format::kPng, info, back), png);
}

TEST(Picture, GreyPicturesAreMonoAndKeepLumaExactly) {
  testsupport::Rng rng(testsupport::TestSeed());
  io::VideoInfo info;
  info.w = 6;
  info.h = 7;
  info.chroma = Chroma::kMono;
  const core::Picture f = RepresentableFrame(6, 7, Chroma::kMono, 8, rng);
  for (Format format : {Format::kPng, Format::kJpeg}) {
    SCOPED_TRACE(io::FormatName(format));
    std::ostringstream out;
    auto writer = io::OpenWriter(format, out, info, "out", 100);
    writer->Write(f);
    writer->Finish();
    io::VideoInfo read_info;
    const std::vector<core::Picture> back = ReadFrames(format, out.str(), &read_info);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(read_info.chroma, Chroma::kMono);
    for (size_t i = 0; i < f.pixels.size(); ++i) {
      if (format == Format::kPng) EXPECT_EQ(back[0].pixels[i].y, f.pixels[i].y);
      else EXPECT_NEAR(back[0].pixels[i].y, f.pixels[i].y, 3 * 16);
      EXPECT_EQ(back[0].pixels[i].cb, 0);
    }
  }
}

TEST(Picture, JpegDecodesToTheYCbCrItWasCodedIn) {
  // Flat 8x8 areas of Y'CbCr survive quality 100 within a level: no detour through RGB.
  core::Picture f(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      f.at(x, y) = {int16_t(x < 8 ? 16 * 40 : 16 * 220), int16_t(16 * -60), int16_t(16 * 90)};
  io::VideoInfo info;
  info.w = 16;
  info.h = 16;
  std::ostringstream out;
  auto writer = io::OpenWriter(Format::kJpeg, out, info, "out", 100);
  writer->Write(f);
  writer->Finish();
  const std::vector<core::Picture> back = ReadFrames(Format::kJpeg, out.str());
  ASSERT_EQ(back.size(), 1u);
  for (int y = 0; y < 16; ++y) {
    EXPECT_NEAR(back[0].at(2, y).y, 16 * 40, 16);
    EXPECT_NEAR(back[0].at(13, y).y, 16 * 220, 16);
    EXPECT_NEAR(back[0].at(3, y).cb, 16 * -60, 16);
    EXPECT_NEAR(back[0].at(12, y).cr, 16 * 90, 16);
  }
}

TEST(Picture, DamagedFilesAreErrorsNotGuesses) {
  core::Picture f(32, 32);
  io::VideoInfo info;
  info.w = 32;
  info.h = 32;
  for (Format format : {Format::kPng, Format::kJpeg}) {
    SCOPED_TRACE(io::FormatName(format));
    const std::string good = WriteFrames(format, info, {f});
    EXPECT_EQ(ReadError(format, good), "");
    EXPECT_NE(ReadError(format, "").find("in: empty file"), std::string::npos);
    EXPECT_NE(ReadError(format, good.substr(0, good.size() / 2)).find("in: "), std::string::npos);
    EXPECT_NE(ReadError(format, "GIF89a" + good).find("in: not a readable"), std::string::npos);
    io::ReaderOptions small;
    small.max_pixels = 1000;
    EXPECT_NE(ReadError(format, good, small).find("exceeds the limit"), std::string::npos);
  }
}

TEST(Picture, HoldsOneFrame) {
  io::VideoInfo info;
  info.w = 2;
  info.h = 2;
  std::ostringstream out;
  auto writer = io::OpenWriter(Format::kPng, out, info, "x.png");
  writer->Write(core::Picture(2, 2));
  EXPECT_THROW(writer->Write(core::Picture(2, 2)), io::IoError);
}

TEST(Formats, NamesAndExtensions) {
  EXPECT_EQ(io::FormatFromPath("-"), Format::kY4m);
  EXPECT_EQ(io::FormatFromPath("a/b.Y4M"), Format::kY4m);
  EXPECT_EQ(io::FormatFromPath("x.jpg"), Format::kJpeg);
  EXPECT_EQ(io::FormatFromPath("x.jpeg"), Format::kJpeg);
  EXPECT_EQ(io::FormatFromPath("x.yc48"), Format::kYc48);
  EXPECT_EQ(io::FormatFromPath("dir.png/clip"), std::nullopt);
  EXPECT_EQ(io::FormatFromPath("clip.avi"), std::nullopt);
  EXPECT_EQ(io::ParseFormat("PNG"), Format::kPng);
}

}  // namespace
