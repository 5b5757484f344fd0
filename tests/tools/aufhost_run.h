#pragma once
// Runs aufhost as a separate process through pipes, and makes test clips for it.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/picture.h"
#include "core/track_values.h"
#include "core/worker_pool.h"
#include "hostkit/builtin_filters.h"
#include "tests/support/test_support.h"
#include "tools/io/frame_io.h"

namespace aufhost_test {

inline const std::string kAufhost = AUF_BUILD_DIR "/aufhost";

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// A child process whose standard streams are pipes: `in` is written to, `out` and `err` read.
struct Child {
  pid_t pid;
  int in, out, err;
};

// Runs in the child between fork and exec, where only calls safe after a fork belong: closing
// descriptors, limits, users, mounts. On failure it ends the child with kSetupFailed.
using ChildSetup = std::function<void()>;
constexpr int kSetupFailed = 99;

inline Child Spawn(const std::string& program, const std::vector<std::string>& args,
                   const ChildSetup& setup = {}) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    if (setup) setup();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  return {pid, in_pipe[1], out_pipe[0], err_pipe[0]};
}

// Runs `program` with `args`. `feed` writes its stdin (then it is closed); `sink` receives its stdout
// as it arrives (else it is collected in Result::out); `started` learns its process id first.
inline Result RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::function<void(int)>& feed = {},
                         const std::function<void(const char*, size_t)>& sink = {},
                         const std::function<void(pid_t)>& started = {}, const ChildSetup& setup = {}) {
  const Child child = Spawn(program, args, setup);
  const pid_t pid = child.pid;
  if (started) started(pid);
  std::thread feeder([&] {
    if (feed) feed(child.in);
    close(child.in);
  });
  Result r;
  std::thread err_reader([&] {
    char buf[4096];
    ssize_t n;
    while ((n = read(child.err, buf, sizeof buf)) > 0) r.err.append(buf, size_t(n));
  });
  std::vector<char> buf(1 << 16);
  ssize_t n;
  while ((n = read(child.out, buf.data(), buf.size())) > 0) {
    if (sink) sink(buf.data(), size_t(n));
    else r.out.append(buf.data(), size_t(n));
  }
  feeder.join();
  err_reader.join();
  close(child.out);
  close(child.err);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

inline Result RunAufhost(const std::vector<std::string>& args, const std::function<void(int)>& feed = {},
                         const std::function<void(const char*, size_t)>& sink = {},
                         const std::function<void(pid_t)>& started = {}, const ChildSetup& setup = {}) {
  return RunProgram(kAufhost, args, feed, sink, started, setup);
}

inline void WriteFd(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n <= 0) return;  // the reader stopped early; its status tells the story
    done += size_t(n);
  }
}

inline std::function<void(int)> Feed(const std::string& data) {
  return [data](int fd) {
    WriteFd(fd, data);
  };
}

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/aufhost_test.XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    path_ = name;
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> Files() const { return FilesIn(path_); }
  static std::vector<std::string> FilesIn(const std::string& path) {
    std::vector<std::string> names;
    DIR* d = opendir(path.c_str());
    while (dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

// A Y4M colour tag's layout: pixels across and down per chroma sample, whether it has chroma, and
// its sample depth ("420jpeg", "444", "mono", "422p10", "420p12", "mono16", ...).
struct Y4mTag {
  int sx, sy;
  bool mono;
  int depth;
};
inline Y4mTag Y4mTagOf(const std::string& tag) {
  auto starts = [&](const char* s) {
    return tag.rfind(s, 0) == 0;
  };
  auto ends = [&](const std::string& s) {
    return tag.size() >= s.size() && tag.compare(tag.size() - s.size(), s.size(), s) == 0;
  };
  return {starts("444") ? 1 : 2, starts("420") ? 2 : 1, starts("mono"),
          ends("p10")   ? 10
          : ends("p12") ? 12
          : ends("16")  ? 16
                        : 8};
}

// A blocky test picture: 8x8 tiles of flat levels plus noise, so the filter has work to do. Deeper
// samples hold such 8-bit levels in their high bits and noise in the rest.
inline std::string Y4mFrame(int w, int h, const char* chroma, uint32_t seed) {
  testsupport::Rng rng(seed);
  const Y4mTag tag = Y4mTagOf(chroma);
  const size_t luma = size_t(w) * h,
               croma = tag.mono ? 0 : size_t((w + tag.sx - 1) / tag.sx) * size_t((h + tag.sy - 1) / tag.sy);
  std::string f = "FRAME\n";
  f.reserve(6 + (luma + 2 * croma) * (tag.depth > 8 ? 2 : 1));
  auto put = [&](int level) {
    if (tag.depth == 8) {
      f += char(level);
      return;
    }
    const int word = level << (tag.depth - 8) | int(rng.Next() & ((1u << (tag.depth - 8)) - 1));
    f += {char(word & 0xFF), char(word >> 8)};
  };
  std::vector<int> tile(size_t((w + 7) / 8));
  for (int y = 0; y < h; ++y) {
    if (y % 8 == 0)
      for (int& t : tile) t = rng.Uniform(30, 220);
    for (int x = 0; x < w; ++x) put(tile[x / 8] + int(rng.Next() & 15) - 8);
  }
  for (size_t i = 0; i < 2 * croma; ++i) put(rng.Uniform(60, 190));
  return f;
}

inline std::string Y4mClip(int w, int h, const char* chroma, int frames, uint32_t seed) {
  std::string s =
      "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F24000:1001 A1:1 C" + chroma + "\n";
  for (int i = 0; i < frames; ++i) s += Y4mFrame(w, h, chroma, seed + i);
  return s;
}

inline std::vector<core::Picture> ReadAllFrames(io::Format format, const std::string& data, int w = 0,
                                                int h = 0) {
  std::istringstream in(data);
  io::ReaderOptions options;
  options.w = w;
  options.h = h;
  auto reader = io::OpenReader(format, in, "data", options);
  std::vector<core::Picture> frames;
  core::Picture f;
  while (reader->Read(f)) frames.push_back(f);
  return frames;
}

inline std::string EncodeFrames(io::Format format, const io::VideoInfo& info,
                                const std::vector<core::Picture>& frames) {
  std::ostringstream out;
  auto writer = io::OpenWriter(format, out, info, "data");
  for (const core::Picture& f : frames) writer->Write(f);
  writer->Finish();
  return out.str();
}

// The built-in filter `name` applied in-process as aufhost applies it by default: the editor's
// result with one partition, here on two workers.
inline void FilterInProcess(const std::string& name, core::Picture& f,
                            const std::vector<std::pair<std::string, int32_t>>& tracks = {}) {
  const core::FilterCore* core = hostkit::FindBuiltinFilter(name);
  std::vector<int32_t> values = core::DefaultTrackValues(*core);
  for (const auto& [track, value] : tracks) core::SetTrackByName(*core, values, track, value);
  core::WorkerPool pool(2, false);
  std::vector<core::YcPixel> scratch;
  core::FilterPicture(*core, core::DetectCpuFlags(), values.data(), f, scratch, 1, pool.workers());
}

inline io::VideoInfo InfoOf(const std::string& y4m) {
  std::istringstream in(y4m);
  return io::OpenReader(io::Format::kY4m, in, "data")->info();
}

// A PNG built here from its rows, independent of the writer under test: IHDR, optional PLTE and tRNS,
// one IDAT of rows with filter type 0, IEND.
inline std::string PngChunk(const char* type, const std::string& data) {
  std::string c;
  for (int shift : {24, 16, 8, 0}) c += char(data.size() >> shift);
  const std::string body = type + data;
  uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size())));
  c += body;
  for (int shift : {24, 16, 8, 0}) c += char(crc >> shift);
  return c;
}

inline std::string MakePng(int w, int h, int depth, int colour_type, const std::vector<int>& samples,
                           const std::string& palette = "", const std::string& transparency = "") {
  std::string ihdr;
  for (int v : {w, h})
    for (int shift : {24, 16, 8, 0}) ihdr += char(v >> shift);
  ihdr += {char(depth), char(colour_type), 0, 0, 0};
  std::string raw;
  const size_t per_row = samples.size() / size_t(h);
  for (int y = 0; y < h; ++y) {
    raw += '\0';
    for (size_t i = 0; i < per_row; ++i) {
      const int v = samples[size_t(y) * per_row + i];
      if (depth == 16) raw += char(v >> 8);
      raw += char(v);
    }
  }
  uLongf size = compressBound(uLong(raw.size()));
  std::string z(size, '\0');
  compress(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
           uLong(raw.size()));
  z.resize(size);
  std::string png = "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", ihdr);
  if (!palette.empty()) png += PngChunk("PLTE", palette);
  if (!transparency.empty()) png += PngChunk("tRNS", transparency);
  return png + PngChunk("IDAT", z) + PngChunk("IEND", "");
}

inline int PngDepth(const std::string& png) { return uint8_t(png[24]); }
inline int PngColourType(const std::string& png) { return uint8_t(png[25]); }

}  // namespace aufhost_test
