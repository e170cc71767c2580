#pragma once

// The library's metadata thread: delivers metadata-change callbacks in order, away from the
// download threads, and lets a stream be freed with the guarantee that none of its callbacks runs
// afterwards.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vornel::audio {

class MetaDispatcher {
 public:
  using Task = std::function<void()>;

  MetaDispatcher();
  ~MetaDispatcher();
  MetaDispatcher(const MetaDispatcher&) = delete;
  MetaDispatcher& operator=(const MetaDispatcher&) = delete;

  // Queues `task` for the metadata thread, tagged with its stream (an address used only as a key).
  void post(const void* stream, Task task);

  // Drops the stream's queued tasks and waits until none of its tasks runs. Called from the
  // metadata thread itself (which callbacks must not do) it does not wait.
  void cancel(const void* stream);

 private:
  void run();

  struct Item {
    const void* stream;
    Task task;
  };

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> queue_;           // guarded by mutex_
  const void* running_ = nullptr;    // stream whose task runs now; guarded by mutex_
  bool stopping_ = false;            // guarded by mutex_
  std::thread thread_;
};

}  // namespace vornel::audio
