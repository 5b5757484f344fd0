// What aufhost does to its OUTPUT, one branch of its plan at a time (tools/cli/output_file.h), and
// what it leaves when a run is stopped: by a failure, a signal, a closed descriptor, a size limit or
// a full disk. Cases that need another user, mounts or file attributes are skipped, with a word,
// where this machine does not allow them.
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>

#include "tests/tools/aufhost_run.h"
#include "tools/cli/output_file.h"

namespace {

using namespace aufhost_test;

constexpr uid_t kOtherUser = 65534;  // nobody

// A clip, what aufhost makes of it, and earlier contents to write over: longer than the result, so
// that a file not cut to the result's size shows. The large one's result is more than one piece of
// a copy (1 MiB).
struct Fixture {
  TempDir dir;
  std::string clip;
  std::string filtered;
  std::string earlier;
  explicit Fixture(int w = 32, int h = 16) : clip(Y4mClip(w, h, "420jpeg", 2, 17)) {
    chmod((dir / "").c_str(), 0755);  // for runs as another user
    WriteFile(dir / "in.y4m", clip);
    WriteFile(dir / "short.y4m", clip.substr(0, clip.size() - 5));
    const Result r = RunAufhost({"velour", dir / "in.y4m", "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    filtered = r.out;
    earlier = "earlier " + std::string(filtered.size() + 4096, '.');
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
  EXPECT_TRUE(after.bytes == contents)
      << path << ": " << after.bytes.size() << " bytes, not " << contents.size();
  EXPECT_EQ(after.inode == before.inode, same_file) << path;
  EXPECT_EQ(after.mode, before.mode) << path << ": mode " << std::oct << after.mode << ", was "
                                     << before.mode;
  EXPECT_EQ(after.uid, before.uid) << path;
  const std::string folder = path.substr(0, path.rfind('/'));
  for (const std::string& name : TempDir::FilesIn(folder)) EXPECT_NE(name[0], '.') << folder << "/" << name;
}

void Skipped(const std::string& what) {
  std::printf("[  SKIPPED ] %s: this machine does not allow it\n", what.c_str());
}

// In the child: a descriptor on `path`, opened with `flags`.
ChildSetup OpenAs(const std::string& path, int fd, int flags = O_WRONLY | O_APPEND) {
  return [path, fd, flags] {
    const int opened = open(path.c_str(), flags);
    if (opened < 0 || dup2(opened, fd) != fd) _exit(kSetupFailed);
  };
}

ChildSetup AsOtherUser(uid_t uid = kOtherUser) {
  return [uid] {
    // Where the build folder is closed to other users, aufhost cannot run as one: skipped.
    if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0 ||
        access(kAufhost.c_str(), X_OK) != 0)
      _exit(kSetupFailed);
  };
}

// Mounts this test makes are its own: the test process (and the aufhost it starts) gets a mount
// namespace of its own, once. False where that is not allowed.
bool OwnMounts() {
  static const bool ok =
      unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  return ok;
}

// A small file system of `bytes` mounted at `at` for the life of the object.
class SmallDisk {
 public:
  SmallDisk(const std::string& at, size_t bytes) : at_(at) {
    mkdir(at.c_str(), 0755);
    mounted_ =
        OwnMounts() && mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + std::to_string(bytes)).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string at_;
  bool mounted_ = false;
};

// A file attribute (append-only, immutable) set on a file or folder for the life of the object.
class Attribute {
 public:
  Attribute(const std::string& path, int flag) : path_(path), flag_(flag) { set_ = Change(true); }
  ~Attribute() {
    if (set_) Change(false);
  }
  bool set() const { return set_; }

 private:
  bool Change(bool on) {
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    int flags = 0;
    const bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                    (flags = on ? flags | flag_ : flags & ~flag_, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (fd >= 0) close(fd);
    return ok;
  }
  std::string path_;
  int flag_;
  bool set_ = false;
};

// In the child: the file alone writable, /tmp read-only and the file a writable mount of itself, so
// that no temporary file can be made beside it.
bool OnlyTheFileWritable(const std::string& file) {
  return unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         mount("/tmp", "/tmp", nullptr, MS_BIND | MS_REC, nullptr) == 0 &&
         mount("none", "/tmp", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0 &&
         mount(file.c_str(), file.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
         mount("none", file.c_str(), nullptr, MS_REMOUNT | MS_BIND, nullptr) == 0;
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
        RunAufhost({"velour", f.dir / "in.y4m", s.name}, {}, {}, {}, OpenAs(f.dir / "log.y4m", s.fd));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(ReadFile(f.dir / "log.y4m") == "earlier\n" + f.filtered);

    const Result self =
        RunAufhost({"velour", f.dir / "in.y4m", s.name}, {}, {}, {}, OpenAs(f.dir / "in.y4m", s.fd));
    EXPECT_EQ(self.status, 2);
    EXPECT_NE(self.err.find("INPUT and OUTPUT are the same file"), std::string::npos) << self.err;
    EXPECT_TRUE(ReadFile(f.dir / "in.y4m") == f.clip);
  }
  // Standard input and output on one file.
  const Result both = RunAufhost({"velour", "-", "-"}, {}, {}, {}, [&] {
    alarm(20);  // where the input is read while it grows, the run would never end
    const int in = open((f.dir / "in.y4m").c_str(), O_RDONLY);
    if (in < 0 || dup2(in, 0) != 0) _exit(kSetupFailed);
    OpenAs(f.dir / "in.y4m", 1)();
  });
  EXPECT_EQ(both.status, 2) << both.err;
  EXPECT_TRUE(ReadFile(f.dir / "in.y4m") == f.clip);
}

// kReplace: a new file renamed over the old one, with the old one's owner and then its permission
// bits, setuid and setgid among them (changing the owner would clear them). Names as long as a file
// system takes, and relative names in a folder whose absolute path is longer than the system takes,
// are replaced and created like any other.
TEST(OutputPlan, ReplaceKeepsModeAndOwnerAndTakesEveryLegalName) {
  Fixture f;
  WriteFile(f.dir / "out.y4m", f.earlier);
  if (chown((f.dir / "out.y4m").c_str(), kOtherUser, kOtherUser) != 0)
    GTEST_SKIP() << "cannot give files away";
  chmod((f.dir / "out.y4m").c_str(), 06755);
  const Left before = Look(f.dir / "out.y4m");
  const Result r = RunAufhost({"velour", f.dir / "in.y4m", f.dir / "out.y4m"});
  EXPECT_EQ(r.status, 0) << r.err;
  ExpectWritten(f.dir / "out.y4m", before, f.filtered, false);

  // 255 bytes, and a folder of twenty levels of 200 bytes.
  const std::string longest = std::string(251, 'n') + ".y4m";
  int deep = open((f.dir / "").c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < 20 && deep >= 0; ++level) {
    const std::string name(200, 'd');
    mkdirat(deep, name.c_str(), 0755);
    const int next = openat(deep, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(deep);
    deep = next;
  }
  ASSERT_GE(deep, 0);
  const auto in_deep = [deep] {
    if (fchdir(deep) != 0) _exit(kSetupFailed);
  };
  for (const auto& [where, name] :
       {std::pair{"a long name", f.dir / longest}, std::pair{"a deep folder", std::string("out.y4m")}}) {
    SCOPED_TRACE(where);
    for (const char* pass : {"created", "replaced"}) {
      const Result run = RunAufhost({"velour", f.dir / "in.y4m", name}, {}, {}, {}, in_deep);
      EXPECT_EQ(run.status, 0) << pass << ": " << run.err;
      const int fd = openat(name[0] == '/' ? AT_FDCWD : deep, name.c_str(), O_RDONLY);
      std::string got(f.filtered.size() + 1, '\0');
      got.resize(size_t(std::max<ssize_t>(0, read(fd, got.data(), got.size()))));
      close(fd);
      EXPECT_TRUE(got == f.filtered) << pass;
    }
  }
  struct dirent* e;
  DIR* folder = fdopendir(deep);
  while ((e = readdir(folder)) != nullptr)
    EXPECT_TRUE(std::string(e->d_name) == "." || std::string(e->d_name) == ".." ||
                std::string(e->d_name) == "out.y4m")
        << e->d_name;
  closedir(folder);
  EXPECT_EQ(f.dir.Files(), (std::vector<std::string>{"d" + std::string(199, 'd'), "in.y4m", longest,
                                                     "out.y4m", "short.y4m"}));
}

// kInPlace, one case per reason a file cannot be replaced: the result, larger than one piece of the
// copy, is copied into the file itself, which keeps its inode, mode and owner (and every hard link
// sees it), with nothing of what it held before left behind it.
TEST(OutputPlan, InPlaceWhereTheFileCannotBeReplaced) {
  Fixture f(1024, 576);
  for (const char* folder : {"sticky", "locked", "links", "mount", "held", "full", "proc", "appending"})
    mkdir((f.dir / folder).c_str(), 0755);
  chmod((f.dir / "sticky").c_str(), 01777);
  const std::string source = f.dir / "mount/source.y4m", mounted = f.dir / "mount/target.y4m";
  // Another process's descriptor, opened for appending as a shell's `exec 7>>` opens it.
  WriteFile(f.dir / "proc/x.y4m", "");
  const int appended = open((f.dir / "proc/x.y4m").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(appended, 0);
  const std::string through_proc = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(appended);
  // A temporary folder too small for the result: it moves to memory.
  const SmallDisk tiny(f.dir / "tiny", 64 * 1024);
  const Attribute appending(f.dir / "appending", FS_APPEND_FL);
  const struct {
    const char* why;
    std::string output;
    std::string file;  // what is written to: the output, or what it names
    ChildSetup setup;
    bool allowed = true;
  } cases[] = {
      {"a sticky folder, the file another user's", f.dir / "sticky/x.y4m", f.dir / "sticky/x.y4m",
       AsOtherUser()},
      {"a folder the user cannot write", f.dir / "locked/x.y4m", f.dir / "locked/x.y4m", AsOtherUser()},
      {"an append-only folder", f.dir / "appending/x.y4m", f.dir / "appending/x.y4m", {}, appending.set()},
      {"several hard links", f.dir / "links/x.y4m", f.dir / "links/x.y4m", {}},
      {"a mount point", mounted, source,
       [&] {
         if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             mount(source.c_str(), mounted.c_str(), nullptr, MS_BIND, nullptr) != 0)
           _exit(kSetupFailed);
       }},
      {"no temporary file anywhere", f.dir / "held/x.y4m", f.dir / "held/x.y4m",
       [&] {
         if (!OnlyTheFileWritable(f.dir / "held/x.y4m") || unsetenv("TMPDIR") != 0) _exit(kSetupFailed);
       }},
      {"a temporary folder that fills", f.dir / "full/x.y4m", f.dir / "full/x.y4m",
       [&] {
         if (!OnlyTheFileWritable(f.dir / "full/x.y4m") || setenv("TMPDIR", (f.dir / "tiny").c_str(), 1) != 0)
           _exit(kSetupFailed);
       },
       tiny.mounted()},
      {"another process's descriptor", through_proc, f.dir / "proc/x.y4m", {}},
  };
  WriteFile(mounted, "under the mount");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    if (!c.allowed) {
      Skipped(c.why);
      continue;
    }
    WriteFile(c.file, f.earlier);
    chmod(c.file.c_str(), 0666);
    if (c.file == f.dir / "links/x.y4m" && !std::ifstream(f.dir / "links/other.y4m")) {
      ASSERT_EQ(link(c.file.c_str(), (f.dir / "links/other.y4m").c_str()), 0);
    }
    const Left before = Look(c.file);
    const Result r = RunAufhost({"velour", f.dir / "in.y4m", c.output}, {}, {}, {}, c.setup);
    if (r.status == kSetupFailed) {
      Skipped(c.why);
      continue;
    }
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectWritten(c.file, before, f.filtered, true);

    // A run that fails leaves the file as it was.
    WriteFile(c.file, f.earlier);
    const Result failed = RunAufhost({"velour", f.dir / "short.y4m", c.output}, {}, {}, {}, c.setup);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("frame 2: truncated"), std::string::npos) << failed.err;
    ExpectWritten(c.file, before, f.earlier, true);
  }
  close(appended);
  EXPECT_TRUE(ReadFile(f.dir / "links/other.y4m") == ReadFile(f.dir / "links/x.y4m"));
  EXPECT_EQ(ReadFile(mounted), "under the mount");
  EXPECT_EQ(TempDir::FilesIn(f.dir / "tiny"), std::vector<std::string>{});
}

// A rename refused at the end by what the plan could not see (here a mount made over OUTPUT while the
// run waits for input) has the finished result copied into what OUTPUT names, and the temporary
// file removed.
TEST(OutputPlan, ARenameRefusedAtTheEndCopiesTheResultIn) {
  Fixture f;
  if (!OwnMounts()) GTEST_SKIP() << "no mounts of the test's own here";
  WriteFile(f.dir / "out.y4m", f.earlier);
  WriteFile(f.dir / "source.y4m", "over it");
  bool mounted = false;
  const Result r = RunAufhost({"velour", "-", f.dir / "out.y4m"}, [&](int fd) {
    WriteFd(fd, f.clip);  // every frame, then the input stays open until the mount is made
    int left = 1;
    for (int i = 0; i < 500 && left > 0 && ioctl(fd, FIONREAD, &left) == 0;) usleep(10000), ++i;
    mounted =
        mount((f.dir / "source.y4m").c_str(), (f.dir / "out.y4m").c_str(), nullptr, MS_BIND, nullptr) == 0;
  });
  if (!mounted) GTEST_SKIP() << "cannot mount over a file here";
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadFile(f.dir / "out.y4m") == f.filtered);  // what the mount shows
  umount2((f.dir / "out.y4m").c_str(), MNT_DETACH);
  EXPECT_TRUE(ReadFile(f.dir / "source.y4m") == f.filtered);
  EXPECT_TRUE(ReadFile(f.dir / "out.y4m") == f.earlier);
  EXPECT_EQ(f.dir.Files(), (std::vector<std::string>{"in.y4m", "out.y4m", "short.y4m", "source.y4m"}));
}

// Two runs committing into one in-place file at once take turns under a lock on it: each result goes
// in whole, and the last to commit wins, as with a rename. While another holds the lock, the file is
// not touched.
TEST(OutputPlan, CommitsIntoOneFileTakeTurns) {
  Fixture f;
  const std::string out = f.dir / "out.y4m";
  WriteFile(out, f.earlier);
  ASSERT_EQ(link(out.c_str(), (f.dir / "other.y4m").c_str()), 0);
  const Result d = RunAufhost({"deblock", f.dir / "in.y4m", "-"});
  ASSERT_EQ(d.status, 0) << d.err;
  ASSERT_FALSE(d.out == f.filtered);
  // How many runs wait for the lock on the file, from the kernel's table of locks.
  const std::string inode = ":" + std::to_string(Look(out).inode) + " ";
  const auto waiting = [&] {
    std::ifstream locks("/proc/locks");
    int n = 0;
    for (std::string line; std::getline(locks, line);)
      n += line.find("->") != std::string::npos && line.find(inode) != std::string::npos;
    return n;
  };
  const auto wait_for = [&](int n) {
    for (int i = 0; i < 2000 && waiting() < n; ++i) usleep(10000);
    return waiting() >= n;
  };
  const int held = open(out.c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  Result velour, deblock;
  std::thread first([&] { velour = RunAufhost({"velour", f.dir / "in.y4m", out}); });
  EXPECT_TRUE(wait_for(1)) << "the run did not wait for the lock";
  EXPECT_TRUE(ReadFile(out) == f.earlier) << "the file was written while another held its lock";
  std::thread second([&] { deblock = RunAufhost({"deblock", f.dir / "in.y4m", out}); });
  EXPECT_TRUE(wait_for(2)) << "the second run did not wait for the lock";
  flock(held, LOCK_UN);
  close(held);
  first.join();
  second.join();
  EXPECT_EQ(velour.status, 0) << velour.err;
  EXPECT_EQ(deblock.status, 0) << deblock.err;
  const std::string result = ReadFile(out);
  EXPECT_TRUE(result == f.filtered || result == d.out) << result.size() << " bytes, neither result whole";
}

// The one checker of a refusal: status 1 and the message, the file as it was and nothing beside it.
// From INPUT "-", a pipe that has sent one frame and stays open: the refusal must come before the
// first frame, while the input is still open.
void ExpectRefused(const Fixture& f, const std::string& input, const std::string& output,
                   const std::string& file, const std::string& message, const ChildSetup& setup = {}) {
  const std::string before = ReadFile(file);
  const std::vector<std::string> files = TempDir::FilesIn(file.substr(0, file.rfind('/')));
  bool ended_first = false;
  const std::string one = f.clip.substr(0, f.clip.find("FRAME", f.clip.find("FRAME") + 1));
  const Result r = RunAufhost(
      {"velour", input, output},
      [&](int fd) {
        if (input != "-") return;
        // A refusal may come before the frame is taken: no SIGPIPE for that.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        WriteFd(fd, one);
        pollfd gone = {fd, 0, 0};  // the reader closed: POLLERR
        ended_first = poll(&gone, 1, 20000) == 1;
      },
      {}, {}, setup);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "aufhost: " + output + ": " + message + "\n");
  if (input == "-") {
    EXPECT_TRUE(ended_first) << "refused only once the input ended";
  }
  EXPECT_TRUE(ReadFile(file) == before);
  EXPECT_EQ(TempDir::FilesIn(file.substr(0, file.rfind('/'))), files);
}

// What cannot be written is refused before the first frame: an append-only or immutable file, a
// descriptor open for reading only. A disk without room for the result is met before anything of
// the file is written over: room is reserved first.
TEST(OutputPlan, RefusalsLeaveTheFileAsItWas) {
  Fixture f(1024, 576);
  mkdir((f.dir / "held").c_str(), 0755);
  for (const auto& [name, flag] :
       {std::pair{"append.y4m", FS_APPEND_FL}, std::pair{"immutable.y4m", FS_IMMUTABLE_FL}}) {
    WriteFile(f.dir / name, f.earlier);
    const Attribute attribute(f.dir / name, flag);
    if (!attribute.set()) {
      Skipped(name);
      continue;
    }
    ExpectRefused(
        f, "-", f.dir / name, f.dir / name,
        flag == FS_APPEND_FL ? "cannot write (it is append-only)" : "cannot write (Operation not permitted)");
  }
  WriteFile(f.dir / "read.y4m", f.earlier);
  ExpectRefused(f, "-", "/dev/fd/3", f.dir / "read.y4m", "cannot write (Bad file descriptor)",
                OpenAs(f.dir / "read.y4m", 3, O_RDONLY));

  // A result larger than memory may hold where only memory can hold it: refused before any work,
  // with its size as the output format stores it (here what the input, of the same layout, takes).
  // The input's frames are counted from its size: a file with holes of 431 4:2:0 1080p frames, 1.25
  // GiB, taking no room.
  const std::string header = "YUV4MPEG2 W1920 H1080 F25:1 C420jpeg\n";
  const int64_t huge = int64_t(header.size()) + 431 * (6 + 1920 * 1080 * 3 / 2);
  WriteFile(f.dir / "huge.y4m", header);
  ASSERT_EQ(truncate((f.dir / "huge.y4m").c_str(), huge), 0);
  WriteFile(f.dir / "held/x.y4m", f.earlier);
  ExpectRefused(f, f.dir / "huge.y4m", f.dir / "held/x.y4m", f.dir / "held/x.y4m",
                "cannot be written: it can only be written in place (it is a mount point), no temporary file "
                "can be made, and the result (about " +
                    std::to_string(huge >> 20) + " MiB) is more than the 1024 MiB held in memory",
                [&] {
                  if (!OnlyTheFileWritable(f.dir / "held/x.y4m") || unsetenv("TMPDIR") != 0)
                    _exit(kSetupFailed);
                });

  // Room for the file and the result built beside it, not for the file grown to the result's size.
  const SmallDisk disk(f.dir / "disk", 2560 * 1024);
  if (!disk.mounted()) return Skipped("a small file system");
  WriteFile(f.dir / "disk/x.y4m", f.earlier.substr(0, 512 * 1024));
  ASSERT_EQ(link((f.dir / "disk/x.y4m").c_str(), (f.dir / "disk/other.y4m").c_str()), 0);
  ExpectRefused(f, f.dir / "in.y4m", f.dir / "disk/x.y4m", f.dir / "disk/x.y4m",
                "write failed (No space left on device)");
}

// Two files, each the first on a fresh file system of its own, have the same inode number: not the
// same file, so one is written from the other.
TEST(OutputPlan, TheSameInodeOnTwoFileSystemsIsTwoFiles) {
  Fixture f;
  const SmallDisk a(f.dir / "a", 1 << 20), b(f.dir / "b", 1 << 20);
  if (!a.mounted() || !b.mounted()) GTEST_SKIP() << "no file systems of the test's own here";
  WriteFile(f.dir / "a/in.y4m", f.clip);
  WriteFile(f.dir / "b/out.y4m", f.earlier);
  if (Look(f.dir / "a/in.y4m").inode != Look(f.dir / "b/out.y4m").inode)
    GTEST_SKIP() << "no two inodes alike";
  const Result r = RunAufhost({"velour", f.dir / "a/in.y4m", f.dir / "b/out.y4m"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadFile(f.dir / "b/out.y4m") == f.filtered);
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
// would end it ends it with the output as it was and nothing beside it, SIGKILL too: the result is
// built in a file without a name until the end.
TEST(OutputPlan, SignalsEndARunCleanlyUnlessIgnored) {
  Fixture f;
  const std::string frame = f.clip.substr(0, f.clip.find("FRAME", f.clip.find("FRAME") + 1));
  const std::string one = RunAufhost({"velour", "-", "-"}, Feed(frame)).out;
  for (const int sig : {SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGKILL}) {
    for (const bool ignored : {false, true}) {
      if (ignored && sig == SIGKILL) continue;
      SCOPED_TRACE(std::string(strsignal(sig)) + (ignored ? ", ignored" : ""));
      WriteFile(f.dir / "out.y4m", "earlier");
      pid_t child = 0;
      bool taken = false;
      const Result r = RunAufhost(
          {"velour", "-", f.dir / "out.y4m"},
          [&](int fd) {
            WriteFd(fd, frame);  // one frame, then the input stays open until the signal is sent
            int left = 1;
            for (int i = 0; i < 500 && left > 0; ++i) {
              if (ioctl(fd, FIONREAD, &left) != 0) break;
              usleep(10000);
            }
            taken = left == 0;
            usleep(100000);  // the frame filtered and written to the result
            kill(child, sig);
            usleep(50000);
          },
          {}, [&](pid_t pid) { child = pid; },
          [&] {
            const rlimit no_core = {0, 0};
            setrlimit(RLIMIT_CORE, &no_core);
            if (ignored) signal(sig, SIG_IGN);
          });
      EXPECT_TRUE(taken);
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

// A result held in memory never takes more than its limit: a write that would go beyond it fails
// and keeps nothing of itself, and what was held reads back whole.
TEST(HeldBytes, StaysWithinItsLimit) {
  constexpr int64_t kLimit = (int64_t{40} << 20) + 12345;  // not a whole number of blocks
  cli::HeldBytes held(kLimit);
  std::string piece(3 << 20, '\0');
  testsupport::Rng rng(testsupport::TestSeed());
  std::string all;
  for (;;) {
    for (size_t i = 0; i < piece.size(); i += 8) {
      const uint64_t v = rng.Next();
      std::memcpy(piece.data() + i, &v, 8);
    }
    const size_t n = std::min<size_t>(piece.size(), size_t(kLimit - held.size()));
    if (n == 0) break;
    ASSERT_TRUE(held.Write(piece.data(), n));
    all.append(piece, 0, n);
  }
  EXPECT_EQ(held.size(), kLimit);
  errno = 0;
  EXPECT_FALSE(held.Write("x", 1));
  EXPECT_EQ(errno, EFBIG);
  EXPECT_LE(held.allocated(), kLimit);
  std::string back(size_t(kLimit) + 10, '\0');
  EXPECT_EQ(held.ReadAt(0, back.data(), back.size()), size_t(kLimit));
  back.resize(size_t(kLimit));
  EXPECT_TRUE(back == all);
  char tail[100];
  EXPECT_EQ(held.ReadAt(kLimit - 7, tail, sizeof tail), 7u);
  EXPECT_EQ(std::string(tail, 7), all.substr(all.size() - 7));
}

}  // namespace
