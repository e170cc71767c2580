#pragma once

// HTTP/1.1 over a plain TCP socket, for the http:// addresses that nearly every station has.
// What it does not take (https, a proxy in the environment, a user name in the address) goes to
// libcurl, which HttpClient loads only then.
//
// One idle connection is kept for the next request to the same host and port, so that the
// playlist and segment fetches of an HLS station reuse it.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::audio {

// Where a plain http address points.
struct HttpTarget {
  std::string host;        // as in the address, without the brackets of an IPv6 literal
  std::string port;        // "80" when the address names none
  std::string hostHeader;  // the Host header: host, and ":port" when it is not 80
  std::string path;        // path and query, percent-encoded where the address was not
};

// The target of `url` when this transport takes it: http, no user name, a sound host and port.
std::optional<HttpTarget> PlainHttpTarget(std::string_view url);

// "Vornel/<version>", sent with every request.
const char* HttpUserAgent();

// True when the environment names a proxy for http, which only libcurl honours.
bool HttpProxyConfigured();

// One response head as it came, lines without their ends.
struct ResponseHead {
  long status = 0;
  bool keepAlive = false;          // the connection may carry another request after this body
  std::vector<std::string> lines;  // status line first
  std::string contentType;
  std::string location;
  bool chunked = false;
  std::optional<std::uint64_t> contentLength;
};

// Reads the status line and the fields that frame the body. False when the first line is not an
// HTTP or ICY status line.
bool ParseResponseHead(std::vector<std::string> lines, ResponseHead& head);

// Undoes chunked transfer coding, whatever way the network splits the bytes.
class ChunkedDecoder {
 public:
  // Appends the body bytes in `data` to `out`; returns how many bytes of `data` belong to this
  // body (less than `size` only once the body has ended). nullopt when the coding is broken.
  std::optional<std::size_t> feed(const char* data, std::size_t size, std::string& out);
  bool done() const { return state_ == State::Done; }

 private:
  enum class State { Size, Extension, SizeEnd, Data, DataEnd, Trailer, Done };
  State state_ = State::Size;
  std::uint64_t remaining_ = 0;
  int digits_ = 0;
  std::size_t trailerLine_ = 0;
};

class PlainHttp {
 public:
  using Clock = std::chrono::steady_clock;

  explicit PlainHttp(const std::atomic<bool>& abort);
  ~PlainHttp();
  PlainHttp(const PlainHttp&) = delete;
  PlainHttp& operator=(const PlainHttp&) = delete;

  class Sink {
   public:
    virtual ~Sink() = default;
    // The final head before its body; false ends the transfer.
    virtual bool start(const ResponseHead& head) = 0;
    // Body bytes as they come; false ends the transfer.
    virtual bool body(const char* data, std::size_t size) = 0;
  };

  enum class Result { Done, Redirect, Stopped, Failed, Aborted };

  struct Request {
    const HttpTarget& target;
    bool icyMetadata = false;
    std::string range;           // "first-last" bytes, or empty
    Clock::time_point deadline;  // Clock::time_point::max() for none
  };

  // One request and its answer. A redirect (3xx with a Location) returns Redirect with the head
  // in `head` and no body delivered; a status of 400 or more fails.
  Result exchange(const Request& request, Sink& sink, ResponseHead& head, std::string& error);

 private:
  enum class Wait { Ready, TimedOut, Aborted };
  bool connect(const HttpTarget& target, Clock::time_point deadline, std::string& error, Result& why);
  Wait waitFor(short events, Clock::time_point until);
  Result readHead(ResponseHead& head, Clock::time_point deadline, bool& nothingCame, std::string& error);
  Result readBody(const ResponseHead& head, Sink& sink, Clock::time_point deadline, std::string& error);
  // Up to a buffer's worth into buffer_; 0 at the end of the stream.
  Result receive(Clock::time_point deadline, std::size_t& got, std::string& error);
  bool sendAll(const std::string& bytes, Clock::time_point deadline, std::string& error, Result& why);
  void close();

  const std::atomic<bool>& abort_;
  int socket_ = -1;
  std::string connectedTo_;  // "host:port" of socket_
  std::vector<char> buffer_;
  std::string pending_;  // bytes read past the head, not yet handed on
};

}  // namespace vornel::audio
