#pragma once
// A plug-in library opened as the editors open one: LoadLibrary on Windows, dlopen elsewhere.
#include <string>

namespace standin {

// The library's handle, or null when it does not load; then `reason`, where given, receives why,
// worded to follow the quoted path in a message: " (error N)" on Windows, ": <the loader's text>"
// elsewhere.
void* OpenLibrary(const std::string& path, std::string* reason = nullptr);
// The address the library exports under `name`, or null.
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);

}  // namespace standin
