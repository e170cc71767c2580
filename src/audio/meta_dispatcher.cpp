#include "meta_dispatcher.h"

#include <algorithm>

namespace vornel::audio {

MetaDispatcher::MetaDispatcher() : thread_([this] { run(); }) {}

MetaDispatcher::~MetaDispatcher() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void MetaDispatcher::post(const void* stream, Task task) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back({stream, std::move(task)});
  }
  changed_.notify_all();
}

void MetaDispatcher::cancel(const void* stream) {
  std::unique_lock lock(mutex_);
  std::erase_if(queue_, [stream](const Item& item) { return item.stream == stream; });
  if (std::this_thread::get_id() == thread_.get_id()) return;
  changed_.wait(lock, [&] { return running_ != stream; });
}

void MetaDispatcher::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Item item = std::move(queue_.front());
    queue_.pop_front();
    running_ = item.stream;
    lock.unlock();
    item.task();
    item.task = nullptr;  // whatever the task holds goes before the stream counts as idle
    lock.lock();
    running_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace vornel::audio
