#include "stream.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include <curl/curl.h>

#include "meta_dispatcher.h"
#include "mp3_probe.h"

#ifndef VORNEL_VERSION
#define VORNEL_VERSION "1.0"
#endif

namespace vornel::audio {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

// The value of header `name` among `lines` ("Name: value"), or empty.
std::string HeaderValue(const std::vector<std::string>& lines, std::string_view name) {
  for (const std::string& line : lines) {
    if (line.size() > name.size() && line[name.size()] == ':' && StartsWithNoCase(line, name)) {
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

const std::uint8_t kNothing = 0;

}  // namespace

Stream::Stream(std::string url, DOWNLOADPROC* proc, void* user, std::shared_ptr<MetaDispatcher> dispatcher,
               int outputRate)
    : url_(std::move(url)),
      proc_(proc),
      user_(user),
      dispatcher_(std::move(dispatcher)),
      outputRate_(outputRate),
      ring_(StreamLimits::kBufferFrames),
      decoder_(outputRate, static_cast<int>(PcmRing::kChannels)) {}

Stream::~Stream() {
  stop();
  // A stream that never got a handle may still have titles queued for the metadata thread.
  dispatcher_->cancel(this);
}

bool Stream::connect() {
  if (!decoder_.valid()) return false;
  {
    std::lock_guard lock(threadMutex_);
    if (abort_) return false;
    thread_ = std::thread([this] { download(); });
  }

  const auto deadline = std::chrono::steady_clock::now() + StreamLimits::kFirstAudioTimeout;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (phase_ != Phase::Connecting || abort_) break;
    auto wakeAt = deadline;
    if (audioFound_) {
      // Audio is there; a title that comes with the first burst is worth a short wait, so that
      // the caller sees it right away instead of as the first change.
      const auto titleDeadline = audioFoundAt_ + StreamLimits::kFirstTitleWait;
      if (!hasMetadata_ || titleSeen_ || std::chrono::steady_clock::now() >= titleDeadline) {
        phase_ = Phase::Ready;
        ready_ = true;
        break;
      }
      wakeAt = std::min(wakeAt, titleDeadline);
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    phaseChanged_.wait_until(lock, wakeAt);
  }
  const bool ready = phase_ == Phase::Ready;
  lock.unlock();
  if (!ready) stop();
  return ready;
}

void Stream::stop() {
  playing_ = false;
  abort_ = true;
  ring_.wake();
  {
    std::lock_guard lock(mutex_);  // a connect() waiting on another thread sees the abort now
  }
  phaseChanged_.notify_all();
  std::lock_guard lock(threadMutex_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

DWORD Stream::state() const {
  if (!playing_) return BASS_STATE_STOPPED;
  if (ended_ && ring_.bufferedFrames() == 0) return BASS_STATE_STOPPED;
  if (stalled_) return BASS_STATE_STALLED;
  return BASS_STATE_PLAYING;
}

std::size_t Stream::readPcm(std::int16_t* out, std::size_t frames) {
  if (!playing_) return 0;
  if (stalled_) {
    // Run dry: wait for a useful amount before sounding again, so a slow stream does not stutter.
    if (!ended_ && ring_.bufferedFrames() < StreamLimits::kResumeFrames) return 0;
    stalled_ = false;
  }
  const std::size_t got = ring_.read(out, frames);
  if (got > 0 && firstSoundAt_.load() == std::chrono::steady_clock::time_point{})
    firstSoundAt_ = std::chrono::steady_clock::now();
  if (got < frames && !ended_) stalled_ = true;
  return got;
}

const char* Stream::metadataTag() const {
  std::lock_guard lock(mutex_);
  return metadata_.empty() ? nullptr : metadata_.back()->c_str();
}

void Stream::addSync(HSYNC sync, SYNCPROC* proc, void* user, DWORD channel) {
  std::lock_guard lock(mutex_);
  syncs_.push_back({sync, proc, user, channel});
}

// ---- download thread ------------------------------------------------------------------------

void Stream::download() {
  CURL* curl = curl_easy_init();
  // Lists libcurl reads during the transfer; they live exactly as long as it.
  curl_slist* aliases = curl_slist_append(nullptr, "ICY 200 OK");
  curl_slist* headers = curl_slist_append(nullptr, "Icy-MetaData: 1");
  if (curl != nullptr && aliases != nullptr && headers != nullptr) {
    configure(curl, aliases, headers);
    curl_easy_perform(curl);
  }
  if (curl != nullptr) curl_easy_cleanup(curl);
  curl_slist_free_all(aliases);
  curl_slist_free_all(headers);

  bool wasReady = false;
  {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::Connecting && audioFound_ && !abort_) {
      // A short stream can arrive whole before the caller's wait notices its audio; it still
      // plays from the buffer.
      phase_ = Phase::Ready;
      ready_ = true;
    }
    if (phase_ == Phase::Connecting) phase_ = Phase::Failed;
    wasReady = phase_ == Phase::Ready;
  }
  phaseChanged_.notify_all();
  ended_ = true;
  if (!wasReady) return;
  if (!undelivered_.empty()) deliver(undelivered_.data(), undelivered_.size());
  undelivered_.clear();
  // The end of the download, exactly once per stream that was handed out.
  if (proc_ != nullptr) proc_(&kNothing, 0, user_);
}

void Stream::configure(void* handle, curl_slist* aliases, curl_slist* headers) {
  CURL* curl = static_cast<CURL*>(handle);

  curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, StreamLimits::kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_HTTP200ALIASES, aliases);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Vornel/" VORNEL_VERSION);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT,
                   static_cast<long>(StreamLimits::kConnectTimeout.count()));
  // A station that stops sending ends its download; the player then sees the stream stop.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, StreamLimits::kStallSeconds);

  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, +[](char* data, size_t, size_t size, void* self) -> size_t {
    return static_cast<Stream*>(self)->onHeaderLine(data, size) ? size : 0;
  });
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t, size_t size, void* self) -> size_t {
    auto* stream = static_cast<Stream*>(self);
    if (!stream->bodyStarted_) {
      stream->bodyStarted_ = true;
      if (!stream->startBody(stream->curlForBody_)) return 0;
    }
    return stream->onBody(reinterpret_cast<const std::uint8_t*>(data), size) ? size : 0;
  });
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
  // Checked often, also while connecting: freeing a stream never waits for a network time-out.
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION,
                   +[](void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
                     return static_cast<Stream*>(self)->abort_.load() ? 1 : 0;
                   });
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  curlForBody_ = curl;
}

bool Stream::onHeaderLine(const char* data, std::size_t size) {
  if (abort_) return false;
  std::string line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  // Each response of a redirect chain starts with its status line; only the last one counts.
  if (StartsWithNoCase(line, "HTTP/") || StartsWithNoCase(line, "ICY ")) {
    headerLines_.clear();
    headerBytes_ = 0;
  } else if (line.empty()) {
    return true;
  }
  headerBytes_ += line.size() + 1;
  if (headerLines_.size() >= StreamLimits::kMaxHeaderLines || headerBytes_ > StreamLimits::kMaxHeaderBytes) {
    return false;  // a header flood: not a radio station
  }
  headerLines_.push_back(std::move(line));
  return true;
}

bool Stream::startBody(void* handle) {
  CURL* curl = static_cast<CURL*>(handle);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status > 299) return false;
  const char* type = nullptr;
  curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type);
  // An error page is not a station, whatever follows.
  if (type != nullptr && StartsWithNoCase(type, "text/")) return false;

  headers_.clear();
  for (const std::string& line : headerLines_) {
    headers_.insert(headers_.end(), line.begin(), line.end());
    headers_.push_back('\0');
  }
  headers_.push_back('\0');
  const std::size_t metaint = ParseMetaint(HeaderValue(headerLines_, "icy-metaint"));
  demuxer_ = std::make_unique<IcyDemuxer>(metaint);
  std::lock_guard lock(mutex_);
  hasMetadata_ = metaint != 0;
  return true;
}

bool Stream::onBody(const std::uint8_t* data, std::size_t size) {
  if (abort_) return false;
  bool ok = true;
  demuxer_->feed(
      data, size, [&](const std::uint8_t* audio, std::size_t n) { ok = ok && onAudio(audio, n); },
      [&](std::string_view text) { onMetadata(text); });
  return ok && !abort_;
}

bool Stream::onAudio(const std::uint8_t* data, std::size_t size) {
  if (ready_) {
    if (!undelivered_.empty()) {
      deliver(undelivered_.data(), undelivered_.size());
      undelivered_.clear();
      undelivered_.shrink_to_fit();
    }
    deliver(data, size);
  } else {
    // Held back until the stream is handed out, so that the download callback sees only the
    // audio of a real stream; bounded by the probe allowance and the short title wait.
    undelivered_.insert(undelivered_.end(), data, data + size);
    if (undelivered_.size() > kMaxId3Tag + kProbeAllowance + 1024 * 1024) return false;
  }

  pcm_.clear();
  if (!probed_) {
    // Until the body proves to be MP3, nothing is decoded.
    probe_.insert(probe_.end(), data, data + size);
    const ProbeResult probe = ProbeMp3(probe_.data(), probe_.size());
    if (probe == ProbeResult::NotMp3) return false;
    if (probe == ProbeResult::NeedMore) return true;
    probed_ = true;
    const bool decoded = decoder_.feed(probe_.data(), probe_.size(), pcm_);
    probe_.clear();
    probe_.shrink_to_fit();
    if (!decoded) return false;
  } else if (!decoder_.feed(data, size, pcm_)) {
    return false;
  }
  if (pcm_.empty()) return true;
  if (!ring_.write(pcm_.data(), pcm_.size() / PcmRing::kChannels, abort_)) return false;
  {
    std::lock_guard lock(mutex_);
    if (!audioFound_) {
      audioFound_ = true;
      audioFoundAt_ = std::chrono::steady_clock::now();
      phaseChanged_.notify_all();
    }
  }
  return true;
}

void Stream::onMetadata(std::string_view text) {
  // Servers repeat the current title in every block or send it once; either way one change.
  if (text == lastTitleBlock_) return;
  lastTitleBlock_.assign(text);
  auto shared = std::make_shared<const std::string>(text);
  std::vector<Sync> syncs;
  {
    std::lock_guard lock(mutex_);
    metadata_.push_back(shared);
    if (metadata_.size() > StreamLimits::kMetadataHistory) metadata_.pop_front();
    titleSeen_ = true;
    // The syncs set when the change happened: a title that arrived before the caller asked for
    // changes is the current title it reads, not a change it is told about.
    syncs = syncs_;
  }
  phaseChanged_.notify_all();
  if (syncs.empty()) return;
  dispatcher_->post(this, [shared, syncs = std::move(syncs)] {
    for (const Sync& sync : syncs) sync.proc(sync.handle, sync.channel, shared->c_str(), sync.user);
  });
}

void Stream::deliver(const std::uint8_t* data, std::size_t size) {
  if (proc_ != nullptr && size > 0) proc_(data, static_cast<DWORD>(size), user_);
}

}  // namespace vornel::audio
