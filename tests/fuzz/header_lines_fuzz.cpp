// Feeds arbitrary response heads to the audio library's header handling, line by line as libcurl
// hands them over: HttpClient::onHeaderLine, which keeps the final response's lines, then the
// readers of those lines that the body reader uses (the icy-metaint value that decides where
// metadata blocks are, the Content-Type hint for sniffing the body), then the body as the reader
// sees it. Besides any crash, overflow or undefined behaviour, a finding is:
// - a kept line that is empty, still carries its line end, or is a status line other than the
//   first (the status line must be the first thing BASS_TAGS_HEADERS gives the player);
// - more lines or bytes kept than the limits allow, or a head refused within them;
// - lines of an earlier response of a redirect chain kept after a later status line;
// - a header value that is not the first such header's text without its leading blanks;
// - a metadata interval that is not the value's leading decimal digits, or that is beyond 2^30.
//
// onHeaderLine is private and the value readers are local to station_reader.cpp, so that file is
// compiled into this one and the private members are named through explicit instantiations, which
// the language exempts from access checks: the fuzzer reaches the very code libcurl calls without
// the library widening its interface for it.
//
// Input: the head, one line per '\n', up to the first empty line; the body after it.
#include "station_reader.cpp"  // NOLINT(bugprone-suspicious-include)

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using vornel::audio::HttpClient;
using vornel::audio::HttpLimits;

template <typename Tag, typename Tag::Type kMember>
struct Expose {
  friend typename Tag::Type Member(Tag) { return kMember; }
};

struct OnHeaderLineOf {
  using Type = bool (HttpClient::*)(const char*, std::size_t);
  friend Type Member(OnHeaderLineOf);
};
struct ResponseOf {
  using Type = HttpClient::Response HttpClient::*;
  friend Type Member(ResponseOf);
};
struct HeaderBytesOf {
  using Type = std::size_t HttpClient::*;
  friend Type Member(HeaderBytesOf);
};

template struct Expose<OnHeaderLineOf, &HttpClient::onHeaderLine>;
template struct Expose<ResponseOf, &HttpClient::response_>;
template struct Expose<HeaderBytesOf, &HttpClient::headerBytes_>;

bool IsStatusLine(std::string_view line) {
  return vornel::audio::StartsWithIgnoreCase(line, "HTTP/") ||
         vornel::audio::StartsWithIgnoreCase(line, "ICY ");
}

std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// What HeaderValue must give: the first "name:" line's rest, leading blanks off.
void CheckValue(const std::vector<std::string>& lines, std::string_view name) {
  const std::string value = vornel::audio::HeaderValue(lines, name);
  for (const std::string& line : lines) {
    if (line.size() <= name.size() || line[name.size()] != ':' ||
        !vornel::audio::StartsWithIgnoreCase(line, name)) {
      continue;
    }
    std::string_view rest = std::string_view(line).substr(name.size() + 1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    if (value != rest) std::abort();
    return;
  }
  if (!value.empty()) std::abort();
}

// The interval as the leading decimal digits say, or 0 beyond 2^30 or without digits.
std::size_t ExpectedMetaint(std::string_view value) {
  std::uint64_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
    if (n > (std::uint64_t{1} << 30)) return 0;
  }
  return static_cast<std::size_t>(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::atomic<bool> kNoAbort{false};
  static HttpClient client(kNoAbort);
  // As HttpClient::perform leaves things before each transfer.
  client.*Member(ResponseOf{}) = HttpClient::Response{};
  client.*Member(HeaderBytesOf{}) = 0;
  const std::vector<std::string>& lines = (client.*Member(ResponseOf{})).headerLines;

  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t pos = 0;
  while (pos < input.size()) {
    const std::size_t newline = input.find('\n', pos);
    const std::size_t end = newline == std::string_view::npos ? input.size() : newline + 1;
    // One allocation per line, as libcurl's buffer would end there.
    const std::string piece(input.substr(pos, end - pos));
    pos = end;
    const std::string_view line = WithoutLineEnd(piece);
    std::size_t keptBytes = 0;
    for (const std::string& kept : lines) keptBytes += kept.size() + 1;
    const std::size_t keptLines = lines.size();

    const bool accepted = (client.*Member(OnHeaderLineOf{}))(piece.data(), piece.size());
    if (!accepted) {
      // Only a flood is refused: the lines and bytes this one would bring past the limits.
      const bool restart = IsStatusLine(line);
      const std::size_t linesBefore = restart ? 0 : keptLines;
      const std::size_t bytesAfter = (restart ? 0 : keptBytes) + line.size() + 1;
      if (linesBefore < HttpLimits::kMaxHeaderLines && bytesAfter <= HttpLimits::kMaxHeaderBytes)
        std::abort();
      return 0;  // libcurl ends the transfer here
    }
    if (IsStatusLine(line) && (lines.size() != 1 || lines[0] != line)) std::abort();
    if (!line.empty() && lines.back() != line) std::abort();
    if (line.empty()) break;  // the end of the head
  }

  std::size_t bytes = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty() || WithoutLineEnd(line).size() != line.size()) std::abort();
    if (i > 0 && IsStatusLine(line)) std::abort();
    bytes += line.size() + 1;
  }
  if (lines.size() > HttpLimits::kMaxHeaderLines || bytes > HttpLimits::kMaxHeaderBytes) std::abort();

  for (std::string_view name : {"icy-metaint", "content-type", "icy-name"}) CheckValue(lines, name);
  const std::string metaintValue = vornel::audio::HeaderValue(lines, "icy-metaint");
  const std::size_t metaint = vornel::audio::ParseMetaint(metaintValue);
  if (metaint != ExpectedMetaint(metaintValue) || metaint > (std::size_t{1} << 30)) std::abort();

  // The body as BodyReader takes it: metadata blocks out, then sniffed under the head's type.
  const std::string contentType = vornel::audio::HeaderValue(lines, "content-type");
  std::vector<std::uint8_t> audio;
  vornel::audio::IcyDemuxer demuxer(metaint);
  demuxer.feed(
      data + pos, size - pos,
      [&](const std::uint8_t* p, std::size_t n) { audio.insert(audio.end(), p, p + n); },
      [](std::string_view) {});
  if (audio.size() > size - pos) std::abort();
  for (bool complete : {false, true}) {
    const vornel::audio::BodySniff sniff =
        vornel::audio::SniffBody(audio.data(), audio.size(), contentType, complete);
    if (complete && sniff.kind == vornel::audio::BodyKind::NeedMore) std::abort();
    if (sniff.audioStart > audio.size()) std::abort();
  }
  return 0;
}
