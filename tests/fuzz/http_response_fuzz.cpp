// Feeds arbitrary answers to the plain HTTP transport's readers: the response head
// (ParseResponseHead) and the chunked body decoder. Besides any crash, overflow or undefined
// behaviour, a finding is:
// - a decoder that gives a different body, or stops at a different byte, when the same bytes come
//   split in two at another place;
// - a decoder that claims more bytes than it was given, or gives more body than it read;
// - a head taken as keep-alive whose body has no end but the connection's.
//
// Input: the first byte picks where the rest is split; up to the first blank line it is the head,
// one line per '\n'; the whole of it is also fed to the decoder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plain_http.h"

namespace {

using vornel::audio::ChunkedDecoder;

struct Decoded {
  bool broken = false;
  bool done = false;
  std::size_t used = 0;
  std::string body;
};

Decoded Decode(std::string_view wire, std::size_t cut) {
  Decoded result;
  ChunkedDecoder decoder;
  for (const std::string_view part : {wire.substr(0, cut), wire.substr(cut)}) {
    if (decoder.done()) break;
    const std::size_t before = result.body.size();
    const std::optional<std::size_t> used = decoder.feed(part.data(), part.size(), result.body);
    if (!used) {
      result.broken = true;
      return result;
    }
    if (*used > part.size() || result.body.size() - before > *used) std::abort();
    result.used += *used;
  }
  result.done = decoder.done();
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view wire(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<std::string> lines;
  std::string_view rest = wire;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    if (line.empty()) break;
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  vornel::audio::ResponseHead head;
  if (vornel::audio::ParseResponseHead(lines, head)) {
    const bool framed =
        head.chunked || head.contentLength || head.status < 200 || head.status == 204 || head.status == 304;
    if (head.keepAlive && !framed) std::abort();
    if (head.lines != lines) std::abort();
  }

  const Decoded whole = Decode(wire, wire.size());
  const Decoded split = Decode(wire, data[0] % (wire.size() + 1));
  if (whole.broken != split.broken) std::abort();
  if (!whole.broken && (whole.body != split.body || whole.done != split.done)) std::abort();
  if (whole.done && whole.used != split.used) std::abort();
  return 0;
}
