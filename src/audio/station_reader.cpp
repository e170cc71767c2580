#include "station_reader.h"

#include <memory>
#include <optional>
#include <string_view>

#include "elementary.h"
#include "format_probe.h"
#include "hls_reader.h"
#include "icy_demuxer.h"
#include "log.h"
#include "m3u8.h"
#include "playlist.h"
#include "text.h"
#include "ts_demuxer.h"

namespace vornel::audio {

namespace {

// The value of header `name` among `lines` ("Name: value"), or empty.
std::string HeaderValue(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines) {
    if (line.size() > name.size() && line[name.size()] == ':' && StartsWithIgnoreCase(line, name)) {
      std::string value = line.substr(name.size() + 1);
      value.erase(0, value.find_first_not_of(" \t"));
      return value;
    }
  }
  return {};
}

// A positive decimal metadata interval, or 0 (no metadata) when absent or unreadable.
std::size_t ParseMetaint(const std::string& value) {
  std::size_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    n = n * 10 + static_cast<std::size_t>(c - '0');
    if (n > (1u << 30)) return 0;
  }
  return n;
}

// One response body: sniffed, then played, or collected as a playlist, or refused.
class BodyReader final : public HttpClient::Handler {
 public:
  BodyReader(StationReceiver& receiver, int outputRate) : receiver_(receiver), audio_(receiver, outputRate) {}

  bool start(const HttpClient::Response& response) override {
    response_ = response;
    metaint_ = ParseMetaint(HeaderValue(response.headerLines, "icy-metaint"));
    demuxer_ = std::make_unique<IcyDemuxer>(metaint_);
    return true;
  }

  bool body(const std::uint8_t* data, std::size_t size) override {
    bool ok = true;
    demuxer_->feed(
        data, size, [&](const std::uint8_t* audio, std::size_t n) { ok = ok && onBytes(audio, n); },
        [&](std::string_view text) {
          // Held until the body proves to be audio: a title belongs to a stream that plays.
          if (!started_) {
            pendingTitle_.assign(text);
          } else {
            receiver_.title(std::string(text));
          }
        });
    return ok;
  }

  // The body ended: a short one is judged on what came, and a stream's last bytes are handed on,
  // unless the listener ended it: then a frame cut off by the stop is not the stream's and would
  // only end a recording with a damaged frame.
  void finish(HttpClient::Result result) {
    if (kind_ == BodyKind::NeedMore && result == HttpClient::Result::Done) {
      decide(SniffBody(sniffed_.data(), sniffed_.size(), response_.contentType, true));
    }
    if (started_ && result != HttpClient::Result::Aborted) audio_.finish();
  }

  BodyKind kind() const { return kind_; }
  bool played() const { return started_; }
  PlaylistKind playlistKind() const { return playlistKind_; }
  const std::vector<std::uint8_t>& collected() const { return sniffed_; }
  const HttpClient::Response& response() const { return response_; }

 private:
  bool onBytes(const std::uint8_t* data, std::size_t size) {
    switch (kind_) {
      case BodyKind::NeedMore:
        sniffed_.insert(sniffed_.end(), data, data + size);
        return decide(SniffBody(sniffed_.data(), sniffed_.size(), response_.contentType, false));
      case BodyKind::Playlist: {
        // An HLS playlist may list many segments; a list of stations is short.
        const std::size_t limit = playlistKind_ == PlaylistKind::Hls ? kMaxM3u8Bytes : kMaxPlaylistBytes;
        if (sniffed_.size() + size > limit) {
          LogLine("playlist larger than %zu bytes: %s", limit, response_.effectiveUrl.c_str());
          kind_ = BodyKind::NotAudio;
          return false;
        }
        sniffed_.insert(sniffed_.end(), data, data + size);
        return true;
      }
      case BodyKind::TransportStream:
        return ts_->feed(data, size) && !audio_.failed();
      case BodyKind::Mpeg:
      case BodyKind::Adts:
      case BodyKind::Ogg:
        return audio_.feed(format_, data, size);
      case BodyKind::NotAudio:
        return false;
    }
    return false;
  }

  bool decide(const BodySniff& sniff) {
    kind_ = sniff.kind;
    switch (sniff.kind) {
      case BodyKind::NeedMore:
        return true;
      case BodyKind::NotAudio:
        LogLine("not audio (Content-Type \"%s\"): %s", response_.contentType.c_str(),
                response_.effectiveUrl.c_str());
        return false;
      case BodyKind::Playlist:
        playlistKind_ = sniff.playlist;
        return true;
      case BodyKind::TransportStream:
      case BodyKind::Mpeg:
      case BodyKind::Adts:
      case BodyKind::Ogg:
        break;
    }
    started_ = true;
    receiver_.audioResponse(response_.headerLines, metaint_ != 0);
    if (!pendingTitle_.empty()) receiver_.title(pendingTitle_);
    std::vector<std::uint8_t> head;
    head.swap(sniffed_);
    if (sniff.kind == BodyKind::TransportStream) {
      ts_ = std::make_unique<TsDemuxer>(audio_);
      return onBytes(head.data(), head.size());
    }
    format_ = *AudioFormatOf(sniff.kind);
    // A leading tag is the stream's own bytes too, but nothing to decode.
    audio_.passOn(format_, head.data(), sniff.audioStart);
    return onBytes(head.data() + sniff.audioStart, head.size() - sniff.audioStart);
  }

  StationReceiver& receiver_;
  ElementaryAudio audio_;
  HttpClient::Response response_;
  std::size_t metaint_ = 0;
  std::unique_ptr<IcyDemuxer> demuxer_;
  BodyKind kind_ = BodyKind::NeedMore;
  AudioFormat format_ = AudioFormat::Mpeg;
  PlaylistKind playlistKind_ = PlaylistKind::None;
  bool started_ = false;
  std::vector<std::uint8_t> sniffed_;  // the body until it is known, or the whole playlist
  std::string pendingTitle_;
  std::unique_ptr<TsDemuxer> ts_;
};

}  // namespace

bool StationReader::tryAddress(const std::string& url, int depth) {
  if (abort_) return false;
  BodyReader reader(receiver_, outputRate_);
  const HttpClient::Result result = http_.get(url, reader, true);
  reader.finish(result);
  if (abort_) return receiver_.audioFound();

  if (reader.played()) {
    if (result == HttpClient::Result::Failed)
      LogLine("stream ended: %s (%s)", http_.lastError().c_str(), url.c_str());
    return receiver_.audioFound();
  }
  if (reader.kind() != BodyKind::Playlist) {
    if (result == HttpClient::Result::Failed)
      LogLine("cannot open %s: %s", url.c_str(), http_.lastError().c_str());
    return false;
  }

  const auto& body = reader.collected();
  const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
  const std::string& base = reader.response().effectiveUrl.empty() ? url : reader.response().effectiveUrl;
  if (reader.playlistKind() == PlaylistKind::Hls) {
    HlsReader hls(http_, receiver_, outputRate_, abort_);
    return hls.run(base, text, reader.response().headerLines);
  }
  if (depth + 1 > kMaxPlaylistDepth) {
    LogLine("playlists nested deeper than %d: %s", kMaxPlaylistDepth, url.c_str());
    return false;
  }
  const std::vector<std::string> entries = ParsePlaylist(reader.playlistKind(), text, base);
  for (const std::string& entry : entries) {
    if (abort_) return false;
    receiver_.newAttempt();
    if (tryAddress(entry, depth + 1)) return true;
  }
  LogLine("no playable entry among %zu in %s", entries.size(), url.c_str());
  return false;
}

}  // namespace vornel::audio
