#pragma once
// An output file that appears whole or not at all: written to a temporary file beside the target and
// renamed over it on Commit(); removed if never committed. A symbolic link is followed and its target
// replaced, the link kept. Devices, FIFOs and descriptors such as /dev/stdout (NUL and the like on
// Windows) are written straight through instead: there is nothing to replace.
#include <memory>
#include <string>

#include "tools/cli/files.h"

namespace cli {

class OutputFile {
 public:
  // Checks that the file can be written and opens it; throws io::IoError naming the file and the reason.
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  io::ByteSink& sink() { return *sink_; }
  void Commit();  // throws io::IoError

 private:
  std::string path_;    // as given, for messages
  std::string target_;  // what Commit() replaces
  std::string temp_;    // empty when written straight through
  int fd_ = -1;
  std::unique_ptr<DescriptorSink> sink_;
  bool committed_ = false;
  int slot_ = -1;
};

// Interrupted or terminated, aufhost removes its temporary files before it dies.
void RemoveTemporariesOnSignals();

}  // namespace cli
