#include "tools/cli/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "tools/io/frame_io.h"

namespace cli {

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
  stream_.open(temp_, std::ios::binary | std::ios::trunc);
  if (!stream_) {
    std::remove(temp_.c_str());
    throw io::IoError(path + ": cannot write");
  }
}

OutputFile::~OutputFile() {
  if (committed_) return;
  stream_.close();
  std::remove(temp_.c_str());
}

void OutputFile::Commit() {
  stream_.close();
  if (stream_.fail()) throw io::IoError(path_ + ": write failed");
  if (std::rename(temp_.c_str(), path_.c_str()) != 0)
    throw io::IoError(path_ + ": cannot replace (" + std::strerror(errno) + ")");
  committed_ = true;
}

}  // namespace cli
