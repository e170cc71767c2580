#include "plain_http.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "http_client.h"
#include "text.h"

#ifndef VORNEL_VERSION
#define VORNEL_VERSION "1.0"
#endif

namespace vornel::audio {

namespace {

using Clock = PlainHttp::Clock;

// How often a wait looks at the abort flag: freeing a stream never waits on the network longer.
constexpr std::chrono::milliseconds kAbortCheck{200};
constexpr std::size_t kReadSize = 16 * 1024;  // a few blocks of a station's stream
constexpr std::size_t kMaxChunkLine = 4096;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  const char lower = AsciiLower(c);
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}

bool IsHostCharacter(char c, bool literal) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '-' || c == '.' || c == '_')
    return true;
  return literal && (c == ':' || c == '%');
}

// Whether the comma-separated list `value` holds `token`, in any case.
bool HasToken(std::string_view value, std::string_view token) {
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    if (EqualsIgnoreCase(TrimBlanks(value.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return false;
}

std::string SystemError(const char* what, int code) { return std::string(what) + ": " + std::strerror(code); }

// A name lookup that the abort flag can cut short: the lookup itself runs on a thread of its
// own, which cleans up after itself when nobody waits for it any longer.
struct Lookup {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool abandoned = false;
  int status = 0;
  addrinfo* result = nullptr;
};

struct AddressList {
  addrinfo* first = nullptr;
  ~AddressList() {
    if (first != nullptr) freeaddrinfo(first);
  }
};

addrinfo Hints(int flags) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = flags;
  return hints;
}

}  // namespace

std::optional<HttpTarget> PlainHttpTarget(std::string_view url) {
  constexpr std::string_view kScheme = "http://";
  if (!StartsWithIgnoreCase(url, kScheme)) return std::nullopt;
  url.remove_prefix(kScheme.size());
  const std::size_t authorityEnd = std::min(url.find_first_of("/?#"), url.size());
  std::string_view authority = url.substr(0, authorityEnd);
  if (authority.find('@') != std::string_view::npos) return std::nullopt;

  HttpTarget target;
  std::string_view host;
  std::string_view port;
  const bool literal = !authority.empty() && authority.front() == '[';
  if (literal) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(1, close - 1);
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      port = after.substr(1);
    }
  } else {
    const std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
  }
  if (host.empty() ||
      !std::all_of(host.begin(), host.end(), [&](char c) { return IsHostCharacter(c, literal); }))
    return std::nullopt;
  if (port.empty()) port = "80";
  if (port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit)) return std::nullopt;
  const long number = std::strtol(std::string(port).c_str(), nullptr, 10);
  if (number < 1 || number > 65535) return std::nullopt;

  target.host = host;
  target.port = std::to_string(number);
  target.hostHeader = literal ? "[" + target.host + "]" : target.host;
  if (number != 80) target.hostHeader += ":" + target.port;

  std::string_view rest = url.substr(authorityEnd);
  rest = rest.substr(0, rest.find('#'));
  if (rest.empty() || rest.front() == '?') target.path = "/";
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : rest) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      target.path += '%';
      target.path += kHex[byte >> 4];
      target.path += kHex[byte & 15];
    } else {
      target.path += c;
    }
  }
  return target;
}

bool HttpProxyConfigured() {
  // The names libcurl reads for http; it ignores HTTP_PROXY in capitals, and so do we.
  for (const char* name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

bool ParseResponseHead(std::vector<std::string> lines, ResponseHead& head) {
  head = ResponseHead{};
  if (lines.empty()) return false;
  std::string_view status = lines.front();
  bool http11 = false;
  if (StartsWithIgnoreCase(status, "HTTP/")) {
    const std::size_t space = status.find(' ');
    if (space == std::string_view::npos) return false;
    const std::string_view version = status.substr(5, space - 5);
    if (version.size() < 3 || version[0] != '1' || version[1] != '.') return false;
    http11 = version != "1.0";
    status.remove_prefix(space + 1);
  } else if (StartsWithIgnoreCase(status, "ICY ")) {
    status.remove_prefix(4);
  } else {
    return false;
  }
  status = TrimBlanks(status);
  if (status.size() < 3 || !IsDigit(status[0]) || !IsDigit(status[1]) || !IsDigit(status[2]) ||
      (status.size() > 3 && status[3] != ' '))
    return false;
  head.status = (status[0] - '0') * 100 + (status[1] - '0') * 10 + (status[2] - '0');
  head.keepAlive = http11;

  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = TrimBlanks(line.substr(0, colon));
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (EqualsIgnoreCase(name, "Content-Type")) {
      head.contentType = value;
    } else if (EqualsIgnoreCase(name, "Location")) {
      head.location = value;
    } else if (EqualsIgnoreCase(name, "Transfer-Encoding")) {
      head.chunked = HasToken(value, "chunked");
    } else if (EqualsIgnoreCase(name, "Content-Length")) {
      if (value.empty() || value.size() > 18 || !std::all_of(value.begin(), value.end(), IsDigit))
        return false;
      const std::uint64_t length = std::strtoull(std::string(value).c_str(), nullptr, 10);
      if (head.contentLength && *head.contentLength != length) return false;  // which one to believe?
      head.contentLength = length;
    } else if (EqualsIgnoreCase(name, "Connection")) {
      if (HasToken(value, "close"))
        head.keepAlive = false;
      else if (HasToken(value, "keep-alive"))
        head.keepAlive = true;
    }
  }
  // A body that ends only when the server closes leaves nothing to reuse.
  if (!head.chunked && !head.contentLength && head.status >= 200 && head.status != 204 && head.status != 304)
    head.keepAlive = false;
  head.lines = std::move(lines);
  return true;
}

std::optional<std::size_t> ChunkedDecoder::feed(const char* data, std::size_t size, std::string& out) {
  std::size_t i = 0;
  while (i < size && state_ != State::Done) {
    const char c = data[i];
    switch (state_) {
      case State::Size: {
        const int digit = HexValue(c);
        if (digit >= 0) {
          if (++digits_ > 15) return std::nullopt;
          remaining_ = remaining_ * 16 + static_cast<std::uint64_t>(digit);
        } else if (digits_ == 0) {
          return std::nullopt;
        } else if (c == ';' || c == ' ' || c == '\t') {
          state_ = State::Extension;
          trailerLine_ = 0;
        } else if (c == '\r') {
          state_ = State::SizeEnd;
        } else if (c == '\n') {
          state_ = remaining_ == 0 ? State::Trailer : State::Data;
          trailerLine_ = 0;
        } else {
          return std::nullopt;
        }
        ++i;
        break;
      }
      case State::Extension:
        if (c == '\n')
          state_ = remaining_ == 0 ? State::Trailer : State::Data;
        else if (++trailerLine_ > kMaxChunkLine)
          return std::nullopt;
        if (c == '\n') trailerLine_ = 0;
        ++i;
        break;
      case State::SizeEnd:
        if (c != '\n') return std::nullopt;
        state_ = remaining_ == 0 ? State::Trailer : State::Data;
        trailerLine_ = 0;
        ++i;
        break;
      case State::Data: {
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, size - i));
        out.append(data + i, take);
        remaining_ -= take;
        i += take;
        if (remaining_ == 0) state_ = State::DataEnd;
        break;
      }
      case State::DataEnd:
        if (c == '\n') {
          state_ = State::Size;
          digits_ = 0;
        } else if (c != '\r') {
          return std::nullopt;
        }
        ++i;
        break;
      case State::Trailer:
        if (c == '\n') {
          if (trailerLine_ == 0) state_ = State::Done;
          trailerLine_ = 0;
        } else if (c != '\r' && ++trailerLine_ > kMaxChunkLine) {
          return std::nullopt;
        }
        ++i;
        break;
      case State::Done:
        break;
    }
  }
  return i;
}

PlainHttp::PlainHttp(const std::atomic<bool>& abort) : abort_(abort), buffer_(kReadSize) {}

PlainHttp::~PlainHttp() { close(); }

void PlainHttp::close() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  connectedTo_.clear();
  pending_.clear();
}

PlainHttp::Wait PlainHttp::waitFor(short events, Clock::time_point until) {
  for (;;) {
    if (abort_) return Wait::Aborted;
    const auto now = Clock::now();
    if (now >= until) return Wait::TimedOut;
    const auto slice = std::min<Clock::duration>(until - now, kAbortCheck);
    pollfd one{socket_, events, 0};
    const int ready =
        ::poll(&one, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
    if (ready > 0) return Wait::Ready;  // errors too: the next call on the socket tells them
    if (ready < 0 && errno != EINTR) return Wait::Ready;
  }
}

bool PlainHttp::connect(const HttpTarget& target, Clock::time_point deadline, std::string& error,
                        Result& why) {
  close();
  why = Result::Failed;
  const Clock::time_point until = std::min(deadline, Clock::now() + HttpLimits::kConnectTimeout);

  AddressList addresses;
  const addrinfo numeric = Hints(AI_NUMERICHOST | AI_NUMERICSERV);
  if (getaddrinfo(target.host.c_str(), target.port.c_str(), &numeric, &addresses.first) != 0) {
    addresses.first = nullptr;
    auto lookup = std::make_shared<Lookup>();
    try {
      std::thread([lookup, host = target.host, port = target.port] {
        const addrinfo hints = Hints(AI_ADDRCONFIG | AI_NUMERICSERV);
        addrinfo* result = nullptr;
        const int status = getaddrinfo(host.c_str(), port.c_str(), &hints, &result);
        std::lock_guard lock(lookup->mutex);
        if (lookup->abandoned) {
          if (status == 0) freeaddrinfo(result);
          return;
        }
        lookup->done = true;
        lookup->status = status;
        lookup->result = status == 0 ? result : nullptr;
        lookup->finished.notify_all();
      }).detach();
    } catch (const std::system_error&) {
      error = "no thread for the name lookup";
      return false;
    }
    std::unique_lock lock(lookup->mutex);
    while (!lookup->done) {
      if (abort_)
        why = Result::Aborted;
      else if (Clock::now() >= until)
        error = "name lookup of " + target.host + " timed out";
      else {
        lookup->finished.wait_for(lock, kAbortCheck);
        continue;
      }
      lookup->abandoned = true;
      return false;
    }
    if (lookup->status != 0) {
      error = "cannot resolve " + target.host + ": " + gai_strerror(lookup->status);
      return false;
    }
    addresses.first = lookup->result;
  }

  for (const addrinfo* a = addresses.first; a != nullptr; a = a->ai_next) {
    socket_ = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (socket_ < 0) {
      error = SystemError("socket", errno);
      continue;
    }
    int status = ::connect(socket_, a->ai_addr, a->ai_addrlen);
    if (status != 0 && errno == EINPROGRESS) {
      const Wait wait = waitFor(POLLOUT, until);
      if (wait == Wait::Aborted) {
        close();
        why = Result::Aborted;
        return false;
      }
      if (wait == Wait::TimedOut) {
        close();
        error = "connecting to " + target.hostHeader + " timed out";
        return false;
      }
      int problem = 0;
      socklen_t length = sizeof problem;
      status = getsockopt(socket_, SOL_SOCKET, SO_ERROR, &problem, &length) == 0 && problem == 0 ? 0 : -1;
      errno = problem;
    }
    if (status == 0) {
      connectedTo_ = target.host + ":" + target.port;
      return true;
    }
    error = "cannot connect to " + target.hostHeader + ": " + std::strerror(errno);
    close();
  }
  if (error.empty()) error = "no address for " + target.host;
  return false;
}

bool PlainHttp::sendAll(const std::string& bytes, Clock::time_point deadline, std::string& error,
                        Result& why) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const Wait wait = waitFor(POLLOUT, deadline);
      if (wait == Wait::Ready) continue;
      why = wait == Wait::Aborted ? Result::Aborted : Result::Failed;
      error = "sending the request timed out";
      return false;
    }
    why = Result::Failed;
    error = SystemError("sending the request", errno);
    return false;
  }
  return true;
}

PlainHttp::Result PlainHttp::receive(Clock::time_point deadline, std::size_t& got, std::string& error) {
  const Clock::time_point stall = Clock::now() + std::chrono::seconds(HttpLimits::kStallSeconds);
  for (;;) {
    const ssize_t n = ::recv(socket_, buffer_.data(), buffer_.size(), 0);
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return Result::Done;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      error = SystemError("receiving", errno);
      return Result::Failed;
    }
    switch (waitFor(POLLIN, std::min(deadline, stall))) {
      case Wait::Ready:
        continue;
      case Wait::Aborted:
        return Result::Aborted;
      case Wait::TimedOut:
        error = Clock::now() >= deadline ? "timed out"
                                         : "no data for " + std::to_string(HttpLimits::kStallSeconds) + " s";
        return Result::Failed;
    }
  }
}

PlainHttp::Result PlainHttp::readHead(ResponseHead& head, Clock::time_point deadline, bool& nothingCame,
                                      std::string& error) {
  nothingCame = pending_.empty();
  std::vector<std::string> lines;
  std::size_t headBytes = 0;
  for (;;) {
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) {
        headBytes += line.size() + 1;
        if (lines.size() >= HttpLimits::kMaxHeaderLines || headBytes > HttpLimits::kMaxHeaderBytes) {
          error = "header flood";
          return Result::Failed;
        }
        lines.push_back(std::move(line));
        continue;
      }
      if (lines.empty()) continue;  // stray blank lines before a status line
      if (!ParseResponseHead(std::move(lines), head)) {
        error = "not an HTTP answer";
        return Result::Failed;
      }
      // An interim answer (100 Continue and the like) comes before the real one.
      if (head.status >= 200) return Result::Done;
      lines.clear();
      headBytes = 0;
    }
    if (pending_.size() > HttpLimits::kMaxHeaderBytes) {
      error = "header flood";
      return Result::Failed;
    }
    std::size_t got = 0;
    const Result result = receive(deadline, got, error);
    if (result != Result::Done) return result;
    if (got == 0) {
      error = "the server closed the connection before it answered";
      return Result::Failed;
    }
    nothingCame = false;
    pending_.append(buffer_.data(), got);
  }
}

PlainHttp::Result PlainHttp::readBody(const ResponseHead& head, Sink& sink, Clock::time_point deadline,
                                      std::string& error) {
  if (head.status == 204 || head.status == 304) return Result::Done;
  ChunkedDecoder chunks;
  std::string decoded;
  const bool counted = !head.chunked && head.contentLength.has_value();
  std::uint64_t left = counted ? *head.contentLength : 0;
  // What came with the head first, then each read straight from the buffer.
  const std::string early = std::move(pending_);
  pending_.clear();
  const char* data = early.data();
  std::size_t size = early.size();
  for (;;) {
    if (size > 0) {
      if (head.chunked) {
        decoded.clear();
        const std::optional<std::size_t> used = chunks.feed(data, size, decoded);
        if (!used) {
          error = "broken chunked coding";
          return Result::Failed;
        }
        if (*used < size) pending_.assign(data + *used, size - *used);
        data = decoded.data();
        size = decoded.size();
      } else if (counted) {
        if (size > left) {
          pending_.assign(data + left, size - static_cast<std::size_t>(left));
          size = static_cast<std::size_t>(left);
        }
        left -= size;
      }
      if (size > 0 && !sink.body(data, size)) return Result::Stopped;
    }
    if ((head.chunked && chunks.done()) || (counted && left == 0)) return Result::Done;
    if (abort_) return Result::Aborted;
    std::size_t got = 0;
    const Result result = receive(deadline, got, error);
    if (result != Result::Done) return result;
    if (got == 0) {
      if (!head.chunked && !counted) return Result::Done;  // the stream's end
      error = "the server closed the connection before the body ended";
      return Result::Failed;
    }
    data = buffer_.data();
    size = got;
  }
}

PlainHttp::Result PlainHttp::exchange(const Request& request, Sink& sink, ResponseHead& head,
                                      std::string& error) {
  error.clear();
  head = ResponseHead{};
  if (abort_) return Result::Aborted;
  const HttpTarget& target = request.target;
  std::string text = "GET " + target.path + " HTTP/1.1\r\nHost: " + target.hostHeader +
                     "\r\nUser-Agent: " + HttpUserAgent() + "\r\nAccept: */*\r\n";
  if (request.icyMetadata) text += "Icy-MetaData: 1\r\n";
  if (!request.range.empty()) text += "Range: bytes=" + request.range + "\r\n";
  text += "\r\n";

  bool reused = socket_ >= 0 && connectedTo_ == target.host + ":" + target.port;
  Result result = Result::Failed;
  for (;;) {
    if (!reused && !connect(target, request.deadline, error, result)) return result;
    bool nothingCame = false;
    if (sendAll(text, request.deadline, error, result))
      result = readHead(head, request.deadline, nothingCame, error);
    else
      nothingCame = true;
    // A kept connection the server has closed meanwhile fails at once: try a new one.
    if (result == Result::Failed && reused && nothingCame) {
      reused = false;
      continue;
    }
    break;
  }
  if (result != Result::Done) {
    close();
    return result;
  }
  if (head.status >= 400) {
    close();
    error = "the server answered " + head.lines.front();
    return Result::Failed;
  }
  if (head.status >= 300 && head.status < 400 && !head.location.empty()) {
    close();
    return Result::Redirect;
  }
  if (!sink.start(head)) {
    close();
    return Result::Stopped;
  }
  result = readBody(head, sink, request.deadline, error);
  // Bytes past the body mean a server we do not understand: no reuse then.
  if (result != Result::Done || !head.keepAlive || !pending_.empty()) close();
  return result;
}

const char* HttpUserAgent() { return "Vornel/" VORNEL_VERSION; }

}  // namespace vornel::audio
