#include "standin/library.h"

#include <cstring>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace standin {

#if defined(_WIN32)
std::string WindowsErrorText(unsigned long error, const std::string& subject) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string said(
      n > 0 ? static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr))
            : 0,
      '\0');
  if (!said.empty())
    WideCharToMultiByte(CP_UTF8, 0, text, -1, said.data(), static_cast<int>(said.size()), nullptr, nullptr);
  LocalFree(text);
  // One line, without the full stop that ends the system's sentences.
  while (!said.empty() && std::strchr("\r\n .", said.back()) != nullptr) said.pop_back();
  for (char& c : said)
    if (c == '\r' || c == '\n') c = ' ';
  if (const size_t insert = said.find("%1"); insert != std::string::npos) said.replace(insert, 2, subject);
  return said.empty() ? "Windows error " + std::to_string(error) : said;
}
#endif

void* OpenLibrary(const std::string& path, std::string* reason) {
#if defined(_WIN32)
  std::wstring wide(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0)),
                    L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  void* library = reinterpret_cast<void*>(LoadLibraryW(wide.c_str()));
  if (library == nullptr && reason != nullptr) *reason = " (" + WindowsErrorText(GetLastError(), path) + ")";
#else
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr && reason != nullptr) {
    const char* err = dlerror();
    *reason = std::string(": ") + (err ? err : "unknown error");
  }
#endif
  return library;
}

void* LibrarySymbol(void* library, const char* name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
  return dlsym(library, name);
#endif
}

void CloseLibrary(void* library) {
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(library));
#else
  dlclose(library);
#endif
}

}  // namespace standin
