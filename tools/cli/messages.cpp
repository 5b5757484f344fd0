#include "tools/cli/messages.h"

#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>

#include "tools/cli/files.h"
#else
#include <unistd.h>
#endif

namespace cli {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `s` and its code point; 0 if none.
size_t Utf8Sequence(std::string_view s, uint32_t* code) {
  const auto byte = [&](size_t i) {
    return static_cast<uint8_t>(s[i]);
  };
  const uint8_t lead = byte(0);
  const size_t n = lead < 0x80           ? 1
                   : (lead >> 5) == 0x6  ? 2
                   : (lead >> 4) == 0xe  ? 3
                   : (lead >> 3) == 0x1e ? 4
                                         : 0;
  if (n == 0 || n > s.size()) return 0;
  uint32_t c = n == 1 ? lead : lead & (0x7f >> n);
  for (size_t i = 1; i < n; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    c = c << 6 | (byte(i) & 0x3f);
  }
  constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[n] || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return 0;  // overlong, surrogate
  *code = c;
  return n;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  char escape[12];
  while (!text.empty()) {
    uint32_t c = 0;
    const size_t n = Utf8Sequence(text, &c);
    if (n == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<uint8_t>(text[0]));
      out += escape;
      text.remove_prefix(1);
      continue;
    }
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c == 0x7f) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
      out += escape;
    } else if (c >= 0x80 && c < 0xa0) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out.append(text.substr(0, n));
    }
    text.remove_prefix(n);
  }
  return out;
}

#if defined(_WIN32)
bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void PrintLine(const std::string& line) {
  const std::string shown = Printable(line);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (StderrIsTerminal() && GetConsoleMode(err, &mode)) {
    const std::wstring wide = Wide(shown + "\n");
    DWORD written = 0;
    WriteConsoleW(err, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fprintf(stderr, "%s\n", shown.c_str());
}
#else
bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void PrintLine(const std::string& line) { std::fprintf(stderr, "%s\n", Printable(line).c_str()); }
#endif

}  // namespace cli
