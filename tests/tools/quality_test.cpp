// The demo's quality meter on pictures whose PSNR and SSIM are known in closed form.
#include <gtest/gtest.h>

#include "tests/tools/aufhost_run.h"

namespace {

using namespace aufhost_test;

const std::string kQuality = AUF_BUILD_DIR "/quality";

std::string MonoY4m(int w, int h, const std::function<int(int, int)>& level) {
  std::string s = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " Cmono\nFRAME\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) s += char(level(x, y));
  return s;
}

TEST(Quality, ClosedFormCases) {
  TempDir dir;
  WriteFile(dir / "flat100.y4m", MonoY4m(24, 16, [](int, int) { return 100; }));
  WriteFile(dir / "flat102.y4m", MonoY4m(24, 16, [](int, int) { return 102; }));
  WriteFile(dir / "stripes.y4m", MonoY4m(24, 16, [](int x, int) { return x % 2 ? 140 : 60; }));
  WriteFile(dir / "small.y4m", MonoY4m(8, 8, [](int, int) { return 0; }));

  Result same = RunProgram(kQuality, {dir / "stripes.y4m", dir / "stripes.y4m"});
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_EQ(same.out, "inf 1.0000\n");
  // Two levels everywhere: 10 log10(255^2 / 4); flat windows give (2 ab + C1) / (a^2 + b^2 + C1).
  Result offset = RunProgram(kQuality, {dir / "flat100.y4m", dir / "flat102.y4m"});
  EXPECT_EQ(offset.out, "42.110 0.9998\n");
  // Stripes of +-40 around 100 against flat 100: MSE 1600; no shared structure, so SSIM is C2-small.
  Result stripes = RunProgram(kQuality, {dir / "flat100.y4m", dir / "stripes.y4m"});
  EXPECT_EQ(stripes.out.substr(0, 7), "16.090 ");
  EXPECT_LT(std::stod(stripes.out.substr(7)), 0.05);

  Result mismatch = RunProgram(kQuality, {dir / "flat100.y4m", dir / "small.y4m"});
  EXPECT_EQ(mismatch.status, 1);
  EXPECT_NE(mismatch.err.find("size differs from the reference"), std::string::npos);
}

}  // namespace
