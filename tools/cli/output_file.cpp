#include "tools/cli/output_file.h"

#include <cerrno>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

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
  for (int i = 0; i < kMaxTemporaries; ++i)
    if (g_in_use[i]) unlink(g_temporaries[i]);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

void RemoveTemporariesOnSignals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, RemoveTemporariesAndDie);
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string pattern = dir + "." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) throw io::IoError(path + ": cannot create (" + std::strerror(errno) + ")");
  // mkstemp makes the file private; give it the permissions a plain create would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
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
  if (std::rename(temp_.c_str(), path_.c_str()) != 0)
    throw io::IoError(path_ + ": cannot replace (" + std::strerror(errno) + ")");
  committed_ = true;
  ForgetTemporary(slot_);
}

}  // namespace cli
