#pragma once

// A shared library opened at run time (dlopen on POSIX, LoadLibrary on Windows), closed when the
// object goes.

#include <memory>
#include <string>

namespace vornel::platform {

class DynamicLibrary {
 public:
  // Opens `path`; on failure returns null and puts the system's reason into `error`.
  static std::unique_ptr<DynamicLibrary> Open(const std::string& path, std::string& error);

  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of an exported function, or null when the library lacks it.
  void* Symbol(const char* name) const;

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace vornel::platform
