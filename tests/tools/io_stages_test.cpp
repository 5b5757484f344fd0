// Frames read and written in halves (Fetch and Decode, Encode and Put) as aufhost's stages do it,
// through sources and sinks that move a few bytes at a time, and with no memory taken per frame once
// the packets are in use.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>

#include "tests/support/test_support.h"
#include "tests/tools/aufhost_run.h"
#include "tools/io/bytes.h"
#include "tools/io/frame_io.h"

// Every allocation of this program is counted.
namespace {
std::atomic<int64_t> g_allocations{0};
}  // namespace

void* operator new(size_t n) {
  ++g_allocations;
  if (void* p = std::malloc(n > 0 ? n : 1)) return p;
  throw std::bad_alloc();
}
// GCC takes the free() below for a mismatch with new; here new is malloc().
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using aufhost_test::MakePng;
using aufhost_test::Y4mClip;
using io::Format;

// Hands out its data in pieces of 1 .. `most` bytes, as a pipe does; -1 once `fail_at` is reached.
class Trickle : public io::ByteSource {
 public:
  Trickle(std::string data, size_t most, size_t fail_at = SIZE_MAX)
      : data_(std::move(data)), most_(most), fail_at_(fail_at) {}
  ptrdiff_t ReadSome(void* dst, size_t n) override {
    if (pos_ >= fail_at_) return -1;
    const size_t k = std::min({n, data_.size() - pos_, size_t(rng_.Uniform(1, int32_t(most_)))});
    std::memcpy(dst, data_.data() + pos_, k);
    pos_ += k;
    return ptrdiff_t(k);
  }

 private:
  std::string data_;
  size_t most_, fail_at_, pos_ = 0;
  testsupport::Rng rng_{7};
};

// Keeps what is written, or takes nothing once `room` bytes are in.
class Collect : public io::ByteSink {
 public:
  explicit Collect(size_t room = SIZE_MAX) : room_(room) {}
  bool Write(const void* data, size_t n) override {
    if (data_.size() + n > room_) return false;
    data_.append(static_cast<const char*>(data), n);
    return true;
  }
  const std::string& data() const { return data_; }

 private:
  std::string data_;
  size_t room_;
};

struct Frames {
  std::vector<core::Picture> frames;
  std::vector<io::FrameExtras> extras;
};

Frames ReadWhole(io::FrameReader& reader) {
  Frames f;
  core::Picture frame;
  io::FrameExtras extras;
  while (reader.Read(frame, extras)) {
    f.frames.push_back(frame);
    f.extras.push_back(extras);
  }
  return f;
}

// Fetches up to `ahead` frames before decoding the first of them, as a reader thread runs ahead.
Frames ReadInHalves(io::FrameReader& reader, int ahead) {
  Frames f;
  std::vector<io::FramePacket> packets(static_cast<size_t>(ahead));
  int fetched = 0, decoded = 0;
  bool more = true;
  while (more || decoded < fetched) {
    while (more && fetched - decoded < ahead) {
      more = reader.Fetch(packets[size_t(fetched % ahead)]);
      fetched += more;
    }
    if (decoded == fetched) break;
    core::Picture frame;
    io::FrameExtras extras;
    reader.Decode(packets[size_t(decoded++ % ahead)], frame, extras);
    f.frames.push_back(frame);
    f.extras.push_back(extras);
  }
  return f;
}

std::string Same(const Frames& a, const Frames& b) {
  if (a.frames.size() != b.frames.size())
    return std::to_string(a.frames.size()) + " frames, not " + std::to_string(b.frames.size());
  for (size_t i = 0; i < a.frames.size(); ++i) {
    const core::Picture &x = a.frames[i], &y = b.frames[i];
    if (x.w != y.w || x.h != y.h) return "frame " + std::to_string(i) + ": another size";
    const std::string diff =
        testsupport::DiffPictures(testsupport::Picture(x.pixels.data(), x.w, x.h, x.stride),
                                  testsupport::Picture(y.pixels.data(), y.w, y.h, y.stride), x.w, x.h);
    if (!diff.empty()) return "frame " + std::to_string(i) + ": " + diff;
    if (a.extras[i].y4m_params != b.extras[i].y4m_params ||
        a.extras[i].interlaced != b.extras[i].interlaced || a.extras[i].alpha != b.extras[i].alpha)
      return "frame " + std::to_string(i) + ": other extras";
  }
  return "";
}

struct Input {
  const char* name;
  Format format;
  std::string data;
  io::ReaderOptions options;
};

std::vector<Input> Inputs() {
  std::vector<Input> inputs;
  std::string tagged = "YUV4MPEG2 W9 H5 F25:1 Im C420p10\n";
  for (int i = 0; i < 3; ++i)
    tagged += (i == 1 ? "FRAME Itii XA=1\n" : "FRAME\n") + std::string(2 * (45 + 2 * 15), char(3 + i));
  inputs.push_back({"y4m 4:2:0", Format::kY4m, Y4mClip(37, 21, "420jpeg", 4, 3), {}});
  inputs.push_back({"y4m 4:4:4", Format::kY4m, Y4mClip(20, 3, "444", 3, 5), {}});
  inputs.push_back({"y4m mono", Format::kY4m, Y4mClip(7, 7, "mono", 2, 9), {}});
  inputs.push_back({"y4m 10-bit with tags", Format::kY4m, tagged, {}});
  io::ReaderOptions raw;
  raw.w = 5;
  raw.h = 3;
  inputs.push_back({"yc48", Format::kYc48, std::string(3 * 5 * 3 * 6, 'q'), raw});
  std::vector<int> rgba;
  for (int i = 0; i < 6 * 4; ++i) rgba.insert(rgba.end(), {i * 9 % 256, i * 5 % 256, 255 - i, i * 11 % 256});
  inputs.push_back({"png", Format::kPng, MakePng(6, 4, 8, 6, rgba), {}});
  return inputs;
}

// Whatever the pieces the bytes come in, and however far reading runs ahead of decoding, the frames
// and their extras are those read whole from memory.
TEST(IoStages, ReadingInPiecesAndHalvesGivesTheSameFrames) {
  for (const Input& in : Inputs()) {
    SCOPED_TRACE(in.name);
    std::istringstream whole(in.data);
    const Frames expected = ReadWhole(*io::OpenReader(in.format, whole, "in", in.options));
    ASSERT_FALSE(expected.frames.empty());
    for (size_t most : {1, 7, 5000}) {
      Trickle pieces(in.data, most);
      EXPECT_EQ(Same(ReadWhole(*io::OpenReader(in.format, pieces, "in", in.options)), expected), "") << most;
      for (int ahead : {1, 3}) {
        Trickle again(in.data, most);
        EXPECT_EQ(Same(ReadInHalves(*io::OpenReader(in.format, again, "in", in.options), ahead), expected),
                  "")
            << most << " bytes at most, " << ahead << " ahead";
      }
    }
    // A source that fails partway is a read error, named.
    if (in.format != Format::kPng) {
      Trickle broken(in.data, 64, in.data.size() / 2);
      try {
        auto reader = io::OpenReader(in.format, broken, "in", in.options);
        ReadWhole(*reader);
        ADD_FAILURE() << "no error";
      } catch (const io::IoError& e) {
        EXPECT_STREQ(e.what(), "in: read error");
      }
    }
  }
}

// Encoding frames ahead of putting them writes what Write() writes; a sink that takes no more is
// named in the error.
TEST(IoStages, WritingInHalvesGivesTheSameBytes) {
  for (const Input& in : Inputs()) {
    SCOPED_TRACE(in.name);
    std::istringstream whole(in.data);
    auto reader = io::OpenReader(in.format, whole, "in", in.options);
    const io::VideoInfo info = reader->info();
    const Frames frames = ReadWhole(*reader);
    Collect expected, halves;
    {
      auto writer = io::OpenWriter(in.format, expected, info, "out");
      for (size_t i = 0; i < frames.frames.size(); ++i) writer->Write(frames.frames[i], frames.extras[i]);
      writer->Finish();
    }
    {
      auto writer = io::OpenWriter(in.format, halves, info, "out");
      std::vector<io::FramePacket> packets(2);
      for (size_t i = 0; i < frames.frames.size(); ++i) {
        writer->Encode(frames.frames[i], frames.extras[i], packets[i % 2]);
        if (i > 0) writer->Put(packets[(i - 1) % 2]);
      }
      writer->Put(packets[(frames.frames.size() - 1) % 2]);
      writer->Finish();
    }
    EXPECT_TRUE(halves.data() == expected.data());
    Collect full(expected.data().size() / 2);
    try {
      auto writer = io::OpenWriter(in.format, full, info, "out");
      for (size_t i = 0; i < frames.frames.size(); ++i) writer->Write(frames.frames[i], frames.extras[i]);
      writer->Finish();
      ADD_FAILURE() << "no error";
    } catch (const io::IoError& e) {
      EXPECT_STREQ(e.what(), "out: write failed");
    }
  }
}

// Reads the same bytes over and over, taking no memory.
class Loop : public io::ByteSource {
 public:
  Loop(const std::string& head, const std::string& body)
      : head_(head), body_(body), in_head_(!head.empty()) {}
  ptrdiff_t ReadSome(void* dst, size_t n) override {
    const std::string& from = in_head_ ? head_ : body_;
    const size_t k = std::min(n, from.size() - pos_);
    std::memcpy(dst, from.data() + pos_, k);
    pos_ += k;
    if (pos_ == from.size()) pos_ = 0, in_head_ = false;
    return ptrdiff_t(k);
  }

 private:
  const std::string& head_;
  const std::string& body_;
  size_t pos_ = 0;
  bool in_head_;
};

class Discard : public io::ByteSink {
 public:
  bool Write(const void*, size_t) override { return true; }
};

// Once each packet has held a frame, reading, converting and writing take no memory: frame after
// frame, the same buffers are used again.
TEST(IoStages, NoMemoryPerFrameOnceRunning) {
  const std::string clip = Y4mClip(64, 36, "420jpeg", 1, 4);
  const size_t header = clip.find('\n') + 1;
  const std::string head = clip.substr(0, header), body = clip.substr(header);
  const std::string raw(64 * 36 * 6, 'r');
  io::ReaderOptions raw_options;
  raw_options.w = 64;
  raw_options.h = 36;
  for (const Format format : {Format::kY4m, Format::kYc48}) {
    SCOPED_TRACE(io::FormatName(format));
    const bool y4m = format == Format::kY4m;
    const std::string empty;
    Loop source(y4m ? head : empty, y4m ? body : raw);
    Discard sink;
    auto reader = io::OpenReader(format, source, "in", y4m ? io::ReaderOptions{} : raw_options);
    auto writer = io::OpenWriter(format, sink, reader->info(), "out");
    std::vector<io::FramePacket> in(3), out(3);
    core::Picture frame(64, 36);
    io::FrameExtras extras;
    int64_t before = 0;
    for (int i = 0; i < 30; ++i) {
      if (i == 6) before = g_allocations.load();
      ASSERT_TRUE(reader->Fetch(in[size_t(i % 3)]));
      reader->Decode(in[size_t(i % 3)], frame, extras);
      writer->Encode(frame, extras, out[size_t(i % 3)]);
      writer->Put(out[size_t(i % 3)]);
    }
    EXPECT_EQ(g_allocations.load() - before, 0) << "allocations in 24 frames";
  }
}

}  // namespace
