// The GStreamer elements against aufhost. In GStreamer's test harness (the elements registered in this
// program) a frame comes out with aufhost's bytes for the same frame and settings, in every layout and
// at any thread count, and every byte around the picture as it went in; the properties are the track
// bars; other layouts are refused; frames pass untouched when the settings change nothing. Then the
// plug-in library itself, in gst-launch-1.0 pipelines of core elements, against aufhost run on the
// same frames.
#include <gst/base/gstbasetransform.h>
#include <gst/check/gstharness.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>

#include "gst/filter_element.h"
#include "tests/tools/aufhost_run.h"

// Every operator new of this program is counted: the elements' steady state allocates nothing.
namespace {
std::atomic<long> g_allocations{0};
}  // namespace
void* operator new(size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n > 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using namespace aufhost_test;
using Tracks = std::vector<std::pair<std::string, int32_t>>;

// The test's own GStreamer: the elements registered in this program, no plug-in loaded from disk, a
// registry file of its own.
class GstEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    registry_ = "/tmp/element_test_registry." + std::to_string(getpid()) + ".bin";
    setenv("GST_REGISTRY_1_0", registry_.c_str(), 1);
    setenv("GST_REGISTRY_FORK", "no", 1);
    setenv("GST_PLUGIN_SYSTEM_PATH_1_0", "", 1);
    setenv("GST_PLUGIN_PATH_1_0", "", 1);
    gst_init(nullptr, nullptr);
    ASSERT_TRUE(gsthost::RegisterPluginStatically());
  }
  void TearDown() override { unlink(registry_.c_str()); }

 private:
  std::string registry_;
};
[[maybe_unused]] const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new GstEnvironment);

// The layouts the elements take, with the Y4M colour tag of the same layout for aufhost: for Cb and Cr
// in pairs (which Y4M has not), the layout of the planes they interleave, whose samples are the pairs'
// levels (P010's high ten bits).
struct Layout {
  GstVideoFormat format;
  const char* y4m_colour;
};
constexpr Layout kLayouts[] = {{GST_VIDEO_FORMAT_I420, "420jpeg"},     {GST_VIDEO_FORMAT_YV12, "420jpeg"},
                               {GST_VIDEO_FORMAT_Y42B, "422"},         {GST_VIDEO_FORMAT_Y444, "444"},
                               {GST_VIDEO_FORMAT_GRAY8, "mono"},       {GST_VIDEO_FORMAT_I420_10LE, "420p10"},
                               {GST_VIDEO_FORMAT_NV12, "420jpeg"},     {GST_VIDEO_FORMAT_NV21, "420jpeg"},
                               {GST_VIDEO_FORMAT_P010_10LE, "420p10"}, {GST_VIDEO_FORMAT_I422_10LE, "422p10"},
                               {GST_VIDEO_FORMAT_Y444_10LE, "444p10"}, {GST_VIDEO_FORMAT_I420_12LE, "420p12"},
                               {GST_VIDEO_FORMAT_I422_12LE, "422p12"}, {GST_VIDEO_FORMAT_Y444_12LE, "444p12"},
                               {GST_VIDEO_FORMAT_GRAY16_LE, "mono16"}};

const char* Y4mColourOf(GstVideoFormat format) {
  for (const Layout& l : kLayouts)
    if (l.format == format) return l.y4m_colour;
  return nullptr;
}

// GStreamer's own layout of a frame, or with `padded` one with room around the picture, planes and
// rows further apart than their samples need (buffers then carry it in a video meta).
GstVideoInfo InfoOf(GstVideoFormat format, int w, int h, bool padded) {
  GstVideoInfo info;
  gst_video_info_set_format(&info, format, w, h);
  if (padded) {
    GstVideoAlignment align;
    gst_video_alignment_reset(&align);
    align.padding_top = 2;
    align.padding_bottom = 4;
    align.padding_left = 6;
    align.padding_right = 10;
    for (guint& a : align.stride_align) a = 31;
    gst_video_info_align(&info, &align);
  }
  return info;
}

// What the pictures look like: tiles of flat levels around the middle grey, `span` levels apart at
// most, plus up to `noise` levels (on the 8-bit scale; deeper samples have noise in their further
// bits too); 10- and 12-bit words now and then above their largest level, which both hosts clamp,
// and P010's low six bits, which both leave, at random.
struct Content {
  int tile = 8, span = 12, noise = 2;
};

// Where each sample of a component lies and what it holds.
struct Component {
  int bytes;    // of a sample: 1, or 2 for words
  int pstride;  // bytes from a sample to the next of the component
  int depth;    // bits of a level
  int shift;    // of the level within its word
};

Component ComponentOf(const GstVideoFrame& frame, guint c) {
  const int depth = GST_VIDEO_FORMAT_INFO_DEPTH(frame.info.finfo, c);
  return {depth > 8 ? 2 : 1, GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, c), depth,
          int(GST_VIDEO_FORMAT_INFO_SHIFT(frame.info.finfo, c))};
}

// Where component c's first sample lies in its plane's rows. Of components in pairs the second lies a
// sample after the first: GStreamer gives it a byte after at every depth (into P010's first word).
int OffsetOf(const GstVideoFrame& frame, guint c) {
  const Component k = ComponentOf(frame, c);
  const int offset = GST_VIDEO_FORMAT_INFO_POFFSET(frame.info.finfo, c);
  return k.pstride > k.bytes && offset > 0 ? k.bytes : offset;
}

// Visits every row of the picture in a mapped frame: f(component, row, first sample, samples, what
// they are).
template <class Fn>
void ForEachPictureRow(const GstVideoFrame& frame, const Fn& f) {
  for (guint c = 0; c < GST_VIDEO_FRAME_N_COMPONENTS(&frame); ++c) {
    const guint plane = GST_VIDEO_FORMAT_INFO_PLANE(frame.info.finfo, c);
    for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(&frame, c); ++y)
      f(c, y,
        static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane)) +
            y * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane) + OffsetOf(frame, c),
        GST_VIDEO_FRAME_COMP_WIDTH(&frame, c), ComponentOf(frame, c));
  }
}

GstBuffer* MakeBuffer(const GstVideoInfo& info, bool meta, uint32_t seed, const Content& content = {}) {
  testsupport::Rng rng(seed);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  for (gsize i = 0; i < map.size; i += 8) {
    const uint64_t v = rng.Next();
    std::memcpy(map.data + i, &v, std::min<gsize>(8, map.size - i));
  }
  gst_buffer_unmap(buffer, &map);
  if (meta)
    gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_INFO_FORMAT(&info),
                                   GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                                   GST_VIDEO_INFO_N_PLANES(&info), const_cast<gsize*>(info.offset),
                                   const_cast<gint*>(info.stride));
  GstVideoFrame frame;
  EXPECT_TRUE(gst_video_frame_map(&frame, const_cast<GstVideoInfo*>(&info), buffer, GST_MAP_WRITE));
  std::vector<int> tiles;
  ForEachPictureRow(frame, [&](guint, int y, uint8_t* row, int samples, const Component& c) {
    if (y % content.tile == 0) {
      tiles.resize(size_t(samples / content.tile + 1));
      for (int& t : tiles) t = 128 + rng.Uniform(-content.span / 2, content.span / 2);
    }
    for (int x = 0; x < samples; ++x) {
      const int level = tiles[size_t(x / content.tile)] + rng.Uniform(0, content.noise);
      uint8_t* at = row + x * c.pstride;
      if (c.bytes == 1) {
        *at = uint8_t(level);
        continue;
      }
      const int deeper = c.depth - 8, max = (1 << c.depth) - 1;
      int word = (level << deeper) + rng.Uniform(0, (1 << deeper) - 1);
      if (c.shift > 0) word = word << c.shift | rng.Uniform(0, (1 << c.shift) - 1);
      else if (c.depth < 16 && rng.Uniform(0, 63) == 0) word = rng.Uniform(max + 1, 65535);
      at[0] = uint8_t(word);
      at[1] = uint8_t(word >> 8);
    }
  });
  gst_video_frame_unmap(&frame);
  return buffer;
}

// A frame's picture, component after component and row after row as Y4M stores its planes (words with
// their levels still shifted), and the rest of its buffer: every byte with the picture's bytes zeroed.
struct Split {
  std::string planes;
  std::string around;
  int shift = 0;  // of every level within its word
};

Split SplitOf(const GstVideoInfo& info, GstBuffer* buffer) {
  Split s;
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_READ);
  s.around.assign(reinterpret_cast<const char*>(map.data), map.size);
  GstVideoFrame frame;
  EXPECT_TRUE(gst_video_frame_map(&frame, const_cast<GstVideoInfo*>(&info), buffer, GST_MAP_READ));
  ForEachPictureRow(frame, [&](guint, int, uint8_t* row, int samples, const Component& c) {
    s.shift = c.shift;
    for (int x = 0; x < samples; ++x) {
      const size_t at = size_t(row + x * c.pstride - map.data);
      s.planes.append(reinterpret_cast<const char*>(map.data + at), size_t(c.bytes));
      s.around.replace(at, size_t(c.bytes), size_t(c.bytes), '\0');
    }
  });
  gst_video_frame_unmap(&frame);
  gst_buffer_unmap(buffer, &map);
  EXPECT_EQ(s.around.size(), map.size);  // every row inside the buffer
  return s;
}

// Every little-endian word of `samples` shifted down by `shift` bits (up for a negative one): a
// picture's levels as Y4M stores them, and back.
std::string ShiftWords(std::string samples, int shift) {
  for (size_t i = 0; shift != 0 && i + 1 < samples.size(); i += 2) {
    const int word = uint8_t(samples[i]) | uint8_t(samples[i + 1]) << 8;
    const int v = shift > 0 ? word >> shift : word << -shift;
    samples[i] = char(v & 0xFF), samples[i + 1] = char(v >> 8 & 0xFF);
  }
  return samples;
}

std::string Y4mHeader(const GstVideoInfo& info) {
  return "YUV4MPEG2 W" + std::to_string(GST_VIDEO_INFO_WIDTH(&info)) + " H" +
         std::to_string(GST_VIDEO_INFO_HEIGHT(&info)) + " F25:1 C" +
         Y4mColourOf(GST_VIDEO_INFO_FORMAT(&info)) + "\n";
}

// The planes of each frame of a Y4M stream whose frames carry no tags.
std::vector<std::string> FramesOfY4m(const std::string& y4m, size_t planes) {
  std::vector<std::string> frames;
  for (size_t at = y4m.find('\n') + 1; at + 6 + planes <= y4m.size(); at += 6 + planes)
    frames.push_back(y4m.substr(at + 6, planes));
  return frames;
}

// aufhost's bytes for a frame's planes: its Y4M reader, the built-in filter as it runs it by default,
// its Y4M writer.
std::string AufhostPlanes(const std::string& filter, const GstVideoInfo& info, const std::string& planes,
                          const Tracks& tracks) {
  const std::string y4m = Y4mHeader(info) + "FRAME\n" + planes;
  std::vector<core::Picture> frames = ReadAllFrames(io::Format::kY4m, y4m);
  FilterInProcess(filter, frames.at(0), tracks);
  return FramesOfY4m(EncodeFrames(io::Format::kY4m, aufhost_test::InfoOf(y4m), frames), planes.size()).at(0);
}

// Where two byte strings first differ, or "" where they do not (not a megabyte of bytes on failure).
std::string FirstDifference(const std::string& expected, const std::string& actual) {
  if (expected.size() != actual.size())
    return std::to_string(actual.size()) + " bytes, not " + std::to_string(expected.size());
  const auto [e, a] = std::mismatch(expected.begin(), expected.end(), actual.begin());
  if (e == expected.end()) return "";
  return "byte " + std::to_string(e - expected.begin()) + " is " + std::to_string(uint8_t(*a)) + ", not " +
         std::to_string(uint8_t(*e));
}

class Harness {
 public:
  Harness(const char* filter, const GstVideoInfo& info) : h_(gst_harness_new(filter)) {
    GstCaps* caps = gst_video_info_to_caps(const_cast<GstVideoInfo*>(&info));
    gst_harness_set_src_caps(h_, caps);
  }
  explicit Harness(const char* filter) : h_(gst_harness_new(filter)) {}
  ~Harness() { gst_harness_teardown(h_); }
  GstHarness* get() const { return h_; }
  GObject* element() const { return G_OBJECT(h_->element); }
  void Set(const Tracks& tracks) {
    for (const auto& [name, value] : tracks) g_object_set(element(), name.c_str(), value, nullptr);
  }

 private:
  GstHarness* h_;
};

// Errors the element posts, one at a time.
class Bus {
 public:
  explicit Bus(const Harness& h) : bus_(gst_bus_new()) { gst_element_set_bus(h.get()->element, bus_); }
  ~Bus() { gst_object_unref(bus_); }
  // The next error's message, or "" for none.
  std::string Error() {
    GstMessage* m = gst_bus_pop_filtered(bus_, GST_MESSAGE_ERROR);
    if (m == nullptr) return "";
    GError* error = nullptr;
    gst_message_parse_error(m, &error, nullptr);
    const std::string text = error->message;
    g_error_free(error);
    gst_message_unref(m);
    return text;
  }

 private:
  GstBus* bus_;
};

struct Case {
  const char* filter;
  GstVideoFormat format;
  int w, h;
  Tracks tracks;
  bool padded = false;
  Content content = {};
};

// The shared checker: a frame for each thread count through one element with the case's settings,
// each expected to come out with aufhost's bytes for the same frame and settings, and every byte
// around its picture as it went in.
void ExpectAufhostBytes(const Case& c, std::initializer_list<int> threads = {1, 2, 7}) {
  const GstVideoInfo info = InfoOf(c.format, c.w, c.h, c.padded);
  Harness h(c.filter, info);
  h.Set(c.tracks);
  uint32_t seed = testsupport::TestSeed();
  for (int t : threads) {
    SCOPED_TRACE("threads " + std::to_string(t) + ", seed " + std::to_string(seed));
    g_object_set(h.element(), "threads", t, nullptr);
    GstBuffer* in = MakeBuffer(info, c.padded, seed++, c.content);
    const Split before = SplitOf(info, in);
    GstBuffer* out = gst_harness_push_and_pull(h.get(), in);
    ASSERT_NE(out, nullptr);
    const Split after = SplitOf(info, out);
    const std::string aufhost =
        AufhostPlanes(c.filter, info, ShiftWords(before.planes, before.shift), c.tracks);
    EXPECT_EQ(FirstDifference(ShiftWords(aufhost, -before.shift), after.planes), "");
    EXPECT_EQ(FirstDifference(before.around, after.around), "") << " (around the picture)";
    gst_buffer_unref(out);
  }
}

std::string CaseName(const Case& c) {
  std::string name = std::string(c.filter) + "_" + gst_video_format_to_string(c.format) + "_" +
                     std::to_string(c.w) + "x" + std::to_string(c.h);
  for (const auto& [track, value] : c.tracks) name += "_" + track + std::to_string(value);
  if (c.padded) name += "_padded";
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

void PrintTo(const Case& c, std::ostream* os) { *os << CaseName(c); }

std::vector<Case> Cases() {
  const Tracks strong_velour = {{"quant", 4}, {"n_shift", 64}, {"matrix", 0}, {"zero_weight", 3}};
  const Tracks flat_velour = {{"n_shift", 3}, {"matrix", 4}};
  const Tracks strong_deblock = {{"quant", 40}, {"aOffset", 10}, {"bOffset", 5}};
  const Tracks top_deblock = {{"quant", 51}, {"aOffset", 9}, {"bOffset", 60}};
  std::vector<Case> cases;
  for (const Layout& l : kLayouts) {
    for (const auto& [w, h] : {std::pair{1, 1}, std::pair{17, 9}}) {
      cases.push_back({"velour", l.format, w, h, {}});
      cases.push_back({"deblock", l.format, w, h, {}});
    }
    cases.push_back({"velour", l.format, 35, 19, strong_velour, true});
    cases.push_back({"deblock", l.format, 35, 19, strong_deblock, true});
  }
  cases.push_back({"velour", GST_VIDEO_FORMAT_I420, 1921, 1081, {}});
  cases.push_back({"deblock", GST_VIDEO_FORMAT_I420, 1921, 1081, strong_deblock});
  cases.push_back({"velour", GST_VIDEO_FORMAT_Y42B, 64, 33, flat_velour, true});
  cases.push_back({"deblock", GST_VIDEO_FORMAT_I420_10LE, 1921, 1081, top_deblock});
  cases.push_back({"deblock", GST_VIDEO_FORMAT_GRAY8, 40, 24, top_deblock});
  cases.push_back({"deblock", GST_VIDEO_FORMAT_NV12, 1921, 1081, strong_deblock});
  cases.push_back({"velour", GST_VIDEO_FORMAT_P010_10LE, 643, 361, strong_velour, true});
  cases.push_back({"deblock", GST_VIDEO_FORMAT_GRAY16_LE, 40, 24, top_deblock});
  return cases;
}

class Element : public ::testing::TestWithParam<Case> {};

TEST_P(Element, GivesAufhostsBytesAtAnyThreadCount) { ExpectAufhostBytes(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Gst, Element, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& i) { return CaseName(i.param); });

// Counts the warnings GLib gives while it lives.
class WarningCounter {
 public:
  WarningCounter() : id_(g_log_set_handler("GLib-GObject", G_LOG_LEVEL_WARNING, &Count, &count_)) {}
  ~WarningCounter() { g_log_remove_handler("GLib-GObject", id_); }
  int count() const { return count_; }

 private:
  static void Count(const gchar*, GLogLevelFlags, const gchar*, gpointer data) { ++*static_cast<int*>(data); }
  int count_ = 0;
  guint id_;
};

int IntProperty(GObject* object, const char* name) {
  GValue v = G_VALUE_INIT;
  g_value_init(&v, G_TYPE_INT);
  g_object_get_property(object, name, &v);  // an enumeration's value transforms to int
  return g_value_get_int(&v);
}

// Each track a property of its name, range and default (velour's matrix an enumeration of its five
// matrices); a value out of range refused as GLib refuses it; threads 0 .. 256.
TEST(GstElement, PropertiesAreTheTrackBars) {
  const char* const matrix_nicks[] = {"jpeg-luma", "mpeg-2-intra", "diagonal-ramp", "gentle-ramp", "flat"};
  const char* const matrix_names[] = {"JPEG luma", "MPEG-2 intra", "diagonal ramp", "gentle ramp", "flat"};
  for (const core::FilterCore* core : hostkit::BuiltinFilters()) {
    GstElement* e = gst_element_factory_make(core->name, nullptr);
    ASSERT_NE(e, nullptr);
    GObject* o = G_OBJECT(e);
    for (int i = 0; i < core->track_count; ++i) {
      const core::Track& track = core->tracks[i];
      const char* name = track.name;
      SCOPED_TRACE(std::string(core->name) + " " + name);
      GParamSpec* p = g_object_class_find_property(G_OBJECT_GET_CLASS(o), name);
      ASSERT_NE(p, nullptr);
      const bool list = track.kind == core::TrackKind::kList;
      ASSERT_EQ(bool(G_IS_PARAM_SPEC_ENUM(p)), list);
      int min, max, def;
      if (list) {
        const GEnumClass* values = G_PARAM_SPEC_ENUM(p)->enum_class;
        min = values->minimum, max = values->maximum, def = G_PARAM_SPEC_ENUM(p)->default_value;
        ASSERT_EQ(values->n_values, 5u);
        for (int v = 0; v < 5; ++v) {
          EXPECT_EQ(values->values[v].value, v);
          EXPECT_STREQ(values->values[v].value_nick, matrix_nicks[v]);
          EXPECT_STREQ(values->values[v].value_name, matrix_names[v]);
          gst_util_set_object_arg(o, name, matrix_nicks[4 - v]);  // as gst-launch sets it
          EXPECT_EQ(IntProperty(o, name), 4 - v);
        }
        g_object_set(o, name, def, nullptr);
      } else {
        min = G_PARAM_SPEC_INT(p)->minimum, max = G_PARAM_SPEC_INT(p)->maximum;
        def = G_PARAM_SPEC_INT(p)->default_value;
      }
      EXPECT_EQ(min, track.min);
      EXPECT_EQ(max, track.max);
      EXPECT_EQ(def, track.def);
      for (int wrong : {min - 1, max + 1}) {
        WarningCounter warnings;
        g_object_set(o, name, wrong, nullptr);
        EXPECT_EQ(warnings.count(), 1) << wrong;
        EXPECT_EQ(IntProperty(o, name), def) << wrong;
      }
      g_object_set(o, name, max, nullptr);
      EXPECT_EQ(IntProperty(o, name), max);
    }
    const GParamSpecInt* threads =
        G_PARAM_SPEC_INT(g_object_class_find_property(G_OBJECT_GET_CLASS(o), "threads"));
    EXPECT_EQ(threads->minimum, 0);
    EXPECT_EQ(threads->maximum, 256);
    EXPECT_EQ(threads->default_value, 0);
    gst_object_unref(e);
  }
}

TEST(GstElement, TakesItsPlanarLayoutsAndRefusesTheRest) {
  for (const char* filter : {"velour", "deblock"}) {
    SCOPED_TRACE(filter);
    Harness h(filter);
    GstPad* sink = gst_element_get_static_pad(h.get()->element, "sink");
    auto accepts = [&](const std::string& format) {
      GstCaps* caps =
          gst_caps_from_string(("video/x-raw, format=" + format + ", width=17, height=9").c_str());
      const bool ok = gst_pad_query_accept_caps(sink, caps);
      gst_caps_unref(caps);
      return ok;
    };
    for (const Layout& l : kLayouts) EXPECT_TRUE(accepts(gst_video_format_to_string(l.format)));
    for (const char* format :
         {"RGB", "YUY2", "NV16", "NV24", "I420_10BE", "Y444_16LE", "GRAY16_BE", "GRAY10_LE32"})
      EXPECT_FALSE(accepts(format)) << format;
    gst_object_unref(sink);

    // Caps that fit the template but not the filter fail at negotiation: pictures larger than aufhost
    // reads, with an error that names the limit. The largest it reads is taken: a buffer that does
    // not fit it is then refused for its size.
    for (const auto& [size, taken] :
         {std::pair{"8192, height=8192", true}, std::pair{"8193, height=8192", false}}) {
      Harness h(filter);
      Bus bus(h);
      const std::string caps = std::string("video/x-raw, format=I420, framerate=25/1, width=") + size;
      GstSegment segment;
      gst_segment_init(&segment, GST_FORMAT_TIME);
      gst_pad_push_event(h.get()->srcpad, gst_event_new_stream_start("caps"));
      gst_pad_push_event(h.get()->srcpad, gst_event_new_caps(gst_caps_from_string(caps.c_str())));
      gst_pad_push_event(h.get()->srcpad, gst_event_new_segment(&segment));
      EXPECT_EQ(gst_harness_push(h.get(), gst_buffer_new_allocate(nullptr, 192, nullptr)),
                taken ? GST_FLOW_ERROR : GST_FLOW_NOT_NEGOTIATED)
          << caps;
      EXPECT_EQ(bus.Error(),
                taken ? "a buffer of 192 bytes, where one 8192x8192 I420 frame takes 100663296 bytes"
                      : "8193x8192 frames are larger than the filters take: at most 67108864 pixels");
    }
  }
}

// deblock's thresholds: alpha from quant + aOffset, beta from quant + bOffset; either 0 (index 15 or
// less) leaves every sample.
TEST(GstElement, DeblockPassesFramesThroughExactlyWhenItChangesNothing) {
  const struct {
    int quant, a_offset, b_offset;
    bool passes;
  } rows[] = {{15, 0, 0, true},  {16, 0, 0, false},  {10, 0, 20, true},   {10, 20, 0, true},
              {0, 15, 60, true}, {0, 16, 16, false}, {60, 60, 60, false}, {0, 0, 0, true}};
  const Content gentle = {4, 2, 0};  // steps of a level or two at the 4x4 grid
  const core::FilterCore& core = *hostkit::FindBuiltinFilter("deblock");
  const GstVideoInfo info = InfoOf(GST_VIDEO_FORMAT_I420, 33, 17, false);
  Harness toggled("deblock", info);  // one element through every row: its passthrough follows
  for (const auto& r : rows) {
    const Tracks tracks = {{"quant", r.quant}, {"aOffset", r.a_offset}, {"bOffset", r.b_offset}};
    SCOPED_TRACE(CaseName({"deblock", GST_VIDEO_FORMAT_I420, 33, 17, tracks}));
    // The core's word against its reference, on steps of a level or two that the smallest thresholds
    // filter.
    const int32_t values[] = {r.quant, r.a_offset, r.b_offset};
    core::Picture frame(48, 32);
    for (int y = 0; y < frame.h; ++y)
      for (int x = 0; x < frame.w; ++x) frame.at(x, y).y = int16_t(16 * (128 + (x / 4 + y / 4) % 3) + x % 7);
    const core::Picture before = frame;
    core.reference(values, frame.plane(), 1);
    EXPECT_EQ(core.changes_nothing(values), std::memcmp(frame.pixels.data(), before.pixels.data(),
                                                        frame.pixels.size() * sizeof(core::YcPixel)) == 0);

    // A buffer held elsewhere too: filtered, a copy comes out and the buffer stays as it is; passed
    // through, the very buffer.
    toggled.Set(tracks);
    EXPECT_EQ(bool(gst_base_transform_is_passthrough(GST_BASE_TRANSFORM(toggled.element()))), r.passes);
    GstBuffer* in = MakeBuffer(info, false, 11, gentle);
    const std::string bytes_in = SplitOf(info, in).around;
    GstBuffer* out = gst_harness_push_and_pull(toggled.get(), gst_buffer_ref(in));
    EXPECT_EQ(out == in, r.passes);
    EXPECT_EQ(SplitOf(info, in).around, bytes_in);
    gst_buffer_unref(out);
    gst_buffer_unref(in);

    ExpectAufhostBytes({"deblock", GST_VIDEO_FORMAT_I420, 33, 17, tracks, false, gentle}, {2});
  }
  EXPECT_EQ(hostkit::FindBuiltinFilter("velour")->changes_nothing, nullptr);  // velour always has work
}

TEST(GstElement, AllocatesNothingPerFrameOnceRunning) {
  const GstVideoInfo info = InfoOf(GST_VIDEO_FORMAT_I420, 64, 48, false);
  for (const char* filter : {"velour", "deblock"}) {
    Harness h(filter, info);
    for (int threads : {2, 3}) {
      g_object_set(h.element(), "threads", threads, nullptr);
      gst_buffer_unref(gst_harness_push_and_pull(h.get(), MakeBuffer(info, false, 1)));  // starts the workers
      for (uint32_t i = 0; i < 4; ++i) {
        GstBuffer* in = MakeBuffer(info, false, i);
        const long allocations = g_allocations.load();
        GstBuffer* out = gst_harness_push_and_pull(h.get(), in);
        EXPECT_EQ(g_allocations.load() - allocations, 0)
            << filter << ", threads " << threads << ", frame " << i;
        gst_buffer_unref(out);
      }
    }
  }
}

// gst-launch-1.0 and gst-inspect-1.0 with the plug-in library of this build and a registry of their
// own; under a sanitizer, its run-time loaded first (the library needs it; the tools do not have it).
Result RunGstTool(const TempDir& dir, const std::string& tool, const std::vector<std::string>& args,
                  int status = 0) {
  std::vector<std::string> env = {"-u", "GST_PLUGIN_SYSTEM_PATH_1_0",
                                  "GST_PLUGIN_PATH_1_0=" AUF_BUILD_DIR "/gst",
                                  "GST_REGISTRY_1_0=" + dir / "registry.bin", "GST_REGISTRY_FORK=no"};
#if defined(SANITIZER_RUNTIME)
  env.insert(env.end(), {"LD_PRELOAD=" SANITIZER_RUNTIME, SANITIZER_OPTIONS});
#endif
  env.push_back(tool);
  env.insert(env.end(), args.begin(), args.end());
  const Result r = RunProgram("/usr/bin/env", env);
  EXPECT_EQ(r.status, status) << tool << " (status 127: not installed): " << r.err << r.out;
  return r;
}

// A buffer that is not one frame stops the stream with an error naming the sizes, filtered or passed
// through alike: never a frame out unfiltered as if filtered. In gst-launch-1.0, a stream whose last
// frame is cut short ends with a failing status.
TEST(GstElement, BuffersOfAnyOtherSizeStopTheStream) {
  const GstVideoInfo info = InfoOf(GST_VIDEO_FORMAT_I420, 16, 8, false),
                     padded = InfoOf(GST_VIDEO_FORMAT_I420, 16, 8, true);
  const gsize frame = GST_VIDEO_INFO_SIZE(&info);
  for (const auto& [filter, tracks] :
       {std::pair{"velour", Tracks{}}, std::pair{"deblock", Tracks{{"quant", 10}}}}) {
    for (const gsize size : {gsize{1}, frame - 1, 2 * frame}) {
      SCOPED_TRACE(std::string(filter) + ", " + std::to_string(size) + " bytes");
      Harness h(filter, info);
      h.Set(tracks);
      Bus bus(h);
      EXPECT_EQ(gst_harness_push(h.get(), gst_buffer_new_allocate(nullptr, size, nullptr)), GST_FLOW_ERROR);
      EXPECT_EQ(bus.Error(), "a buffer of " + std::to_string(size) +
                                 " bytes, where one 16x8 I420 frame takes " + std::to_string(frame) +
                                 " bytes");
      EXPECT_EQ(gst_harness_buffers_received(h.get()), 0u);
    }
    // A buffer whose video meta places the planes beyond its end.
    Harness h(filter, padded);
    h.Set(tracks);
    Bus bus(h);
    GstBuffer* cut = MakeBuffer(padded, true, 5);
    gst_buffer_resize(cut, 0, gssize(gst_buffer_get_size(cut) / 2));
    EXPECT_EQ(gst_harness_push(h.get(), cut), GST_FLOW_ERROR) << filter;
    EXPECT_NE(bus.Error().find("that does not hold the 16x8 I420 frame its video meta describes"),
              std::string::npos);
  }

  TempDir dir;
  std::string raw;
  for (uint32_t i = 0; i < 3; ++i) {
    GstBuffer* b = MakeBuffer(info, false, i);
    raw.resize(raw.size() + frame);
    gst_buffer_extract(b, 0, raw.data() + i * frame, frame);
    gst_buffer_unref(b);
  }
  WriteFile(dir / "cut.raw", raw.substr(0, raw.size() - frame / 2));
  const Result r =
      RunGstTool(dir, "gst-launch-1.0",
                 {"-q", "filesrc", "location=" + dir / "cut.raw", "blocksize=" + std::to_string(frame), "!",
                  "video/x-raw,format=I420,width=16,height=8,framerate=25/1", "!", "velour", "!", "fakesink"},
                 1);
  EXPECT_NE((r.err + r.out).find("a buffer of 96 bytes, where one 16x8 I420 frame takes 192 bytes"),
            std::string::npos)
      << r.err << r.out;
}

// The element runs as many workers as `threads` says (0: one per core): its threads are counted,
// against the count with one worker (a run-time may keep a thread of its own once threads start).
TEST(GstElement, RunsTheWorkersItIsGiven) {
  const GstVideoInfo info = InfoOf(GST_VIDEO_FORMAT_I420, 64, 48, false);
  Harness h("velour", info);
  const auto threads_with = [&](int threads) {
    g_object_set(h.element(), "threads", threads, nullptr);
    gst_buffer_unref(gst_harness_push_and_pull(h.get(), MakeBuffer(info, false, 1)));
    return TempDir::FilesIn("/proc/self/task").size();
  };
  threads_with(3);
  const size_t one = threads_with(1);
  EXPECT_EQ(threads_with(3), one + 2);
  EXPECT_EQ(threads_with(0), one + std::max(1u, std::thread::hardware_concurrency()) - 1);
}

// filesrc with a block size of one frame ! capsfilter ! the element ! filesink, against aufhost on the
// same frames as Y4M (as the planes they interleave, for Cb and Cr in pairs), in every layout.
TEST(GstPipeline, FileToFileThroughCoreElementsGivesAufhostsBytes) {
  const struct {
    const char* filter;
    GstVideoFormat format;
    int w, h;
    Tracks tracks;
  } pipelines[] = {{"velour", GST_VIDEO_FORMAT_I420, 33, 17, {{"quant", 3}, {"n_shift", 16}, {"matrix", 1}}},
                   {"deblock", GST_VIDEO_FORMAT_I420_10LE, 31, 21, {{"quant", 40}, {"aOffset", 6}}},
                   {"deblock", GST_VIDEO_FORMAT_Y42B, 45, 12, {}},
                   {"velour", GST_VIDEO_FORMAT_GRAY8, 23, 18, {{"zero_weight", 2}}},
                   {"velour", GST_VIDEO_FORMAT_NV12, 35, 19, {{"quant", 3}, {"n_shift", 16}}},
                   {"deblock", GST_VIDEO_FORMAT_NV21, 33, 17, {{"quant", 40}, {"aOffset", 6}}},
                   {"deblock", GST_VIDEO_FORMAT_P010_10LE, 37, 21, {{"quant", 45}, {"bOffset", 8}}},
                   {"velour", GST_VIDEO_FORMAT_I422_10LE, 29, 18, {{"matrix", 4}}},
                   {"deblock", GST_VIDEO_FORMAT_Y444_10LE, 21, 13, {{"quant", 40}}},
                   {"deblock", GST_VIDEO_FORMAT_I420_12LE, 31, 23, {{"quant", 50}}},
                   {"velour", GST_VIDEO_FORMAT_I422_12LE, 26, 17, {{"quant", 2}}},
                   {"velour", GST_VIDEO_FORMAT_Y444_12LE, 19, 11, {{"zero_weight", 1}}},
                   {"deblock", GST_VIDEO_FORMAT_GRAY16_LE, 24, 20, {{"quant", 51}}}};
  constexpr int kFrames = 3;
  for (const auto& p : pipelines) {
    SCOPED_TRACE(CaseName({p.filter, p.format, p.w, p.h, p.tracks}));
    const GstVideoInfo info = InfoOf(p.format, p.w, p.h, false);
    const size_t frame_bytes = GST_VIDEO_INFO_SIZE(&info);
    TempDir dir;
    std::string raw, y4m = Y4mHeader(info);
    std::vector<Split> in;
    for (int i = 0; i < kFrames; ++i) {
      GstBuffer* b = MakeBuffer(info, false, 100 + i);
      raw.resize(raw.size() + frame_bytes);
      gst_buffer_extract(b, 0, raw.data() + i * frame_bytes, frame_bytes);
      in.push_back(SplitOf(info, b));
      y4m += "FRAME\n" + ShiftWords(in.back().planes, in.back().shift);
      gst_buffer_unref(b);
    }
    WriteFile(dir / "in.raw", raw);
    WriteFile(dir / "in.y4m", y4m);

    GstCaps* caps_object = gst_video_info_to_caps(const_cast<GstVideoInfo*>(&info));
    gchar* caps = gst_caps_to_string(caps_object);
    gst_caps_unref(caps_object);
    std::vector<std::string> launch = {
        "-q",     "filesrc",    "location=" + dir / "in.raw", "blocksize=" + std::to_string(frame_bytes),
        "!",      "capsfilter", std::string("caps=") + caps,  "!",
        p.filter, "threads=2"};
    g_free(caps);
    std::vector<std::string> aufhost = {"-q", "-j", "2"};
    for (const auto& [name, value] : p.tracks) {
      launch.push_back(name + "=" + std::to_string(value));
      aufhost.insert(aufhost.end(), {"-t", name + "=" + std::to_string(value)});
    }
    launch.insert(launch.end(), {"!", "filesink", "location=" + dir / "out.raw"});
    aufhost.insert(aufhost.end(), {p.filter, dir / "in.y4m", dir / "out.y4m"});
    if (RunGstTool(dir, "gst-launch-1.0", launch).status != 0) continue;
    const Result host = RunAufhost(aufhost);
    ASSERT_EQ(host.status, 0) << host.err;

    const std::string out = ReadFile(dir / "out.raw");
    const std::vector<std::string> expected = FramesOfY4m(ReadFile(dir / "out.y4m"), in[0].planes.size());
    ASSERT_EQ(out.size(), raw.size());
    ASSERT_EQ(expected.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i) {
      GstBuffer* b = gst_buffer_new_memdup(out.data() + i * frame_bytes, frame_bytes);
      const Split got = SplitOf(info, b);
      EXPECT_EQ(FirstDifference(ShiftWords(expected[size_t(i)], -got.shift), got.planes), "")
          << "frame " << i;
      EXPECT_EQ(FirstDifference(in[size_t(i)].around, got.around), "")
          << "frame " << i << " around the picture";
      gst_buffer_unref(b);
    }
  }
}

// The plug-in library lists its elements, every layout they take, and their properties, in GLib's
// spelling (n-shift).
TEST(GstPipeline, InspectListsTheElementsWithTheirProperties) {
  TempDir dir;
  for (const core::FilterCore* core : hostkit::BuiltinFilters()) {
    const Result r = RunGstTool(dir, "gst-inspect-1.0", {core->name});
    EXPECT_NE(r.out.find(std::string("Long-name                ") + core->title), std::string::npos);
    for (int i = 0; i < core->track_count; ++i) {
      std::string name = core->tracks[i].name;
      std::replace(name.begin(), name.end(), '_', '-');
      EXPECT_NE(r.out.find("\n  " + name + " "), std::string::npos) << core->name << " " << name;
    }
    EXPECT_NE(r.out.find("\n  threads "), std::string::npos) << core->name;
    // In the caps' list of formats: each name whole, followed by a comma or the end of the list.
    for (const Layout& l : kLayouts) {
      const std::string name = std::string("(string)") + gst_video_format_to_string(l.format);
      const size_t at = r.out.find(name);
      EXPECT_TRUE(at != std::string::npos &&
                  (r.out[at + name.size()] == ',' || r.out[at + name.size()] == ' '))
          << core->name << " " << name;
    }
  }
}

}  // namespace
