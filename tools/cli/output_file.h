#pragma once
// An output file that appears whole or not at all: written to a temporary file in the same folder
// and renamed over the target on Commit(); removed if never committed.
#include <fstream>
#include <string>

namespace cli {

class OutputFile {
 public:
  explicit OutputFile(const std::string& path);  // throws io::IoError
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& stream() { return stream_; }
  void Commit();  // throws io::IoError

 private:
  std::string path_;
  std::string temp_;
  std::ofstream stream_;
  bool committed_ = false;
  int slot_ = -1;
};

// Interrupted or terminated, aufhost removes its temporary files before it dies.
void RemoveTemporariesOnSignals();

}  // namespace cli
