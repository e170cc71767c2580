// The exported C functions: thin shells over the library's inner parts that never let an
// exception cross the boundary.

#include "bass.h"

#include <algorithm>

#include "library.h"
#include "stream.h"

using vornel::audio::Library;

namespace {

// Runs `body`, turning any exception into `failure`.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace

extern "C" {

BASSAPI DWORD BASSCALL BASS_GetVersion(void) { return BASS_VERSION_REQUIRED; }

BASSAPI BOOL BASSCALL BASS_Init(int device, DWORD freq, DWORD /*flags*/, void* /*win*/,
                                const void* /*clsid*/) {
  if (device != BASS_DEVICE_DEFAULT && device != -1) return 0;
  if (freq < 8000 || freq > 192000) return 0;
  return Guarded<BOOL>(0, [&] { return Library::instance().init(static_cast<int>(freq)) ? 1 : 0; });
}

BASSAPI BOOL BASSCALL BASS_Free(void) {
  return Guarded<BOOL>(0, [] {
    Library::instance().free();
    return 1;
  });
}

BASSAPI BOOL BASSCALL BASS_SetConfig(DWORD option, DWORD value) {
  if (option != BASS_CONFIG_STREAM_VOLUME) return 0;
  Library::instance().output().setVolume(static_cast<int>(std::min<DWORD>(value, 100)));
  return 1;
}

BASSAPI HSTREAM BASSCALL BASS_StreamCreateURL(const char* url, DWORD offset, DWORD /*flags*/,
                                              DOWNLOADPROC* proc, void* user) {
  if (offset != 0) return 0;
  return Guarded<HSTREAM>(0, [&] { return Library::instance().createStream(url, proc, user); });
}

BASSAPI const char* BASSCALL BASS_ChannelGetTags(DWORD handle, DWORD tags) {
  return Guarded<const char*>(nullptr, [&]() -> const char* {
    const auto stream = Library::instance().find(handle);
    if (!stream) return nullptr;
    if (tags == BASS_TAGS_HEADERS) return stream->headerTags();
    if (tags == BASS_TAGS_META) return stream->metadataTag();
    return nullptr;
  });
}

BASSAPI HSYNC BASSCALL BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc,
                                           void* user) {
  if (type != BASS_SYNC_METADATA || param != 0) return 0;
  return Guarded<HSYNC>(0, [&] { return Library::instance().addSync(handle, proc, user); });
}

BASSAPI BOOL BASSCALL BASS_ChannelPlay(DWORD handle, BOOL /*restart*/) {
  return Guarded<BOOL>(0, [&] { return Library::instance().play(handle) ? 1 : 0; });
}

BASSAPI BOOL BASSCALL BASS_ChannelStop(DWORD handle) {
  return Guarded<BOOL>(0, [&] { return Library::instance().stop(handle) ? 1 : 0; });
}

BASSAPI BOOL BASSCALL BASS_StreamFree(HSTREAM handle) {
  return Guarded<BOOL>(0, [&] { return Library::instance().freeStream(handle) ? 1 : 0; });
}

BASSAPI DWORD BASSCALL BASS_ChannelIsActive(DWORD handle) {
  return Guarded<DWORD>(BASS_STATE_STOPPED, [&]() -> DWORD {
    const auto stream = Library::instance().find(handle);
    return stream ? stream->state() : BASS_STATE_STOPPED;
  });
}

}  // extern "C"
