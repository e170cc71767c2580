#pragma once

// HTTP and HTTPS for the download thread. Plain http goes over our own HTTP/1.1 transport; https,
// proxies and addresses with user names over libcurl, loaded on the first such address. Each
// keeps its connection for a stream's whole life, so that the many small requests of a playlist
// or an HLS station reuse it. Every transfer stops within a moment of the abort flag being set.
//
// Certificates are verified against the system's store; CURL_CA_BUNDLE or SSL_CERT_FILE in the
// environment names a bundle of trusted certificates to use instead. A certificate that does not
// verify fails the request: there is no unverified fallback.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vornel::audio {

class PlainHttp;

struct HttpLimits {
  static constexpr std::chrono::seconds kConnectTimeout{5};  // TCP (and TLS) connect
  static constexpr long kStallSeconds = 10;                  // no data for this long ends a transfer
  static constexpr long kMaxRedirects = 5;
  static constexpr std::size_t kMaxHeaderLines = 100;
  static constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
  static constexpr std::chrono::seconds kFetchTimeout{15};  // a whole playlist or segment
};

class HttpClient {
 public:
  explicit HttpClient(const std::atomic<bool>& abort);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  struct Response {
    long status = 0;
    std::vector<std::string> headerLines;  // of the final response, status line first
    std::string contentType;
    std::string effectiveUrl;  // after redirects: relative addresses resolve against it
  };

  class Handler {
   public:
    virtual ~Handler() = default;
    // The final response's head, before its body; false refuses the body.
    virtual bool start(const Response& response) = 0;
    // Body bytes as they come; false ends the transfer.
    virtual bool body(const std::uint8_t* data, std::size_t size) = 0;
  };

  enum class Result { Done, Refused, Failed, Aborted };

  // Streams `url` through `handler`. `icyMetadata` asks for ICY metadata blocks.
  Result get(const std::string& url, Handler& handler, bool icyMetadata);

  // The whole body of `url` into `body`, at most `maxBytes` (more fails the fetch), within
  // kFetchTimeout. `response` gets the head. `range` ("first-last", bytes) asks for a part only.
  Result fetch(const std::string& url, std::size_t maxBytes, std::vector<std::uint8_t>& body,
               Response& response, const std::string& range = {});

  // What went wrong in the last transfer, for the log.
  const std::string& lastError() const { return error_; }

 private:
  class PlainSink;
  Result perform(const std::string& url, Handler& handler, bool icyMetadata, bool bounded,
                 const std::string& range);
  Result performWithCurl(const std::string& url, bool icyMetadata, bool bounded, const std::string& range,
                         long redirects);
  bool onHeaderLine(const char* data, std::size_t size);
  bool onCurlBody(const char* data, std::size_t size);
  // The final head is in response_: hands it to the handler, then body bytes.
  bool startBody();
  bool deliver(const char* data, std::size_t size);

  const std::atomic<bool>& abort_;
  std::unique_ptr<PlainHttp> plain_;
  void* curl_ = nullptr;
  // The transfer under way (download thread only).
  Handler* handler_ = nullptr;
  Response response_;
  std::size_t headerBytes_ = 0;
  bool started_ = false;
  bool refused_ = false;
  std::string error_;
};

}  // namespace vornel::audio
