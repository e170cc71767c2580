#include "sdl_api.h"

#include "dynamic_library.h"

namespace vornel::audio {

namespace {

const SdlApi* Load() {
  void* library = OpenLibrary("libSDL2-2.0.so.0", "SDL2");
  if (library == nullptr) return nullptr;
  static SdlApi api;
  if (!BindSymbol(library, "SDL_SetHint", api.SetHint) ||
      !BindSymbol(library, "SDL_InitSubSystem", api.InitSubSystem) ||
      !BindSymbol(library, "SDL_QuitSubSystem", api.QuitSubSystem) ||
      !BindSymbol(library, "SDL_WasInit", api.WasInit) || !BindSymbol(library, "SDL_Quit", api.Quit) ||
      !BindSymbol(library, "SDL_OpenAudioDevice", api.OpenAudioDevice) ||
      !BindSymbol(library, "SDL_PauseAudioDevice", api.PauseAudioDevice) ||
      !BindSymbol(library, "SDL_CloseAudioDevice", api.CloseAudioDevice) ||
      !BindSymbol(library, "SDL_NewAudioStream", api.NewAudioStream) ||
      !BindSymbol(library, "SDL_FreeAudioStream", api.FreeAudioStream) ||
      !BindSymbol(library, "SDL_AudioStreamPut", api.AudioStreamPut) ||
      !BindSymbol(library, "SDL_AudioStreamGet", api.AudioStreamGet) ||
      !BindSymbol(library, "SDL_AudioStreamAvailable", api.AudioStreamAvailable)) {
    LogLine("SDL2 lacks a function we use");
    return nullptr;
  }
  return &api;
}

}  // namespace

const SdlApi* Sdl() {
  static const SdlApi* const api = Load();
  return api;
}

}  // namespace vornel::audio
