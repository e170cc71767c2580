#include "output.h"

#include <cstring>

#include <SDL.h>

namespace vornel::audio {

namespace {

// SDL keeps global state (hints, driver lists) until SDL_Quit; the library may be unloaded after
// BASS_Free, so it lets go of everything once no SDL subsystem is in use any more.
void QuitAudio() {
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
  if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
}

}  // namespace

bool Output::open(int frequency) {
  std::lock_guard lock(mutex_);
  if (device_ != 0) return true;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    QuitAudio();
    return false;
  }

  SDL_AudioSpec want{};
  want.freq = frequency;
  want.format = AUDIO_S16SYS;
  want.channels = kChannels;
  want.samples = 1024;  // about 23 ms at 44100 Hz: short enough for a prompt stop
  want.callback = [](void* self, Uint8* stream, int length) { fill(self, stream, length); };
  want.userdata = this;
  // No allowed changes: SDL converts to whatever the hardware takes, so the mixer always works
  // at the rate the player asked for.
  SDL_AudioSpec have{};
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) {
    QuitAudio();
    return false;
  }
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

void Output::close() {
  std::lock_guard lock(mutex_);
  if (device_ == 0) return;
  SDL_CloseAudioDevice(device_);
  device_ = 0;
  QuitAudio();
}

bool Output::isOpen() const {
  std::lock_guard lock(mutex_);
  return device_ != 0;
}

void Output::fill(void* /*self*/, std::uint8_t* stream, int length) {
  // No stream plays yet: the device gets silence.
  std::memset(stream, 0, static_cast<std::size_t>(length));
}

}  // namespace vornel::audio
