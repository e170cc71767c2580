#include <SDL.h>

#include "sdl_api.h"
#include "sink.h"

namespace vornel::audio {

namespace {

class SdlSink final : public Sink {
 public:
  ~SdlSink() override {
    close();
    if (!initialised_) return;
    sdl_->QuitSubSystem(SDL_INIT_AUDIO);
    QuitIfUnused();
  }

  bool check(int rate) override {
    sdl_ = Sdl();
    if (sdl_ == nullptr) return false;
    // SDL would otherwise take SIGINT and SIGTERM for itself and turn them into events no one
    // here reads: the program could then no longer be ended by a signal (a logout, `kill`).
    sdl_->SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (sdl_->InitSubSystem(SDL_INIT_AUDIO) != 0) {
      QuitIfUnused();
      return false;
    }
    initialised_ = true;
    // Closing a device waits for its thread to finish a period, so the check uses a short one.
    const std::atomic<int> silent{0};
    if (!open(
            rate, 256, [](void*, std::int16_t*, std::size_t) {}, nullptr, silent))
      return false;
    close();
    return true;
  }

  bool scalesVolume() const override { return false; }

  bool open(int rate, std::uint32_t frames, Fill fill, void* context, const std::atomic<int>&) override {
    if (!initialised_) return false;
    if (device_ != 0) return true;
    fill_ = fill;
    context_ = context;
    SDL_AudioSpec want{};
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = static_cast<Uint16>(frames > 32768 ? 32768 : frames);
    want.callback = [](void* self, Uint8* stream, int length) {
      auto* sink = static_cast<SdlSink*>(self);
      const std::size_t count = static_cast<std::size_t>(length) / (2 * sizeof(std::int16_t));
      sink->fill_(sink->context_, reinterpret_cast<std::int16_t*>(stream), count);
    };
    want.userdata = this;
    // No allowed changes: SDL converts to whatever the hardware takes, so the mixer always works
    // at the rate the player asked for.
    SDL_AudioSpec have{};
    device_ = sdl_->OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) return false;
    sdl_->PauseAudioDevice(device_, 0);
    return true;
  }

  void close() override {
    if (device_ == 0) return;
    sdl_->CloseAudioDevice(device_);  // waits for the audio thread
    device_ = 0;
  }

 private:
  // SDL keeps global state (hints, driver lists) until SDL_Quit; the library may be unloaded
  // after BASS_Free, so it lets go of everything once no SDL subsystem is in use any more.
  void QuitIfUnused() const {
    if (sdl_->WasInit(SDL_INIT_EVERYTHING) == 0) sdl_->Quit();
  }

  const SdlApi* sdl_ = nullptr;
  bool initialised_ = false;
  SDL_AudioDeviceID device_ = 0;
  Fill fill_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace

std::unique_ptr<Sink> MakeSdlSink() { return std::make_unique<SdlSink>(); }

}  // namespace vornel::audio
