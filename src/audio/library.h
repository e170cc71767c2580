#pragma once

// The library's state behind the exported functions: the output device, the metadata thread and
// the table of streams by handle.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bass.h"
#include "output.h"

namespace vornel::audio {

class MetaDispatcher;
class Stream;

class Library {
 public:
  static Library& instance();

  bool init(int frequency);
  void free();

  HSTREAM createStream(const char* url, DOWNLOADPROC* proc, void* user);
  std::shared_ptr<Stream> find(DWORD handle);
  HSYNC addSync(DWORD handle, SYNCPROC* proc, void* user);
  bool play(DWORD handle);
  bool stop(DWORD handle);
  bool freeStream(DWORD handle);

  Output& output() { return output_; }

 private:
  Library() = default;
  // Ends one stream completely: download joined, no callback of it running or to come.
  void end(const std::shared_ptr<Stream>& stream);

  Output output_;
  std::mutex mutex_;
  std::shared_ptr<MetaDispatcher> dispatcher_;        // guarded by mutex_; set while initialised
  std::map<DWORD, std::shared_ptr<Stream>> streams_;  // guarded by mutex_
  std::vector<std::weak_ptr<Stream>> connecting_;     // guarded by mutex_; ended by free()
  bool freeing_ = false;  // free() has taken the connects; a later one must not start; guarded by mutex_
  DWORD lastHandle_ = 0;                              // guarded by mutex_
  HSYNC lastSync_ = 0;                                // guarded by mutex_
};

}  // namespace vornel::audio
