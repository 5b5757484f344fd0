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

#include "standin/library.h"
#else
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

#include "tools/io/frame_io.h"

namespace cli {

std::string ErrorText(int error) { return std::strerror(error); }

bool SameRegularFile(const FileId& a, const FileId& b) {
  return a.exists && b.exists && a.regular && b.regular && a.device == b.device && a.inode == b.inode;
}

namespace {
// The most one read or write call is asked to move.
constexpr size_t kMaxTransfer = size_t{1} << 30;

bool g_closed_at_start[3] = {false, false, false};

std::unique_ptr<DescriptorSource> StandardInput() {
  if (StandardDescriptorWasClosed(0)) throw io::IoError("stdin: standard input is closed");
  return std::make_unique<DescriptorSource>(0, false);
}
}  // namespace

bool StandardDescriptorWasClosed(int fd) { return fd >= 0 && fd < 3 && g_closed_at_start[fd]; }

void UniqueFd::Reset() {
#if defined(_WIN32)
  if (fd_ >= 0) _close(fd_);
#else
  if (fd_ >= 0) close(fd_);
#endif
  fd_ = -1;
}

#if defined(_WIN32)

void OpenStandardDescriptors() {}

DescriptorSource::DescriptorSource(int fd, bool owned) : fd_(fd), owned_(owned) {
  struct _stat64 st;
  regular_ = _fstat64(fd_, &st) == 0 && (st.st_mode & _S_IFREG);
}

DescriptorSource::~DescriptorSource() {
  if (owned_) _close(fd_);
}

ptrdiff_t DescriptorSource::ReadSome(void* dst, size_t n) {
  if (cancelled_.load()) {
    errno = ECANCELED;
    return -1;
  }
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
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
    p += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

#else

void OpenStandardDescriptors() {
  for (int fd = 0; fd < 3; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    g_closed_at_start[fd] = true;
    // The lowest free number is this one.
    if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) std::abort();
  }
}

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
    if (cancelled_.load()) {
      errno = ECANCELED;
      return -1;
    }
    if (wake_[0] >= 0) {
      pollfd wait[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(wait, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (wait[1].revents != 0) {
        errno = ECANCELED;
        return -1;
      }
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
    if (put <= 0) {
      if (put == 0) errno = EIO;
      return false;
    }
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
    default: return standin::WindowsErrorText(error);
  }
}

namespace {

// CON, NUL, COM1 ... with or without a colon, and \\.\ names: devices in every folder, whatever
// extension follows.
bool IsDeviceName(const std::string& path) {
  if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0) return true;
  std::string name = path;
  if (!name.empty() && name.back() == ':') name.pop_back();
  const size_t slash = name.find_last_of("/\\:");
  std::string base = name.substr(slash == std::string::npos ? 0 : slash + 1);
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

HANDLE OpenForQuery(const std::wstring& path) {
  return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The path an existing file is reached by once every link on the way is followed; empty if unknown.
std::wstring FinalPath(const std::wstring& path) {
  const HANDLE h = OpenForQuery(path);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::wstring final(MAX_PATH, L'\0');
  DWORD n =
      GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
  if (n >= final.size()) {
    final.resize(n + 1);
    n = GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
  }
  CloseHandle(h);
  if (n == 0 || n >= final.size()) return {};
  final.resize(n);
  if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + final.substr(8);
  if (final.rfind(L"\\\\?\\", 0) == 0) return final.substr(4);
  return final;
}

FileId IdOfHandle(HANDLE h) {
  FileId id;
  BY_HANDLE_FILE_INFORMATION info;
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) return id;
  id.exists = true;
  id.regular = GetFileType(h) == FILE_TYPE_DISK && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  id.device = info.dwVolumeSerialNumber;
  id.inode = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  return id;
}

}  // namespace

Target ResolveTarget(const std::string& path) {
  Target t;
  if (IsDeviceName(path)) {
    t.path = path;
    if (!t.path.empty() && t.path.back() == ':') t.path.pop_back();  // "NUL:" is NUL
    t.kind = FileKind::kStream;
    t.direct = true;
    return t;
  }
  std::wstring full = FullPath(Wide(path));
  DWORD attributes = GetFileAttributesW(full.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // Through a symbolic link (which Wine does not mark as one): what is written is its target,
    // replaced in its own folder; the link stays.
    const std::wstring final = FinalPath(full);
    if (!final.empty()) full = final;
  }
  t.path = Utf8(full.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) t.error = WindowsErrorText(error);
    return t;
  }
  t.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::kDirectory : FileKind::kRegular;
  t.id = IdOfPath(t.path);
  return t;
}

FileId IdOfPath(const std::string& path) {
  if (IsDeviceName(path)) return {};
  const HANDLE h = OpenForQuery(Wide(path));
  const FileId id = IdOfHandle(h);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return id;
}

FileId IdOfDescriptor(int fd) { return IdOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd))); }

std::unique_ptr<DescriptorSource> OpenInput(const std::string& path) {
  if (path == "-") return StandardInput();
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

#else

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// Whether `folder` (open) is this process's own folder of descriptors: /proc/PID/fd or
// /proc/PID/task/TID/fd, however it was reached (/dev/fd, /proc/self/fd, /proc/thread-self/fd).
bool IsOwnDescriptorFolder(int folder) {
  char link[64];
  std::string proc_path = "/proc/self/fd/" + std::to_string(folder);
  const ssize_t n = readlink(proc_path.c_str(), link, sizeof link - 1);
  if (n <= 0) return false;
  const std::string path(link, size_t(n));
  const std::string own = "/proc/" + std::to_string(getpid());
  return path == own + "/fd" || (StartsWith(path, own + "/task/") && path.size() > 3 &&
                                 path.compare(path.size() - 3, 3, "/fd") == 0);
}

// The descriptor of this process that `base` in the folder names, else -1.
int OwnDescriptor(int folder, const std::string& base) {
  if (base.empty() || base.size() > 9 || base.find_first_not_of("0123456789") != std::string::npos ||
      !IsOwnDescriptorFolder(folder))
    return -1;
  return std::atoi(base.c_str());
}

FileKind KindOf(const struct stat& st) {
  return S_ISREG(st.st_mode) ? FileKind::kRegular
         : S_ISDIR(st.st_mode) ? FileKind::kDirectory
                               : FileKind::kStream;
}

FileId IdOf(const struct stat& st) {
  FileId id;
  id.exists = true;
  id.regular = S_ISREG(st.st_mode);
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  return id;
}

// Splits a name into its folder and its last part; a name that ends in a folder ("out/", "..") is
// that folder and ".".
std::pair<std::string, std::string> SplitName(const std::string& name) {
  const size_t slash = name.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return {name.empty() ? "." : name, "."};
  return {dir, base};
}

}  // namespace

// Every step works from an open folder, never from an absolute path: a relative name resolves in a
// folder whose absolute path is longer than PATH_MAX, and a link's target from the link's folder.
Target ResolveTarget(const std::string& path) {
  Target t;
  std::string name = path;
  UniqueFd from;  // the folder a relative name starts in; none: the current folder
  for (int hop = 0; hop < 40; ++hop) {
    auto [dir, base] = SplitName(name);
    UniqueFd folder(
        openat(from.get() >= 0 ? from.get() : AT_FDCWD, dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
      t.error = ErrorText(errno);
      return t;
    }
    struct stat st;
    // /dev/stdout, /dev/fd/N and the like lead into /proc, whose entries are followed as they stand.
    struct statfs fs;
    if (fstatfs(folder.get(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC) {
      t.descriptor = OwnDescriptor(folder.get(), base);
      t.kind = fstatat(folder.get(), base.c_str(), &st, 0) != 0 ? FileKind::kMissing : KindOf(st);
      if (t.kind != FileKind::kMissing) t.id = IdOf(st);
      t.through_proc = true;
      t.direct = t.descriptor >= 0 || t.kind != FileKind::kRegular;
      t.folder = std::move(folder);
      t.base = base;
      return t;
    }
    if (fstatat(folder.get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        t.error = ErrorText(errno);
        return t;
      }
      t.folder = std::move(folder);  // missing: it will be created
      t.base = base;
      return t;
    }
    if (S_ISLNK(st.st_mode)) {
      std::string link(4096, '\0');
      const ssize_t n = readlinkat(folder.get(), base.c_str(), link.data(), link.size());
      if (n <= 0 || size_t(n) >= link.size()) {
        t.error = n < 0 ? ErrorText(errno) : n == 0 ? ErrorText(ENOENT) : "link target too long";
        return t;
      }
      link.resize(size_t(n));
      name = link;
      from = std::move(folder);
      continue;
    }
    t.kind = KindOf(st);
    t.id = IdOf(st);
    t.direct = t.kind == FileKind::kStream;
    t.folder = std::move(folder);
    t.base = base;
    return t;
  }
  t.error = ErrorText(ELOOP);
  return t;
}

FileId IdOfPath(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? IdOf(st) : FileId{};
}

FileId IdOfDescriptor(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? IdOf(st) : FileId{};
}

std::unique_ptr<DescriptorSource> OpenInput(const std::string& path) {
  if (path == "-") return StandardInput();
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

#endif

}  // namespace cli
