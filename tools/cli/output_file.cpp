#include "tools/cli/output_file.h"

#include <cerrno>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tools/io/frame_io.h"

namespace cli {
namespace {

// Temporaries a signal handler may remove: fixed buffers, since it can only call unlink().
constexpr int kMaxTemporaries = 4;
constexpr size_t kMaxPath = 4096;
char g_temporaries[kMaxTemporaries][kMaxPath];
volatile std::sig_atomic_t g_in_use[kMaxTemporaries];

int RegisterTemporary(const std::string& path) {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kMaxTemporaries; ++i) {
    if (g_in_use[i]) continue;
    path.copy(g_temporaries[i], path.size());
    g_temporaries[i][path.size()] = '\0';
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
  for (int i = 0; i < kMaxTemporaries; ++i) {
    if (!g_in_use[i]) continue;
#if defined(_WIN32)
    _unlink(g_temporaries[i]);
#else
    unlink(g_temporaries[i]);
#endif
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Creates a new, empty file from `name`, a pattern ending in XXXXXX, which then holds the real name.
bool CreateUniqueFile(std::vector<char>& name) {
#if defined(_WIN32)
  // No mkstemp here: try names until one can be created exclusively.
  const size_t x = std::strlen(name.data()) - 6;
  unsigned seed = static_cast<unsigned>(_getpid()) * 2654435761u ^ static_cast<unsigned>(GetTickCount());
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 1664525u + 1013904223u;
    std::snprintf(name.data() + x, 7, "%06x", (seed >> 8) & 0xffffff);
    const int fd = _open(name.data(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      _close(fd);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
#else
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  // mkstemp makes the file private; give it the permissions a plain create would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  return true;
#endif
}

// Replaces `to` with `from`; on failure says why.
bool MoveOver(const std::string& from, const std::string& to, std::string* why) {
#if defined(_WIN32)
  // rename() on Windows refuses an existing target.
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  *why = "error " + std::to_string(GetLastError());
  return false;
#else
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *why = std::strerror(errno);
  return false;
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
#if defined(_WIN32)
  const size_t slash = path.find_last_of("/\\:");
#else
  const size_t slash = path.rfind('/');
#endif
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string pattern = dir + "." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!CreateUniqueFile(name)) throw io::IoError(path + ": cannot create (" + std::strerror(errno) + ")");
  temp_ = name.data();
  slot_ = RegisterTemporary(temp_);
  stream_.open(temp_, std::ios::binary | std::ios::trunc);
  if (!stream_) {
    std::remove(temp_.c_str());
    ForgetTemporary(slot_);
    throw io::IoError(path + ": cannot write");
  }
}

OutputFile::~OutputFile() {
  if (committed_) return;
  stream_.close();
  std::remove(temp_.c_str());
  ForgetTemporary(slot_);
}

void OutputFile::Commit() {
  stream_.close();
  if (stream_.fail()) throw io::IoError(path_ + ": write failed");
  std::string why;
  if (!MoveOver(temp_, path_, &why)) throw io::IoError(path_ + ": cannot replace (" + why + ")");
  committed_ = true;
  ForgetTemporary(slot_);
}

}  // namespace cli
