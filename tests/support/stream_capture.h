#pragma once

// What the audio library's callbacks of one stream received: the download callback's bytes and
// its end, and the metadata sync's titles. The callbacks come on the library's threads.

#include <mutex>
#include <string>
#include <vector>

#include "bass.h"

namespace vornel::test {

struct Received {
  std::mutex mutex;
  std::string audio;
  int ends = 0;                // zero-length calls: the end of the download
  bool blockAfterEnd = false;  // a block came after the end
  std::vector<std::string> titles;

  static void OnBlock(const void* buffer, DWORD length, void* user) {
    auto* self = static_cast<Received*>(user);
    std::lock_guard lock(self->mutex);
    if (length == 0) {
      ++self->ends;
      return;
    }
    if (self->ends > 0) self->blockAfterEnd = true;
    self->audio.append(static_cast<const char*>(buffer), length);
  }
  static void OnTitle(HSYNC, DWORD, const char* text, void* user) {
    auto* self = static_cast<Received*>(user);
    std::lock_guard lock(self->mutex);
    self->titles.emplace_back(text);
  }
  std::size_t audioSize() {
    std::lock_guard lock(mutex);
    return audio.size();
  }
  int endCount() {
    std::lock_guard lock(mutex);
    return ends;
  }
  std::size_t titleCount() {
    std::lock_guard lock(mutex);
    return titles.size();
  }
  bool hasTitle(const std::string& prefix) {
    std::lock_guard lock(mutex);
    for (const std::string& title : titles) {
      if (title.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }
};

}  // namespace vornel::test
