#pragma once

// The player's table of the audio library's functions, filled from the library linked into the
// program (tests and benchmarks link it instead of loading it at run time).

#include "bass.h"
#include "playback/audio_library.h"

namespace vornel::test {

inline playback::BassApi LinkedAudioLibrary() {
  playback::BassApi api;
  api.BASS_GetVersion = &BASS_GetVersion;
  api.BASS_Init = &BASS_Init;
  api.BASS_Free = &BASS_Free;
  api.BASS_SetConfig = &BASS_SetConfig;
  api.BASS_StreamCreateURL = &BASS_StreamCreateURL;
  api.BASS_ChannelGetTags = &BASS_ChannelGetTags;
  api.BASS_ChannelSetSync = &BASS_ChannelSetSync;
  api.BASS_ChannelPlay = &BASS_ChannelPlay;
  api.BASS_ChannelStop = &BASS_ChannelStop;
  api.BASS_StreamFree = &BASS_StreamFree;
  api.BASS_ChannelIsActive = &BASS_ChannelIsActive;
  return api;
}

}  // namespace vornel::test
