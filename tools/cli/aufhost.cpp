// aufhost: runs a filter plug-in over video and pictures, through the same host stand-in the tests use.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "auf_version.h"
#include "core/cpu.h"
#include "core/worker_pool.h"
#include "tools/cli/files.h"
#include "tools/cli/messages.h"
#include "tools/cli/options.h"
#include "tools/cli/output_file.h"
#include "tools/cli/pipeline.h"
#include "tools/cli/run_filter.h"
#include "tools/io/frame_io.h"

namespace {

using Clock = std::chrono::steady_clock;

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

// What a run is made of: the options, the filter, its workers, and the kernel tier.
struct RunContext {
  const cli::Options& o;
  core::WorkerPool& pool;
  core::CpuFlags cpu;
  void Warn(const std::string& what) const {
    if (!o.quiet) cli::PrintLine("aufhost: warning: " + what);
  }
};

struct Formats {
  io::Format in;
  io::Format out;
};

// From --format, else the name's extension; a device, FIFO or descriptor (any under /proc) without one
// carries Y4M, as stdin and stdout do.
io::Format FormatOf(const std::optional<io::Format>& forced, const std::string& path, const char* role) {
  if (forced) return *forced;
  const std::optional<io::Format> f = io::FormatFromPath(path);
  if (!f) {
    const cli::Target target = cli::ResolveTarget(path);
    if (target.direct || target.through_proc) return io::Format::kY4m;
  }
  if (!f)
    throw cli::UsageError(std::string("cannot tell the format of ") + role + " '" + path +
                          "' from its name (use --format y4m|png|jpeg|yc48)");
  return *f;
}

Formats ChooseFormats(const cli::Options& o) {
  const Formats f{FormatOf(o.input_format, o.input, "input"), FormatOf(o.output_format, o.output, "output")};
  if ((o.input == "-" && f.in != io::Format::kY4m) || (o.output == "-" && f.out != io::Format::kY4m))
    throw cli::UsageError("stdin and stdout carry Y4M only");
  return f;
}

// OUTPUT and the --compare picture, planned before any work.
struct OutputPlans {
  cli::OutputPlan main;
  std::optional<cli::OutputPlan> compare;
};

// Names that would overwrite the input or each other are refused, however they are spelled: what
// they refer to is compared, descriptors included.
OutputPlans PlanOutputs(const cli::Options& o) {
  OutputPlans plans{cli::PlanOutput(o.output), std::nullopt};
  if (!o.compare.empty()) plans.compare = cli::PlanOutput(o.compare);
  const cli::FileId input = o.input == "-" ? cli::IdOfDescriptor(0) : cli::IdOfPath(o.input);
  if (cli::SameRegularFile(input, plans.main.id)) throw cli::UsageError("INPUT and OUTPUT are the same file");
  if (!plans.compare) return plans;
  if (cli::SameRegularFile(input, plans.compare->id)) throw cli::UsageError("--compare names the INPUT file");
  if (cli::SameOutput(*plans.compare, plans.main)) throw cli::UsageError("--compare names the OUTPUT file");
  return plans;
}

struct Input {
  std::string name;  // for messages
  std::unique_ptr<cli::DescriptorSource> source;
  std::unique_ptr<io::FrameReader> reader;
};

// The input, open, with its header read.
Input OpenInput(const RunContext& run, io::Format format) {
  const cli::Options& o = run.o;
  Input in{o.input == "-" ? "stdin" : o.input, cli::OpenInput(o.input), nullptr};
  io::ReaderOptions options;
  options.w = o.width;
  options.h = o.height;
  options.cpu = run.cpu;
  options.workers = run.pool.workers();  // frames are converted where they are filtered
  try {
    in.reader = io::OpenReader(format, *in.source, in.name, options);
  } catch (const std::bad_alloc&) {
    throw io::IoError(in.name + ": not enough memory to read it");
  }
  const io::VideoInfo& info = in.reader->info();
  if (o.width > 0 && (o.width != info.w || o.height != info.h))
    throw io::IoError(in.name + ": frame size " + std::to_string(info.w) + "x" + std::to_string(info.h) +
                      " does not match --size " + std::to_string(o.width) + "x" + std::to_string(o.height));
  return in;
}

bool IsPicture(io::Format f) { return f == io::Format::kPng || f == io::Format::kJpeg; }

// A picture holds exactly one frame: the input's frames are counted before any is filtered, from the
// size of yc48 and by reading on to a second frame otherwise. Returns the one frame, as stored.
io::FramePacket OnlyFrame(const Input& in, io::Format in_format, const std::string& out) {
  const int64_t count = in.reader->info().frame_count;
  const bool counted = in_format == io::Format::kYc48 && count >= 0;
  io::FramePacket first;
  if ((counted && count == 0) || !in.reader->Fetch(first))
    throw io::IoError(out + ": a picture cannot hold zero frames (" + in.name + " has none)");
  if (counted && count > 1)
    throw io::IoError(out + ": a picture holds one frame, and " + in.name + " has " + std::to_string(count) +
                      " (write Y4M or yc48)");
  io::FramePacket second;
  if (!counted && in.reader->Fetch(second))
    throw io::IoError(out + ": a picture holds one frame, and " + in.name +
                      " has more than one (write Y4M or yc48)");
  return first;
}

struct Outputs {
  std::unique_ptr<cli::OutputTarget> target;
  std::unique_ptr<io::FrameWriter> writer;
  std::unique_ptr<cli::OutputTarget> compare_target;  // the --compare picture, if any
  std::unique_ptr<io::FrameWriter> compare;
};

// Every output opened as planned, before the first frame.
Outputs OpenOutputs(const RunContext& run, OutputPlans plans, const io::VideoInfo& info, io::Format format) {
  const cli::Options& o = run.o;
  Outputs out;
  out.target = std::make_unique<cli::OutputTarget>(std::move(plans.main), io::StoredBytes(format, info));
  io::WriterOptions options;
  options.jpeg_quality = o.jpeg_quality;
  options.jpeg_sampling = o.jpeg_sampling;
  options.cpu = run.cpu;
  options.workers = run.pool.workers();
  const std::string name = o.output == "-" ? "stdout" : o.output;
  out.writer = io::OpenWriter(format, out.target->sink(), info, name, options);
  if (!plans.compare) return out;
  io::VideoInfo both = info;
  both.w = 2 * info.w;
  const io::Format compare_format = *io::FormatFromPath(o.compare);
  out.compare_target =
      std::make_unique<cli::OutputTarget>(std::move(*plans.compare), io::StoredBytes(compare_format, both));
  io::WriterOptions compare_options;  // written on the writer's thread
  compare_options.jpeg_quality = o.jpeg_quality;
  compare_options.jpeg_sampling = o.jpeg_sampling;
  out.compare = io::OpenWriter(compare_format, out.compare_target->sink(), both, o.compare, compare_options);
  return out;
}

// What the output format cannot hold is said once, before the work.
void WarnOfLosses(const RunContext& run, const io::VideoInfo& info, io::Format format, const std::string& in,
                  const std::string& out) {
  if (info.alpha && format != io::Format::kPng)
    run.Warn(out + ": the alpha channel of " + in + " is not kept (" + io::FormatName(format) + " has none)");
  const int depth = io::WrittenBitDepth(format, info);
  if (depth != 0 && depth < info.bit_depth)
    run.Warn(out + ": the " + std::to_string(info.bit_depth) + "-bit samples of " + in + " are written at " +
             std::to_string(depth) + " bits (" + io::FormatName(format) + ")");
}

// The first frame before and after, side by side.
core::Picture SideBySide(const core::Picture& before, const core::Picture& after) {
  core::Picture both(2 * before.w, before.h);
  for (int y = 0; y < before.h; ++y)
    for (int x = 0; x < before.w; ++x) {
      both.at(x, y) = before.at(x, y);
      both.at(before.w + x, y) = after.at(x, y);
    }
  return both;
}

// Every frame read, filtered and written. Reading and writing run beside the filter, on threads of
// their own unless the run may start none; the frame in hand is converted, filtered and converted
// back here, on the pool's workers. `first`, where it was read already, comes first. Frames take
// memory once the first arrives. Returns how many frames were written.
int64_t FilterFrames(const RunContext& run, Input& in, cli::RunFilter& filter, Outputs& out,
                     std::optional<io::FramePacket> first) {
  const io::VideoInfo& info = in.reader->info();
  Progress progress(!run.o.quiet && (run.o.progress || cli::StderrIsTerminal()));
  core::Picture frame, before, both;
  io::FrameExtras extras;
  bool warned_interlaced = false;
  cli::Stages stages;
  stages.read = [&](io::FramePacket& packet) {
    if (!first) return in.reader->Fetch(packet);
    packet = std::move(*first);
    first.reset();
    return true;
  };
  stages.process = [&](io::FramePacket& packet, io::FramePacket& result, int64_t index) {
    in.reader->Decode(packet, frame, extras);
    if (extras.interlaced && !warned_interlaced) {
      run.Warn(in.name +
               ": interlaced frames are filtered as progressive ones (the filters work on whole frames)");
      warned_interlaced = true;
    }
    if (index == 0 && out.compare) before = frame;
    filter.Process(frame);
    if (index == 0 && out.compare) both = SideBySide(before, frame);
    out.writer->Encode(frame, extras, result);
  };
  stages.write = [&](io::FramePacket& packet, int64_t index) {
    out.writer->Put(packet);
    if (index == 0 && out.compare) {
      out.compare->Write(both);
      out.compare->Finish();
    }
  };
  stages.cancel_read = [&] {
    in.source->Cancel();
  };
  stages.progress = [&](int64_t written) {
    progress.Update(written, info.frame_count);
  };
  cli::PipelineOptions pipeline;
  pipeline.threads = !run.o.serial;
  const int64_t frames = cli::RunPipeline(stages, pipeline);
  progress.Done(frames);
  return frames;
}

// The outputs made final.
void CommitOutputs(Outputs& out, int64_t frames) {
  out.writer->Finish();
  out.target->Commit();
  if (out.compare && frames > 0) out.compare_target->Commit();
}

// The worker threads, or what stopped them starting.
std::unique_ptr<core::WorkerPool> StartWorkers(const cli::Options& o) {
  const int threads = o.threads > 0 ? o.threads : std::max(1u, std::thread::hardware_concurrency());
  try {
    return std::make_unique<core::WorkerPool>(threads, o.serial);
  } catch (const std::system_error& e) {
    throw io::IoError("cannot start " + std::to_string(threads) + " worker threads (" + e.code().message() +
                      "; -j sets fewer, --serial starts none)");
  }
}

// From the input's frames on: reading, filtering and writing them, with what ran out of memory named.
void FilterInput(const RunContext& run, Input& in, cli::RunFilter& filter, OutputPlans plans,
                 const Formats& formats) {
  const cli::Options& o = run.o;
  const io::VideoInfo& info = in.reader->info();
  const std::string out_name = o.output == "-" ? "stdout" : o.output;
  try {
    std::optional<io::FramePacket> first;
    // (A build without pictures refuses them as it opens the writer.)
    if (IsPicture(formats.out) && io::PicturesSupported()) first = OnlyFrame(in, formats.in, out_name);
    Outputs out = OpenOutputs(run, std::move(plans), info, formats.out);
    WarnOfLosses(run, info, formats.out, in.name, out_name);
    const int64_t frames = FilterFrames(run, in, filter, out, std::move(first));
    CommitOutputs(out, frames);
    if (frames == 0 && !o.quiet) cli::PrintLine("aufhost: " + in.name + ": no frames");
  } catch (const std::bad_alloc&) {
    throw io::IoError(in.name + ": not enough memory for " + std::to_string(info.w) + "x" +
                      std::to_string(info.h) + " frames");
  }
}

int Run(const cli::Options& o) {
  const std::unique_ptr<core::WorkerPool> workers = StartWorkers(o);
  core::WorkerPool& pool = *workers;
  const std::unique_ptr<cli::RunFilter> filter = cli::OpenFilter(o, &pool);
  if (o.list) {
    cli::PrintTracks(*filter);
    return 0;
  }
  const Formats formats = ChooseFormats(o);
  OutputPlans plans = PlanOutputs(o);
  RunContext run{o, pool, 0};
  core::CpuFlagsForTier(o.cpu, &run.cpu);
  Input in = OpenInput(run, formats.in);
  FilterInput(run, in, *filter, std::move(plans), formats);
  return 0;
}

int Main(const std::vector<std::string>& args) {
#if defined(_WIN32)
  // Y4M through pipes: no "\n" -> "\r\n" or end-of-file at ^Z in the frame data.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  cli::OpenStandardDescriptors();
  cli::HandleTerminationSignals();
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
    cli::PrintLine(std::string("aufhost: ") + e.what() + " (try 'aufhost --help')");
    return 2;
  } catch (const std::exception& e) {
    cli::PrintLine(std::string("aufhost: ") + e.what());
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
