// What aufhost does to its OUTPUT, one branch of its plan at a time (tools/cli/output_file.h), and
// what it leaves when a run is stopped: by a failure, a signal, a closed descriptor or a size limit.
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "tests/tools/aufhost_run.h"

namespace {

using namespace aufhost_test;

constexpr uid_t kOtherUser = 65534;  // nobody

// A small clip, what aufhost makes of it, and a file of earlier contents to write over.
struct Fixture {
  TempDir dir;
  std::string clip = Y4mClip(32, 16, "420jpeg", 2, 17);
  std::string filtered;
  Fixture() {
    chmod((dir / "").c_str(), 0755);  // for runs as another user
    WriteFile(dir / "in.y4m", clip);
    WriteFile(dir / "short.y4m", clip.substr(0, clip.size() - 5));
    const Result r = RunAufhost({"velour", dir / "in.y4m", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    filtered = r.out;
  }
};

// What a run left of a file: its bytes and what the file system says of it.
struct Left {
  std::string bytes;
  ino_t inode = 0;
  mode_t mode = 0;
  uid_t uid = 0;
};

Left Look(const std::string& path) {
  struct stat st = {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return {ReadFile(path), st.st_ino, mode_t(st.st_mode & 07777), st.st_uid};
}

// The one checker of a written output: the new contents, in the same file (written in place) or in
// a new one (replaced), with its permission bits and owner kept, and no temporary file beside it.
void ExpectWritten(const std::string& path, const Left& before, const std::string& contents, bool same_file) {
  const Left after = Look(path);
  EXPECT_TRUE(after.bytes == contents) << path << ": " << after.bytes.size() << " bytes";
  EXPECT_EQ(after.inode == before.inode, same_file) << path;
  EXPECT_EQ(after.mode, before.mode) << path;
  EXPECT_EQ(after.uid, before.uid) << path;
  const std::string folder = path.substr(0, path.rfind('/'));
  for (const std::string& name : TempDir::FilesIn(folder)) EXPECT_NE(name[0], '.') << folder << "/" << name;
}

// In the child: a descriptor on `path`, opened for appending.
ChildSetup AppendAs(const std::string& path, int fd) {
  return [path, fd] {
    const int opened = open(path.c_str(), O_WRONLY | O_APPEND);
    if (opened < 0 || dup2(opened, fd) != fd) _exit(kSetupFailed);
  };
}

ChildSetup AsOtherUser() {
  return [] {
    // Where the build folder is closed to other users, aufhost cannot run as one: skipped.
    if (setgroups(0, nullptr) != 0 || setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0 ||
        access(kAufhost.c_str(), X_OK) != 0)
      _exit(kSetupFailed);
  };
}

// kDescriptor: /dev/stdout, /dev/fd/N and /proc/self/fd/N are the descriptor the caller handed over,
// written as it is, so `>>` appends; and a descriptor on the input is the input, however spelled.
TEST(OutputPlan, DescriptorIsWrittenAsItIs) {
  Fixture f;
  const struct {
    std::string name;
    int fd;
  } spellings[] = {{"/dev/stdout", 1}, {"/dev/fd/3", 3}, {"/proc/self/fd/4", 4}};
  for (const auto& s : spellings) {
    SCOPED_TRACE(s.name);
    WriteFile(f.dir / "log.y4m", "earlier\n");
    const Result r =
        RunAufhost({"velour", f.dir / "in.y4m", s.name}, {}, {}, {}, AppendAs(f.dir / "log.y4m", s.fd));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(f.dir / "log.y4m") == "earlier\n" + f.filtered);

    const Result self =
        RunAufhost({"velour", f.dir / "in.y4m", s.name}, {}, {}, {}, AppendAs(f.dir / "in.y4m", s.fd));
    EXPECT_EQ(self.status, 2);
    EXPECT_NE(self.err.find("INPUT and OUTPUT are the same file"), std::string::npos) << self.err;
    EXPECT_TRUE(ReadFile(f.dir / "in.y4m") == f.clip);
  }
  // Standard input and output on one file.
  const Result both = RunAufhost({"velour", "-", "-"}, {}, {}, {}, [&] {
    alarm(20);  // where the input is read while it grows, the run would never end
    const int in = open((f.dir / "in.y4m").c_str(), O_RDONLY);
    if (in < 0 || dup2(in, 0) != 0) _exit(kSetupFailed);
    AppendAs(f.dir / "in.y4m", 1)();
  });
  EXPECT_EQ(both.status, 2) << both.err;
  EXPECT_TRUE(ReadFile(f.dir / "in.y4m") == f.clip);
}

// kReplace: a new file renamed over the old one, with the old one's permission bits and owner.
TEST(OutputPlan, ReplaceKeepsModeAndOwner) {
  Fixture f;
  WriteFile(f.dir / "out.y4m", "earlier");
  chmod((f.dir / "out.y4m").c_str(), 0604);
  if (chown((f.dir / "out.y4m").c_str(), kOtherUser, kOtherUser) != 0)
    GTEST_SKIP() << "cannot give files away";
  const Left before = Look(f.dir / "out.y4m");
  const Result r = RunAufhost({"velour", f.dir / "in.y4m", f.dir / "out.y4m"});
  EXPECT_EQ(r.status, 0) << r.err;
  ExpectWritten(f.dir / "out.y4m", before, f.filtered, false);
}

// kInPlace, one case per reason a file cannot be replaced: the result is copied into the file
// itself, which keeps its inode, mode and owner (and every hard link sees it).
TEST(OutputPlan, InPlaceWhereTheFileCannotBeReplaced) {
  Fixture f;
  for (const char* folder : {"sticky", "locked", "links", "mount", "held"})
    mkdir((f.dir / folder).c_str(), 0755);
  chmod((f.dir / "sticky").c_str(), 01777);
  const std::string source = f.dir / "mount/source.y4m", mounted = f.dir / "mount/target.y4m";
  const std::string held = f.dir / "held/x.y4m";
  const struct {
    const char* why;
    std::string output;
    std::string file;  // what is written to: the output, or what is mounted on it
    ChildSetup setup;
  } cases[] = {
      {"a sticky folder, the file another user's", f.dir / "sticky/x.y4m", f.dir / "sticky/x.y4m",
       AsOtherUser()},
      {"a folder the user cannot write", f.dir / "locked/x.y4m", f.dir / "locked/x.y4m", AsOtherUser()},
      {"several hard links", f.dir / "links/x.y4m", f.dir / "links/x.y4m", {}},
      {"a mount point", mounted, source,
       [&] {
         if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             mount(source.c_str(), mounted.c_str(), nullptr, MS_BIND, nullptr) != 0)
           _exit(kSetupFailed);
       }},
      // The file alone writable: /tmp read-only, the file a writable mount of itself. No temporary
      // file can be made anywhere, so the result is held in memory.
      {"no temporary file anywhere", held, held,
       [&] {
         if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             mount("/tmp", "/tmp", nullptr, MS_BIND | MS_REC, nullptr) != 0 ||
             mount("none", "/tmp", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0 ||
             mount(held.c_str(), held.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
             mount("none", held.c_str(), nullptr, MS_REMOUNT | MS_BIND, nullptr) != 0 ||
             unsetenv("TMPDIR") != 0)
           _exit(kSetupFailed);
       }},
  };
  WriteFile(mounted, "under the mount");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    WriteFile(c.file, "earlier");
    chmod(c.file.c_str(), 0666);
    if (c.file == f.dir / "links/x.y4m" && !std::ifstream(f.dir / "links/other.y4m")) {
      ASSERT_EQ(link(c.file.c_str(), (f.dir / "links/other.y4m").c_str()), 0);
    }
    const Left before = Look(c.file);
    const Result r = RunAufhost({"velour", f.dir / "in.y4m", c.output}, {}, {}, {}, c.setup);
    if (r.status == kSetupFailed) {
      std::printf("[  SKIPPED ] %s: this machine does not allow it\n", c.why);
      continue;
    }
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectWritten(c.file, before, f.filtered, true);

    // A run that fails leaves the file as it was.
    WriteFile(c.file, "earlier");
    const Result failed = RunAufhost({"velour", f.dir / "short.y4m", c.output}, {}, {}, {}, c.setup);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("frame 2: truncated"), std::string::npos) << failed.err;
    ExpectWritten(c.file, before, "earlier", true);
  }
  EXPECT_TRUE(ReadFile(f.dir / "links/other.y4m") == ReadFile(f.dir / "links/x.y4m"));
  EXPECT_EQ(ReadFile(mounted), "under the mount");
}

// kCreate under a file-size limit: a write error with its reason, nothing left behind.
TEST(OutputPlan, FileSizeLimitIsAWriteError) {
  Fixture f;
  const Result r = RunAufhost({"velour", f.dir / "in.y4m", f.dir / "big.y4m"}, {}, {}, {}, [] {
    const rlimit limit = {1024, 1024};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(kSetupFailed);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "aufhost: " + f.dir / "big.y4m" + ": write failed (File too large)\n");
  EXPECT_EQ(f.dir.Files(), (std::vector<std::string>{"in.y4m", "short.y4m"}));
}

// A signal ignored by whoever started aufhost stays ignored (nohup, trap '' INT); any other that
// would end it ends it with the output as it was and no temporary file.
TEST(OutputPlan, SignalsEndARunCleanlyUnlessIgnored) {
  Fixture f;
  const std::string frame = f.clip.substr(0, f.clip.find("FRAME", f.clip.find("FRAME") + 1));
  const std::string one = RunAufhost({"velour", "-", "-"}, Feed(frame)).out;
  for (const int sig : {SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM}) {
    for (const bool ignored : {false, true}) {
      SCOPED_TRACE(std::string(strsignal(sig)) + (ignored ? ", ignored" : ""));
      WriteFile(f.dir / "out.y4m", "earlier");
      pid_t child = 0;
      bool saw_temporary = false;
      const Result r = RunAufhost(
          {"velour", "-", f.dir / "out.y4m"},
          [&](int fd) {
            WriteFd(fd, frame);  // one frame, then the input stays open until the signal is sent
            for (int i = 0; i < 500 && !saw_temporary; ++i) {
              saw_temporary = f.dir.Files().size() > 3;
              usleep(10000);
            }
            kill(child, sig);
            usleep(50000);
          },
          {}, [&](pid_t pid) { child = pid; },
          [&] {
            const rlimit no_core = {0, 0};
            setrlimit(RLIMIT_CORE, &no_core);
            if (ignored) signal(sig, SIG_IGN);
          });
      EXPECT_TRUE(saw_temporary);
      EXPECT_EQ(r.status, ignored ? 0 : 128 + sig) << r.err;
      EXPECT_TRUE(ReadFile(f.dir / "out.y4m") == (ignored ? one : "earlier"));
      EXPECT_EQ(f.dir.Files(), (std::vector<std::string>{"in.y4m", "out.y4m", "short.y4m"}));
    }
  }
}

// Standard descriptors that cannot serve: closed ones give one line and status 1, never a wait on
// a descriptor aufhost made itself; one that fails says why.
TEST(OutputPlan, StandardDescriptorsThatCannotServe) {
  Fixture f;
  auto closing = [](int fd) -> ChildSetup {
    return [fd] {
      close(fd);
    };
  };
  const struct {
    ChildSetup setup;
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {closing(0), {"velour", "-", f.dir / "o.y4m"}, "stdin: standard input is closed"},
      {closing(0), {"velour", "-", "-"}, "stdin: standard input is closed"},
      {closing(1), {"velour", f.dir / "in.y4m", "-"}, "stdout: standard output is closed"},
      {closing(1), {"velour", f.dir / "in.y4m", "/dev/stdout"}, "/dev/stdout: standard output is closed"},
      {[&] {
         const int folder = open((f.dir / "").c_str(), O_RDONLY | O_DIRECTORY);
         if (folder < 0 || dup2(folder, 0) != 0) _exit(kSetupFailed);
       },
       {"velour", "-", f.dir / "o.y4m"},
       "stdin: read error (Is a directory)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const Result r = RunAufhost(c.args, {}, {}, {}, [&] {
      alarm(20);  // a wait that never ends is a failure, not a hang
      c.setup();
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "aufhost: " + c.message + "\n");
    EXPECT_EQ(f.dir.Files(), (std::vector<std::string>{"in.y4m", "short.y4m"}));
  }
}

}  // namespace
