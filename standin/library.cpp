#include "standin/library.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace standin {

void* OpenLibrary(const std::string& path, std::string* reason) {
#if defined(_WIN32)
  void* library = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (library == nullptr && reason != nullptr) *reason = " (error " + std::to_string(GetLastError()) + ")";
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
