#include "library.h"

#include "meta_dispatcher.h"
#include "stream.h"

namespace vornel::audio {

Library& Library::instance() {
  static Library library;
  return library;
}

bool Library::init(int frequency) {
  {
    std::lock_guard lock(mutex_);
    if (dispatcher_) return true;
  }
  if (!output_.open(frequency)) return false;
  std::lock_guard lock(mutex_);
  if (!dispatcher_) dispatcher_ = std::make_shared<MetaDispatcher>();
  freeing_ = false;
  return true;
}

void Library::free() {
  std::map<DWORD, std::shared_ptr<Stream>> streams;
  std::shared_ptr<MetaDispatcher> dispatcher;
  std::vector<std::weak_ptr<Stream>> connecting;
  {
    std::lock_guard lock(mutex_);
    streams.swap(streams_);
    connecting.swap(connecting_);
    freeing_ = true;
  }
  // A connect still under way on another thread gives up at once and returns 0.
  for (const auto& weak : connecting) {
    if (const auto stream = weak.lock()) stream->stop();
  }
  for (auto& [handle, stream] : streams) end(stream);
  streams.clear();
  {
    std::lock_guard lock(mutex_);
    dispatcher = std::move(dispatcher_);
  }
  dispatcher.reset();
  output_.close();
}

HSTREAM Library::createStream(const char* url, DOWNLOADPROC* proc, void* user) {
  std::shared_ptr<MetaDispatcher> dispatcher;
  {
    std::lock_guard lock(mutex_);
    dispatcher = dispatcher_;
  }
  if (dispatcher == nullptr || url == nullptr) return 0;

  auto stream = std::make_shared<Stream>(url, proc, user, dispatcher, output_.frequency());
  {
    std::lock_guard lock(mutex_);
    // BASS_Free has already stopped the connects it knew of: this one would run its full time.
    if (freeing_ || dispatcher_ != dispatcher) return 0;
    std::erase_if(connecting_, [](const std::weak_ptr<Stream>& weak) { return weak.expired(); });
    connecting_.push_back(stream);
  }
  // Blocks the caller while connecting, without holding the library's lock.
  if (!stream->connect()) return 0;

  std::lock_guard lock(mutex_);
  if (dispatcher_ != dispatcher) {
    // BASS_Free ran meanwhile: the stream has nowhere to play.
    stream->stop();
    return 0;
  }
  do {
    ++lastHandle_;
  } while (lastHandle_ == 0 || streams_.count(lastHandle_) != 0);
  streams_[lastHandle_] = stream;
  return lastHandle_;
}

std::shared_ptr<Stream> Library::find(DWORD handle) {
  std::lock_guard lock(mutex_);
  const auto it = streams_.find(handle);
  return it == streams_.end() ? nullptr : it->second;
}

HSYNC Library::addSync(DWORD handle, SYNCPROC* proc, void* user) {
  const std::shared_ptr<Stream> stream = find(handle);
  if (!stream || proc == nullptr) return 0;
  HSYNC sync = 0;
  {
    std::lock_guard lock(mutex_);
    do {
      ++lastSync_;
    } while (lastSync_ == 0);
    sync = lastSync_;
  }
  stream->addSync(sync, proc, user, handle);
  return sync;
}

bool Library::play(DWORD handle) {
  const std::shared_ptr<Stream> stream = find(handle);
  // A stream that was stopped, or whose download ended and whose audio has played out, has
  // nothing left to play: saying it started would be a failure reported as success.
  if (!stream || stream->finished()) return false;
  stream->play();
  return output_.add(stream);
}

bool Library::stop(DWORD handle) {
  const std::shared_ptr<Stream> stream = find(handle);
  if (!stream) return false;
  stream->stop();
  // A stopped stream never plays again; with it gone the device may close.
  output_.remove(stream.get());
  return true;
}

bool Library::freeStream(DWORD handle) {
  std::shared_ptr<Stream> stream;
  {
    std::lock_guard lock(mutex_);
    const auto it = streams_.find(handle);
    if (it == streams_.end()) return false;
    stream = std::move(it->second);
    streams_.erase(it);
  }
  end(stream);
  return true;
}

void Library::end(const std::shared_ptr<Stream>& stream) {
  stream->stop();
  output_.remove(stream.get());
  std::shared_ptr<MetaDispatcher> dispatcher;
  {
    std::lock_guard lock(mutex_);
    dispatcher = dispatcher_;
  }
  if (dispatcher != nullptr) dispatcher->cancel(stream.get());
}

}  // namespace vornel::audio
