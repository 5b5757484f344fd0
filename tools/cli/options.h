#pragma once
// aufhost's command line.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/io/frame_io.h"

namespace cli {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One -t NAME=V. The value is checked against the track bar's own range once the plug-in is open;
// beyond the 64-bit range it is saturated, and `text` keeps what was given for the message.
struct TrackSetting {
  std::string name;
  int64_t value = 0;
  std::string text;
  bool operator==(const TrackSetting&) const = default;
};

struct Options {
  std::string plugin;
  std::string input;
  std::string output;
  std::vector<TrackSetting> tracks;  // in the order given
  int threads = 0;                   // 0: one per core
  int host_threads = 0;  // built-in filters: the editor's result for this many threads (0: one partition)
  bool serial = false;
  bool list = false;
  bool help = false;
  bool version = false;
  bool quiet = false;
  bool progress = false;  // even when stderr is not a terminal
  int width = 0;          // --size, for raw input
  int height = 0;
  std::optional<io::Format> input_format;
  std::optional<io::Format> output_format;
  std::string compare;
  std::string cpu = "auto";
  int jpeg_quality = 95;
  std::optional<io::Chroma> jpeg_sampling;  // empty: the input's
};

// Parses the arguments after the program name; throws UsageError naming the offending argument.
Options ParseOptions(const std::vector<std::string>& args);
std::string UsageText();

}  // namespace cli
