#include "playback/audio_library.h"

#include "platform/dynamic_library.h"

namespace vornel::playback {

namespace {

template <typename Fn>
bool Resolve(const platform::DynamicLibrary& library, const char* name, Fn& slot, std::string& missing) {
  slot = reinterpret_cast<Fn>(library.Symbol(name));
  if (slot == nullptr && missing.empty()) missing = name;
  return slot != nullptr;
}

}  // namespace

AudioLibrary::LoadResult AudioLibrary::Load(const std::string& path) {
  LoadResult result;
  auto library = platform::DynamicLibrary::Open(path, result.detail);
  if (!library) {
    result.status = Status::CannotLoad;
    return result;
  }

  BassApi api;
  std::string missing;
#define VORNEL_RESOLVE(name) Resolve(*library, #name, api.name, missing)
  VORNEL_RESOLVE(BASS_GetVersion);
  VORNEL_RESOLVE(BASS_Init);
  VORNEL_RESOLVE(BASS_Free);
  VORNEL_RESOLVE(BASS_SetConfig);
  VORNEL_RESOLVE(BASS_StreamCreateURL);
  VORNEL_RESOLVE(BASS_ChannelGetTags);
  VORNEL_RESOLVE(BASS_ChannelSetSync);
  VORNEL_RESOLVE(BASS_ChannelPlay);
  VORNEL_RESOLVE(BASS_ChannelStop);
  VORNEL_RESOLVE(BASS_StreamFree);
  VORNEL_RESOLVE(BASS_ChannelIsActive);
#undef VORNEL_RESOLVE

  if (!missing.empty()) {
    result.status = Status::MissingFunction;
    result.detail = missing;
    return result;
  }
  result.status = Status::Loaded;
  result.detail.clear();
  result.library.reset(new AudioLibrary(std::move(library), api));
  return result;
}

AudioLibrary::AudioLibrary(std::unique_ptr<platform::DynamicLibrary> library, const BassApi& api)
    : library_(std::move(library)), api_(api) {}

AudioLibrary::~AudioLibrary() = default;

}  // namespace vornel::playback
