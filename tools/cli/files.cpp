#include "tools/cli/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tools/io/frame_io.h"

namespace cli {

std::string ErrorText(int error) { return std::strerror(error); }

namespace {
// The most one read or write call is asked to move.
constexpr size_t kMaxTransfer = size_t{1} << 30;
}  // namespace

#if defined(_WIN32)

DescriptorSource::DescriptorSource(int fd, bool owned) : fd_(fd), owned_(owned) {
  struct _stat64 st;
  regular_ = _fstat64(fd_, &st) == 0 && (st.st_mode & _S_IFREG);
}

DescriptorSource::~DescriptorSource() {
  if (owned_) _close(fd_);
}

ptrdiff_t DescriptorSource::ReadSome(void* dst, size_t n) {
  if (cancelled_.load()) return -1;
  const int got = _read(fd_, dst, static_cast<unsigned>(std::min(n, kMaxTransfer)));
  return got < 0 ? -1 : got;
}

int64_t DescriptorSource::Remaining() {
  struct _stat64 st;
  if (!regular_ || _fstat64(fd_, &st) != 0) return -1;
  const int64_t here = _lseeki64(fd_, 0, SEEK_CUR);
  return here < 0 || here > st.st_size ? -1 : st.st_size - here;
}

void DescriptorSource::Cancel() { cancelled_.store(true); }

bool DescriptorSink::Write(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const int put = _write(fd_, p, static_cast<unsigned>(std::min(n, kMaxTransfer)));
    if (put <= 0) return false;
    p += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

#else

DescriptorSource::DescriptorSource(int fd, bool owned) : fd_(fd), owned_(owned) {
  struct stat st;
  regular_ = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  if (!regular_ && pipe(wake_) != 0) wake_[0] = wake_[1] = -1;  // then a wait cannot be cut short
}

DescriptorSource::~DescriptorSource() {
  if (owned_) close(fd_);
  for (int fd : wake_)
    if (fd >= 0) close(fd);
}

ptrdiff_t DescriptorSource::ReadSome(void* dst, size_t n) {
  for (;;) {
    if (cancelled_.load()) return -1;
    if (wake_[0] >= 0) {
      pollfd wait[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(wait, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (wait[1].revents != 0) return -1;
    }
    const ssize_t got = read(fd_, dst, std::min(n, kMaxTransfer));
    if (got >= 0) return got;
    if (errno != EINTR && errno != EAGAIN) return -1;
  }
}

int64_t DescriptorSource::Remaining() {
  struct stat st;
  if (!regular_ || fstat(fd_, &st) != 0) return -1;
  const off_t here = lseek(fd_, 0, SEEK_CUR);
  return here < 0 || here > st.st_size ? -1 : static_cast<int64_t>(st.st_size - here);
}

void DescriptorSource::Cancel() {
  cancelled_.store(true);
  if (wake_[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(wake_[1], &byte, 1);
  }
}

bool DescriptorSink::Write(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t put = write(fd_, p, std::min(n, kMaxTransfer));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

#endif

#if defined(_WIN32)

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), n, nullptr, nullptr);
  utf8.pop_back();  // the terminating NUL
  return utf8;
}

std::string WindowsErrorText(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ErrorText(ENOENT);
    case ERROR_ACCESS_DENIED: return ErrorText(EACCES);
    case ERROR_SHARING_VIOLATION: return "in use by another program";
    case ERROR_INVALID_NAME: return "not a valid file name";
    default: return "Windows error " + std::to_string(error);
  }
}

namespace {

// CON, NUL, COM1 ... and \\.\ names: devices in every folder, whatever extension follows.
bool IsDeviceName(const std::string& path) {
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0) return true;
  const size_t slash = path.find_last_of("/\\:");
  std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
  base = base.substr(0, base.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$")
    return true;
  return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  full.resize(written);
  return full;
}

}  // namespace

Target ResolveTarget(const std::string& path) {
  Target t;
  if (IsDeviceName(path)) {
    t.path = path;
    t.kind = FileKind::kStream;
    t.direct = true;
    return t;
  }
  const std::wstring full = FullPath(Wide(path));
  t.path = Utf8(full.c_str());
  const DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) t.error = WindowsErrorText(error);
    return t;
  }
  t.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::kDirectory : FileKind::kRegular;
  return t;
}

std::unique_ptr<DescriptorSource> OpenInputFile(const std::string& path) {
  const std::wstring wide = Wide(path);
  struct _stat64 st;
  if (!IsDeviceName(path)) {
    if (_wstat64(wide.c_str(), &st) != 0)
      throw io::IoError(path + ": cannot open for reading (" + ErrorText(errno) + ")");
    if (st.st_mode & _S_IFDIR) throw io::IoError(path + ": is a directory");
  }
  errno = 0;
  const int fd = _wopen(wide.c_str(), _O_RDONLY | _O_BINARY);
  if (fd < 0)
    throw io::IoError(path + ": cannot open for reading (" + ErrorText(errno != 0 ? errno : EIO) + ")");
  return std::make_unique<DescriptorSource>(fd, true);
}

bool SameFile(const std::string& a, const std::string& b) {
  const Target ta = ResolveTarget(a), tb = ResolveTarget(b);
  if (!ta.error.empty() || !tb.error.empty() || ta.direct || tb.direct) return false;
  if (ta.kind == FileKind::kMissing || tb.kind == FileKind::kMissing)
    return ta.kind == tb.kind && _wcsicmp(Wide(ta.path).c_str(), Wide(tb.path).c_str()) == 0;
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* names[2] = {&ta.path, &tb.path};
  for (int i = 0; i < 2; ++i) {
    const HANDLE h =
        CreateFileW(Wide(*names[i]).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(h, &info[i]);
    CloseHandle(h);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

#else

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

Target ResolveTarget(const std::string& path) {
  Target t;
  std::string name = path;
  for (int hop = 0; hop < 40; ++hop) {
    const size_t slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    char* real = realpath(dir.c_str(), nullptr);
    if (real == nullptr) {
      t.error = ErrorText(errno);
      return t;
    }
    const std::string folder = real;
    std::free(real);
    t.path = folder == "/" ? "/" + base : folder + "/" + base;
    struct stat st;
    // /dev/stdout, /dev/fd/N and the like lead into /proc: the descriptor behind them is written to.
    if (folder == "/proc" || StartsWith(folder, "/proc/")) {
      t.direct = true;
      t.kind = stat(t.path.c_str(), &st) != 0 ? FileKind::kMissing
               : S_ISREG(st.st_mode)          ? FileKind::kRegular
               : S_ISDIR(st.st_mode)          ? FileKind::kDirectory
                                              : FileKind::kStream;
      return t;
    }
    if (lstat(t.path.c_str(), &st) != 0) {
      if (errno != ENOENT) t.error = ErrorText(errno);
      return t;  // missing: it will be created
    }
    if (S_ISLNK(st.st_mode)) {
      std::string link(4096, '\0');
      const ssize_t n = readlink(t.path.c_str(), link.data(), link.size());
      if (n < 0 || size_t(n) >= link.size()) {
        t.error = n < 0 ? ErrorText(errno) : "link target too long";
        return t;
      }
      link.resize(size_t(n));
      name = link[0] == '/' ? link : folder + "/" + link;
      continue;
    }
    t.kind = S_ISREG(st.st_mode)   ? FileKind::kRegular
             : S_ISDIR(st.st_mode) ? FileKind::kDirectory
                                   : FileKind::kStream;
    t.direct = t.kind == FileKind::kStream;
    return t;
  }
  t.error = ErrorText(ELOOP);
  return t;
}

std::unique_ptr<DescriptorSource> OpenInputFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    throw io::IoError(path + ": cannot open for reading (" + ErrorText(errno) + ")");
  if (S_ISDIR(st.st_mode)) throw io::IoError(path + ": is a directory");
  errno = 0;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    throw io::IoError(path + ": cannot open for reading (" + ErrorText(errno != 0 ? errno : EIO) + ")");
  return std::make_unique<DescriptorSource>(fd, true);
}

bool SameFile(const std::string& a, const std::string& b) {
  const Target ta = ResolveTarget(a), tb = ResolveTarget(b);
  if (!ta.error.empty() || !tb.error.empty() || ta.direct || tb.direct) return false;
  if (ta.kind == FileKind::kMissing || tb.kind == FileKind::kMissing)
    return ta.kind == tb.kind && ta.path == tb.path;
  struct stat sa, sb;
  if (stat(ta.path.c_str(), &sa) != 0 || stat(tb.path.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

#endif

}  // namespace cli
