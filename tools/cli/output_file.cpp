#include "tools/cli/output_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
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
// Opens for writing, emptied (created if missing); -1 with errno set on failure.
int OpenForWriting(const std::string& path) {
  return _wopen(Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int CloseFile(int fd) { return _close(fd); }
#else
using NativeChar = char;
const std::string& Native(const std::string& path) { return path; }
int RemoveFile(const char* path) { return unlink(path); }
int OpenForWriting(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}
int CloseFile(int fd) { return close(fd); }
#endif
using NativeString = std::basic_string<NativeChar>;

// Temporaries a signal handler may remove: fixed buffers, since it can only call unlink().
constexpr int kMaxTemporaries = 4;
constexpr size_t kMaxPath = 4096;
NativeChar g_temporaries[kMaxTemporaries][kMaxPath];
volatile std::sig_atomic_t g_in_use[kMaxTemporaries];

int RegisterTemporary(const NativeString& path) {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kMaxTemporaries; ++i) {
    if (g_in_use[i]) continue;
    path.copy(g_temporaries[i], path.size());
    g_temporaries[i][path.size()] = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);  // the name is whole before a handler can see it
    g_in_use[i] = 1;
    return i;
  }
  return -1;
}

void ForgetTemporary(int slot) {
  if (slot >= 0) g_in_use[slot] = 0;
}

extern "C" void RemoveTemporariesAndDie(int sig) {
  for (int i = 0; i < kMaxTemporaries; ++i)
    if (g_in_use[i]) RemoveFile(g_temporaries[i]);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Creates a new, empty file from `name`, a pattern ending in XXXXXX, which then holds the real name.
// `mode` (POSIX permission bits) is that of the file being replaced, or -1 for a plain create's.
// Returns 0 or an errno value.
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
    const int fd =
        _wopen(Wide(name).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      _close(fd);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
#else
  std::vector<char> pattern(name.begin(), name.end());
  pattern.push_back('\0');
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return errno;
  name = pattern.data();
  if (mode < 0) {
    // mkstemp makes the file private; give it the permissions a plain create would.
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, static_cast<mode_t>(mode));
  close(fd);
  return 0;
#endif
}

// Replaces `to` with `from`; on failure says why.
bool MoveOver(const std::string& from, const std::string& to, std::string* why) {
#if defined(_WIN32)
  // rename() on Windows refuses an existing target.
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  *why = WindowsErrorText(GetLastError());
  return false;
#else
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *why = ErrorText(errno);
  return false;
#endif
}

// Throws unless an existing file may be replaced; returns its permission bits (-1 on Windows).
int CheckReplaceable(const std::string& path, const std::string& target) {
#if defined(_WIN32)
  const DWORD attributes = GetFileAttributesW(Wide(target).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    throw io::IoError(path + ": cannot write (read-only file)");
  return -1;
#else
  struct stat st;
  if (access(target.c_str(), W_OK) != 0 || stat(target.c_str(), &st) != 0)
    throw io::IoError(path + ": cannot write (" + ErrorText(errno) + ")");
  return static_cast<int>(st.st_mode & 07777);
#endif
}

}  // namespace

void RemoveTemporariesOnSignals() {
#if defined(_WIN32)
  for (int sig : {SIGINT, SIGTERM, SIGBREAK}) std::signal(sig, RemoveTemporariesAndDie);
#else
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, RemoveTemporariesAndDie);
#endif
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
  const Target target = ResolveTarget(path);
  if (!target.error.empty()) throw io::IoError(path + ": cannot create (" + target.error + ")");
  if (target.kind == FileKind::kDirectory) throw io::IoError(path + ": is a directory");
  if (target.direct) {
    errno = 0;
    fd_ = OpenForWriting(path);
    if (fd_ < 0)
      throw io::IoError(path + ": cannot open for writing (" + ErrorText(errno != 0 ? errno : EIO) + ")");
    sink_ = std::make_unique<DescriptorSink>(fd_);
    return;
  }
  target_ = target.path;
  const int mode = target.kind == FileKind::kRegular ? CheckReplaceable(path, target_) : -1;
#if defined(_WIN32)
  const size_t slash = target_.find_last_of("/\\:");
#else
  const size_t slash = target_.rfind('/');
#endif
  std::string name = target_.substr(0, slash + 1) + "." + target_.substr(slash + 1) + ".XXXXXX";
  if (const int error = CreateUniqueFile(name, mode); error != 0)
    throw io::IoError(path + ": cannot create (" + ErrorText(error) + ")");
  temp_ = name;
  slot_ = RegisterTemporary(Native(temp_));
  fd_ = OpenForWriting(temp_);
  if (fd_ < 0) {
    RemoveFile(Native(temp_).c_str());
    ForgetTemporary(slot_);
    throw io::IoError(path + ": cannot write");
  }
  sink_ = std::make_unique<DescriptorSink>(fd_);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) CloseFile(fd_);
  if (committed_ || temp_.empty()) return;
  RemoveFile(Native(temp_).c_str());
  ForgetTemporary(slot_);
}

void OutputFile::Commit() {
  const int fd = fd_;
  fd_ = -1;
  if (CloseFile(fd) != 0) throw io::IoError(path_ + ": write failed");
  if (temp_.empty()) return;
  std::string why;
  if (!MoveOver(temp_, target_, &why)) throw io::IoError(path_ + ": cannot replace (" + why + ")");
  committed_ = true;
  ForgetTemporary(slot_);
}

}  // namespace cli
