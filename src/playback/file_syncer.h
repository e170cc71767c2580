#pragma once

// Flushes recording files to the disk on a thread of its own: fdatasync can take long on a busy
// or slow disk, and neither the download thread nor the user-interface thread may wait for it.
// Each descriptor handed over is flushed and then closed.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vornel::playback {

class FileSyncer {
 public:
  FileSyncer();
  ~FileSyncer();  // flushes and closes whatever is still queued
  FileSyncer(const FileSyncer&) = delete;
  FileSyncer& operator=(const FileSyncer&) = delete;

  // Takes `handle` over: it is flushed and closed. Nothing for -1.
  void FlushAndClose(int handle);
  // Returns once everything handed over before is flushed and closed.
  void Drain();

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<int> queue_;  // guarded by mutex_
  bool busy_ = false;      // a descriptor is being flushed; guarded by mutex_
  bool ending_ = false;    // guarded by mutex_
  std::thread thread_;
};

}  // namespace vornel::playback
