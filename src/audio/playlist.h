#pragma once

// A station address often answers with a playlist instead of audio. These functions tell which
// kind of text came back and pull the stream addresses out of it, so that the caller can try them
// in order. Everything here is pure text processing with no I/O; any input, however broken, gives
// an answer in time linear in its length.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::audio {

enum class PlaylistKind { None, Pls, M3u, Hls, Xspf, Asx };

// From the first bytes of a body (up to a few KiB; may be incomplete) and the Content-Type header
// (a hint only: servers lie; may be empty). Hls = an M3U8 that carries HLS tags (#EXT-X-TARGETDURATION,
// #EXT-X-STREAM-INF, #EXT-X-MEDIA-SEQUENCE, #EXTINF with #EXT-X-VERSION ...): the caller plays it as HLS,
// not as a list. None for audio bytes (MP3/ADTS/Ogg/MPEG-TS binary data) and for HTML pages and other text.
// Any #EXT-X- tag counts, as no plain list uses that prefix. The body decides whenever it can; the
// header only settles what a cut-off head leaves open.
PlaylistKind SniffPlaylist(std::string_view head, std::string_view contentType);

// The entries of a PLS, M3U (plain or non-HLS .m3u8), XSPF or ASX text, in file order, each resolved
// against baseUrl, only http:// and https:// results kept (a remote list must not reach local files or
// other protocols), duplicates removed, at most kMaxPlaylistEntries. Unknown or garbage text, and the
// kinds None and Hls, give an empty vector. Text past kMaxPlaylistBytes is ignored. UTF-16 text (with a
// BOM, or recognisable by its zero bytes) is read as such. A bare "host:port[/path]" entry, as station
// lists write them, is taken as http.
std::vector<std::string> ParsePlaylist(PlaylistKind kind, std::string_view text, std::string_view baseUrl);

// RFC 3986 reference resolution for http/https bases: absolute URLs returned as they are (trimmed),
// scheme-relative "//host/x", absolute-path "/x", relative "a/b.m3u8", "../x", query-only "?q", with
// dot-segment removal. Empty result when the reference cannot be resolved: a relative reference on a
// base that is not an absolute http(s) URL, an http(s) result without a host, control characters or
// <, >, " anywhere (these only come from garbage). Spaces and non-ASCII bytes in the path, query and
// fragment are percent-encoded, since playlists written by hand carry them and no server reads them raw.
std::string ResolveUrl(std::string_view base, std::string_view reference);

inline constexpr std::size_t kMaxPlaylistEntries = 64;
inline constexpr std::size_t kMaxPlaylistBytes = 256 * 1024;  // the caller never collects more than this

}  // namespace vornel::audio
