#pragma once

// Libraries the audio library opens at run time rather than links (libcurl, SDL2): each is
// opened on its first use and kept for the life of the process.

#include <dlfcn.h>

#include "log.h"

namespace vornel::audio {

// The library `soname`, or null (logged, naming it as `what`) when it cannot be opened.
inline void* OpenLibrary(const char* soname, const char* what) {
  void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    LogLine("%s cannot be loaded: %s", what, why != nullptr ? why : "unknown reason");
  }
  return library;
}

template <typename Function>
bool BindSymbol(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

}  // namespace vornel::audio
