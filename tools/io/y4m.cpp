// YUV4MPEG2: a text header line, then per frame a "FRAME" line and the planes Y, Cb, Cr
// (8-bit samples, or 16-bit little-endian words for 10-bit).
#include <charconv>
#include <istream>
#include <ostream>

#include "tools/io/io_internal.h"
#include "tools/io/samples.h"

namespace io {
namespace {

constexpr size_t kMaxLine = 4096;

struct Layout {
  int w, h, cw, ch;  // luma and chroma plane sizes (cw = ch = 0: mono)
  int bytes;         // per sample
  size_t PlaneBytes() const { return (size_t(w) * h + 2 * size_t(cw) * ch) * bytes; }
};

Layout LayoutOf(const VideoInfo& info) {
  Layout l{info.w, info.h, 0, 0, info.bit_depth > 8 ? 2 : 1};
  switch (info.chroma) {
    case Chroma::k420: l.cw = (info.w + 1) / 2; l.ch = (info.h + 1) / 2; break;
    case Chroma::k422: l.cw = (info.w + 1) / 2; l.ch = info.h; break;
    case Chroma::k444: l.cw = info.w; l.ch = info.h; break;
    case Chroma::kMono: break;
  }
  return l;
}

struct ColourTag {
  const char* tag;
  Chroma chroma;
  int bit_depth;
};
constexpr ColourTag kColourTags[] = {
    {"420jpeg", Chroma::k420, 8}, {"420mpeg2", Chroma::k420, 8}, {"420paldv", Chroma::k420, 8},
    {"420", Chroma::k420, 8},     {"422", Chroma::k422, 8},      {"444", Chroma::k444, 8},
    {"mono", Chroma::kMono, 8},   {"420p10", Chroma::k420, 10},
};

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
bool ReadLine(std::istream& in, std::string& line, const std::string& where, const char* what) {
  line.clear();
  for (;;) {
    const int c = in.get();
    if (c == std::char_traits<char>::eof()) {
      if (line.empty()) return false;
      throw IoError(where + ": " + what + ": truncated (no end of line)");
    }
    if (c == '\n') return true;
    if (line.size() >= kMaxLine) throw IoError(where + ": " + what + ": line longer than " + std::to_string(kMaxLine) + " bytes");
    line += static_cast<char>(c);
  }
}

bool IsRatio(std::string_view v) {
  const size_t colon = v.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == v.size()) return false;
  return v.find_first_not_of("0123456789", 0) == colon && v.find_first_not_of("0123456789", colon + 1) == std::string_view::npos;
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
    if (info.y4m_colour.empty() ? t.chroma == info.chroma && t.bit_depth == info.bit_depth : info.y4m_colour == t.tag)
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
  Y4mReader(std::istream& in, const std::string& where, const ReaderOptions& options) : in_(in), where_(where) {
    std::string line;
    if (!ReadLine(in_, line, where_, "header")) throw IoError(where_ + ": empty input, expected a YUV4MPEG2 header");
    constexpr std::string_view kMagic = "YUV4MPEG2";
    if (line.compare(0, kMagic.size(), kMagic) != 0 || (line.size() > kMagic.size() && line[kMagic.size()] != ' '))
      throw IoError(where_ + ": not a YUV4MPEG2 stream (header starts '" + Printable(line.substr(0, 12)) + "')");
    bool have_w = false, have_h = false;
    std::string colour = "420jpeg";
    for (const std::string_view token : Tokens(std::string_view(line).substr(kMagic.size()))) {
      switch (token[0]) {
        case 'W': info_.w = ParseDimension(token.substr(1), 'W', where_); have_w = true; break;
        case 'H': info_.h = ParseDimension(token.substr(1), 'H', where_); have_h = true; break;
        case 'C': colour = token.substr(1); info_.y4m_colour = colour; break;
        default:
          if (!IsWellFormedTag(token)) throw IoError(where_ + ": header: malformed tag '" + Printable(token) + "'");
          if (token[0] == 'I') interlaced_ = token[1] == 't' || token[1] == 'b';
          info_.y4m_fields.emplace_back(token);
      }
    }
    if (!have_w || !have_h) throw IoError(where_ + ": header: missing " + (have_w ? "H" : "W") + " (frame size)");
    CheckPictureSize(info_.w, info_.h, options, where_);
    const ColourTag* found = nullptr;
    for (const ColourTag& t : kColourTags)
      if (colour == t.tag) found = &t;
    if (found == nullptr)
      throw IoError(where_ + ": header: unsupported colour space 'C" + Printable(colour) +
                    "' (supported: 420jpeg, 420mpeg2, 420paldv, 420, 422, 444, mono, 420p10)");
    info_.chroma = found->chroma;
    info_.bit_depth = found->bit_depth;
    // A writer adds the frame rate and the colour space when they are missing: what it writes for this
    // stream must stay within what a reader takes.
    const size_t written = HeaderLine(info_, *found).size();
    if (written > kMaxLine)
      throw IoError(where_ + ": header: " + std::to_string(written) + " bytes when written back, more than " +
                    std::to_string(kMaxLine));
    layout_ = LayoutOf(info_);
    buffer_.resize(layout_.PlaneBytes());
    const int64_t remaining = RemainingBytes(in_);
    if (remaining >= 0) info_.frame_count = remaining / static_cast<int64_t>(6 + buffer_.size());
  }

  bool Read(host::Frame& frame, FrameExtras& extras) override {
    std::string line;
    const std::string what = "frame " + std::to_string(frames_ + 1);
    if (!ReadLine(in_, line, where_, what.c_str())) {
      if (in_.bad()) throw IoError(where_ + ": read error");
      return false;
    }
    if (line.compare(0, 5, "FRAME") != 0 || (line.size() > 5 && line[5] != ' '))
      throw IoError(where_ + ": " + what + ": expected FRAME, found '" + Printable(line) + "'");
    // Frame tags travel with the frame. An I tag's second letter tells whether a frame of a mixed
    // stream (Im) is interlaced.
    extras = {};
    extras.interlaced = interlaced_;
    for (const std::string_view token : Tokens(std::string_view(line).substr(5))) {
      if (token.size() < 2) throw IoError(where_ + ": " + what + ": malformed tag '" + Printable(token) + "'");
      if (token[0] == 'I' && token.size() > 2 && token[2] == 'i') extras.interlaced = true;
      extras.y4m_params += " ";
      extras.y4m_params += token;
    }
    const size_t got = ReadUpTo(in_, reinterpret_cast<char*>(buffer_.data()), buffer_.size());
    if (got != buffer_.size())
      throw IoError(where_ + ": " + what + ": truncated (" + std::to_string(got) + " of " +
                    std::to_string(buffer_.size()) + " bytes)");
    ++frames_;
    Reshape(frame, info_.w, info_.h);
    Unpack(frame);
    return true;
  }

 private:
  int Sample(size_t index) const {
    if (layout_.bytes == 1) return buffer_[index];
    return std::min(buffer_[2 * index] | buffer_[2 * index + 1] << 8, 1023);  // words above 10 bits are clamped
  }

  void Unpack(host::Frame& frame) const {
    const int scale = HostScale(info_.bit_depth), zero = ChromaZero(info_.bit_depth);
    const Layout& l = layout_;
    for (int y = 0; y < l.h; ++y)
      for (int x = 0; x < l.w; ++x) {
        host::YcPixel& p = frame.at(x, y);
        p.y = LumaToHost(Sample(size_t(y) * l.w + x), scale);
        p.cb = p.cr = 0;
      }
    if (l.cw == 0) return;
    const size_t cb0 = size_t(l.w) * l.h, cr0 = cb0 + size_t(l.cw) * l.ch;
    const int sx = l.w > l.cw ? 2 : 1, sy = l.h > l.ch ? 2 : 1;
    for (int y = 0; y < l.h; ++y)
      for (int x = 0; x < l.w; ++x) {
        const size_t c = size_t(y / sy) * l.cw + x / sx;
        host::YcPixel& p = frame.at(x, y);
        p.cb = ChromaToHost(Sample(cb0 + c), scale, zero);
        p.cr = ChromaToHost(Sample(cr0 + c), scale, zero);
      }
  }

  std::istream& in_;
  std::string where_;
  Layout layout_{};
  std::vector<uint8_t> buffer_;
  int64_t frames_ = 0;
  bool interlaced_ = false;  // It or Ib: every frame
};

class Y4mWriter : public FrameWriter {
 public:
  Y4mWriter(std::ostream& out, const VideoInfo& info, const std::string& where)
      : out_(out), info_(info), where_(where) {
    const ColourTag& colour = WriterColour(info, where);
    info_.bit_depth = colour.bit_depth;
    layout_ = LayoutOf(info_);
    const std::string header = HeaderLine(info_, colour) + "\n";
    if (header.size() > kMaxLine + 1)
      throw IoError(where + ": Y4M header longer than " + std::to_string(kMaxLine) + " bytes");
    WriteAll(out_, header.data(), header.size(), where_);
    buffer_.resize(layout_.PlaneBytes());
  }

  void Write(const host::Frame& frame, const FrameExtras& extras) override {
    CheckFrameShape(frame, info_, where_);
    Pack(frame);
    const std::string line = "FRAME" + extras.y4m_params + "\n";
    WriteAll(out_, line.data(), line.size(), where_);
    WriteAll(out_, buffer_.data(), buffer_.size(), where_);
  }

  void Finish() override {
    out_.flush();
    if (!out_) throw IoError(where_ + ": write failed");
  }

 private:
  void Put(size_t index, int v) {
    if (layout_.bytes == 1) {
      buffer_[index] = static_cast<uint8_t>(v);
    } else {
      buffer_[2 * index] = static_cast<uint8_t>(v);
      buffer_[2 * index + 1] = static_cast<uint8_t>(v >> 8);
    }
  }

  void Pack(const host::Frame& frame) {
    const int scale = HostScale(info_.bit_depth), zero = ChromaZero(info_.bit_depth), max = MaxLevel(info_.bit_depth);
    const Layout& l = layout_;
    for (int y = 0; y < l.h; ++y)
      for (int x = 0; x < l.w; ++x) Put(size_t(y) * l.w + x, LumaFromHost(frame.at(x, y).y, scale, max));
    if (l.cw == 0) return;
    const size_t cb0 = size_t(l.w) * l.h, cr0 = cb0 + size_t(l.cw) * l.ch;
    const int sx = l.w > l.cw ? 2 : 1, sy = l.h > l.ch ? 2 : 1;
    for (int cy = 0; cy < l.ch; ++cy)
      for (int cx = 0; cx < l.cw; ++cx) {
        int64_t cb = 0, cr = 0;
        int n = 0;
        for (int y = cy * sy; y < std::min(l.h, cy * sy + sy); ++y)
          for (int x = cx * sx; x < std::min(l.w, cx * sx + sx); ++x, ++n) {
            cb += frame.at(x, y).cb;
            cr += frame.at(x, y).cr;
          }
        const size_t c = size_t(cy) * l.cw + cx;
        Put(cb0 + c, ChromaFromHostSum(cb, n, scale, zero, max));
        Put(cr0 + c, ChromaFromHostSum(cr, n, scale, zero, max));
      }
  }

  std::ostream& out_;
  VideoInfo info_;
  std::string where_;
  Layout layout_{};
  std::vector<uint8_t> buffer_;
};

}  // namespace

std::unique_ptr<FrameReader> OpenY4mReader(std::istream& in, const std::string& where, const ReaderOptions& options) {
  return std::make_unique<Y4mReader>(in, where, options);
}

std::unique_ptr<FrameWriter> OpenY4mWriter(std::ostream& out, const VideoInfo& info, const std::string& where) {
  return std::make_unique<Y4mWriter>(out, info, where);
}

}  // namespace io
