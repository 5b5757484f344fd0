#include <gtest/gtest.h>

#include "tests/tools/aufhost_run.h"

namespace {

using namespace aufhost_test;

// 100 full-HD frames through a pipe, each checked against the filter applied to that frame alone.
// The frames cycle through a few distinct pictures in an irregular order, so each expected result
// is computed once while every frame still differs from the one before it.
TEST(AufhostPipe, HundredFullHdFramesMatchTheFilterFrameByFrame) {
  constexpr int kW = 1920, kH = 1080, kFrames = 100, kPictures = 5;
  const std::string header = "YUV4MPEG2 W1920 H1080 F25:1 C420jpeg\n";
  std::vector<std::string> pictures;
  for (int i = 0; i < kPictures; ++i) pictures.push_back(Y4mFrame(kW, kH, "420jpeg", 1000 + i));
  auto picture_of = [](int k) {
    return (k * 3 + k / 7) % kPictures;
  };

  std::vector<std::string> expected;
  {
    const io::VideoInfo info = InfoOf(header);
    for (const std::string& p : pictures) {
      std::vector<core::Picture> f = ReadAllFrames(io::Format::kY4m, header + p);
      FilterInProcess("velour", f[0]);
      expected.push_back(EncodeFrames(io::Format::kY4m, info, f).substr(header.size()));
    }
  }

  std::string pending;
  size_t out_header = 0;
  int checked = 0, mismatches = 0;
  const Result r = RunAufhost(
      {"-j2", "velour", "-", "-"},
      [&](int fd) {
        WriteFd(fd, header);
        for (int k = 0; k < kFrames; ++k) WriteFd(fd, pictures[size_t(picture_of(k))]);
      },
      [&](const char* data, size_t n) {
        pending.append(data, n);
        if (out_header == 0) {
          const size_t eol = pending.find('\n');
          if (eol == std::string::npos) return;
          EXPECT_EQ(pending.substr(0, eol + 1), header);
          out_header = eol + 1;
          pending.erase(0, out_header);
        }
        const size_t frame_bytes = expected[0].size();
        size_t used = 0;
        while (pending.size() - used >= frame_bytes) {
          if (pending.compare(used, frame_bytes, expected[size_t(picture_of(checked))]) != 0) ++mismatches;
          ++checked;
          used += frame_bytes;
        }
        pending.erase(0, used);
      });
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(checked, kFrames);
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(pending.size(), 0u);
}

}  // namespace
