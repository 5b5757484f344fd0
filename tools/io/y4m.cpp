// YUV4MPEG2: a text header line, then per frame a "FRAME" line and the planes Y, Cb, Cr
// (8-bit samples, or 16-bit little-endian words for 10, 12 and 16 bits); planar.h converts the planes.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "hostkit/planar.h"
#include "tools/io/io_internal.h"

namespace io {
namespace {

constexpr size_t kMaxLine = 4096;

struct ColourTag {
  const char* tag;
  Chroma chroma;
  int bit_depth;
};
// The deeper ones as the writers of such streams name them.
constexpr ColourTag kColourTags[] = {
    {"420jpeg", Chroma::k420, 8}, {"420mpeg2", Chroma::k420, 8}, {"420paldv", Chroma::k420, 8},
    {"420", Chroma::k420, 8},     {"422", Chroma::k422, 8},      {"444", Chroma::k444, 8},
    {"mono", Chroma::kMono, 8},   {"420p10", Chroma::k420, 10},  {"422p10", Chroma::k422, 10},
    {"444p10", Chroma::k444, 10}, {"420p12", Chroma::k420, 12},  {"422p12", Chroma::k422, 12},
    {"444p12", Chroma::k444, 12}, {"mono16", Chroma::kMono, 16},
};

// "420jpeg, 420mpeg2, ...": every tag read.
std::string ColourTagList() {
  std::string list;
  for (const ColourTag& t : kColourTags) list += std::string(list.empty() ? "" : ", ") + t.tag;
  return list;
}

std::string Printable(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, 40)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
  return s.size() > 40 ? out + "..." : out;
}

int ParseDimension(std::string_view digits, char tag, const std::string& where) {
  int v = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || v <= 0)
    throw IoError(where + ": header: bad " + tag + " value '" + Printable(digits) + "'");
  return v;
}

// Reads one line (without its '\n') of at most kMaxLine bytes. False when the stream ends before
// any byte; IoError when it ends inside the line.
bool ReadLine(BufferedInput& in, std::string& line, const std::string& where, const char* what) {
  line.clear();
  for (;;) {
    const int c = in.Get();
    if (c < 0) {
      if (line.empty()) return false;
      throw IoError(where + ": " + what + ": truncated (no end of line)");
    }
    if (c == '\n') return true;
    if (line.size() >= kMaxLine)
      throw IoError(where + ": " + what + ": line longer than " + std::to_string(kMaxLine) + " bytes");
    line += static_cast<char>(c);
  }
}

bool IsRatio(std::string_view v) {
  const size_t colon = v.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == v.size()) return false;
  return v.find_first_not_of("0123456789", 0) == colon &&
         v.find_first_not_of("0123456789", colon + 1) == std::string_view::npos;
}

// Header tags other than W, H and C: each needs a value, F (frame rate) and A (pixel aspect) a ratio,
// I (interlacing) one of p, t, b, m or ?.
bool IsWellFormedTag(std::string_view token) {
  const std::string_view value = token.substr(1);
  switch (token[0]) {
    case 'F':
    case 'A': return IsRatio(value);
    case 'I': return value.size() == 1 && std::string_view("ptbm?").find(value[0]) != std::string_view::npos;
    default: return !value.empty();
  }
}

// The space-separated tokens of a line after its first word.
std::vector<std::string_view> Tokens(std::string_view rest) {
  std::vector<std::string_view> tokens;
  while (!rest.empty()) {
    const size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    const size_t end = rest.find(' ');
    tokens.push_back(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  }
  return tokens;
}

// The colour space a writer gives a stream: the one read, else the layout's; streams deeper than
// Y4M carries for the layout (16-bit pictures) are written at 8 bits.
const ColourTag& WriterColour(const VideoInfo& info, const std::string& where) {
  for (const ColourTag& t : kColourTags)
    if (info.y4m_colour.empty() ? t.chroma == info.chroma && t.bit_depth == info.bit_depth
                                : info.y4m_colour == t.tag)
      return t;
  if (info.y4m_colour.empty())
    for (const ColourTag& t : kColourTags)
      if (t.chroma == info.chroma && t.bit_depth == 8) return t;
  throw IoError(where + ": no Y4M colour space for this layout");
}

// The header line (without its end of line) that a writer puts out for `info`.
std::string HeaderLine(const VideoInfo& info, const ColourTag& colour) {
  std::string header = "YUV4MPEG2 W" + std::to_string(info.w) + " H" + std::to_string(info.h);
  bool have_rate = false;
  for (const std::string& f : info.y4m_fields) have_rate |= f[0] == 'F';
  if (!have_rate) header += " F25:1";
  for (const std::string& f : info.y4m_fields)
    if (f[0] != 'X') header += " " + f;
  header += std::string(" C") + colour.tag;
  for (const std::string& f : info.y4m_fields)
    if (f[0] == 'X') header += " " + f;
  return header;
}

class Y4mReader : public FrameReader {
 public:
  Y4mReader(ByteSource& in, const std::string& where, const ReaderOptions& options)
      : in_(in, where), where_(where), dsp_(PlanarDspFor(options.cpu)), workers_(options.workers) {
    std::string line;
    if (!ReadLine(in_, line, where_, "header"))
      throw IoError(where_ + ": empty input, expected a YUV4MPEG2 header");
    constexpr std::string_view kMagic = "YUV4MPEG2";
    if (line.compare(0, kMagic.size(), kMagic) != 0 ||
        (line.size() > kMagic.size() && line[kMagic.size()] != ' '))
      throw IoError(where_ + ": not a YUV4MPEG2 stream (header starts '" + Printable(line.substr(0, 12)) +
                    "')");
    bool have_w = false, have_h = false;
    std::string colour = "420jpeg";
    for (const std::string_view token : Tokens(std::string_view(line).substr(kMagic.size()))) {
      switch (token[0]) {
        case 'W':
          info_.w = ParseDimension(token.substr(1), 'W', where_);
          have_w = true;
          break;
        case 'H':
          info_.h = ParseDimension(token.substr(1), 'H', where_);
          have_h = true;
          break;
        case 'C':
          colour = token.substr(1);
          info_.y4m_colour = colour;
          break;
        default:
          if (!IsWellFormedTag(token))
            throw IoError(where_ + ": header: malformed tag '" + Printable(token) + "'");
          if (token[0] == 'I') interlaced_ = token[1] == 't' || token[1] == 'b';
          info_.y4m_fields.emplace_back(token);
      }
    }
    if (!have_w || !have_h)
      throw IoError(where_ + ": header: missing " + (have_w ? "H" : "W") + " (frame size)");
    CheckPictureSize(info_.w, info_.h, options, where_);
    const ColourTag* found = nullptr;
    for (const ColourTag& t : kColourTags)
      if (colour == t.tag) found = &t;
    if (found == nullptr)
      throw IoError(where_ + ": header: unsupported colour space 'C" + Printable(colour) +
                    "' (supported: " + ColourTagList() + ")");
    info_.chroma = found->chroma;
    info_.bit_depth = found->bit_depth;
    // A writer adds the frame rate and the colour space when they are missing: what it writes for this
    // stream must stay within what a reader takes.
    const size_t written = HeaderLine(info_, *found).size();
    if (written > kMaxLine)
      throw IoError(where_ + ": header: " + std::to_string(written) + " bytes when written back, more than " +
                    std::to_string(kMaxLine));
    layout_ = PlanarLayoutOf(info_.w, info_.h, info_.chroma, info_.bit_depth);
    const int64_t remaining = in_.Remaining();
    if (remaining >= 0) info_.frame_count = remaining / static_cast<int64_t>(6 + layout_.FrameBytes());
  }

  bool Read(core::Picture& frame, FrameExtras& extras) override {
    if (!Fetch(packet_)) return false;
    Decode(packet_, frame, extras);
    return true;
  }

  bool Fetch(FramePacket& packet) override {
    const std::string what = "frame " + std::to_string(frames_ + 1);
    if (!ReadLine(in_, line_, where_, what.c_str())) return false;
    if (line_.compare(0, 5, "FRAME") != 0 || (line_.size() > 5 && line_[5] != ' '))
      throw IoError(where_ + ": " + what + ": expected FRAME, found '" + Printable(line_) + "'");
    // Frame tags travel with the frame. An I tag's second letter tells whether a frame of a mixed
    // stream (Im) is interlaced. The packet keeps its memory from frame to frame.
    FrameExtras& extras = packet.extras;
    extras.alpha.clear();
    extras.y4m_params.clear();
    extras.interlaced = interlaced_;
    for (const std::string_view token : Tokens(std::string_view(line_).substr(5))) {
      if (token.size() < 2)
        throw IoError(where_ + ": " + what + ": malformed tag '" + Printable(token) + "'");
      if (token[0] == 'I' && token.size() > 2 && token[2] == 'i') extras.interlaced = true;
      extras.y4m_params += " ";
      extras.y4m_params += token;
    }
    packet.bytes.resize(layout_.FrameBytes());
    packet.start = 0;
    const size_t got = in_.Read(packet.bytes.data(), packet.bytes.size());
    if (got != packet.bytes.size())
      throw IoError(where_ + ": " + what + ": truncated (" + std::to_string(got) + " of " +
                    std::to_string(packet.bytes.size()) + " bytes)");
    ++frames_;
    return true;
  }

  void Decode(FramePacket& packet, core::Picture& frame, FrameExtras& extras) override {
    Reshape(frame, info_.w, info_.h);
    PlanesToFrame(dsp_, layout_, packet.bytes.data() + packet.start, frame, workers_);
    std::swap(extras, packet.extras);
  }

 private:
  BufferedInput in_;
  std::string where_;
  const PlanarDsp& dsp_;
  core::Workers workers_;
  PlanarLayout layout_;
  FramePacket packet_;  // for Read()
  std::string line_;    // the last FRAME line
  int64_t frames_ = 0;
  bool interlaced_ = false;  // It or Ib: every frame
};

// Each frame goes out in one write: its FRAME line is put just before its planes.
class Y4mWriter : public FrameWriter {
 public:
  Y4mWriter(ByteSink& out, const VideoInfo& info, const std::string& where, const WriterOptions& options)
      : out_(out), info_(info), where_(where), dsp_(PlanarDspFor(options.cpu)), workers_(options.workers) {
    const ColourTag& colour = WriterColour(info, where);
    info_.bit_depth = colour.bit_depth;
    layout_ = PlanarLayoutOf(info_.w, info_.h, info_.chroma, info_.bit_depth);
    const std::string header = HeaderLine(info_, colour) + "\n";
    if (header.size() > kMaxLine + 1)
      throw IoError(where + ": Y4M header longer than " + std::to_string(kMaxLine) + " bytes");
    WriteAll(out_, header.data(), header.size(), where_);
  }

  void Write(const core::Picture& frame, const FrameExtras& extras) override {
    Encode(frame, extras, packet_);
    Put(packet_);
  }

  void Encode(const core::Picture& frame, const FrameExtras& extras, FramePacket& packet) override {
    CheckFrameShape(frame, info_, where_);
    // Room for a FRAME line as long as a reader takes, or longer if need be, then the planes.
    const size_t line = 6 + extras.y4m_params.size();
    const size_t room = std::max(line, kMaxLine + 2);
    packet.bytes.resize(room + layout_.FrameBytes());
    uint8_t* planes = packet.bytes.data() + room;
    FrameToPlanes(dsp_, layout_, frame, planes, workers_);
    packet.start = room - line;
    uint8_t* start = planes - line;
    std::memcpy(start, "FRAME", 5);
    std::memcpy(start + 5, extras.y4m_params.data(), extras.y4m_params.size());
    planes[-1] = '\n';
  }

  void Put(FramePacket& packet) override {
    WriteAll(out_, packet.bytes.data() + packet.start, packet.bytes.size() - packet.start, where_);
  }

  void Finish() override { FlushAll(out_, where_); }

 private:
  ByteSink& out_;
  VideoInfo info_;
  std::string where_;
  const PlanarDsp& dsp_;
  core::Workers workers_;
  PlanarLayout layout_;
  FramePacket packet_;  // for Write()
};

}  // namespace

int Y4mBitDepth(const VideoInfo& info) {
  try {
    return WriterColour(info, "").bit_depth;
  } catch (const IoError&) {
    return 8;
  }
}

std::unique_ptr<FrameReader> OpenY4mReader(ByteSource& in, const std::string& where,
                                           const ReaderOptions& options) {
  return std::make_unique<Y4mReader>(in, where, options);
}

std::unique_ptr<FrameWriter> OpenY4mWriter(ByteSink& out, const VideoInfo& info, const std::string& where,
                                           const WriterOptions& options) {
  return std::make_unique<Y4mWriter>(out, info, where, options);
}

}  // namespace io
