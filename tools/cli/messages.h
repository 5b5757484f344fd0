#pragma once
// What aufhost says on stderr: one line per message, whatever the names in it hold.
#include <string>
#include <string_view>

namespace cli {

// `text` with what a terminal would act on shown escaped: control characters (\n, \t, \x1b ...,
// and U+0080..U+009F as \u0080 ...) and bytes that are not UTF-8 (\xff). Other characters, in any
// script, stay as they are.
std::string Printable(std::string_view text);

// One line on stderr, made printable: wide characters to a Windows console, UTF-8 bytes elsewhere.
void PrintLine(const std::string& line);

bool StderrIsTerminal();

}  // namespace cli
