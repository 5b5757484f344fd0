#include "tools/io/bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/io/frame_io.h"
#include "tools/io/io_internal.h"

namespace io {

namespace {
constexpr size_t kBufferBytes = size_t{1} << 16;
}  // namespace

BufferedInput::BufferedInput(ByteSource& source, std::string where)
    : source_(source), where_(std::move(where)), buffer_(kBufferBytes) {}

ptrdiff_t BufferedInput::ReadSource(void* dst, size_t n) {
  const ptrdiff_t got = source_.ReadSome(dst, n);
  if (got < 0) throw IoError(where_ + ": read error" + Reason(errno));
  return got;
}

bool BufferedInput::Fill() {
  pos_ = 0;
  end_ = static_cast<size_t>(ReadSource(buffer_.data(), buffer_.size()));
  return end_ > 0;
}

size_t BufferedInput::Read(void* dst, size_t n) {
  auto* d = static_cast<uint8_t*>(dst);
  const size_t buffered = std::min(n, end_ - pos_);
  std::memcpy(d, buffer_.data() + pos_, buffered);
  pos_ += buffered;
  size_t got = buffered;
  // Small remainders go through the buffer, so that what follows them is read in the same call.
  while (got < n) {
    if (n - got < buffer_.size() / 2) {
      if (!Fill()) break;
      const size_t take = std::min(n - got, end_);
      std::memcpy(d + got, buffer_.data(), take);
      pos_ = take;
      got += take;
      continue;
    }
    const ptrdiff_t more = ReadSource(d + got, n - got);
    if (more == 0) break;
    got += static_cast<size_t>(more);
  }
  return got;
}

int64_t BufferedInput::Remaining() {
  const int64_t left = source_.Remaining();
  return left < 0 ? -1 : left + static_cast<int64_t>(end_ - pos_);
}

// One byte, waited for; then what the stream has at hand, so that a pipe behind it is not waited on
// for more than it has sent.
ptrdiff_t StreamSource::ReadSome(void* dst, size_t n) {
  char* d = static_cast<char*>(dst);
  in_.read(d, 1);
  if (in_.gcount() == 0) return in_.bad() ? -1 : 0;
  const std::streamsize more = n > 1 ? in_.readsome(d + 1, static_cast<std::streamsize>(n - 1)) : 0;
  if (in_.bad()) return -1;
  return 1 + static_cast<ptrdiff_t>(more);
}

int64_t StreamSource::Remaining() { return RemainingBytes(in_); }

bool StreamSink::Write(const void* data, size_t n) {
  out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(n));
  return static_cast<bool>(out_);
}

bool StreamSink::Flush() {
  out_.flush();
  return static_cast<bool>(out_);
}

SourceStreamBuf::int_type SourceStreamBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  const ptrdiff_t got = source_.ReadSome(buffer_, sizeof buffer_);
  // The stream catches this and turns bad, as for any failure of its buffer.
  if (got < 0) throw IoError("read error");
  if (got == 0) return traits_type::eof();
  setg(buffer_, buffer_, buffer_ + got);
  return traits_type::to_int_type(*gptr());
}

std::streamsize SourceStreamBuf::xsgetn(char* dst, std::streamsize n) {
  std::streamsize got = std::min<std::streamsize>(n, egptr() - gptr());
  if (got > 0) {
    std::memcpy(dst, gptr(), static_cast<size_t>(got));
    gbump(static_cast<int>(got));
  }
  while (got < n) {
    const ptrdiff_t more = source_.ReadSome(dst + got, static_cast<size_t>(n - got));
    if (more < 0) throw IoError("read error");
    if (more == 0) break;
    got += more;
  }
  return got;
}

SinkStreamBuf::int_type SinkStreamBuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char byte = traits_type::to_char_type(c);
  return sink_.Write(&byte, 1) ? c : traits_type::eof();
}

std::streamsize SinkStreamBuf::xsputn(const char* data, std::streamsize n) {
  return sink_.Write(data, static_cast<size_t>(n)) ? n : 0;
}

int SinkStreamBuf::sync() { return sink_.Flush() ? 0 : -1; }

}  // namespace io
