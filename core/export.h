#pragma once
// A plug-in's exported entry points: C names, visible outside the library.
#if defined(_WIN32)
#define AUF_EXPORT extern "C" __declspec(dllexport)
#else
#define AUF_EXPORT extern "C" __attribute__((visibility("default")))
#endif
