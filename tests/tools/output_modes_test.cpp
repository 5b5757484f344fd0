// The permissions of the files aufhost writes: one it replaces keeps its own, a new one gets what a
// plain create gives under the umask, in any output format.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/tools/aufhost_run.h"

namespace {

using aufhost_test::RunAufhost;
using aufhost_test::TempDir;

// The umask for the life of the object; aufhost inherits it.
class Umask {
 public:
  explicit Umask(mode_t mask) : old_(umask(mask)) {}
  ~Umask() { umask(old_); }
  Umask(const Umask&) = delete;
  Umask& operator=(const Umask&) = delete;

 private:
  mode_t old_;
};

// The permission bits of `path`, or ~0 when it does not exist.
unsigned ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : ~0u;
}

TEST(OutputModes, ReplacedFilesKeepTheirModeNewOnesFollowTheUmask) {
  TempDir dir;
  aufhost_test::WriteFile(dir / "in.y4m", aufhost_test::Y4mClip(16, 16, "420jpeg", 1, 5));
  // Replaced under a umask that would give any new file 0600, the mode of a fresh temporary file.
  for (const char* out : {"old.y4m", "old.png"})
    for (unsigned mode : {0644u, 0751u, 0660u}) {
      aufhost_test::WriteFile(dir / out, "old contents");
      ASSERT_EQ(chmod((dir / out).c_str(), mode), 0);
      const Umask mask(077);
      const aufhost_test::Result r = RunAufhost({"-j1", "velour", dir / "in.y4m", dir / out});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_NE(aufhost_test::ReadFile(dir / out), "old contents") << out;
      EXPECT_EQ(ModeOf(dir / out), mode)
          << out << ": mode " << std::oct << ModeOf(dir / out) << ", was " << mode;
    }
  // New files: 0666 less the umask.
  for (const char* ext : {".y4m", ".png"})
    for (unsigned mask : {022u, 027u, 002u, 0u}) {
      const std::string out = dir / ("new" + std::to_string(mask) + ext);
      const Umask set(mask);
      const aufhost_test::Result r = RunAufhost({"-j1", "velour", dir / "in.y4m", out});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(ModeOf(out), 0666 & ~mask)
          << out << ": mode " << std::oct << ModeOf(out) << " under umask " << mask;
    }
}

}  // namespace
