// Feeds arbitrary bytes to the playlist sniffer and reader and to URL resolution; any crash,
// overflow or undefined behaviour is a finding, and so is a result that breaks what the caller
// relies on: few entries, all of them unique, fetchable over http(s), and final.
//
// Input: one byte choosing the Content-Type, the base URL up to the first '\n', then the body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "audio/playlist.h"

namespace {

using vornel::audio::PlaylistKind;

bool IsHttp(std::string_view url) {
  const auto startsWith = [&](std::string_view prefix) {
    return url.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), url.begin(),
                      [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b); });
  };
  return startsWith("http://") || startsWith("https://");
}

// A resolved URL must come back unchanged whatever it is resolved against.
void CheckFinal(std::string_view url) {
  if (url.empty()) return;
  for (char c : url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) std::abort();
  }
  if (vornel::audio::ResolveUrl("http://other.example/x/", url) != url) std::abort();
  if (vornel::audio::ResolveUrl("", url) != url) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static constexpr std::string_view kContentTypes[] = {"",
                                                       "audio/x-scpls",
                                                       "audio/x-mpegurl",
                                                       "application/vnd.apple.mpegurl; charset=utf-8",
                                                       "application/xspf+xml",
                                                       "video/x-ms-asf",
                                                       "text/html",
                                                       "audio/mpeg"};
  if (size == 0) return 0;
  const std::string_view contentType = kContentTypes[data[0] % std::size(kContentTypes)];
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t newline = input.find('\n');
  const std::string_view base =
      newline == std::string_view::npos ? std::string_view() : input.substr(0, newline);
  const std::string_view body = newline == std::string_view::npos ? input : input.substr(newline + 1);

  (void)vornel::audio::SniffPlaylist(body, contentType);
  (void)vornel::audio::SniffPlaylist(input, base);
  for (PlaylistKind kind : {PlaylistKind::None, PlaylistKind::Pls, PlaylistKind::M3u, PlaylistKind::Hls,
                            PlaylistKind::Xspf, PlaylistKind::Asx}) {
    const auto entries = vornel::audio::ParsePlaylist(kind, body, base);
    if (entries.size() > vornel::audio::kMaxPlaylistEntries) std::abort();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (!IsHttp(entries[i])) std::abort();
      if (std::find(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(i), entries[i]) !=
          entries.begin() + static_cast<std::ptrdiff_t>(i)) {
        std::abort();
      }
      CheckFinal(entries[i]);
    }
  }
  CheckFinal(vornel::audio::ResolveUrl(base, body));
  CheckFinal(vornel::audio::ResolveUrl("https://h.example/a/b/c?q", input));
  return 0;
}
