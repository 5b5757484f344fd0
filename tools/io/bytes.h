#pragma once
// Where readers take their bytes from and where writers put them. Video frames travel in large
// reads and writes straight into and out of the frame buffers, with no stream buffer in between;
// the standard streams fit behind the same interfaces.
#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace io {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to n (> 0) bytes into dst: how many arrived, 0 at the end of the input, -1 on an error.
  virtual ptrdiff_t ReadSome(void* dst, size_t n) = 0;
  // The bytes left before the end, or -1 where that is not known (pipes, terminals).
  virtual int64_t Remaining() { return -1; }
  // Makes a read that is waiting for input in another thread, and every later read, fail. Sources
  // that never wait long (files, memory) need not do anything.
  virtual void Cancel() {}
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all n bytes; false when they could not all be written.
  virtual bool Write(const void* data, size_t n) = 0;
  virtual bool Flush() { return true; }
};

// Reads a source through a buffer for lines and small pieces; a large read goes straight into
// the caller's memory once the buffered bytes are used up. Errors throw IoError naming `where`.
class BufferedInput {
 public:
  BufferedInput(ByteSource& source, std::string where);

  // The next byte, or -1 at the end.
  int Get() { return pos_ < end_ || Fill() ? buffer_[pos_++] : -1; }
  // Up to n bytes; fewer only at the end of the input.
  size_t Read(void* dst, size_t n);
  // The bytes left, buffered ones included, or -1.
  int64_t Remaining();

 private:
  bool Fill();
  ptrdiff_t ReadSource(void* dst, size_t n);

  ByteSource& source_;
  std::string where_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0, end_ = 0;
};

// The standard streams as a source and a sink.
class StreamSource : public ByteSource {
 public:
  explicit StreamSource(std::istream& in) : in_(in) {}
  ptrdiff_t ReadSome(void* dst, size_t n) override;
  int64_t Remaining() override;

 private:
  std::istream& in_;
};

class StreamSink : public ByteSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  bool Write(const void* data, size_t n) override;
  bool Flush() override;

 private:
  std::ostream& out_;
};

// And the other way round: a stream buffer over a source or a sink, for code written against the
// standard streams. A failed read or write makes the stream bad.
class SourceStreamBuf : public std::streambuf {
 public:
  explicit SourceStreamBuf(ByteSource& source) : source_(source) {}

 protected:
  int_type underflow() override;
  std::streamsize xsgetn(char* dst, std::streamsize n) override;

 private:
  ByteSource& source_;
  char buffer_[4096];
};

class SinkStreamBuf : public std::streambuf {
 public:
  explicit SinkStreamBuf(ByteSink& sink) : sink_(sink) {}

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize n) override;
  int sync() override;

 private:
  ByteSink& sink_;
};

}  // namespace io
