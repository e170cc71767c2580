#pragma once

// SDL2, loaded when it is first needed: as the output where no PulseAudio server answers (plain
// ALSA, or a driver named in SDL_AUDIODRIVER) and for the rare format our own converter does not
// take. Linking it would map SDL with its X11, Wayland, DRM and GBM libraries, some 2 MiB of
// resident memory, into every player, though on a desktop with a sound server it plays nothing.

#include <SDL.h>

namespace vornel::audio {

struct SdlApi {
  SDL_bool (*SetHint)(const char*, const char*) = nullptr;
  int (*InitSubSystem)(Uint32) = nullptr;
  void (*QuitSubSystem)(Uint32) = nullptr;
  Uint32 (*WasInit)(Uint32) = nullptr;
  void (*Quit)() = nullptr;
  SDL_AudioDeviceID (*OpenAudioDevice)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int) = nullptr;
  void (*PauseAudioDevice)(SDL_AudioDeviceID, int) = nullptr;
  void (*CloseAudioDevice)(SDL_AudioDeviceID) = nullptr;
  SDL_AudioStream* (*NewAudioStream)(SDL_AudioFormat, Uint8, int, SDL_AudioFormat, Uint8, int) = nullptr;
  void (*FreeAudioStream)(SDL_AudioStream*) = nullptr;
  int (*AudioStreamPut)(SDL_AudioStream*, const void*, int) = nullptr;
  int (*AudioStreamGet)(SDL_AudioStream*, void*, int) = nullptr;
  int (*AudioStreamAvailable)(SDL_AudioStream*) = nullptr;
};

// SDL2 loaded, or null when it cannot be (not installed, or too old). Loaded once, by whichever
// thread asks first, and kept for the life of the process.
const SdlApi* Sdl();

}  // namespace vornel::audio
