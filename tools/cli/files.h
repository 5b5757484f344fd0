#pragma once
// What aufhost asks of the file system beyond the standard streams. Names are UTF-8 on every
// platform; on Windows they are handed to the wide-character file functions.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/io/bytes.h"

namespace cli {

enum class FileKind {
  kMissing,  // nothing by that name yet
  kRegular,
  kDirectory,
  kStream,  // a device, FIFO, socket and the like
};

// An open descriptor, closed with the object; -1: none.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  int get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset();

 private:
  int fd_ = -1;
};

// What a file (or the name of one still to be made) is, for telling whether two of them are one.
struct FileId {
  bool exists = false;
  bool regular = false;
  uint64_t device = 0;
  uint64_t inode = 0;
};

// Where writing a name lands.
struct Target {
  std::string path;  // Windows: the file itself, links followed, as a full path
  // Elsewhere the file is reached through the folder that holds it, open, and its name there, so that
  // no absolute path is needed (a folder's may be longer than the system takes): links followed.
  UniqueFd folder;
  std::string base;
  FileKind kind = FileKind::kMissing;
  FileId id;  // of the file, where there is one
  // Written straight through rather than replaced: a device, a FIFO, a socket, a terminal, a
  // descriptor such as /dev/stdout, or a Windows device name such as NUL.
  bool direct = false;
  // /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N: the descriptor N of this process, which the
  // name stands for; -1 for every other name.
  int descriptor = -1;
  // Reached through /proc (a descriptor of another process, /proc/PID/fd/N): a regular file there is
  // written in place, as nothing can be renamed over it there.
  bool through_proc = false;
  std::string error;  // why the name leads nowhere (a folder is missing, ...); then the rest is unset
};

Target ResolveTarget(const std::string& path);

FileId IdOfPath(const std::string& path);  // links followed; /dev/fd/N is what descriptor N refers to
FileId IdOfDescriptor(int fd);
// Whether writing one would overwrite the other: the same existing regular file. Devices, FIFOs and
// pipes never are: nothing of them is overwritten.
bool SameRegularFile(const FileId& a, const FileId& b);

// Makes sure descriptors 0, 1 and 2 are open (on the null device where they were not), so that no
// file or pipe aufhost opens later takes one of their numbers; remembers which were closed.
void OpenStandardDescriptors();
bool StandardDescriptorWasClosed(int fd);

// An open file descriptor read in large pieces, straight into the caller's memory. Where a read
// can wait for input indefinitely (pipes, terminals), Cancel() ends the wait (not on Windows, where
// such a read returns when input arrives or ends). A failed read leaves errno telling why.
class DescriptorSource : public io::ByteSource {
 public:
  // `owned`: closed with the source.
  DescriptorSource(int fd, bool owned);
  ~DescriptorSource() override;
  DescriptorSource(const DescriptorSource&) = delete;
  DescriptorSource& operator=(const DescriptorSource&) = delete;

  ptrdiff_t ReadSome(void* dst, size_t n) override;
  int64_t Remaining() override;
  void Cancel() override;

 private:
  int fd_;
  bool owned_;
  bool regular_ = false;    // a regular file: reads never wait
  int wake_[2] = {-1, -1};  // written to by Cancel() to end a wait in poll()
  std::atomic<bool> cancelled_{false};
};

// An open file descriptor written in large pieces; a failed write leaves errno telling why.
class DescriptorSink : public io::ByteSink {
 public:
  explicit DescriptorSink(int fd) : fd_(fd) {}
  bool Write(const void* data, size_t n) override;

 private:
  int fd_;
};

// Opens a file for reading ("-": standard input); the IoError names the file and the reason.
std::unique_ptr<DescriptorSource> OpenInput(const std::string& path);

// The text of a C library error number, as "No such file or directory".
std::string ErrorText(int error);

#if defined(_WIN32)
std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* wide);
std::string WindowsErrorText(unsigned long error);  // a GetLastError() value, as the system words it
#endif

}  // namespace cli
