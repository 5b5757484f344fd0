#pragma once
// A plug-in library opened as the editors open one: LoadLibrary on Windows, dlopen elsewhere.
#include <string>

namespace standin {

// The library's handle, or null when it does not load; then `reason`, where given, receives why,
// worded to follow the quoted path in a message: " (<the system's text>)" on Windows, where the name
// (UTF-8) is loaded by its wide form whatever the system's code page; ": <the loader's text>"
// elsewhere.
void* OpenLibrary(const std::string& path, std::string* reason = nullptr);
// The address the library exports under `name`, or null.
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);

#if defined(_WIN32)
// A GetLastError() value as the system words it, on one line; `subject` stands for the "%1" of a
// text such as "%1 is not a valid Win32 application".
std::string WindowsErrorText(unsigned long error, const std::string& subject = "the file");
#endif

}  // namespace standin
