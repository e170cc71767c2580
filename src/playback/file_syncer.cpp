#include "playback/file_syncer.h"

#include <unistd.h>

namespace vornel::playback {

FileSyncer::FileSyncer() : thread_([this] { run(); }) {}

FileSyncer::~FileSyncer() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void FileSyncer::FlushAndClose(int handle) {
  if (handle < 0) return;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(handle);
  }
  changed_.notify_all();
}

void FileSyncer::Drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void FileSyncer::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return ending_ || !queue_.empty(); });
    if (queue_.empty()) return;  // ending, and nothing left
    const int handle = queue_.front();
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    ::fdatasync(handle);
    ::close(handle);
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace vornel::playback
