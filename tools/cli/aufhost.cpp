// aufhost: runs a filter plug-in over video and pictures, through the same host stand-in the tests use.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "auf_version.h"
#include "core/cpu.h"
#include "core/track_values.h"
#include "standin/auf_host.h"
#include "tools/cli/files.h"
#include "tools/cli/options.h"
#include "tools/cli/output_file.h"
#include "tools/cli/pipeline.h"
#include "tools/filters/builtin_filters.h"
#include "tools/io/frame_io.h"

namespace {

using Clock = std::chrono::steady_clock;

#if defined(_WIN32)
bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
bool FileExists(const std::string& path) { return _waccess(cli::Wide(path).c_str(), 0) == 0; }
// The plug-in loader takes names in the system's code page.
std::string LibraryName(const std::string& utf8) {
  const std::wstring wide = cli::Wide(utf8);
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string name(static_cast<size_t>(std::max(n, 1)), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, name.data(), n, nullptr, nullptr);
  name.pop_back();
  return name;
}

// One line on stderr: wide characters to a console, UTF-8 bytes to a file or pipe.
void PrintLine(const std::string& line) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (StderrIsTerminal() && GetConsoleMode(err, &mode)) {
    const std::wstring wide = cli::Wide(line + "\n");
    DWORD written = 0;
    WriteConsoleW(err, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}
#else
bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }
bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
const std::string& LibraryName(const std::string& path) { return path; }
void PrintLine(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }
#endif

// Progress on stderr once the work has taken a second; rewritten in place a few times a second.
class Progress {
 public:
  explicit Progress(bool enabled) : enabled_(enabled), start_(Clock::now()), last_(start_) {}

  void Update(int64_t frames, int64_t total) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double fps = frames / seconds;
    if (total > 0) {
      const double left = fps > 0 ? (total - frames) / fps : 0;
      std::fprintf(stderr, "\rframe %lld/%lld  %.1f fps  %.0f s left   ", static_cast<long long>(frames),
                   static_cast<long long>(total), fps, left);
    } else {
      std::fprintf(stderr, "\rframe %lld  %.1f fps   ", static_cast<long long>(frames), fps);
    }
    shown_ = true;
  }

  void Done(int64_t frames) {
    if (!shown_) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    std::fprintf(stderr, "\r%lld frames in %.1f s (%.1f fps)            \n", static_cast<long long>(frames),
                 seconds, frames / seconds);
  }

 private:
  bool enabled_;
  bool shown_ = false;
  Clock::time_point start_;
  Clock::time_point last_;
};

// The filter of a run, with its track values.
class RunFilter {
 public:
  virtual ~RunFilter() = default;
  const std::string& name() const { return name_; }
  const std::vector<core::Track>& tracks() const { return tracks_; }
  // Throws core::TrackError for a name the filter lacks or a value outside the track's range.
  void SetTrack(const cli::TrackSetting& t) {
    core::SetTrackByName(name_, tracks_.data(), static_cast<int32_t>(tracks_.size()), values_.data(), t.name,
                         t.value, t.text);
  }
  virtual void Process(host::Frame& frame) = 0;

 protected:
  RunFilter(std::string name, std::vector<core::Track> tracks)
      : name_(std::move(name)),
        tracks_(std::move(tracks)),
        values_(core::DefaultTrackValues(tracks_.data(), static_cast<int32_t>(tracks_.size()))) {}
  std::string name_;
  std::vector<core::Track> tracks_;
  std::vector<int32_t> values_;
};

// A built-in filter's core, with the kernels of the chosen tier: the result for `partitions`,
// computed by the pool's threads.
class BuiltinFilter : public RunFilter {
 public:
  BuiltinFilter(const core::FilterCore& core, core::CpuFlags flags, int partitions, core::WorkerPool* pool)
      : RunFilter(core.title, {core.tracks, core.tracks + core.track_count}),
        core_(core),
        flags_(flags),
        partitions_(partitions),
        pool_(pool) {}
  void Process(host::Frame& frame) override {
    core_.filter(flags_, values_.data(), frame.EditPlane(), frame.TempPlane(), partitions_, pool_->workers());
  }

 private:
  const core::FilterCore& core_;
  core::CpuFlags flags_;
  int partitions_;
  core::WorkerPool* pool_;
};

// A plug-in library driven through the editor's records, as the editor drives it: whatever it
// derives from the worker count is its own business.
class LibraryFilter : public RunFilter {
 public:
  LibraryFilter(std::unique_ptr<standin::PluginLibrary> library, core::WorkerPool* pool)
      : RunFilter(library->table()->name, standin::TracksOf(library->table())),
        library_(std::move(library)),
        host_(library_->table(), pool) {}
  void Process(host::Frame& frame) override {
    for (size_t i = 0; i < values_.size(); ++i) host_.SetTrackUnchecked(static_cast<int>(i), values_[i]);
    host_.Process(frame);
  }

 private:
  std::unique_ptr<standin::PluginLibrary> library_;
  standin::FilterHost host_;
};

std::unique_ptr<RunFilter> OpenFilter(const cli::Options& o, core::WorkerPool* pool) {
  if (const core::FilterCore* core = tools::FindBuiltinFilter(o.plugin)) {
    core::CpuFlags flags = 0;
    core::CpuFlagsForTier(o.cpu, &flags);
    return std::make_unique<BuiltinFilter>(*core, flags, o.host_threads > 0 ? o.host_threads : 1, pool);
  }
  if (o.cpu != "auto") throw cli::UsageError("--cpu applies to the built-in filters only");
  if (o.host_threads > 0) throw cli::UsageError("--host-threads applies to the built-in filters only");
    // dlopen and LoadLibrary search their own paths for a bare name; a file in the current folder is
    // meant here.
#if defined(_WIN32)
  const bool bare = o.plugin.find_first_of("/\\:") == std::string::npos;
  const std::string here = ".\\";
#else
  const bool bare = o.plugin.find('/') == std::string::npos;
  const std::string here = "./";
#endif
  auto library = std::make_unique<standin::PluginLibrary>(
      LibraryName(bare && FileExists(o.plugin) ? here + o.plugin : o.plugin));
  return std::make_unique<LibraryFilter>(std::move(library), pool);
}

// From --format, else the name's extension; a device, FIFO or descriptor without one carries Y4M, as
// stdin and stdout do.
io::Format FormatOf(const std::optional<io::Format>& forced, const std::string& path, const char* role) {
  if (forced) return *forced;
  const std::optional<io::Format> f = io::FormatFromPath(path);
  if (!f && cli::ResolveTarget(path).direct) return io::Format::kY4m;
  if (!f)
    throw cli::UsageError(std::string("cannot tell the format of ") + role + " '" + path +
                          "' from its name (use --format y4m|png|jpeg|yc48)");
  return *f;
}

// Track values are checked against the filter's own ranges; a wrong name or value is a usage error.
void SetTracks(RunFilter& filter, const std::vector<cli::TrackSetting>& tracks) {
  try {
    for (const cli::TrackSetting& t : tracks) filter.SetTrack(t);
  } catch (const core::TrackError& e) {
    throw cli::UsageError(e.what());
  }
}

// Outputs that would overwrite the input or each other are refused before any work.
void CheckDistinctFiles(const cli::Options& o) {
  const bool file_in = o.input != "-", file_out = o.output != "-";
  if (file_in && file_out && cli::SameFile(o.input, o.output))
    throw cli::UsageError("INPUT and OUTPUT are the same file");
  if (o.compare.empty()) return;
  if (file_in && cli::SameFile(o.compare, o.input)) throw cli::UsageError("--compare names the INPUT file");
  if (file_out && cli::SameFile(o.compare, o.output))
    throw cli::UsageError("--compare names the OUTPUT file");
}

// The first frame before and after, side by side.
host::Frame SideBySide(const host::Frame& before, const host::Frame& after) {
  host::Frame both(2 * before.w, before.h);
  for (int y = 0; y < before.h; ++y)
    for (int x = 0; x < before.w; ++x) {
      both.at(x, y) = before.at(x, y);
      both.at(before.w + x, y) = after.at(x, y);
    }
  return both;
}

int Run(const cli::Options& o) {
  const int threads = o.threads > 0 ? o.threads : std::max(1u, std::thread::hardware_concurrency());
  core::WorkerPool pool(threads, o.serial);
  const std::unique_ptr<RunFilter> filter = OpenFilter(o, &pool);
  SetTracks(*filter, o.tracks);

  if (o.list) {
    std::printf("%s\n", filter->name().c_str());
    std::printf("  %-14s %8s %8s %8s\n", "track", "default", "min", "max");
    for (const core::Track& t : filter->tracks())
      std::printf("  %-14s %8d %8d %8d\n", t.name, t.def, t.min, t.max);
    return 0;
  }

  const io::Format in_format = FormatOf(o.input_format, o.input, "input");
  const io::Format out_format = FormatOf(o.output_format, o.output, "output");
  if ((o.input == "-" && in_format != io::Format::kY4m) ||
      (o.output == "-" && out_format != io::Format::kY4m))
    throw cli::UsageError("stdin and stdout carry Y4M only");
  CheckDistinctFiles(o);
  auto warn = [&](const std::string& what) {
    if (!o.quiet) PrintLine("aufhost: warning: " + what);
  };

  core::CpuFlags cpu = 0;
  core::CpuFlagsForTier(o.cpu, &cpu);
  std::unique_ptr<cli::DescriptorSource> file_in;
  const std::string in_name = o.input == "-" ? "stdin" : o.input;
  if (o.input != "-") file_in = cli::OpenInputFile(o.input);
  cli::DescriptorSource standard_in(0, false);
  cli::DescriptorSource& in = file_in ? *file_in : standard_in;
  io::ReaderOptions read_options;
  read_options.w = o.width;
  read_options.h = o.height;
  read_options.cpu = cpu;
  read_options.workers = pool.workers();  // frames are converted where they are filtered
  std::unique_ptr<io::FrameReader> reader = io::OpenReader(in_format, in, in_name, read_options);
  const io::VideoInfo& info = reader->info();
  if (o.width > 0 && (o.width != info.w || o.height != info.h))
    throw io::IoError(in_name + ": frame size " + std::to_string(info.w) + "x" + std::to_string(info.h) +
                      " does not match --size " + std::to_string(o.width) + "x" + std::to_string(o.height));

  // Every output is opened before the first frame, so that a name that cannot be written fails at
  // once rather than after all the work.
  std::unique_ptr<cli::OutputFile> file_out;
  cli::DescriptorSink standard_out(1);
  const std::string out_name = o.output == "-" ? "stdout" : o.output;
  if (o.output != "-") file_out = std::make_unique<cli::OutputFile>(o.output);
  io::WriterOptions write_options;
  write_options.jpeg_quality = o.jpeg_quality;
  write_options.cpu = cpu;
  write_options.workers = pool.workers();
  std::unique_ptr<io::FrameWriter> writer =
      io::OpenWriter(out_format, file_out ? file_out->sink() : standard_out, info, out_name, write_options);
  if (info.alpha && out_format != io::Format::kPng)
    warn(out_name + ": the alpha channel of " + in_name + " is not kept (" + io::FormatName(out_format) +
         " has none)");
  std::unique_ptr<cli::OutputFile> compare_out;
  std::unique_ptr<io::FrameWriter> compare;
  if (!o.compare.empty()) {
    compare_out = std::make_unique<cli::OutputFile>(o.compare);
    io::VideoInfo both = info;
    both.w = 2 * info.w;
    io::WriterOptions compare_options;  // written on the writer's thread
    compare_options.jpeg_quality = o.jpeg_quality;
    compare =
        io::OpenWriter(*io::FormatFromPath(o.compare), compare_out->sink(), both, o.compare, compare_options);
  }

  // Reading and writing run beside the filter, on threads of their own unless the run may start
  // none; the frame in hand is converted, filtered and converted back here, on the pool's workers.
  Progress progress(!o.quiet && (o.progress || StderrIsTerminal()));
  host::Frame frame(info.w, info.h), before, both;
  io::FrameExtras extras;
  bool warned_interlaced = false;
  cli::Stages stages;
  stages.read = [&](io::FramePacket& packet) {
    return reader->Fetch(packet);
  };
  stages.process = [&](io::FramePacket& in, io::FramePacket& out, int64_t index) {
    reader->Decode(in, frame, extras);
    if (extras.interlaced && !warned_interlaced) {
      warn(in_name +
           ": interlaced frames are filtered as progressive ones (the filters work on whole frames)");
      warned_interlaced = true;
    }
    if (index == 0 && compare) before = frame;
    filter->Process(frame);
    if (index == 0 && compare) both = SideBySide(before, frame);
    writer->Encode(frame, extras, out);
  };
  stages.write = [&](io::FramePacket& packet, int64_t index) {
    writer->Put(packet);
    if (index == 0 && compare) {
      compare->Write(both);
      compare->Finish();
    }
  };
  stages.cancel_read = [&] {
    in.Cancel();
  };
  stages.progress = [&](int64_t written) {
    progress.Update(written, info.frame_count);
  };
  cli::PipelineOptions pipeline;
  pipeline.threads = !o.serial;
  const int64_t frames = cli::RunPipeline(stages, pipeline);
  writer->Finish();
  if (file_out) file_out->Commit();
  if (compare && frames > 0) compare_out->Commit();
  progress.Done(frames);
  if (frames == 0 && !o.quiet) PrintLine("aufhost: " + in_name + ": no frames");
  return 0;
}

}  // namespace

namespace {

int Main(const std::vector<std::string>& args) {
#if defined(_WIN32)
  // Y4M through pipes: no "\n" -> "\r\n" or end-of-file at ^Z in the frame data.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#else
  // A closed pipe downstream becomes a write error with a message, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  cli::RemoveTemporariesOnSignals();
  // Usage errors: one line, status 2. Anything else that stops the run: one line, status 1.
  try {
    const cli::Options options = cli::ParseOptions(args);
    if (options.help) {
      std::fputs(cli::UsageText().c_str(), stdout);
      return 0;
    }
    if (options.version) {
      std::printf("aufhost %s\n", AUF_VERSION);
      return 0;
    }
    return Run(options);
  } catch (const cli::UsageError& e) {
    PrintLine(std::string("aufhost: ") + e.what() + " (try 'aufhost --help')");
    return 2;
  } catch (const std::exception& e) {
    PrintLine(std::string("aufhost: ") + e.what());
    return 1;
  }
}

}  // namespace

#if defined(_WIN32)
// The wide-character entry: file names in any script arrive whole, whatever the system's code page.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(cli::Utf8(argv[i]));
  return Main(args);
}
#else
int main(int argc, char** argv) { return Main(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
