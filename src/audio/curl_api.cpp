#include "curl_api.h"

#include "dynamic_library.h"

namespace vornel::audio {

namespace {

const CurlApi* Load() {
  // Kept loaded for the life of the process: TLS libraries do not take kindly to being unloaded.
  void* library = OpenLibrary("libcurl.so.4", "libcurl");
  if (library == nullptr) return nullptr;
  static CurlApi api;
  CURLcode (*globalInit)(long) = nullptr;
  if (!BindSymbol(library, "curl_global_init", globalInit) ||
      !BindSymbol(library, "curl_easy_init", api.easy_init) ||
      !BindSymbol(library, "curl_easy_cleanup", api.easy_cleanup) ||
      !BindSymbol(library, "curl_easy_setopt", api.easy_setopt) ||
      !BindSymbol(library, "curl_easy_perform", api.easy_perform) ||
      !BindSymbol(library, "curl_easy_getinfo", api.easy_getinfo) ||
      !BindSymbol(library, "curl_easy_strerror", api.easy_strerror) ||
      !BindSymbol(library, "curl_slist_append", api.slist_append) ||
      !BindSymbol(library, "curl_slist_free_all", api.slist_free_all)) {
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
