/* A stand-in audio library for the start-up tests, built several ways: with a wrong version, with
 * an output that cannot be opened, or without one of its functions. */
#include "bass.h"

#ifndef FAKE_VERSION
#define FAKE_VERSION BASS_VERSION_REQUIRED
#endif
#ifndef FAKE_INIT_RESULT
#define FAKE_INIT_RESULT 1
#endif

BASSAPI DWORD BASSCALL BASS_GetVersion(void) { return FAKE_VERSION; }
BASSAPI BOOL BASSCALL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid) {
  (void)device, (void)freq, (void)flags, (void)win, (void)clsid;
  return FAKE_INIT_RESULT;
}
BASSAPI BOOL BASSCALL BASS_Free(void) { return 1; }
BASSAPI BOOL BASSCALL BASS_SetConfig(DWORD option, DWORD value) { return option == 5 && value <= 100; }
BASSAPI HSTREAM BASSCALL BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc,
                                              void* user) {
  (void)url, (void)offset, (void)flags, (void)proc, (void)user;
  return 0;
}
BASSAPI const char* BASSCALL BASS_ChannelGetTags(DWORD handle, DWORD tags) {
  (void)handle, (void)tags;
  return 0;
}
BASSAPI HSYNC BASSCALL BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user) {
  (void)handle, (void)type, (void)param, (void)proc, (void)user;
  return 0;
}
BASSAPI BOOL BASSCALL BASS_ChannelPlay(DWORD handle, BOOL restart) {
  (void)handle, (void)restart;
  return 0;
}
BASSAPI BOOL BASSCALL BASS_ChannelStop(DWORD handle) { return handle != 0; }
BASSAPI BOOL BASSCALL BASS_StreamFree(HSTREAM handle) { return handle != 0; }
#ifndef FAKE_OMIT_IS_ACTIVE
BASSAPI DWORD BASSCALL BASS_ChannelIsActive(DWORD handle) {
  (void)handle;
  return BASS_STATE_STOPPED;
}
#endif
