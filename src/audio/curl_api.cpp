#include "curl_api.h"

#include <dlfcn.h>

#include "log.h"

namespace vornel::audio {

namespace {

template <typename Function>
bool Bind(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

const CurlApi* Load() {
  // Kept loaded for the life of the process: TLS libraries do not take kindly to being unloaded.
  void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* why = dlerror();
    LogLine("libcurl cannot be loaded: %s", why != nullptr ? why : "unknown reason");
    return nullptr;
  }
  static CurlApi api;
  CURLcode (*globalInit)(long) = nullptr;
  if (!Bind(library, "curl_global_init", globalInit) || !Bind(library, "curl_easy_init", api.easy_init) ||
      !Bind(library, "curl_easy_cleanup", api.easy_cleanup) ||
      !Bind(library, "curl_easy_setopt", api.easy_setopt) ||
      !Bind(library, "curl_easy_perform", api.easy_perform) ||
      !Bind(library, "curl_easy_getinfo", api.easy_getinfo) ||
      !Bind(library, "curl_easy_strerror", api.easy_strerror) ||
      !Bind(library, "curl_slist_append", api.slist_append) ||
      !Bind(library, "curl_slist_free_all", api.slist_free_all)) {
    LogLine("libcurl lacks a function we use");
    return nullptr;
  }
  // Thread-safe since libcurl 7.84 (Debian 12 has 7.88), so a stream thread may call it while
  // others run.
  if (globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    LogLine("libcurl's set-up failed");
    return nullptr;
  }
  return &api;
}

}  // namespace

const CurlApi* Curl() {
  static const CurlApi* const api = Load();
  return api;
}

}  // namespace vornel::audio
