// The GStreamer elements in a pipeline beside aufhost: frames per second of 1920x1080 I420 frames from
// memory through the element (the plug-in library of this build) to a fakesink, against aufhost's
// built-in filter on the same frames as a Y4M stream from a file to /dev/null, both with the same
// number of worker threads. The two take turns, run after run; each keeps its best run (other
// processes only ever add time).
//
//   gst_bench [--aufhost=PATH] [--plugin=PATH] [--frames=N] [--runs=N] [--quick]
#include <fcntl.h>
#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "core/cpu.h"
#include "tools/io/planar.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kThreads = 2;

// Each filter, and the element's rate it is held to: at least this share of aufhost's.
const struct {
  const char* label;
  const char* filter;
  double ratio;
} kRows[] = {{"velour defaults", "velour", 0.8}, {"deblock defaults", "deblock", 0.8}};

struct Options {
  std::string aufhost = "build/aufhost";
  std::string plugin = "build/gst/libgstvelourdeblock.so";
  int frames = 60;
  int runs = 5;
};

// The frames both take: the photographs at 1920x1080, as 4:2:0 planes (GStreamer's I420 layout at this
// size is Y4M's: rows and planes back to back).
std::vector<std::vector<uint8_t>> Pictures() {
  const io::PlanarLayout layout = io::PlanarLayoutOf(bench::kW, bench::kH, io::Chroma::k420, 8);
  std::vector<std::vector<uint8_t>> pictures;
  for (const char* photo : {"media/astronaut.png", "media/coffee.png", "media/chelsea.png"}) {
    host::Frame frame;
    if (!bench::LoadPhoto(photo, &frame)) std::exit(1);
    pictures.emplace_back(layout.FrameBytes());
    io::FrameToPlanes(io::PlanarDspFor(core::DetectCpuFlags()), layout, frame, pictures.back().data());
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

// Seconds from PLAYING to the end of the stream of `pipeline`.
double RunPipeline(GstElement* pipeline) {
  g_feed.sent = 0;
  const auto start = Clock::now();
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m = gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE,
                                             GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
    std::fprintf(stderr, "gst_bench: the pipeline failed\n");
    std::exit(1);
  }
  gst_message_unref(m);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  return seconds;
}

// Seconds of one aufhost run over `clip` (stdin) to /dev/null.
double RunAufhost(const Options& o, const std::string& clip, const std::vector<std::string>& args) {
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
  if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0 ||
      waitpid(pid, &status, 0) < 0 || status != 0) {
    std::fprintf(stderr, "gst_bench: %s failed (status %d)\n", o.aufhost.c_str(), status);
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&files);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A Y4M clip of o.frames of the pictures in a folder of its own; its path, "" where it cannot be
// written.
std::string WriteClip(const Options& o, const std::vector<std::vector<uint8_t>>& pictures) {
  char dir[] = "/tmp/gst_bench.XXXXXX";
  if (mkdtemp(dir) == nullptr) return "";
  const std::string clip = std::string(dir) + "/clip.y4m";
  FILE* f = std::fopen(clip.c_str(), "wb");
  if (f == nullptr) return "";
  std::fprintf(f, "YUV4MPEG2 W%d H%d F25:1 C420jpeg\n", bench::kW, bench::kH);
  for (int k = 0; k < o.frames; ++k) {
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

// source ! capsfilter ! the filter's element ! fakesink; null where they do not link.
GstElement* NewPipeline(GstCaps* caps, const char* filter_name) {
  GstElement* pipeline = gst_pipeline_new(nullptr);
  GstElement* source = gst_element_factory_make("benchsource", nullptr);
  GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
  GstElement* element = gst_element_factory_make(filter_name, nullptr);
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  g_object_set(filter, "caps", caps, nullptr);
  g_object_set(element, "threads", kThreads, nullptr);
  g_object_set(sink, "sync", FALSE, nullptr);
  gst_bin_add_many(GST_BIN(pipeline), source, filter, element, sink, nullptr);
  if (gst_element_link_many(source, filter, element, sink, nullptr)) return pipeline;
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

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o) || !InitGst(o)) return 2;
  const std::vector<std::vector<uint8_t>> pictures = Pictures();
  const std::string clip = WriteClip(o, pictures);
  if (clip.empty()) return 1;
  GstCaps* caps =
      gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width", G_TYPE_INT, bench::kW,
                          "height", G_TYPE_INT, bench::kH, "framerate", GST_TYPE_FRACTION, 25, 1, nullptr);
  g_feed = {&pictures, o.frames, 0, NewPool(caps, pictures[0].size())};
  std::printf(
      "gst_bench: %d frames of %dx%d I420, %d worker threads, %u cores; best of %d runs, taking turns\n"
      "  the element: a source in memory ! capsfilter ! ELEMENT threads=%d ! fakesink sync=false\n"
      "  aufhost:     aufhost -q -j %d FILTER - - < clip.y4m > /dev/null\n",
      o.frames, bench::kW, bench::kH, kThreads, std::max(1u, std::thread::hardware_concurrency()), o.runs,
      kThreads, kThreads);
  std::printf("%-18s %12s %12s %8s\n", "", "aufhost fps", "element fps", "ratio");
  for (const auto& row : kRows) {
    GstElement* pipeline = NewPipeline(caps, row.filter);
    if (pipeline == nullptr) {
      std::fprintf(stderr, "gst_bench: cannot link the pipeline\n");
      return 1;
    }
    const std::vector<std::string> args = {"-q", "-j", std::to_string(kThreads), row.filter, "-", "-"};
    double tool = 1e30, gst = 1e30;
    for (int r = 0; r < o.runs; ++r) {
      tool = std::min(tool, RunAufhost(o, clip, args));
      gst = std::min(gst, RunPipeline(pipeline));
    }
    gst_object_unref(pipeline);
    std::printf("%-18s %12.1f %12.1f %8.2f  %s\n", row.label, o.frames / tool, o.frames / gst, tool / gst,
                bench::Verdict({row.label, tool / gst, row.ratio, bench::Target::kAtLeast, ""}).c_str());
  }
  gst_buffer_pool_set_active(g_feed.pool, FALSE);
  gst_object_unref(g_feed.pool);
  gst_caps_unref(caps);
  unlink(clip.c_str());
  rmdir(clip.substr(0, clip.find_last_of('/')).c_str());
  return 0;
}
