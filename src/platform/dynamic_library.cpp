#include "platform/dynamic_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vornel::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::string& path, std::string& error) {
#ifdef _WIN32
  HMODULE handle = LoadLibraryA(path.c_str());
  if (handle == nullptr) {
    error = "LoadLibrary failed with error " + std::to_string(GetLastError());
    return nullptr;
  }
#else
  // RTLD_NOW: a library with unresolved imports is refused here, not at its first call.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "unknown error";
    return nullptr;
  }
#endif
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() {
#ifdef _WIN32
  FreeLibrary(static_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}

void* DynamicLibrary::Symbol(const char* name) const {
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
  return dlsym(handle_, name);
#endif
}

}  // namespace vornel::platform
