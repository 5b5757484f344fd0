#include "gst/filter_element.h"

#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "auf_version.h"
#include "core/cpu.h"
#include "core/picture.h"
#include "core/track_values.h"
#include "core/worker_pool.h"
#include "hostkit/builtin_filters.h"
#include "hostkit/planar.h"

GST_DEBUG_CATEGORY_STATIC(filter_debug);
#define GST_CAT_DEFAULT filter_debug

namespace gsthost {
namespace {

// The layouts taken, each as the Y4M layout aufhost converts the same way, or with `pairs` (Cb and Cr
// interleaved in one plane) as the 4:2:0 planes they interleave. Component 1 is Cb whatever the order
// of the planes or of a pair (YV12 stores Cr first, NV21 each pair's Cr first).
struct FormatEntry {
  GstVideoFormat format;
  io::Chroma chroma;
  int bit_depth;
  bool pairs = false;
};
constexpr FormatEntry kFormats[] = {
    {GST_VIDEO_FORMAT_I420, io::Chroma::k420, 8},
    {GST_VIDEO_FORMAT_YV12, io::Chroma::k420, 8},
    {GST_VIDEO_FORMAT_Y42B, io::Chroma::k422, 8},
    {GST_VIDEO_FORMAT_Y444, io::Chroma::k444, 8},
    {GST_VIDEO_FORMAT_GRAY8, io::Chroma::kMono, 8},
    {GST_VIDEO_FORMAT_I420_10LE, io::Chroma::k420, 10},
    {GST_VIDEO_FORMAT_NV12, io::Chroma::k420, 8, true},
    {GST_VIDEO_FORMAT_NV21, io::Chroma::k420, 8, true},
    {GST_VIDEO_FORMAT_P010_10LE, io::Chroma::k420, 10, true},
    {GST_VIDEO_FORMAT_I422_10LE, io::Chroma::k422, 10},
    {GST_VIDEO_FORMAT_Y444_10LE, io::Chroma::k444, 10},
    {GST_VIDEO_FORMAT_I420_12LE, io::Chroma::k420, 12},
    {GST_VIDEO_FORMAT_I422_12LE, io::Chroma::k422, 12},
    {GST_VIDEO_FORMAT_Y444_12LE, io::Chroma::k444, 12},
    {GST_VIDEO_FORMAT_GRAY16_LE, io::Chroma::kMono, 16},
};

const FormatEntry* FindFormat(GstVideoFormat format) {
  for (const FormatEntry& f : kFormats)
    if (f.format == format) return &f;
  return nullptr;
}

constexpr int kMaxThreads = 256;  // as aufhost's -j

// The filter's tracks, one property each, in the core's order.
std::span<const core::Track> TracksOf(const core::FilterCore& core) {
  return {core.tracks, static_cast<size_t>(core.track_count)};
}

// What one element keeps. The settings are written by any thread and read once a frame under their
// lock; the rest belongs to the streaming thread, which holds the stream lock while it uses it.
struct State {
  explicit State(const core::FilterCore& f)
      : core(f), tracks(core::DefaultTrackValues(f)), frame_tracks(tracks) {}

  bool ChangesNothing() const {
    return core.changes_nothing != nullptr && core.changes_nothing(tracks.data());
  }

  const core::FilterCore& core;
  std::mutex mutex;
  std::vector<int32_t> tracks;  // in the core's order
  int threads = 0;              // 0: one per core

  // GStreamer stops the streaming thread before it frees an element, with locks of its own; taking
  // this one too before the frees orders the last frame before them for any checker.
  std::mutex stream_mutex;
  std::vector<int32_t> frame_tracks;  // the settings of the frame in hand
  std::unique_ptr<core::WorkerPool> pool;
  core::Picture frame;                 // the host's pixels, reshaped only when the caps change
  std::vector<core::YcPixel> scratch;  // the filter's scratch plane, where it needs one
  io::PlanarLayout layout;
  const io::PlanarDsp* planar = nullptr;
  core::CpuFlags cpu = core::DetectCpuFlags();
};

struct FilterElement {
  GstVideoFilter parent;
  State* state;
};

struct FilterElementClass {
  GstVideoFilterClass parent;
  GstVideoFilterClass* parent_class;
  GstFlowReturn (*parent_transform_ip)(GstBaseTransform*, GstBuffer*);
  const core::FilterCore* core;
};

FilterElementClass* ClassOf(gpointer object) {
  return reinterpret_cast<FilterElementClass*>(G_OBJECT_GET_CLASS(object));
}
State& StateOf(gpointer object) { return *reinterpret_cast<FilterElement*>(object)->state; }

// Properties 1 .. n are the n tracks in the core's order, then threads.
guint ThreadsProperty(const FilterElementClass* klass) { return guint(klass->core->track_count + 1); }
bool IsTrackProperty(const FilterElementClass* klass, guint id) {
  return id >= 1 && id <= guint(klass->core->track_count);
}

// "Gst" and each word capitalised: ("velour", "matrix") -> "GstVelourMatrix".
std::string TypeName(std::initializer_list<std::string_view> words) {
  std::string name = "Gst";
  for (std::string_view word : words)
    for (size_t i = 0; i < word.size(); ++i)
      if (word[i] != '_')
        name +=
            i == 0 || word[i - 1] == '_' ? char(std::toupper(static_cast<unsigned char>(word[i]))) : word[i];
  return name;
}

// Lower case, every run of other characters one hyphen: "MPEG-2 intra" -> "mpeg-2-intra".
std::string Nick(const std::string& label) {
  std::string nick;
  for (char c : label) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      nick += char(std::tolower(static_cast<unsigned char>(c)));
    else if (!nick.empty() && nick.back() != '-') nick += '-';
  }
  return nick;
}

// An enumeration for a list track, registered once per type name; its values live as long as the
// program, as the type system requires.
GType ListType(const core::FilterCore& core, const core::Track& t) {
  const std::string type_name = TypeName({core.name, t.name});
  if (const GType known = g_type_from_name(type_name.c_str())) return known;
  const int count = t.max - t.min + 1;
  auto* values = new GEnumValue[count + 1]();
  for (int i = 0; i < count; ++i)
    values[i] = {t.min + i, g_intern_string(t.labels[i]), g_intern_string(Nick(t.labels[i]).c_str())};
  return g_enum_register_static(g_intern_string(type_name.c_str()), values);
}

GParamSpec* TrackProperty(const core::FilterCore& core, const core::Track& t) {
  const auto flags =
      GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_NICK | G_PARAM_STATIC_BLURB | GST_PARAM_MUTABLE_PLAYING);
  const char* blurb = g_intern_string((std::string("track bar '") + t.name + "' of " + core.title).c_str());
  if (t.kind == core::TrackKind::kList)
    return g_param_spec_enum(t.name, t.name, blurb, ListType(core, t), t.def, flags);
  return g_param_spec_int(t.name, t.name, blurb, t.min, t.max, t.def, flags);
}

// Frames pass untouched while the settings change nothing; called with the settings locked.
void UpdatePassthrough(gpointer object, const State& s) {
  gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(object), s.ChangesNothing());
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec*) {
  FilterElementClass* klass = ClassOf(object);
  State& s = StateOf(object);
  std::lock_guard lock(s.mutex);
  if (id == ThreadsProperty(klass)) {
    s.threads = g_value_get_int(value);
  } else if (IsTrackProperty(klass, id)) {
    s.tracks[id - 1] = G_VALUE_HOLDS_ENUM(value) ? g_value_get_enum(value) : g_value_get_int(value);
    UpdatePassthrough(object, s);
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec*) {
  FilterElementClass* klass = ClassOf(object);
  State& s = StateOf(object);
  std::lock_guard lock(s.mutex);
  if (id == ThreadsProperty(klass)) {
    g_value_set_int(value, s.threads);
  } else if (IsTrackProperty(klass, id)) {
    if (G_VALUE_HOLDS_ENUM(value)) g_value_set_enum(value, s.tracks[id - 1]);
    else g_value_set_int(value, s.tracks[id - 1]);
  }
}

void Finalize(GObject* object) {
  State* s = reinterpret_cast<FilterElement*>(object)->state;
  s->stream_mutex.lock();
  s->stream_mutex.unlock();
  delete s;
  G_OBJECT_CLASS(ClassOf(object)->parent_class)->finalize(object);
}

gboolean SetInfo(GstVideoFilter* filter, GstCaps* caps, GstVideoInfo* in, GstCaps*, GstVideoInfo*) {
  State& s = StateOf(filter);
  std::lock_guard stream(s.stream_mutex);
  const FormatEntry* format = FindFormat(GST_VIDEO_INFO_FORMAT(in));
  const int w = GST_VIDEO_INFO_WIDTH(in), h = GST_VIDEO_INFO_HEIGHT(in);
  if (format == nullptr) {
    GST_WARNING_OBJECT(filter, "cannot filter %" GST_PTR_FORMAT, caps);
    return FALSE;
  }
  const int64_t limit = io::kMaxPixels;
  if (int64_t{w} * h > limit) {
    GST_ELEMENT_ERROR(filter, CORE, NEGOTIATION,
                      ("%dx%d frames are larger than the filters take: at most %" G_GINT64_FORMAT " pixels",
                       w, h, static_cast<gint64>(limit)),
                      (nullptr));
    return FALSE;
  }
  s.layout = io::PlanarLayoutOf(w, h, format->chroma, format->bit_depth, format->pairs);
  s.planar = &io::PlanarDspFor(s.cpu);
  GST_INFO_OBJECT(filter, "%dx%d frames, kernels of tier %s", w, h, core::CpuTierName(s.cpu));
  return TRUE;
}

io::PlanarRows RowsOf(const GstVideoFrame* frame, const io::PlanarLayout& layout) {
  io::PlanarRows rows{};
  for (guint c = 0; c < GST_VIDEO_FRAME_N_COMPONENTS(frame); ++c) {
    rows.first[c] = static_cast<uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(frame, c));
    rows.stride[c] = GST_VIDEO_FRAME_COMP_STRIDE(frame, c);
  }
  // The second sample of a pair follows the first by a whole sample. GStreamer puts it a byte after
  // the first at every depth (in P010, into the first's high byte), so only their order is taken.
  if (layout.pairs) {
    const bool cr_first = rows.first[2] < rows.first[1];
    uint8_t* pair = std::min(rows.first[1], rows.first[2]);
    rows.first[cr_first ? 2 : 1] = pair;
    rows.first[cr_first ? 1 : 2] = pair + layout.bytes;
  }
  return rows;
}

GstFlowReturn TransformFrameIp(GstVideoFilter* filter, GstVideoFrame* frame) {
  State& s = StateOf(filter);
  std::lock_guard stream(s.stream_mutex);
  int threads;
  {
    std::lock_guard lock(s.mutex);
    std::copy(s.tracks.begin(), s.tracks.end(), s.frame_tracks.begin());
    threads = s.threads > 0 ? s.threads : int(std::max(1u, std::thread::hardware_concurrency()));
  }
  if (!s.pool || s.pool->threads() != threads) {
    try {
      s.pool.reset();
      s.pool = std::make_unique<core::WorkerPool>(threads, false);
    } catch (const std::system_error& e) {
      GST_ELEMENT_ERROR(filter, RESOURCE, FAILED, ("cannot start %d worker threads", threads),
                        ("%s", e.what()));
      return GST_FLOW_ERROR;
    }
  }
  // The host's pixels and the filter's scratch, taken when the first frame of a size arrives.
  if (s.frame.w != s.layout.w || s.frame.h != s.layout.h) {
    try {
      s.frame = core::Picture();
      s.scratch = {};
      s.frame = core::Picture(s.layout.w, s.layout.h);
      core::ScratchPlane(s.core, s.frame.plane(), s.scratch);
    } catch (const std::bad_alloc&) {
      GST_ELEMENT_ERROR(filter, RESOURCE, FAILED,
                        ("not enough memory for %dx%d frames", s.layout.w, s.layout.h), (nullptr));
      return GST_FLOW_ERROR;
    }
  }
  const core::Workers workers = s.pool->workers();
  const io::PlanarRows rows = RowsOf(frame, s.layout);
  io::PlanesToFrame(*s.planar, s.layout, rows, s.frame, workers);
  core::FilterPicture(s.core, s.cpu, s.frame_tracks.data(), s.frame, s.scratch, 1, workers);
  io::FrameToPlanes(*s.planar, s.layout, s.frame, rows, workers);
  return GST_FLOW_OK;
}

// Each buffer must hold one frame: a buffer without a video meta exactly the frame's bytes, one with
// a meta the planes it describes. Anything else stops the stream with an error naming the sizes,
// whether or not the settings change anything: no frame goes on unfiltered as if filtered.
GstFlowReturn TransformIp(GstBaseTransform* trans, GstBuffer* buffer) {
  GstVideoFilter* filter = GST_VIDEO_FILTER(trans);
  if (!filter->negotiated) return ClassOf(trans)->parent_transform_ip(trans, buffer);
  const GstVideoInfo* info = &filter->in_info;
  const gsize size = gst_buffer_get_size(buffer), frame_bytes = GST_VIDEO_INFO_SIZE(info);
  const bool meta = gst_buffer_get_video_meta(buffer) != nullptr;
  if (!meta && size != frame_bytes) {
    GST_ELEMENT_ERROR(
        trans, STREAM, FORMAT,
        ("a buffer of %" G_GSIZE_FORMAT " bytes, where one %dx%d %s frame takes %" G_GSIZE_FORMAT " bytes",
         size, GST_VIDEO_INFO_WIDTH(info), GST_VIDEO_INFO_HEIGHT(info), GST_VIDEO_INFO_NAME(info),
         frame_bytes),
        ("each buffer must hold exactly one frame"));
    return GST_FLOW_ERROR;
  }
  // Passed through, the buffer is only looked at.
  const bool passthrough = gst_base_transform_is_passthrough(trans);
  GstVideoFrame frame;
  if (!gst_video_frame_map(
          &frame, const_cast<GstVideoInfo*>(info), buffer,
          passthrough ? GST_MAP_READ
                      : GstMapFlags(int(GST_MAP_READWRITE) | int(GST_VIDEO_FRAME_MAP_FLAG_NO_REF)))) {
    GST_ELEMENT_ERROR(trans, STREAM, FORMAT,
                      ("a buffer of %" G_GSIZE_FORMAT " bytes that does not hold the %dx%d %s frame %s", size,
                       GST_VIDEO_INFO_WIDTH(info), GST_VIDEO_INFO_HEIGHT(info), GST_VIDEO_INFO_NAME(info),
                       meta ? "its video meta describes" : "of the caps"),
                      (nullptr));
    return GST_FLOW_ERROR;
  }
  const GstFlowReturn result = passthrough ? GST_FLOW_OK : TransformFrameIp(filter, &frame);
  gst_video_frame_unmap(&frame);
  return result;
}

GstCaps* TemplateCaps() {
  std::string formats;
  for (const FormatEntry& f : kFormats)
    formats += std::string(formats.empty() ? "" : ", ") + gst_video_format_to_string(f.format);
  return gst_caps_from_string(("video/x-raw, format=(string){ " + formats +
                               " }, width=(int)[1, 2147483647], height=(int)[1, 2147483647], "
                               "framerate=(fraction)[0/1, 2147483647/1]")
                                  .c_str());
}

void ClassInit(gpointer g_class, gpointer data) {
  const core::FilterCore& core = *static_cast<const core::FilterCore*>(data);
  auto* klass = static_cast<FilterElementClass*>(g_class);
  klass->parent_class = static_cast<GstVideoFilterClass*>(g_type_class_peek_parent(g_class));
  klass->core = &core;

  GObjectClass* object_class = G_OBJECT_CLASS(g_class);
  object_class->set_property = SetProperty;
  object_class->get_property = GetProperty;
  object_class->finalize = Finalize;
  const std::span<const core::Track> tracks = TracksOf(core);
  for (size_t i = 0; i < tracks.size(); ++i)
    g_object_class_install_property(object_class, guint(i + 1), TrackProperty(core, tracks[i]));
  g_object_class_install_property(
      object_class, ThreadsProperty(klass),
      g_param_spec_int("threads", "threads",
                       "worker threads (0: one per core); the result is the same for every count", 0,
                       kMaxThreads, 0,
                       GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING)));

  GstElementClass* element_class = GST_ELEMENT_CLASS(g_class);
  gst_element_class_set_metadata(
      element_class, core.title, "Filter/Effect/Video",
      g_intern_string((std::string("The ") + core.name +
                       " filter, in place on planar Y'CbCr, byte for byte as aufhost filters Y4M")
                          .c_str()),
      AUF_AUTHORS);
  for (GstPadDirection direction : {GST_PAD_SINK, GST_PAD_SRC}) {
    GstCaps* caps = TemplateCaps();
    gst_element_class_add_pad_template(
        element_class,
        gst_pad_template_new(direction == GST_PAD_SINK ? "sink" : "src", direction, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);
  }

  // Passed through or not, every buffer's size is checked.
  GstBaseTransformClass* transform_class = GST_BASE_TRANSFORM_CLASS(g_class);
  klass->parent_transform_ip = transform_class->transform_ip;
  transform_class->transform_ip = TransformIp;
  transform_class->transform_ip_on_passthrough = TRUE;
  GstVideoFilterClass* video_class = GST_VIDEO_FILTER_CLASS(g_class);
  video_class->set_info = SetInfo;
  // TransformIp calls it; set, it also keeps the base class from turning the check off in passthrough.
  video_class->transform_frame_ip = TransformFrameIp;
}

void InstanceInit(GTypeInstance* instance, gpointer g_class) {
  auto* element = reinterpret_cast<FilterElement*>(instance);
  const auto* klass = static_cast<FilterElementClass*>(g_class);
  element->state = new State(*klass->core);
  gst_base_transform_set_in_place(GST_BASE_TRANSFORM(instance), TRUE);
  std::lock_guard lock(element->state->mutex);
  UpdatePassthrough(instance, *element->state);
}

GType ElementType(const core::FilterCore& core) {
  const std::string name = TypeName({core.name});
  if (const GType known = g_type_from_name(name.c_str())) return known;
  const GTypeInfo info = {sizeof(FilterElementClass), nullptr, nullptr,      ClassInit, nullptr, &core,
                          sizeof(FilterElement),      0,       InstanceInit, nullptr};
  return g_type_register_static(GST_TYPE_VIDEO_FILTER, name.c_str(), &info, GTypeFlags(0));
}

}  // namespace

bool RegisterElements(GstPlugin* plugin, std::span<const core::FilterCore* const> cores) {
  GST_DEBUG_CATEGORY_INIT(filter_debug, "velourdeblock", 0, "velour and deblock elements");
  for (const core::FilterCore* core : cores)
    if (!gst_element_register(plugin, core->name, GST_RANK_NONE, ElementType(*core))) return false;
  return true;
}

gboolean RegisterBuiltinElements(GstPlugin* plugin) {
  return RegisterElements(plugin, hostkit::BuiltinFilters());
}

bool RegisterPluginStatically() {
  return gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "velourdeblock", kPluginDescription,
                                    RegisterBuiltinElements, AUF_VERSION, kPluginLicense, kPluginSource,
                                    kPluginPackage, kPluginOrigin);
}

}  // namespace gsthost
