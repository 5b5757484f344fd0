#include "tools/cli/output_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
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
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tools/io/frame_io.h"

namespace cli {
namespace {

#if defined(_WIN32)
using NativeChar = wchar_t;
#else
using NativeChar = char;
#endif

// Temporary files a signal handler may remove: fixed buffers, since it can only call unlink(). Each is
// registered before it is created, so that no signal finds it made but unknown.
constexpr int kMaxTemporaries = 4;
constexpr size_t kMaxPath = 4096;
struct Temporary {
  int folder;  // the folder it is named in (Windows: -1, the name is a whole path)
  NativeChar name[kMaxPath];
};
Temporary g_temporaries[kMaxTemporaries];
std::atomic<int> g_in_use[kMaxTemporaries];  // 0 free, 1 taken, 2 being filled in
// While an output is copied into, a termination signal waits: it is kept here and acted on after.
std::atomic<int> g_holding{0};
std::atomic<int> g_held_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

int RegisterTemporary(int folder, const std::basic_string<NativeChar>& name) {
  if (name.size() >= kMaxPath) return -1;
  for (int i = 0; i < kMaxTemporaries; ++i) {
    int free = 0;
    if (!g_in_use[i].compare_exchange_strong(free, 2)) continue;
    g_temporaries[i].folder = folder;
    name.copy(g_temporaries[i].name, name.size());
    g_temporaries[i].name[name.size()] = 0;
    g_in_use[i].store(1);  // the name is whole before a handler can see it
    return i;
  }
  return -1;
}

void ForgetTemporary(int& slot) {
  if (slot >= 0) g_in_use[slot].store(0);
  slot = -1;
}

void RemoveRegistered(int i) {
#if defined(_WIN32)
  _wunlink(g_temporaries[i].name);
#else
  unlinkat(g_temporaries[i].folder, g_temporaries[i].name, 0);
#endif
}

extern "C" void RemoveTemporariesAndDie(int sig) {
  if (g_holding.load() > 0) {
    g_held_signal.store(sig);
    return;
  }
  for (int i = 0; i < kMaxTemporaries; ++i)
    if (g_in_use[i].load() == 1) RemoveRegistered(i);
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

int CloseFd(int fd) {
#if defined(_WIN32)
  return _close(fd);
#else
  return close(fd);
#endif
}

[[noreturn]] void Fail(const std::string& name, const std::string& what, int error) {
  throw io::IoError(name + ": " + what + " (" + ErrorText(error) + ")");
}

// Six letters or digits for a temporary name, different in every call and every process.
std::string RandomSuffix() {
  static uint64_t state = 0;
  if (state == 0)
    state = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
#if defined(_WIN32)
            uint64_t(_getpid()) << 32;
#else
            uint64_t(getpid()) << 32;
#endif
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 6; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    suffix += kLetters[(state >> 33) % 62];
  }
  return suffix;
}

// ".NAME.XXXXXX", with NAME cut (at a character boundary) where the whole would be longer than the
// file system takes in one name.
std::string TemporaryName(const std::string& base, size_t name_max) {
  std::string kept = base;
  if (kept.size() + 8 > name_max) {
    size_t keep = name_max > 8 ? name_max - 8 : 0;
    while (keep > 0 && (static_cast<unsigned char>(kept[keep]) & 0xc0) == 0x80) --keep;
    kept.resize(keep);
  }
  return "." + kept + "." + RandomSuffix();
}

// A folder that temporary files are made in, and the calls that name files in it.
#if defined(_WIN32)

struct Place {
  std::string prefix;  // the folder as the start of every path in it
};

std::string FolderPrefix(const std::string& path) {
  const size_t slash = path.find_last_of("/\\:");
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

size_t NameMax(const Place&) { return 255; }
int RegisterIn(const Place& place, const std::string& name) {
  return RegisterTemporary(-1, Wide(place.prefix + name));
}
int CreateExclusive(const Place& place, const std::string& name) {
  return _wopen(Wide(place.prefix + name).c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY,
                _S_IREAD | _S_IWRITE);
}

#else

struct Place {
  int fd;  // the folder, open
};

size_t NameMax(const Place& place) {
  const long max = fpathconf(place.fd, _PC_NAME_MAX);
  return max > 8 ? size_t(max) : 255;
}
int RegisterIn(const Place& place, const std::string& name) { return RegisterTemporary(place.fd, name); }
int CreateExclusive(const Place& place, const std::string& name) {
  return openat(place.fd, name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
}

#endif

// Makes something under a new temporary name from `base` in the folder: `make(name)` is true when
// it made it, else false with errno set. The name is registered for removal before it is made, so
// that a signal never finds it made but unknown; `*slot` keeps the registration. False with errno
// set when nothing could be made.
template <class Make>
bool MakeUnderTemporaryName(const Place& place, const std::string& base, std::string* name, int* slot,
                            const Make& make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = TemporaryName(base, NameMax(place));
    *slot = RegisterIn(place, candidate);
    if (make(candidate)) {
      *name = candidate;
      return true;
    }
    const int error = errno;
    ForgetTemporary(*slot);
    errno = error;
    if (error != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

// A new empty file under a temporary name, open for reading and writing; -1 with errno set.
int CreateNamedTemporary(const Place& place, const std::string& base, std::string* name, int* slot) {
  int fd = -1;
  MakeUnderTemporaryName(place, base, name, slot, [&](const std::string& candidate) {
    fd = CreateExclusive(place, candidate);
    return fd >= 0;
  });
  return fd;
}

#if !defined(_WIN32)

std::string ProcPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// A new file without a name in the folder, open for reading and writing, with the permissions a
// plain create would give it; -1 with errno set where the folder cannot take one. A file that
// could not be given a name later (no /proc) is not made.
int CreateUnnamed(const Place& place) {
  const int fd = openat(place.fd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  if (access(ProcPath(fd).c_str(), F_OK) != 0) {
    close(fd);
    errno = EOPNOTSUPP;
    return -1;
  }
  return fd;
}

// Where O_TMPFILE is not known: the kernel's, or the file system's.
bool TakesNoUnnamedFiles(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

// An unnamed file in the folder, for a result that is copied somewhere at the end: made without a
// name where the file system allows, else made under a temporary name and unlinked at once.
int CreateScratch(const Place& place) {
  int fd = CreateUnnamed(place);
  if (fd >= 0 || !TakesNoUnnamedFiles(errno)) return fd;
  std::string name;
  int slot = -1;
  fd = CreateNamedTemporary(place, "aufhost", &name, &slot);
  if (fd >= 0) unlinkat(place.fd, name.c_str(), 0);
  ForgetTemporary(slot);
  return fd;
}

std::string FolderPath(int folder) {
  char path[4096];
  const ssize_t n = readlink(ProcPath(folder).c_str(), path, sizeof path);
  return n > 0 && size_t(n) < sizeof path ? std::string(path, size_t(n)) : "";
}

bool IsMountPointByTable(const std::string& path) {
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

// Whether `base` in the folder is the root of a mount (a file bound over another); where the kernel
// cannot say, from the table of mounts.
bool IsMountPoint(int folder, const std::string& base) {
  struct statx st;
  if (statx(folder, base.c_str(), AT_NO_AUTOMOUNT, STATX_BASIC_STATS, &st) == 0 &&
      (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
    return (st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  const std::string path = FolderPath(folder);
  return !path.empty() && IsMountPointByTable(path == "/" ? "/" + base : path + "/" + base);
}

// The file attributes of `base` in the folder ("." for the folder): append-only, immutable.
uint64_t AttributesOf(int folder, const std::string& base) {
  struct statx st;
  if (statx(folder, base.c_str(), AT_NO_AUTOMOUNT, STATX_BASIC_STATS, &st) != 0) return 0;
  return st.stx_attributes & st.stx_attributes_mask;
}

// Why a writable regular file cannot be replaced by renaming a new file over it; empty if it can.
std::string WhyNotReplaceable(int folder, const std::string& base) {
  struct stat file, dir;
  if (fstatat(folder, base.c_str(), &file, 0) != 0 || fstat(folder, &dir) != 0) return "";
  if (file.st_nlink > 1) return "it has " + std::to_string(file.st_nlink) + " hard links";
  if (file.st_dev != dir.st_dev || IsMountPoint(folder, base)) return "it is a mount point";
  if (faccessat(folder, ".", W_OK | X_OK, AT_EACCESS) != 0) return "its folder cannot be written";
  if (AttributesOf(folder, ".") & STATX_ATTR_APPEND) return "its folder is append-only";
  const uid_t me = geteuid();
  if ((dir.st_mode & S_ISVTX) && me != 0 && file.st_uid != me && dir.st_uid != me)
    return "its folder is sticky and neither the folder nor the file is ours";
  return "";
}

#endif

}  // namespace

// ---- Bytes held in memory

namespace {
constexpr size_t kFirstBlock = size_t{1} << 16;
constexpr int64_t kCopyChunk = int64_t{1} << 20;  // what a copy into the output moves at a time
constexpr size_t kLargestBlock = size_t{1} << 24;
}  // namespace

bool HeldBytes::Write(const void* data, size_t n) {
  if (static_cast<int64_t>(n) > limit_ - size_) {
    errno = EFBIG;
    return false;
  }
  // Room first, so that a failure keeps nothing of this write.
  try {
    while (allocated_ - size_ < static_cast<int64_t>(n)) {
      size_t capacity = blocks_.empty() ? kFirstBlock : std::min(kLargestBlock, 2 * blocks_.back().capacity);
      capacity = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(capacity), limit_ - allocated_));
      blocks_.push_back(Block{std::unique_ptr<char[]>(new char[capacity]), capacity});
      allocated_ += static_cast<int64_t>(capacity);
    }
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
  const char* from = static_cast<const char*>(data);
  int64_t start = 0;
  for (Block& b : blocks_) {
    const int64_t end = start + static_cast<int64_t>(b.capacity);
    if (n > 0 && size_ < end) {
      const size_t at = static_cast<size_t>(size_ - start), take = std::min(n, b.capacity - at);
      std::memcpy(b.bytes.get() + at, from, take);
      from += take;
      n -= take;
      size_ += static_cast<int64_t>(take);
    }
    start = end;
  }
  return true;
}

size_t HeldBytes::ReadAt(int64_t at, void* dst, size_t n) const {
  if (at < 0 || at >= size_) return 0;
  n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), size_ - at));
  char* to = static_cast<char*>(dst);
  size_t done = 0;
  int64_t start = 0;
  for (const Block& b : blocks_) {
    const int64_t end = start + static_cast<int64_t>(b.capacity);
    if (done < n && at + static_cast<int64_t>(done) < end) {
      const size_t from = static_cast<size_t>(at + static_cast<int64_t>(done) - start);
      const size_t take = std::min(n - done, b.capacity - from);
      std::memcpy(to + done, b.bytes.get() + from, take);
      done += take;
    }
    start = end;
  }
  return n;
}

// ---- The result of an output written in place, built in a temporary file or in memory

class OutputTarget::InPlaceResult : public io::ByteSink {
 public:
  explicit InPlaceResult(const OutputPlan& plan) : plan_(plan), held_(kMaxHeldBytes) {}

  // `folder`: where the file is, when it is not beside the output; a disk that fills there is not
  // the output's, and the result moves to memory. `size`: what the file holds already.
  void UseFile(UniqueFd file, std::string folder, int64_t size = 0) {
    file_ = std::move(file);
    folder_ = std::move(folder);
    size_ = size;
  }
  int64_t size() const { return size_; }

  bool Write(const void* data, size_t n) override {
#if !defined(_WIN32)
    const char* p = static_cast<const char*>(data);
    while (file_.get() >= 0 && n > 0) {
      const ssize_t put = write(file_.get(), p, std::min(n, size_t{1} << 30));
      if (put > 0) {
        p += put;
        n -= static_cast<size_t>(put);
        size_ += put;
        continue;
      }
      if (put < 0 && errno == EINTR) continue;
      const int error = put == 0 ? EIO : errno;
      if (folder_.empty() || (error != ENOSPC && error != EDQUOT && error != EFBIG)) {
        errno = error;
        return false;
      }
      full_ = "the temporary folder " + folder_ + " is full (" + ErrorText(error) + ")";
      if (!MoveToMemory()) return false;
    }
    data = p;
#endif
    if (n == 0) return true;
    if (!held_.Write(data, n)) {
      if (errno == EFBIG) TooLarge();
      return false;
    }
    size_ += static_cast<int64_t>(n);
    return true;
  }

  // Up to n bytes of the result from `at`: how many; -1 with errno set on a read error.
  ptrdiff_t ReadAt(int64_t at, void* dst, size_t n) const {
#if !defined(_WIN32)
    if (file_.get() >= 0) {
      for (;;) {
        const ssize_t got = pread(file_.get(), dst, n, static_cast<off_t>(at));
        if (got >= 0 || errno != EINTR) return got;
      }
    }
#endif
    return static_cast<ptrdiff_t>(held_.ReadAt(at, dst, n));
  }

#if !defined(_WIN32)
  // The result over the start of `to`, which is cut there; 0 or an errno value. Room is reserved
  // first, so that a full disk or the file-size limit is met before anything of the file is written.
  int CopyInto(int to) const {
    struct stat st;
    if (fstat(to, &st) != 0) return errno;
    if (size_ > st.st_size) {
      const int reserved = posix_fallocate(to, 0, static_cast<off_t>(size_));
      if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL && reserved != ENODEV) {
        [[maybe_unused]] const int ignored = ftruncate(to, st.st_size);
        return reserved;
      }
    }
    std::vector<char> buffer(static_cast<size_t>(std::min<int64_t>(size_, kCopyChunk)));
    for (int64_t done = 0; done < size_;) {
      const ptrdiff_t got = ReadAt(done, buffer.data(), buffer.size());
      if (got <= 0) return got < 0 ? errno : EIO;
      for (size_t written = 0; written < size_t(got);) {
        const ssize_t put = pwrite(to, buffer.data() + written, size_t(got) - written,
                                   static_cast<off_t>(done + static_cast<int64_t>(written)));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return put < 0 ? errno : EIO;
        written += static_cast<size_t>(put);
      }
      done += got;
    }
    return ftruncate(to, static_cast<off_t>(size_)) != 0 ? errno : 0;
  }
#endif

  // The message of a result that memory cannot hold, where it is built because nowhere else would
  // take it.
  [[noreturn]] void TooLarge(int64_t expected = -1) const {
    throw io::IoError(plan_.name + ": cannot be written: it can only be written in place (" + plan_.reason +
                      "), " + (full_.empty() ? "no temporary file can be made" : full_) + ", and the result" +
                      (expected >= 0 ? " (about " + std::to_string(expected >> 20) + " MiB)" : "") +
                      " is more than the " + std::to_string(held_.limit() >> 20) + " MiB held in memory");
  }

 private:
#if !defined(_WIN32)
  // What the temporary file holds, into memory; the file is closed.
  bool MoveToMemory() {
    if (size_ > held_.limit()) TooLarge();
    std::vector<char> buffer(size_t{1} << 16);
    for (int64_t at = 0; at < size_;) {
      const ssize_t got = pread(file_.get(), buffer.data(), buffer.size(), static_cast<off_t>(at));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        if (got == 0) errno = EIO;
        return false;
      }
      if (!held_.Write(buffer.data(), size_t(got))) return false;
      at += got;
    }
    file_.Reset();
    return true;
  }
#endif

  const OutputPlan& plan_;
  UniqueFd file_;
  std::string folder_;
  std::string full_;  // why the temporary folder could not take the rest
  HeldBytes held_;
  int64_t size_ = 0;
};

// ---- The plan

OutputPlan PlanOutput(const std::string& name) {
  OutputPlan plan;
  plan.name = name == "-" ? "stdout" : name;
  Target target;
  if (name == "-") {
    target.kind = FileKind::kStream;
    target.direct = true;
    target.descriptor = 1;
  } else {
    target = ResolveTarget(name);
  }
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
  plan.id = target.id;
  plan.base = target.base;
  plan.through_proc = target.through_proc;
  plan.folder = std::move(target.folder);
  if (plan.folder.get() >= 0) plan.folder_id = IdOfDescriptor(plan.folder.get());
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
  const int folder = plan.folder.get();
  if (faccessat(folder, plan.base.c_str(), W_OK, AT_EACCESS) != 0) Fail(name, "cannot write", errno);
  // Nothing but additions at its end: it can be neither replaced nor written over.
  if (AttributesOf(folder, plan.base) & STATX_ATTR_APPEND)
    throw io::IoError(name + ": cannot write (it is append-only)");
  plan.reason = plan.through_proc ? "it is named through /proc" : WhyNotReplaceable(folder, plan.base);
#endif
  plan.branch = plan.reason.empty() ? OutputBranch::kReplace : OutputBranch::kInPlace;
  return plan;
}

bool SameOutput(const OutputPlan& a, const OutputPlan& b) {
  if (!a.id.exists && !b.id.exists) {
    if (a.branch != OutputBranch::kCreate || b.branch != OutputBranch::kCreate) return false;
#if defined(_WIN32)
    return a.path == b.path;
#else
    return a.base == b.base && a.folder_id.device == b.folder_id.device &&
           a.folder_id.inode == b.folder_id.inode;
#endif
  }
  return SameRegularFile(a.id, b.id);
}

// ---- Carrying it out

OutputTarget::OutputTarget(OutputPlan plan, int64_t expected_bytes) : plan_(std::move(plan)) {
  switch (plan_.branch) {
    case OutputBranch::kDescriptor: sink_ = std::make_unique<DescriptorSink>(plan_.descriptor); return;
    case OutputBranch::kThrough: OpenThrough(); return;
    case OutputBranch::kCreate:
    case OutputBranch::kReplace: OpenTemporary(); break;
    case OutputBranch::kInPlace: break;
  }
  // A folder that turned out not to take new files moves a replacement in place.
  if (plan_.branch == OutputBranch::kInPlace) OpenInPlace(expected_bytes);
}

void OutputTarget::OpenThrough() {
  errno = 0;
#if defined(_WIN32)
  file_ = UniqueFd(_wopen(Wide(plan_.path).c_str(), _O_WRONLY | _O_BINARY));
#else
  file_ = UniqueFd(openat(plan_.folder.get(), plan_.base.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
#endif
  if (file_.get() < 0) Fail(plan_.name, "cannot open for writing", errno != 0 ? errno : EIO);
  sink_ = std::make_unique<DescriptorSink>(file_.get());
}

void OutputTarget::OpenTemporary() {
#if defined(_WIN32)
  const Place place{FolderPrefix(plan_.path)};
  std::string name;
  const int fd = CreateNamedTemporary(place, plan_.path.substr(place.prefix.size()), &name, &slot_);
  if (fd < 0) Fail(plan_.name, "cannot create", errno);
  temp_ = place.prefix + name;
  file_ = UniqueFd(fd);
#else
  const Place place{plan_.folder.get()};
  struct stat old;
  const bool replacing =
      plan_.branch == OutputBranch::kReplace && fstatat(place.fd, plan_.base.c_str(), &old, 0) == 0;
  int fd = CreateUnnamed(place);
  unnamed_ = fd >= 0;
  if (fd < 0 && TakesNoUnnamedFiles(errno)) fd = CreateNamedTemporary(place, plan_.base, &temp_, &slot_);
  if (fd < 0) {
    // A folder that turns out not to take new files, while the file itself can be written.
    if (plan_.branch == OutputBranch::kReplace && (errno == EACCES || errno == EPERM || errno == EROFS)) {
      plan_.branch = OutputBranch::kInPlace;
      plan_.reason = "its folder cannot be written";
      return;
    }
    Fail(plan_.name, "cannot create", errno);
  }
  file_ = UniqueFd(fd);
  if (replacing) {
    // The owner first, where that may be set (otherwise the file is whoever ran aufhost's): changing
    // it clears the setuid and setgid bits, which the mode then sets again.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Not ours to give away: the new file stays whoever ran aufhost's.
    }
    fchmod(fd, old.st_mode & 07777);
  } else if (!unnamed_) {
    // A named temporary file is private; give it the permissions a plain create would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
#endif
  sink_ = std::make_unique<DescriptorSink>(file_.get());
}

void OutputTarget::OpenInPlace([[maybe_unused]] int64_t expected_bytes) {
#if !defined(_WIN32)
  out_ = UniqueFd(openat(plan_.folder.get(), plan_.base.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
  if (out_.get() < 0) Fail(plan_.name, "cannot write", errno);
  auto result = std::make_unique<InPlaceResult>(plan_);
  // An unnamed temporary file: beside the output, else in the temporary folder.
  const char* tmpdir = std::getenv("TMPDIR");
  bool placed = false;
  if (!plan_.through_proc) {
    const int fd = CreateScratch({plan_.folder.get()});
    if (fd >= 0) {
      result->UseFile(UniqueFd(fd), "");
      placed = true;
    }
  }
  for (const std::string& folder : {std::string(tmpdir != nullptr ? tmpdir : ""), std::string("/tmp")}) {
    if (placed || folder.empty()) continue;
    const UniqueFd open_folder(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const int fd = open_folder.get() >= 0 ? CreateScratch({open_folder.get()}) : -1;
    if (fd < 0) continue;
    result->UseFile(UniqueFd(fd), folder);
    placed = true;
  }
  if (!placed && expected_bytes > kMaxHeldBytes) result->TooLarge(expected_bytes);
  result_ = result.get();
  sink_ = std::move(result);
#endif
}

OutputTarget::~OutputTarget() {
  file_.Reset();
  out_.Reset();
  if (!committed_) RemoveTemporary();
  ForgetTemporary(slot_);
}

void OutputTarget::RemoveTemporary() {
  if (temp_.empty()) return;
#if defined(_WIN32)
  _wunlink(Wide(temp_).c_str());
#else
  unlinkat(plan_.folder.get(), temp_.c_str(), 0);
#endif
  temp_.clear();
  ForgetTemporary(slot_);
}

void OutputTarget::Commit() {
  switch (plan_.branch) {
    case OutputBranch::kDescriptor: return;
    case OutputBranch::kThrough:
      if (CloseFd(file_.Release()) != 0) Fail(plan_.name, "write failed", errno);
      committed_ = true;
      return;
    case OutputBranch::kInPlace: CommitInPlace(*result_); return;
    default: break;
  }
#if defined(_WIN32)
  if (CloseFd(file_.Release()) != 0) Fail(plan_.name, "write failed", errno);
  // rename() on Windows refuses an existing target.
  if (!MoveFileExW(Wide(temp_).c_str(), Wide(plan_.path).c_str(), MOVEFILE_REPLACE_EXISTING))
    throw io::IoError(plan_.name + ": cannot replace (" + WindowsErrorText(GetLastError()) + ")");
  temp_.clear();
#else
  const int folder = plan_.folder.get();
  if (unnamed_) {
    // A new file appears whole under its name; a name taken meanwhile is replaced, as a rename would.
    const std::string self = ProcPath(file_.get());
    if (plan_.branch == OutputBranch::kCreate) {
      if (linkat(AT_FDCWD, self.c_str(), folder, plan_.base.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        committed_ = true;
        if (close(file_.Release()) != 0) Fail(plan_.name, "write failed", errno);
        return;
      }
      if (errno != EEXIST) Fail(plan_.name, "cannot create", errno);
    }
    // Replacing: a name for it beside the output, then renamed over it.
    if (!MakeUnderTemporaryName({folder}, plan_.base, &temp_, &slot_, [&](const std::string& candidate) {
          return linkat(AT_FDCWD, self.c_str(), folder, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0;
        }))
      Fail(plan_.name, "cannot create", errno);
  }
  if (close(file_.Release()) != 0) Fail(plan_.name, "write failed", errno);
  if (renameat(folder, temp_.c_str(), folder, plan_.base.c_str()) != 0) {
    const int error = errno;
    // Not replaceable after all (a rule the plan could not see): the finished result copied in.
    if (plan_.branch != OutputBranch::kReplace ||
        (error != EPERM && error != EACCES && error != EBUSY && error != EXDEV))
      Fail(plan_.name, "cannot replace", error);
    InPlaceResult result(plan_);
    UniqueFd built(openat(folder, temp_.c_str(), O_RDONLY | O_CLOEXEC));
    out_ = UniqueFd(openat(folder, plan_.base.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    struct stat st;
    if (built.get() < 0 || out_.get() < 0 || fstat(built.get(), &st) != 0)
      Fail(plan_.name, "cannot replace", error);
    result.UseFile(std::move(built), "", st.st_size);
    CommitInPlace(result);
    RemoveTemporary();
    return;
  }
  temp_.clear();
#endif
  ForgetTemporary(slot_);
  committed_ = true;
}

void OutputTarget::CommitInPlace([[maybe_unused]] const InPlaceResult& result) {
#if !defined(_WIN32)
  const int out = out_.get();
  // Another run committing into the same file waits here: each result goes in whole, and the last
  // to come wins, as with a rename.
  while (flock(out, LOCK_EX) != 0)
    if (errno != EINTR) {
      if (errno == ENOLCK || errno == EOPNOTSUPP) break;  // a file system without locks
      Fail(plan_.name, "cannot lock", errno);
    }
  {
    HoldSignals hold;
    if (const int error = result.CopyInto(out); error != 0) Fail(plan_.name, "write failed", error);
  }
  if (close(out_.Release()) != 0) Fail(plan_.name, "write failed", errno);
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
