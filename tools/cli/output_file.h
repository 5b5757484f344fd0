#pragma once
// What happens to an output, decided in one place. PlanOutput() works out, before the first frame,
// what the name is and how it will be written, and refuses what cannot work; OutputTarget carries
// the plan out: it opens what the plan says, hands the writer its sink, and at the end commits the
// result, or, when the run fails or is interrupted, leaves the output as it was and nothing behind.
//
// The branches of the decision:
//   kDescriptor  "-", /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N: the descriptor the caller
//                handed over, written as it is: never reopened, never truncated (so `>>` appends)
//   kThrough     a device, FIFO, terminal or socket: opened and written straight through
//   kCreate      no file by that name: built in an unnamed file in its folder, linked in at the end
//   kReplace     a regular file: the same, then renamed over it; the new file keeps the old one's
//                owner where that may be set, then its permission bits (setuid and setgid included)
//   kInPlace     a regular file that can be written but not replaced: its folder cannot be written, is
//                append-only, or is sticky and neither it nor the file is ours, the file is a mount
//                point, has several hard links (which must all see the result), or is named through
//                /proc (another process's descriptor). The result is built whole in an unnamed
//                temporary file (beside it, else in the temporary folder, else in memory up to
//                kMaxHeldBytes, where it also goes when the temporary folder fills) and copied into
//                the file at the end, room reserved first, under an exclusive lock on the file.
// A symbolic link is followed: its target is what is written, the link is kept. An append-only or
// immutable file is refused up front. Where a file system takes no unnamed files (and on Windows),
// the result is built under a temporary name beside the output, registered for removal before it is
// created.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/cli/files.h"

namespace cli {

enum class OutputBranch { kDescriptor, kThrough, kCreate, kReplace, kInPlace };

// The most a result built in memory may take.
constexpr int64_t kMaxHeldBytes = int64_t{1} << 30;

struct OutputPlan {
  std::string name;  // as given, for messages
  std::string path;  // Windows: what is written, links followed
  UniqueFd folder;   // elsewhere: the folder that holds what is written, open, and its name there
  std::string base;
  FileId folder_id;
  OutputBranch branch = OutputBranch::kCreate;
  int descriptor = -1;  // kDescriptor
  FileId id;            // what is there now
  bool through_proc = false;
  std::string reason;  // kInPlace: why the file is not replaced
};

// Throws io::IoError naming the output when it cannot be written.
OutputPlan PlanOutput(const std::string& name);
// Whether writing one would overwrite what the other writes: the same file, or the same new name.
bool SameOutput(const OutputPlan& a, const OutputPlan& b);

// Bytes held in memory, in blocks, never more than `limit` of them allocated. A write that would go
// beyond the limit fails with errno EFBIG and keeps nothing of itself; one that finds no memory,
// with ENOMEM.
class HeldBytes : public io::ByteSink {
 public:
  explicit HeldBytes(int64_t limit) : limit_(limit) {}
  bool Write(const void* data, size_t n) override;
  int64_t size() const { return size_; }
  int64_t limit() const { return limit_; }
  int64_t allocated() const { return allocated_; }
  // Up to n bytes from offset `at`: how many there were.
  size_t ReadAt(int64_t at, void* dst, size_t n) const;

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;
  };
  int64_t limit_;
  int64_t size_ = 0;
  int64_t allocated_ = 0;
  std::vector<Block> blocks_;  // each twice the one before, up to a largest size; full but the last
};

class OutputTarget {
 public:
  // Opens the output as planned. `expected_bytes` (-1: not known) is what the result will take at
  // most, for refusing up front what memory cannot hold. Throws io::IoError naming the output.
  OutputTarget(OutputPlan plan, int64_t expected_bytes);
  ~OutputTarget();  // without Commit(): the output as it was, the temporary file gone
  OutputTarget(const OutputTarget&) = delete;
  OutputTarget& operator=(const OutputTarget&) = delete;

  const OutputPlan& plan() const { return plan_; }
  io::ByteSink& sink() { return *sink_; }
  void Commit();  // throws io::IoError

  class InPlaceResult;

 private:
  void OpenThrough();
  void OpenTemporary();
  void OpenInPlace(int64_t expected_bytes);
  void CommitInPlace(const InPlaceResult& result);
  void RemoveTemporary();

  OutputPlan plan_;
  UniqueFd file_;         // what the sink writes to: the output itself or the temporary file
  UniqueFd out_;          // kInPlace: the output, held open for the copy at the end
  bool unnamed_ = false;  // the temporary file has no name yet
  std::string temp_;      // a named temporary file (its name in the folder; Windows: its path)
  int slot_ = -1;
  std::unique_ptr<io::ByteSink> sink_;
  InPlaceResult* result_ = nullptr;  // kInPlace: the sink, as what it is
  bool committed_ = false;
};

// Termination signals remove the temporary files before aufhost dies, and wait while an output is
// being copied into; a signal that was ignored when aufhost started stays ignored. A closed pipe,
// a full disk and the file-size limit become write errors with their reason.
void HandleTerminationSignals();

}  // namespace cli
