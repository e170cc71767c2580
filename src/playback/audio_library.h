#pragma once

// The audio library as the player sees it: opened at run time from the program folder and
// resolved into a table of the eleven functions the player calls. Loading it at run time keeps
// the start-up checks real (the file must be there and report the right version) and lets tests
// put a fake library in its place.

#include <memory>
#include <string>

#include "bass.h"

namespace vornel::platform {
class DynamicLibrary;
}

namespace vornel::playback {

// The library's file name in the program folder.
#ifdef _WIN32
inline constexpr const char kAudioLibraryFileName[] = "bass.dll";
#else
inline constexpr const char kAudioLibraryFileName[] = "libbass.so";
#endif

struct BassApi {
  decltype(&::BASS_GetVersion) BASS_GetVersion = nullptr;
  decltype(&::BASS_Init) BASS_Init = nullptr;
  decltype(&::BASS_Free) BASS_Free = nullptr;
  decltype(&::BASS_SetConfig) BASS_SetConfig = nullptr;
  decltype(&::BASS_StreamCreateURL) BASS_StreamCreateURL = nullptr;
  decltype(&::BASS_ChannelGetTags) BASS_ChannelGetTags = nullptr;
  decltype(&::BASS_ChannelSetSync) BASS_ChannelSetSync = nullptr;
  decltype(&::BASS_ChannelPlay) BASS_ChannelPlay = nullptr;
  decltype(&::BASS_ChannelStop) BASS_ChannelStop = nullptr;
  decltype(&::BASS_StreamFree) BASS_StreamFree = nullptr;
  decltype(&::BASS_ChannelIsActive) BASS_ChannelIsActive = nullptr;
};

// The metadata sync as the player sets it: the 32-bit parameter widened with a zero high half.
inline HSYNC SetMetaSync(const BassApi& bass, DWORD handle, DWORD kind, DWORD param, SYNCPROC* proc, void* user) {
  return bass.BASS_ChannelSetSync(handle, kind, static_cast<QWORD>(param), proc, user);
}

class AudioLibrary {
 public:
  enum class Status { Loaded, CannotLoad, MissingFunction };

  struct LoadResult {
    Status status = Status::CannotLoad;
    std::unique_ptr<AudioLibrary> library;  // set when Loaded
    std::string detail;                     // the loader's reason, or the missing function's name
  };

  // Opens the library file at `path` and resolves every function of BassApi.
  static LoadResult Load(const std::string& path);

  ~AudioLibrary();
  AudioLibrary(const AudioLibrary&) = delete;
  AudioLibrary& operator=(const AudioLibrary&) = delete;

  const BassApi& api() const { return api_; }

 private:
  AudioLibrary(std::unique_ptr<platform::DynamicLibrary> library, const BassApi& api);

  std::unique_ptr<platform::DynamicLibrary> library_;
  BassApi api_;
};

}  // namespace vornel::playback
