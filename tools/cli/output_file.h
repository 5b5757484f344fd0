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
//   kCreate      no file by that name: built in a temporary file beside it, renamed to it at the end
//   kReplace     a regular file: the same, renamed over it; the new file keeps the old one's
//                permission bits, and its owner where that may be set
//   kInPlace     a regular file that can be written but not replaced: its folder cannot be written, or
//                is sticky and neither it nor the file is ours, the file is a mount point, or it has
//                several hard links (which must all see the result). The result is built whole in an
//                unnamed temporary file (beside it, else in the temporary folder, else in memory up
//                to kMaxHeldBytes) and copied into the file at the end, with room reserved first.
// A symbolic link is followed: its target is what is written, the link is kept.
#include <cstdint>
#include <memory>
#include <string>

#include "tools/cli/files.h"

namespace cli {

enum class OutputBranch { kDescriptor, kThrough, kCreate, kReplace, kInPlace };

// The most a result built in memory may take.
constexpr int64_t kMaxHeldBytes = int64_t{1} << 30;

struct OutputPlan {
  std::string name;  // as given, for messages
  std::string path;  // what is written: links followed
  OutputBranch branch = OutputBranch::kCreate;
  int descriptor = -1;  // kDescriptor
  FileId id;            // what is there now
  std::string reason;   // kInPlace: why the file is not replaced
};

// Throws io::IoError naming the output when it cannot be written.
OutputPlan PlanOutput(const std::string& name);
// Whether writing one would overwrite what the other writes: the same file, or the same new name.
bool SameOutput(const OutputPlan& a, const OutputPlan& b);

class OutputTarget {
 public:
  // Opens the output as planned. `expected_bytes` (-1: not known) is roughly what the result takes,
  // for refusing up front what memory cannot hold. Throws io::IoError naming the output.
  OutputTarget(OutputPlan plan, int64_t expected_bytes);
  ~OutputTarget();  // without Commit(): the output as it was, the temporary file gone
  OutputTarget(const OutputTarget&) = delete;
  OutputTarget& operator=(const OutputTarget&) = delete;

  const OutputPlan& plan() const { return plan_; }
  io::ByteSink& sink() { return *sink_; }
  void Commit();  // throws io::IoError

 private:
  void OpenTemporary();
  void OpenInPlace(int64_t expected_bytes);
  void CommitInPlace();

  OutputPlan plan_;
  int fd_ = -1;       // what the sink writes to: the output itself or a temporary file; -1 for memory
  int out_fd_ = -1;   // kInPlace: the output, held open for the copy at the end
  std::string temp_;  // kCreate, kReplace: the temporary file's name
  int slot_ = -1;
  std::unique_ptr<io::ByteSink> sink_;
  bool committed_ = false;
};

// Termination signals remove the temporary files before aufhost dies, and wait while an output is
// being copied into; a signal that was ignored when aufhost started stays ignored. A closed pipe,
// a full disk and the file-size limit become write errors with their reason.
void HandleTerminationSignals();

}  // namespace cli
