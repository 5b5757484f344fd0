// The GStreamer elements in a pipeline beside aufhost: frames per second of 1920x1080 I420 frames from
// memory through the element (the plug-in library of this build) to a fakesink, against aufhost's
// built-in filter on the same frames as a Y4M stream from a file to /dev/null, both with the same
// number of worker threads. Then the layouts held to another one's rate: NV12 through each element
// beside I420, and 10-bit 4:2:2 through each element and aufhost beside 8-bit 4:2:2, by the clock and
// by CPU time per frame. What is compared takes turns, run after run; each keeps its best run (other
// processes only ever add time).
//
//   gst_bench [--aufhost=PATH] [--plugin=PATH] [--frames=N] [--runs=N] [--quick]
#include <fcntl.h>
#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "core/cpu.h"
#include "hostkit/planar.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kThreads = 2;

// Each filter, and the element's rate it is held to: at least this share of aufhost's.
const struct {
  const char* label;
  const char* filter;
  double ratio;
} kRows[] = {{"velour defaults", "velour", 0.8}, {"deblock defaults", "deblock", 0.8}};

// A layout both take, or only the element (y4m null): GStreamer's name, Y4M's colour tag, and the
// planes (at 1920x1080 GStreamer's layout is the planes back to back).
struct Layout {
  const char* format;
  const char* y4m;
  io::Chroma chroma;
  int depth;
  bool pairs;
};
constexpr Layout kI420 = {"I420", "420jpeg", io::Chroma::k420, 8, false};
constexpr Layout kNv12 = {"NV12", nullptr, io::Chroma::k420, 8, true};
constexpr Layout kY42b = {"Y42B", "422", io::Chroma::k422, 8, false};
constexpr Layout kI422p10 = {"I422_10LE", "422p10", io::Chroma::k422, 10, false};

// A layout held to another's rate through each filter with its defaults: at least `ratio` of it,
// through the element, and through aufhost where it reads both.
const struct {
  Layout layout, beside;
  double ratio;
} kLayoutRows[] = {{kNv12, kI420, 0.9}, {kI422p10, kY42b, 0.85}};

struct Options {
  std::string aufhost = "build/aufhost";
  std::string plugin = "build/gst/libgstvelourdeblock.so";
  int frames = 60;
  int runs = 5;
};

// The photographs at 1920x1080.
std::vector<core::Picture> Photos() {
  std::vector<core::Picture> photos;
  for (const char* photo : {"media/astronaut.png", "media/coffee.png", "media/chelsea.png"}) {
    photos.emplace_back();
    if (!bench::LoadPhoto(photo, &photos.back())) std::exit(1);
  }
  return photos;
}

// The frames both take: the photographs as the planes of `layout` (GStreamer's layout at this size is
// Y4M's: rows and planes back to back).
std::vector<std::vector<uint8_t>> Pictures(const std::vector<core::Picture>& photos, const Layout& l) {
  const io::PlanarLayout layout = io::PlanarLayoutOf(bench::kW, bench::kH, l.chroma, l.depth, l.pairs);
  std::vector<std::vector<uint8_t>> pictures;
  for (const core::Picture& photo : photos) {
    pictures.emplace_back(layout.FrameBytes());
    io::FrameToPlanes(io::PlanarDspFor(core::DetectCpuFlags()), layout, photo, pictures.back().data());
  }
  return pictures;
}

// A source that pushes the pictures in turn from memory, `frames` of them, into buffers of a pool of
// its own (as a decoder would hand them on), then ends the stream.
struct MemorySource {
  GstPushSrc parent;
};
struct MemorySourceClass {
  GstPushSrcClass parent;
};

struct Feed {
  const std::vector<std::vector<uint8_t>>* pictures = nullptr;
  int frames = 0;
  int sent = 0;
  GstBufferPool* pool = nullptr;
} g_feed;

GstFlowReturn CreateFrame(GstPushSrc*, GstBuffer** out) {
  if (g_feed.sent == g_feed.frames) return GST_FLOW_EOS;
  const std::vector<uint8_t>& p = (*g_feed.pictures)[size_t(g_feed.sent++) % g_feed.pictures->size()];
  const GstFlowReturn r = gst_buffer_pool_acquire_buffer(g_feed.pool, out, nullptr);
  if (r == GST_FLOW_OK) gst_buffer_fill(*out, 0, p.data(), p.size());
  return r;
}

GType MemorySourceType() {
  static const GType type = g_type_register_static_simple(
      GST_TYPE_PUSH_SRC, "GstBenchMemorySource", sizeof(MemorySourceClass),
      [](gpointer klass, gpointer) {
        gst_element_class_add_pad_template(
            GST_ELEMENT_CLASS(klass),
            gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, gst_caps_new_any()));
        gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "memory source", "Source/Video",
                                              "pushes frames from memory", "bench");
        GST_PUSH_SRC_CLASS(klass)->create = CreateFrame;
      },
      sizeof(MemorySource), nullptr, GTypeFlags(0));
  return type;
}

// Seconds of a run: on the clock, and of CPU time (user and system) of every thread of the process.
struct Time {
  double wall, cpu;
};

double CpuSeconds(const rusage& ru) {
  return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

double CpuSecondsOfThisProcess() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return CpuSeconds(ru);
}

// From PLAYING to the end of the stream of `pipeline`.
Time RunPipeline(GstElement* pipeline) {
  g_feed.sent = 0;
  const double cpu = CpuSecondsOfThisProcess();
  const auto start = Clock::now();
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m = gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE,
                                             GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  const Time t = {std::chrono::duration<double>(Clock::now() - start).count(),
                  CpuSecondsOfThisProcess() - cpu};
  if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
    std::fprintf(stderr, "gst_bench: the pipeline failed\n");
    std::exit(1);
  }
  gst_message_unref(m);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  return t;
}

// One aufhost run over `clip` (stdin) to /dev/null.
Time RunAufhost(const Options& o, const std::string& clip, const std::vector<std::string>& args) {
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, clip.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv{const_cast<char*>(o.aufhost.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid;
  int status = -1;
  rusage ru{};
  if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0 ||
      wait4(pid, &status, 0, &ru) < 0 || status != 0) {
    std::fprintf(stderr, "gst_bench: %s failed (status %d)\n", o.aufhost.c_str(), status);
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&files);
  return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds(ru)};
}

// A Y4M clip of `frames` of the pictures, in colour space `tag`, in the folder `dir`; its path, "" where
// it cannot be written.
std::string WriteClip(int frames, const std::string& dir, const char* tag,
                      const std::vector<std::vector<uint8_t>>& pictures) {
  const std::string clip = dir + "/" + tag + "." + std::to_string(frames) + ".y4m";
  FILE* f = std::fopen(clip.c_str(), "wb");
  if (f == nullptr) return "";
  std::fprintf(f, "YUV4MPEG2 W%d H%d F25:1 C%s\n", bench::kW, bench::kH, tag);
  for (int k = 0; k < frames; ++k) {
    std::fputs("FRAME\n", f);
    std::fwrite(pictures[size_t(k) % pictures.size()].data(), 1, pictures[0].size(), f);
  }
  return std::fclose(f) == 0 ? clip : "";
}

// The feed's pool of buffers of the frames' size.
GstBufferPool* NewPool(GstCaps* caps, size_t frame_bytes) {
  GstBufferPool* pool = gst_buffer_pool_new();
  GstStructure* config = gst_buffer_pool_get_config(pool);
  gst_buffer_pool_config_set_params(config, caps, guint(frame_bytes), 4, 0);
  gst_buffer_pool_set_config(pool, config);
  gst_buffer_pool_set_active(pool, TRUE);
  return pool;
}

// source ! capsfilter ! the filter's element ! fakesink, or without a filter_name the feed alone,
// source ! capsfilter ! fakesink; null where they do not link.
GstElement* NewPipeline(GstCaps* caps, const char* filter_name) {
  GstElement* pipeline = gst_pipeline_new(nullptr);
  GstElement* source = gst_element_factory_make("benchsource", nullptr);
  GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
  GstElement* element = filter_name ? gst_element_factory_make(filter_name, nullptr) : nullptr;
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  g_object_set(filter, "caps", caps, nullptr);
  if (element) g_object_set(element, "threads", kThreads, nullptr);
  g_object_set(sink, "sync", FALSE, nullptr);
  gst_bin_add_many(GST_BIN(pipeline), source, filter, sink, nullptr);
  if (element) gst_bin_add(GST_BIN(pipeline), element);
  if (element ? gst_element_link_many(source, filter, element, sink, nullptr)
              : gst_element_link_many(source, filter, sink, nullptr))
    return pipeline;
  gst_object_unref(pipeline);
  return nullptr;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--aufhost=", 0) == 0) o.aufhost = a.substr(10);
    else if (a.rfind("--plugin=", 0) == 0) o.plugin = a.substr(9);
    else if (a.rfind("--frames=", 0) == 0) o.frames = std::max(1, std::atoi(a.c_str() + 9));
    else if (a.rfind("--runs=", 0) == 0) o.runs = std::max(1, std::atoi(a.c_str() + 7));
    else if (a == "--quick") o.frames = 8, o.runs = 1;
    else {
      std::fprintf(stderr,
                   "usage: gst_bench [--aufhost=PATH] [--plugin=PATH] [--frames=N] [--runs=N] [--quick]\n");
      return false;
    }
  }
  return true;
}

// GStreamer with the plug-in library of this build and the memory source registered.
bool InitGst(const Options& o) {
  gst_init(nullptr, nullptr);
  GError* error = nullptr;
  GstPlugin* plugin = gst_plugin_load_file(o.plugin.c_str(), &error);
  if (plugin == nullptr) {
    std::fprintf(stderr, "gst_bench: cannot load %s: %s\n", o.plugin.c_str(), error->message);
    return false;
  }
  gst_object_unref(plugin);
  return gst_element_register(nullptr, "benchsource", GST_RANK_NONE, MemorySourceType());
}

// What a layout is fed from: its frames in memory with their caps and a pool of buffers of their size
// (the element), and its Y4M clips of o.frames and of a quarter as many (aufhost; none where aufhost
// has no such layout).
struct Source {
  std::vector<std::vector<uint8_t>> pictures;
  GstCaps* caps = nullptr;
  GstBufferPool* pool = nullptr;
  std::string clip, short_clip;
};

int ShortFrames(const Options& o) { return std::max(1, o.frames / 4); }

Source MakeSource(const Options& o, const std::string& dir, const std::vector<core::Picture>& photos,
                  const Layout& l) {
  Source s;
  s.pictures = Pictures(photos, l);
  s.caps =
      gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, l.format, "width", G_TYPE_INT, bench::kW,
                          "height", G_TYPE_INT, bench::kH, "framerate", GST_TYPE_FRACTION, 25, 1, nullptr);
  s.pool = NewPool(s.caps, s.pictures[0].size());
  if (l.y4m == nullptr) return s;
  s.clip = WriteClip(o.frames, dir, l.y4m, s.pictures);
  s.short_clip = WriteClip(ShortFrames(o), dir, l.y4m, s.pictures);
  if (s.clip.empty() || s.short_clip.empty()) {
    std::fprintf(stderr, "gst_bench: cannot write a clip in %s\n", dir.c_str());
    std::exit(1);
  }
  return s;
}

void FreeSource(Source& s) {
  gst_buffer_pool_set_active(s.pool, FALSE);
  gst_object_unref(s.pool);
  gst_caps_unref(s.caps);
  for (const std::string& clip : {s.clip, s.short_clip})
    if (!clip.empty()) unlink(clip.c_str());
}

// Runs of the filter's element over a source's frames, each pipeline built once; runs of aufhost over
// a source's clips.
class Runner {
 public:
  explicit Runner(const Options& o) : o_(o) {}
  ~Runner() {
    for (auto& [key, pipeline] : pipelines_) gst_object_unref(pipeline);
  }
  // The filter's element over the source's frames; with a null filter, the feed alone.
  Time Element(const char* filter, const Source& s) {
    GstElement*& pipeline =
        pipelines_[std::string(filter ? filter : "feed") + " " + std::to_string(uintptr_t(&s))];
    g_feed = {&s.pictures, o_.frames, 0, s.pool};
    if (pipeline == nullptr) {
      // A new element's first frame allocates its frame and starts its workers: one run untimed.
      if ((pipeline = NewPipeline(s.caps, filter)) == nullptr) {
        std::fprintf(stderr, "gst_bench: cannot link the pipeline\n");
        std::exit(1);
      }
      RunPipeline(pipeline);
    }
    return RunPipeline(pipeline);
  }
  Time Aufhost(const char* filter, const std::string& clip) const {
    return RunAufhost(o_, clip, {"-q", "-j", std::to_string(kThreads), filter, "-", "-"});
  }

 private:
  const Options& o_;
  std::map<std::string, GstElement*> pipelines_;
};

// The best wall time and the best CPU time of o.runs of each of `runs`, taking turns.
std::vector<Time> BestOfTurns(const Options& o, const std::vector<std::function<Time()>>& runs) {
  std::vector<Time> best(runs.size(), Time{1e30, 1e30});
  for (int r = 0; r < o.runs; ++r)
    for (size_t i = 0; i < runs.size(); ++i) {
      const Time t = runs[i]();
      best[i] = {std::min(best[i].wall, t.wall), std::min(best[i].cpu, t.cpu)};
    }
  return best;
}

// Each filter through the element beside aufhost, on I420.
void BenchElementBesideAufhost(const Options& o, Runner& run, const Source& i420) {
  std::printf("%-18s %12s %12s %8s\n", "", "aufhost fps", "element fps", "ratio");
  for (const auto& row : kRows) {
    const std::vector<Time> best = BestOfTurns(o, {[&] { return run.Aufhost(row.filter, i420.clip); },
                                                   [&] {
                                                     return run.Element(row.filter, i420);
                                                   }});
    const double tool = best[0].wall, gst = best[1].wall;
    std::printf("%-18s %12.1f %12.1f %8.2f  %s\n", row.label, o.frames / tool, o.frames / gst, tool / gst,
                bench::Verdict({row.label, tool / gst, row.ratio, bench::Target::kAtLeast, ""}).c_str());
  }
}

// A rate, as frames per second on the clock and as CPU milliseconds per frame.
struct Rate {
  double fps, cpu_ms;
};

// One row of the layout table: what ran, its rate, and beside the rate it is held to, the ratios of
// the two by each measure, the target held to the one by CPU time.
void PrintRate(const char* filter, const char* tool, const char* format, const Rate& r, const Rate* beside,
               double ratio) {
  std::printf("%-8s %-8s %-10s %8.1f %7.2f", filter, tool, format, r.fps, r.cpu_ms);
  if (beside != nullptr) {
    const double by_cpu = beside->cpu_ms / r.cpu_ms;
    std::printf("   %6.2f %6.2f %s", r.fps / beside->fps, by_cpu,
                bench::Verdict({"", by_cpu, ratio, bench::Target::kAtLeast, ""}).c_str());
  }
  std::printf("\n");
}

// Each layout row through each filter: the element, and aufhost where it reads both layouts, each
// beside itself on the layout the row is held to. The element's rate is its own: the feed's time
// alone (copying each frame into a buffer, a decoder's work) is taken off. aufhost's rate is that of
// its stream once started: the frames of the long clip beyond the short one over the time they add.
void BenchLayouts(const Options& o, Runner& run, const std::map<std::string, Source>& sources) {
  const int extra = o.frames - ShortFrames(o);
  std::printf(
      "\nlayouts beside the layout each is held to, each filter with its defaults: frames per second (the "
      "best run)\nand CPU ms per frame (the least), and the ratio of the rates by each. The targets hold the "
      "ratio by\nCPU time, which other processes on the machine disturb far less than the clock. The "
      "element: its own\ntime, the feed's alone taken off. aufhost: its stream once started, the %d frames "
      "of a clip of %d\nbeyond one of %d.\n",
      extra, o.frames, ShortFrames(o));
  std::printf("%-8s %-8s %-10s %8s %7s   %6s %6s\n", "", "", "", "fps", "CPU ms", "ratio", "by CPU");
  for (const char* filter : {"velour", "deblock"})
    for (const auto& row : kLayoutRows) {
      const Source* both[2] = {&sources.at(row.beside.format), &sources.at(row.layout.format)};
      const char* formats[2] = {row.beside.format, row.layout.format};
      const bool tool = row.layout.y4m != nullptr && row.beside.y4m != nullptr && extra > 0;
      std::vector<std::function<Time()>> runs;
      for (const Source* s : both) {
        runs.push_back([&run, filter, s] { return run.Element(filter, *s); });
        runs.push_back([&run, s] { return run.Element(nullptr, *s); });
      }
      if (tool)
        for (const Source* s : both) {
          runs.push_back([&run, filter, s] { return run.Aufhost(filter, s->clip); });
          runs.push_back([&run, filter, s] { return run.Aufhost(filter, s->short_clip); });
        }
      const std::vector<Time> best = BestOfTurns(o, runs);
      // Each rate from the runs at i and j: the frames over the time the first adds to the second.
      auto rate = [&](size_t i, size_t j, int frames) {
        return Rate{frames / (best[i].wall - best[j].wall), (best[i].cpu - best[j].cpu) / frames * 1e3};
      };
      Rate element[2], aufhost[2];
      for (int k = 0; k < 2; ++k) {
        element[k] = rate(2 * k, 2 * k + 1, o.frames);
        if (tool) aufhost[k] = rate(4 + 2 * k, 5 + 2 * k, extra);
      }
      for (int k = 0; k < 2; ++k)
        PrintRate(k == 0 ? filter : "", k == 0 ? "element" : "", formats[k], element[k],
                  k ? element : nullptr, row.ratio);
      for (int k = 0; tool && k < 2; ++k)
        PrintRate("", k == 0 ? "aufhost" : "", formats[k], aufhost[k], k ? aufhost : nullptr, row.ratio);
      std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o) || !InitGst(o)) return 2;
  char dir[] = "/tmp/gst_bench.XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::vector<core::Picture> photos = Photos();
  std::map<std::string, Source> sources;
  for (const Layout& l : {kI420, kNv12, kY42b, kI422p10}) sources[l.format] = MakeSource(o, dir, photos, l);
  std::printf(
      "gst_bench: %d frames of %dx%d, %d worker threads, %u cores; best of %d runs, taking turns\n"
      "  the element: a source in memory ! capsfilter ! ELEMENT threads=%d ! fakesink sync=false\n"
      "  aufhost:     aufhost -q -j %d FILTER - - < clip.y4m > /dev/null\n",
      o.frames, bench::kW, bench::kH, kThreads, std::max(1u, std::thread::hardware_concurrency()), o.runs,
      kThreads, kThreads);
  {
    Runner run(o);
    BenchElementBesideAufhost(o, run, sources.at("I420"));
    BenchLayouts(o, run, sources);
  }
  for (auto& [name, source] : sources) FreeSource(source);
  rmdir(dir);
  return 0;
}
