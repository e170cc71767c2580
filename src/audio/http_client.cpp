#include "http_client.h"

#include <cstdlib>
#include <string_view>

#include <curl/curl.h>

#include "text.h"

#ifndef VORNEL_VERSION
#define VORNEL_VERSION "1.0"
#endif

namespace vornel::audio {

namespace {

// The bundle of trusted certificates the environment names, or null for the system's store.
const char* CaBundleFromEnvironment() {
  for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

// Collects a bounded body.
class Collector final : public HttpClient::Handler {
 public:
  Collector(std::size_t maxBytes, std::vector<std::uint8_t>& body, HttpClient::Response& response)
      : maxBytes_(maxBytes), body_(body), response_(response) {}
  bool start(const HttpClient::Response& response) override {
    response_ = response;
    return true;
  }
  bool body(const std::uint8_t* data, std::size_t size) override {
    if (size > maxBytes_ - body_.size()) {
      tooLarge_ = true;
      return false;
    }
    body_.insert(body_.end(), data, data + size);
    return true;
  }
  bool tooLarge() const { return tooLarge_; }

 private:
  const std::size_t maxBytes_;
  std::vector<std::uint8_t>& body_;
  HttpClient::Response& response_;
  bool tooLarge_ = false;
};

}  // namespace

HttpClient::HttpClient(const std::atomic<bool>& abort) : abort_(abort), curl_(curl_easy_init()) {}

HttpClient::~HttpClient() {
  if (curl_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

HttpClient::Result HttpClient::get(const std::string& url, Handler& handler, bool icyMetadata) {
  return perform(url, handler, icyMetadata, false, {});
}

HttpClient::Result HttpClient::fetch(const std::string& url, std::size_t maxBytes,
                                     std::vector<std::uint8_t>& body, Response& response,
                                     const std::string& range) {
  body.clear();
  Collector collector(maxBytes, body, response);
  const Result result = perform(url, collector, false, true, range);
  if (collector.tooLarge()) error_ = "body larger than " + std::to_string(maxBytes) + " bytes";
  return result;
}

HttpClient::Result HttpClient::perform(const std::string& url, Handler& handler, bool icyMetadata,
                                       bool bounded, const std::string& range) {
  CURL* curl = static_cast<CURL*>(curl_);
  error_.clear();
  if (curl == nullptr) {
    error_ = "no transfer handle";
    return Result::Failed;
  }
  if (abort_) return Result::Aborted;
  handler_ = &handler;
  response_ = Response{};
  headerBytes_ = 0;
  started_ = false;
  refused_ = false;

  // Lists libcurl reads during the transfer; they live exactly as long as it.
  curl_slist* aliases = curl_slist_append(nullptr, "ICY 200 OK");
  curl_slist* headers = icyMetadata ? curl_slist_append(nullptr, "Icy-MetaData: 1") : nullptr;
  char errorText[CURL_ERROR_SIZE] = "";

  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, HttpLimits::kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_HTTP200ALIASES, aliases);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Vornel/" VORNEL_VERSION);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(curl, CURLOPT_CAINFO, CaBundleFromEnvironment());
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(HttpLimits::kConnectTimeout.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT,
                   bounded ? static_cast<long>(HttpLimits::kFetchTimeout.count()) : 0L);
  // A station that stops sending ends its download; the player then sees the stream stop.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, HttpLimits::kStallSeconds);

  curl_easy_setopt(
      curl, CURLOPT_HEADERFUNCTION, +[](char* data, size_t, size_t size, void* self) -> size_t {
        return static_cast<HttpClient*>(self)->onHeaderLine(data, size) ? size : 0;
      });
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t, size_t size, void* self) -> size_t {
        return static_cast<HttpClient*>(self)->onBody(data, size) ? size : 0;
      });
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
  // Checked often, also while connecting: freeing a stream never waits for a network time-out.
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(
      curl, CURLOPT_XFERINFOFUNCTION, +[](void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
        return static_cast<HttpClient*>(self)->abort_.load() ? 1 : 0;
      });
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);

  const CURLcode code = curl_easy_perform(curl);
  // An empty body still has a head worth telling the handler about.
  if (code == CURLE_OK && !started_ && !abort_) {
    char empty = 0;
    onBody(&empty, 0);
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_HTTP200ALIASES, nullptr);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  curl_slist_free_all(aliases);
  curl_slist_free_all(headers);
  handler_ = nullptr;

  if (abort_) return Result::Aborted;
  if (refused_) return Result::Refused;
  if (code != CURLE_OK) {
    if (error_.empty()) error_ = *errorText != '\0' ? errorText : curl_easy_strerror(code);
    return Result::Failed;
  }
  return Result::Done;
}

bool HttpClient::onHeaderLine(const char* data, std::size_t size) {
  if (abort_) return false;
  std::string line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  // Each response of a redirect chain starts with its status line; only the last one counts.
  if (StartsWithIgnoreCase(line, "HTTP/") || StartsWithIgnoreCase(line, "ICY ")) {
    response_.headerLines.clear();
    headerBytes_ = 0;
  } else if (line.empty()) {
    return true;
  }
  headerBytes_ += line.size() + 1;
  if (response_.headerLines.size() >= HttpLimits::kMaxHeaderLines ||
      headerBytes_ > HttpLimits::kMaxHeaderBytes) {
    error_ = "header flood";
    return false;  // not a radio station
  }
  response_.headerLines.push_back(std::move(line));
  return true;
}

bool HttpClient::onBody(const char* data, std::size_t size) {
  if (abort_) return false;
  if (!started_) {
    started_ = true;
    CURL* curl = static_cast<CURL*>(curl_);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response_.status);
    const char* type = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
    response_.contentType = type != nullptr ? type : "";
    const char* effective = nullptr;
    curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective);
    response_.effectiveUrl = effective != nullptr ? effective : "";
    if (response_.status < 200 || response_.status > 299 || !handler_->start(response_)) {
      if (error_.empty()) error_ = "refused (status " + std::to_string(response_.status) + ")";
      refused_ = true;
      return false;
    }
  }
  if (size == 0) return true;
  if (!handler_->body(reinterpret_cast<const std::uint8_t*>(data), size)) {
    refused_ = true;
    return false;
  }
  return true;
}

}  // namespace vornel::audio
