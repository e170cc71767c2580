#pragma once

// libcurl, loaded on the first address that needs it (https, a proxy, a user name in the
// address). Loading it maps some thirty libraries, TLS among them, and its set-up initialises
// OpenSSL: about 8 MiB of resident memory that a player of plain http stations never needs.

#include <curl/curl.h>

namespace vornel::audio {

struct CurlApi {
  CURL* (*easy_init)() = nullptr;
  void (*easy_cleanup)(CURL*) = nullptr;
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...) = nullptr;
  CURLcode (*easy_perform)(CURL*) = nullptr;
  CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...) = nullptr;
  const char* (*easy_strerror)(CURLcode) = nullptr;
  curl_slist* (*slist_append)(curl_slist*, const char*) = nullptr;
  void (*slist_free_all)(curl_slist*) = nullptr;
};

// libcurl loaded and set up, or null when it cannot be (not installed, or its set-up failed).
// Loaded once, by whichever thread asks first; later calls return at once.
const CurlApi* Curl();

}  // namespace vornel::audio
