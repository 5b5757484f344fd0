#include "tools/cli/output_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tools/cli/files.h"
#include "tools/io/frame_io.h"

namespace cli {
namespace {

#if defined(_WIN32)
using NativeChar = wchar_t;
std::wstring Native(const std::string& path) { return Wide(path); }
int RemoveFile(const wchar_t* path) { return _wunlink(path); }
int CloseFile(int fd) { return _close(fd); }
#else
using NativeChar = char;
const std::string& Native(const std::string& path) { return path; }
int RemoveFile(const char* path) { return unlink(path); }
int CloseFile(int fd) { return close(fd); }
#endif
using NativeString = std::basic_string<NativeChar>;

// Temporaries a signal handler may remove: fixed buffers, since it can only call unlink().
constexpr int kMaxTemporaries = 4;
constexpr size_t kMaxPath = 4096;
NativeChar g_temporaries[kMaxTemporaries][kMaxPath];
std::atomic<int> g_in_use[kMaxTemporaries];
// While an output is copied into, a termination signal waits: it is kept here and acted on after.
std::atomic<int> g_holding{0};
std::atomic<int> g_held_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

int RegisterTemporary(const NativeString& path) {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kMaxTemporaries; ++i) {
    if (g_in_use[i].load()) continue;
    path.copy(g_temporaries[i], path.size());
    g_temporaries[i][path.size()] = 0;
    g_in_use[i].store(1);  // the name is whole before a handler can see it
    return i;
  }
  return -1;
}

void ForgetTemporary(int slot) {
  if (slot >= 0) g_in_use[slot].store(0);
}

extern "C" void RemoveTemporariesAndDie(int sig) {
  if (g_holding.load() > 0) {
    g_held_signal.store(sig);
    return;
  }
  for (int i = 0; i < kMaxTemporaries; ++i)
    if (g_in_use[i].load()) RemoveFile(g_temporaries[i]);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Termination signals wait while one is alive.
class HoldSignals {
 public:
  HoldSignals() { ++g_holding; }
  ~HoldSignals() {
    if (--g_holding == 0)
      if (const int sig = g_held_signal.exchange(0); sig != 0) RemoveTemporariesAndDie(sig);
  }
};

// The folder part of a path, with its separator ("" for none).
std::string FolderOf(const std::string& path) {
#if defined(_WIN32)
  const size_t slash = path.find_last_of("/\\:");
#else
  const size_t slash = path.rfind('/');
#endif
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Creates a new, empty file from `name`, a pattern ending in XXXXXX, which then holds the real name,
// and returns it open for reading and writing; -1 with errno set on failure. `mode` (permission bits)
// is that of the file being replaced, or -1 for what a plain create would give.
int CreateUniqueFile(std::string& name, [[maybe_unused]] int mode) {
#if defined(_WIN32)
  // No mkstemp here: try names until one can be created exclusively.
  const size_t x = name.size() - 6;
  unsigned seed = static_cast<unsigned>(_getpid()) * 2654435761u ^ static_cast<unsigned>(GetTickCount());
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 1664525u + 1013904223u;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06x", (seed >> 8) & 0xffffff);
    name.replace(x, 6, digits);
    const int fd = _wopen(Wide(name).c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
#else
  std::vector<char> pattern(name.begin(), name.end());
  pattern.push_back('\0');
  const int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  name = pattern.data();
  if (mode < 0) {
    // mkstemp makes the file private; give it the permissions a plain create would.
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, static_cast<mode_t>(mode));
  return fd;
#endif
}

// A result held in memory, up to kMaxHeldBytes.
class HeldBytes : public io::ByteSink {
 public:
  bool Write(const void* data, size_t n) override {
    if (static_cast<int64_t>(n) > kMaxHeldBytes - static_cast<int64_t>(bytes_.size())) {
      errno = EFBIG;
      return false;
    }
    try {
      bytes_.insert(bytes_.end(), static_cast<const char*>(data), static_cast<const char*>(data) + n);
    } catch (const std::bad_alloc&) {
      errno = ENOMEM;
      return false;
    }
    return true;
  }
  const std::vector<char>& bytes() const { return bytes_; }

 private:
  std::vector<char> bytes_;
};

#if !defined(_WIN32)

bool IsMountPoint(const std::string& path) {
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    // The fifth field is the mount point, with space, tab, newline and backslash as \ooo.
    size_t at = 0;
    for (int field = 0; field < 4 && at != std::string::npos; ++field) at = line.find(' ', at + 1);
    if (at == std::string::npos) continue;
    const size_t end = line.find(' ', at + 1);
    const std::string escaped = line.substr(at + 1, end - at - 1);
    std::string point;
    for (size_t i = 0; i < escaped.size(); ++i) {
      if (escaped[i] == '\\' && i + 3 < escaped.size()) {
        point += static_cast<char>(std::strtol(escaped.substr(i + 1, 3).c_str(), nullptr, 8));
        i += 3;
      } else {
        point += escaped[i];
      }
    }
    if (point == path) return true;
  }
  return false;
}

// Why a writable regular file cannot be replaced by renaming a new file over it; empty if it can.
std::string WhyNotReplaceable(const std::string& path) {
  struct stat file, folder;
  const std::string dir = FolderOf(path);
  if (stat(path.c_str(), &file) != 0 || stat(dir.c_str(), &folder) != 0) return "";
  if (file.st_nlink > 1) return "it has " + std::to_string(file.st_nlink) + " hard links";
  if (file.st_dev != folder.st_dev || IsMountPoint(path)) return "it is a mount point";
  if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return "its folder cannot be written";
  const uid_t me = geteuid();
  if ((folder.st_mode & S_ISVTX) && me != 0 && file.st_uid != me && folder.st_uid != me)
    return "its folder is sticky and neither the folder nor the file is ours";
  return "";
}

// Copies `size` bytes, from `from_fd` or else `from_memory`, over the start of `to_fd` and cuts the
// file there; 0 or an errno value. Room is reserved first, so that a full disk or the file-size
// limit is met before anything of the file is overwritten.
int CopyInto(int to_fd, int from_fd, const char* from_memory, int64_t size) {
  struct stat st;
  if (fstat(to_fd, &st) != 0) return errno;
  if (size > st.st_size) {
    const int reserved = posix_fallocate(to_fd, 0, static_cast<off_t>(size));
    if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL && reserved != ENODEV) {
      [[maybe_unused]] const int ignored = ftruncate(to_fd, st.st_size);
      return reserved;
    }
  }
  std::vector<char> buffer(from_memory != nullptr ? 0 : size_t{1} << 20);
  for (int64_t done = 0; done < size;) {
    size_t n = static_cast<size_t>(std::min<int64_t>(size - done, int64_t{1} << 20));
    const char* data = buffer.data();
    if (from_memory != nullptr) {
      data = from_memory + done;
    } else {
      const ssize_t got = pread(from_fd, buffer.data(), n, static_cast<off_t>(done));
      if (got <= 0) return got < 0 ? errno : EIO;
      n = static_cast<size_t>(got);
    }
    for (size_t written = 0; written < n;) {
      const ssize_t put = pwrite(to_fd, data + written, n - written, static_cast<off_t>(done + written));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return put < 0 ? errno : EIO;
      written += static_cast<size_t>(put);
    }
    done += static_cast<int64_t>(n);
  }
  return ftruncate(to_fd, static_cast<off_t>(size)) != 0 ? errno : 0;
}

#endif

[[noreturn]] void Fail(const std::string& name, const std::string& what, int error) {
  throw io::IoError(name + ": " + what + " (" + ErrorText(error) + ")");
}

}  // namespace

OutputPlan PlanOutput(const std::string& name) {
  OutputPlan plan;
  plan.name = name == "-" ? "stdout" : name;
  const Target target = name == "-" ? Target{"", FileKind::kStream, true, 1, ""} : ResolveTarget(name);
  if (!target.error.empty()) throw io::IoError(name + ": cannot create (" + target.error + ")");
  plan.path = target.path;
  if (target.descriptor >= 0) {
    static const char* const kStandard[] = {"standard input", "standard output", "standard error"};
    const int fd = target.descriptor;
    if (StandardDescriptorWasClosed(fd)) throw io::IoError(plan.name + ": " + kStandard[fd] + " is closed");
#if !defined(_WIN32)
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1) Fail(plan.name, "cannot write", errno);
    if ((flags & O_ACCMODE) == O_RDONLY) Fail(plan.name, "cannot write", EBADF);
#endif
    plan.branch = OutputBranch::kDescriptor;
    plan.descriptor = fd;
    plan.id = IdOfDescriptor(fd);
    return plan;
  }
  if (target.kind == FileKind::kDirectory) throw io::IoError(name + ": is a directory");
  plan.id = IdOfPath(target.path);
  if (target.direct) {
    plan.branch = OutputBranch::kThrough;
    return plan;
  }
  if (target.kind == FileKind::kMissing) {
    plan.branch = OutputBranch::kCreate;
    return plan;
  }
#if defined(_WIN32)
  const DWORD attributes = GetFileAttributesW(Wide(target.path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    throw io::IoError(name + ": cannot write (read-only file)");
#else
  if (faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) != 0) Fail(name, "cannot write", errno);
  plan.reason = WhyNotReplaceable(target.path);
#endif
  plan.branch = plan.reason.empty() ? OutputBranch::kReplace : OutputBranch::kInPlace;
  return plan;
}

bool SameOutput(const OutputPlan& a, const OutputPlan& b) {
  if (!a.id.exists && !b.id.exists)
    return a.branch == OutputBranch::kCreate && b.branch == OutputBranch::kCreate && a.path == b.path;
  return SameRegularFile(a.id, b.id);
}

OutputTarget::OutputTarget(OutputPlan plan, int64_t expected_bytes) : plan_(std::move(plan)) {
  switch (plan_.branch) {
    case OutputBranch::kDescriptor: sink_ = std::make_unique<DescriptorSink>(plan_.descriptor); return;
    case OutputBranch::kThrough: {
      errno = 0;
#if defined(_WIN32)
      fd_ = _wopen(Wide(plan_.path).c_str(), _O_WRONLY | _O_BINARY);
#else
      fd_ = open(plan_.path.c_str(), O_WRONLY | O_CLOEXEC);
#endif
      if (fd_ < 0) Fail(plan_.name, "cannot open for writing", errno != 0 ? errno : EIO);
      sink_ = std::make_unique<DescriptorSink>(fd_);
      return;
    }
    case OutputBranch::kCreate:
    case OutputBranch::kReplace: OpenTemporary(); break;
    case OutputBranch::kInPlace: break;
  }
  if (plan_.branch == OutputBranch::kInPlace) OpenInPlace(expected_bytes);
}

void OutputTarget::OpenTemporary() {
  int mode = -1;
#if !defined(_WIN32)
  struct stat st;
  const bool replacing = plan_.branch == OutputBranch::kReplace && stat(plan_.path.c_str(), &st) == 0;
  if (replacing) mode = static_cast<int>(st.st_mode & 07777);
#endif
  const std::string folder = FolderOf(plan_.path);
  std::string name = folder + "." + plan_.path.substr(folder.size()) + ".XXXXXX";
  fd_ = CreateUniqueFile(name, mode);
  if (fd_ < 0) {
#if !defined(_WIN32)
    // A folder that turns out not to take new files, while the file itself can be written.
    if (plan_.branch == OutputBranch::kReplace && (errno == EACCES || errno == EPERM || errno == EROFS)) {
      plan_.branch = OutputBranch::kInPlace;
      plan_.reason = "its folder cannot be written";
      return;
    }
#endif
    Fail(plan_.name, "cannot create", errno);
  }
  temp_ = name;
  slot_ = RegisterTemporary(Native(temp_));
#if !defined(_WIN32)
  // The owner too, where that may be set: otherwise the file becomes whoever ran aufhost's.
  if (replacing && fchown(fd_, st.st_uid, st.st_gid) != 0) {
    // Not ours to give away: the new file stays whoever ran aufhost's.
  }
#endif
  sink_ = std::make_unique<DescriptorSink>(fd_);
}

void OutputTarget::OpenInPlace([[maybe_unused]] int64_t expected_bytes) {
#if !defined(_WIN32)
  out_fd_ = open(plan_.path.c_str(), O_WRONLY | O_CLOEXEC);
  if (out_fd_ < 0) Fail(plan_.name, "cannot write", errno);
  // An unnamed temporary file: beside the output, else in the temporary folder.
  const char* tmpdir = std::getenv("TMPDIR");
  for (const std::string& folder :
       {FolderOf(plan_.path), std::string(tmpdir ? tmpdir : ""), std::string("/tmp")}) {
    if (folder.empty()) continue;
    std::string name = folder + (folder.back() == '/' ? "" : "/") + ".aufhost.XXXXXX";
    fd_ = CreateUniqueFile(name, 0600);
    if (fd_ < 0) continue;
    unlink(name.c_str());
    sink_ = std::make_unique<DescriptorSink>(fd_);
    return;
  }
  if (expected_bytes > kMaxHeldBytes)
    throw io::IoError(plan_.name + ": cannot be written: it can only be written in place (" + plan_.reason +
                      "), no temporary file can be made, and the result (about " +
                      std::to_string(expected_bytes >> 20) + " MiB) is more than the " +
                      std::to_string(kMaxHeldBytes >> 20) + " MiB held in memory");
  sink_ = std::make_unique<HeldBytes>();
#endif
}

OutputTarget::~OutputTarget() {
  if (fd_ >= 0) CloseFile(fd_);
  if (out_fd_ >= 0) CloseFile(out_fd_);
  if (committed_ || temp_.empty()) return;
  RemoveFile(Native(temp_).c_str());
  ForgetTemporary(slot_);
}

void OutputTarget::Commit() {
  switch (plan_.branch) {
    case OutputBranch::kDescriptor: return;
    case OutputBranch::kInPlace: CommitInPlace(); return;
    default: break;
  }
  const int fd = fd_;
  fd_ = -1;
  if (CloseFile(fd) != 0) Fail(plan_.name, "write failed", errno);
  if (temp_.empty()) return;
#if defined(_WIN32)
  // rename() on Windows refuses an existing target.
  if (!MoveFileExW(Wide(temp_).c_str(), Wide(plan_.path).c_str(), MOVEFILE_REPLACE_EXISTING))
    throw io::IoError(plan_.name + ": cannot replace (" + WindowsErrorText(GetLastError()) + ")");
#else
  if (std::rename(temp_.c_str(), plan_.path.c_str()) != 0) {
    const int error = errno;
    // Not replaceable after all (a rule the plan could not see): copy the finished result in.
    if (plan_.branch != OutputBranch::kReplace ||
        (error != EPERM && error != EACCES && error != EBUSY && error != EXDEV))
      Fail(plan_.name, "cannot replace", error);
    fd_ = open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    out_fd_ = open(plan_.path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0 || out_fd_ < 0) Fail(plan_.name, "cannot replace", error);
    CommitInPlace();
    return;
  }
#endif
  committed_ = true;
  ForgetTemporary(slot_);
}

void OutputTarget::CommitInPlace() {
#if !defined(_WIN32)
  const HeldBytes* held = fd_ < 0 ? static_cast<const HeldBytes*>(sink_.get()) : nullptr;
  const int64_t size = held != nullptr ? static_cast<int64_t>(held->bytes().size()) : lseek(fd_, 0, SEEK_END);
  if (size < 0) Fail(plan_.name, "write failed", errno);
  {
    HoldSignals hold;
    if (const int error = CopyInto(out_fd_, fd_, held != nullptr ? held->bytes().data() : nullptr, size);
        error != 0)
      Fail(plan_.name, "write failed", error);
  }
  const int out = out_fd_;
  out_fd_ = -1;
  if (close(out) != 0) Fail(plan_.name, "write failed", errno);
  committed_ = true;
#endif
}

void HandleTerminationSignals() {
#if defined(_WIN32)
  for (int sig : {SIGINT, SIGTERM, SIGBREAK})
    if (std::signal(sig, RemoveTemporariesAndDie) == SIG_IGN) std::signal(sig, SIG_IGN);
#else
  for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM}) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_handler = RemoveTemporariesAndDie;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace cli
