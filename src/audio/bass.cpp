// The exported C functions. Each one is a thin shell over the library's inner parts and never
// lets an exception cross the boundary.

#include "bass.h"

#include <algorithm>

#include "output.h"

namespace {

vornel::audio::Output& output() {
  static vornel::audio::Output instance;
  return instance;
}

}  // namespace

extern "C" {

BASSAPI DWORD BASSCALL BASS_GetVersion(void) { return BASS_VERSION_REQUIRED; }

BASSAPI BOOL BASSCALL BASS_Init(int device, DWORD freq, DWORD /*flags*/, void* /*win*/,
                                const void* /*clsid*/) {
  if (device != BASS_DEVICE_DEFAULT && device != -1) return 0;
  if (freq == 0 || freq > 384000) return 0;
  try {
    return output().open(static_cast<int>(freq)) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

BASSAPI BOOL BASSCALL BASS_Free(void) {
  try {
    output().close();
    return 1;
  } catch (...) {
    return 0;
  }
}

BASSAPI BOOL BASSCALL BASS_SetConfig(DWORD option, DWORD value) {
  if (option != BASS_CONFIG_STREAM_VOLUME) return 0;
  output().setVolume(static_cast<int>(std::min<DWORD>(value, 100)));
  return 1;
}

// Streaming is not wired up yet: every station answers as unreachable.
BASSAPI HSTREAM BASSCALL BASS_StreamCreateURL(const char* /*url*/, DWORD /*offset*/, DWORD /*flags*/,
                                              DOWNLOADPROC* /*proc*/, void* /*user*/) {
  return 0;
}

BASSAPI const char* BASSCALL BASS_ChannelGetTags(DWORD /*handle*/, DWORD /*tags*/) { return nullptr; }

BASSAPI HSYNC BASSCALL BASS_ChannelSetSync(DWORD /*handle*/, DWORD /*type*/, QWORD /*param*/,
                                           SYNCPROC* /*proc*/, void* /*user*/) {
  return 0;
}

BASSAPI BOOL BASSCALL BASS_ChannelPlay(DWORD /*handle*/, BOOL /*restart*/) { return 0; }

BASSAPI BOOL BASSCALL BASS_ChannelStop(DWORD /*handle*/) { return 0; }

BASSAPI BOOL BASSCALL BASS_StreamFree(HSTREAM /*handle*/) { return 0; }

BASSAPI DWORD BASSCALL BASS_ChannelIsActive(DWORD /*handle*/) { return BASS_STATE_STOPPED; }

}  // extern "C"
