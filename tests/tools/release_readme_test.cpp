// The release readme names every built-in filter and documents each of its tracks with the default
// and range the filter declares, in the Japanese and in the English text.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "hostkit/builtin_filters.h"

namespace {

TEST(ReleaseReadme, DocumentsEveryFilterAndTrack) {
  std::ifstream in(AUF_SOURCE_DIR "/docs/release/readme.txt", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string readme = text.str();
  ASSERT_FALSE(readme.empty());
  for (const core::FilterCore* f : hostkit::BuiltinFilters()) {
    const std::string title = f->title;
    std::vector<std::string> lines = {"フィルタ名「" + title + "」", "filter name \"" + title + "\""};
    for (int32_t i = 0; i < f->track_count; ++i) {
      const core::Track& t = f->tracks[i];
      const std::string def = std::to_string(t.def), min = std::to_string(t.min), max = std::to_string(t.max);
      lines.push_back("・" + std::string(t.name) + "（既定値 " + def + "、範囲 " + min + "～" + max + "）");
      lines.push_back("- " + std::string(t.name) + " (default " + def + ", range " + min + "-" + max + ")");
    }
    for (const std::string& line : lines) EXPECT_NE(readme.find(line), std::string::npos) << line;
  }
}

}  // namespace
