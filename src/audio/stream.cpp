#include "stream.h"

#include <algorithm>

#include "log.h"
#include "meta_dispatcher.h"

namespace vornel::audio {

namespace {

const std::uint8_t kNothing = 0;

}  // namespace

Stream::Stream(std::string url, DOWNLOADPROC* proc, void* user, std::shared_ptr<MetaDispatcher> dispatcher,
               int outputRate)
    : url_(std::move(url)),
      proc_(proc),
      user_(user),
      dispatcher_(std::move(dispatcher)),
      outputRate_(outputRate),
      ring_(StreamLimits::kBufferFrames) {}

Stream::~Stream() {
  stop();
  // A stream that never got a handle may still have titles queued for the metadata thread.
  dispatcher_->cancel(this);
}

bool Stream::connect() {
  {
    std::lock_guard lock(mutex_);
    connectStart_ = std::chrono::steady_clock::now();
    deadline_ = connectStart_ + StreamLimits::kFirstAudioTimeout;
  }
  {
    std::lock_guard lock(threadMutex_);
    if (abort_) return false;
    thread_ = std::thread([this] { download(); });
  }

  std::unique_lock lock(mutex_);
  for (;;) {
    if (phase_ != Phase::Connecting || abort_) break;
    // Each address a playlist leads to moves the deadline on, within the connect's own limit.
    const auto deadline = deadline_;
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
  {
    StationReader reader(*this, outputRate_, abort_);
    reader.run(url_);
  }

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

void Stream::audioResponse(const std::vector<std::string>& headerLines, bool icyMetadata) {
  // Written before any audio is decoded, so before the stream is handed out and read.
  headers_.clear();
  for (const std::string& line : headerLines) {
    headers_.insert(headers_.end(), line.begin(), line.end());
    headers_.push_back('\0');
  }
  headers_.push_back('\0');
  std::lock_guard lock(mutex_);
  hasMetadata_ = icyMetadata;
}

void Stream::newAttempt() {
  undelivered_.clear();
  lastTitleBlock_.clear();
  {
    std::lock_guard lock(mutex_);
    metadata_.clear();
    hasMetadata_ = false;
    titleSeen_ = false;
    deadline_ = std::min(std::chrono::steady_clock::now() + StreamLimits::kFirstAudioTimeout,
                         connectStart_ + StreamLimits::kConnectLimit);
  }
  phaseChanged_.notify_all();
}

bool Stream::audioFound() const {
  std::lock_guard lock(mutex_);
  return audioFound_;
}

void Stream::block(const std::uint8_t* data, std::size_t size) {
  if (ready_) {
    if (!undelivered_.empty()) {
      deliver(undelivered_.data(), undelivered_.size());
      undelivered_.clear();
      undelivered_.shrink_to_fit();
    }
    deliver(data, size);
    return;
  }
  // Held back until the stream is handed out, so that the download callback sees only the
  // bytes of a stream that plays; bounded by the short wait for audio and a title.
  if (undelivered_.size() + size > StreamLimits::kMaxHeldBack) {
    LogLine("more than %zu bytes before any audio; the oldest are not handed on", StreamLimits::kMaxHeldBack);
    undelivered_.clear();
  }
  undelivered_.insert(undelivered_.end(), data, data + size);
}

bool Stream::pcm(const std::int16_t* samples, std::size_t frames) {
  if (!ring_.write(samples, frames, abort_)) return false;
  std::lock_guard lock(mutex_);
  if (!audioFound_) {
    audioFound_ = true;
    audioFoundAt_ = std::chrono::steady_clock::now();
    phaseChanged_.notify_all();
  }
  return true;
}

void Stream::title(const std::string& text) {
  // Servers repeat the current title in every block or send it once; either way one change.
  if (text == lastTitleBlock_) return;
  lastTitleBlock_ = text;
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
