#include "http_client.h"

#include <cstdlib>
#include <string_view>

#include "curl_api.h"
#include "plain_http.h"
#include "playlist.h"
#include "text.h"

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

// The plain transport's answer, handed on as libcurl's would be.
class HttpClient::PlainSink final : public PlainHttp::Sink {
 public:
  PlainSink(HttpClient& client, const std::string& url) : client_(client), url_(url) {}
  bool start(const ResponseHead& head) override {
    client_.response_.status = head.status;
    client_.response_.headerLines = head.lines;
    client_.response_.contentType = head.contentType;
    client_.response_.effectiveUrl = url_;
    return client_.startBody();
  }
  bool body(const char* data, std::size_t size) override { return client_.deliver(data, size); }

 private:
  HttpClient& client_;
  const std::string& url_;
};

HttpClient::HttpClient(const std::atomic<bool>& abort)
    : abort_(abort), plain_(std::make_unique<PlainHttp>(abort)) {}

HttpClient::~HttpClient() {
  if (curl_ != nullptr) Curl()->easy_cleanup(static_cast<CURL*>(curl_));
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
  error_.clear();
  if (abort_) return Result::Aborted;
  handler_ = &handler;
  response_ = Response{};
  headerBytes_ = 0;
  started_ = false;
  refused_ = false;

  const auto deadline =
      bounded ? PlainHttp::Clock::now() + HttpLimits::kFetchTimeout : PlainHttp::Clock::time_point::max();
  std::string current = url;
  Result result = Result::Failed;
  for (long redirects = 0;; ++redirects) {
    const std::optional<HttpTarget> target = PlainHttpTarget(current);
    if (!target || HttpProxyConfigured()) {
      result = performWithCurl(current, icyMetadata, bounded, range, HttpLimits::kMaxRedirects - redirects);
      break;
    }
    PlainSink sink(*this, current);
    ResponseHead head;
    const PlainHttp::Result plain =
        plain_->exchange({*target, icyMetadata, range, deadline}, sink, head, error_);
    if (plain == PlainHttp::Result::Redirect) {
      if (redirects == HttpLimits::kMaxRedirects) {
        error_ = "more than " + std::to_string(HttpLimits::kMaxRedirects) + " redirects";
        break;
      }
      current = ResolveUrl(current, head.location);
      if (current.empty()) {
        error_ = "a redirect to an address that cannot be followed";
        break;
      }
      continue;
    }
    result = plain == PlainHttp::Result::Done      ? Result::Done
             : plain == PlainHttp::Result::Aborted ? Result::Aborted
                                                   : Result::Failed;
    break;
  }
  handler_ = nullptr;
  if (abort_) return Result::Aborted;
  if (refused_) return Result::Refused;
  return result;
}

HttpClient::Result HttpClient::performWithCurl(const std::string& url, bool icyMetadata, bool bounded,
                                               const std::string& range, long redirects) {
  const CurlApi* api = Curl();
  if (api != nullptr && curl_ == nullptr) curl_ = api->easy_init();
  CURL* curl = static_cast<CURL*>(curl_);
  if (curl == nullptr) {
    error_ = "no libcurl for " + url;
    return Result::Failed;
  }
  const auto setopt = api->easy_setopt;

  // Lists libcurl reads during the transfer; they live exactly as long as it.
  curl_slist* aliases = api->slist_append(nullptr, "ICY 200 OK");
  curl_slist* headers = icyMetadata ? api->slist_append(nullptr, "Icy-MetaData: 1") : nullptr;
  char errorText[CURL_ERROR_SIZE] = "";

  setopt(curl, CURLOPT_URL, url.c_str());
  setopt(curl, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());
  setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  setopt(curl, CURLOPT_MAXREDIRS, redirects);
  setopt(curl, CURLOPT_HTTPHEADER, headers);
  setopt(curl, CURLOPT_HTTP200ALIASES, aliases);
  setopt(curl, CURLOPT_USERAGENT, HttpUserAgent());
  setopt(curl, CURLOPT_FAILONERROR, 1L);
  setopt(curl, CURLOPT_NOSIGNAL, 1L);
  setopt(curl, CURLOPT_ERRORBUFFER, errorText);
  setopt(curl, CURLOPT_CAINFO, CaBundleFromEnvironment());
  setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(HttpLimits::kConnectTimeout.count()));
  setopt(curl, CURLOPT_TIMEOUT, bounded ? static_cast<long>(HttpLimits::kFetchTimeout.count()) : 0L);
  // A station that stops sending ends its download; the player then sees the stream stop.
  setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  setopt(curl, CURLOPT_LOW_SPEED_TIME, HttpLimits::kStallSeconds);

  setopt(
      curl, CURLOPT_HEADERFUNCTION, +[](char* data, size_t, size_t size, void* self) -> size_t {
        return static_cast<HttpClient*>(self)->onHeaderLine(data, size) ? size : 0;
      });
  setopt(curl, CURLOPT_HEADERDATA, this);
  setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t, size_t size, void* self) -> size_t {
        return static_cast<HttpClient*>(self)->onCurlBody(data, size) ? size : 0;
      });
  setopt(curl, CURLOPT_WRITEDATA, this);
  // Checked often, also while connecting: freeing a stream never waits for a network time-out.
  setopt(curl, CURLOPT_NOPROGRESS, 0L);
  setopt(
      curl, CURLOPT_XFERINFOFUNCTION, +[](void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
        return static_cast<HttpClient*>(self)->abort_.load() ? 1 : 0;
      });
  setopt(curl, CURLOPT_XFERINFODATA, this);

  const CURLcode code = api->easy_perform(curl);
  // An empty body still has a head worth telling the handler about.
  if (code == CURLE_OK && !started_ && !abort_) {
    char empty = 0;
    onCurlBody(&empty, 0);
  }
  setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  setopt(curl, CURLOPT_HTTP200ALIASES, nullptr);
  setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  api->slist_free_all(aliases);
  api->slist_free_all(headers);

  if (code != CURLE_OK) {
    if (error_.empty()) error_ = *errorText != '\0' ? errorText : api->easy_strerror(code);
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

bool HttpClient::onCurlBody(const char* data, std::size_t size) {
  if (abort_) return false;
  if (!started_) {
    const CurlApi* api = Curl();
    CURL* curl = static_cast<CURL*>(curl_);
    api->easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response_.status);
    const char* type = nullptr;
    api->easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
    response_.contentType = type != nullptr ? type : "";
    const char* effective = nullptr;
    api->easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective);
    response_.effectiveUrl = effective != nullptr ? effective : "";
    if (!startBody()) return false;
  }
  return deliver(data, size);
}

bool HttpClient::startBody() {
  if (abort_) return false;
  started_ = true;
  if (response_.status < 200 || response_.status > 299 || !handler_->start(response_)) {
    if (error_.empty()) error_ = "refused (status " + std::to_string(response_.status) + ")";
    refused_ = true;
    return false;
  }
  return true;
}

bool HttpClient::deliver(const char* data, std::size_t size) {
  if (abort_) return false;
  if (size == 0) return true;
  if (!handler_->body(reinterpret_cast<const std::uint8_t*>(data), size)) {
    refused_ = true;
    return false;
  }
  return true;
}

}  // namespace vornel::audio
