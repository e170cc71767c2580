/*
 * Vornel's audio streaming library: the C interface the player loads at run time.
 *
 * The library connects to internet-radio stations over HTTP(S), plays their streams through the
 * system's default audio output, hands every downloaded block of audio bytes to the caller and
 * reports the stream's metadata. The content decides the format (Content-Type is only a hint):
 * MP3, AAC and HE-AAC in ADTS, Ogg Vorbis and Opus (chained streams too), MPEG-TS, HLS (MPEG-TS
 * or packed-audio segments; fMP4/CMAF segments are refused), and playlist addresses (PLS, M3U,
 * XSPF, ASX), whose entries are tried in order.
 *
 * HTTPS certificates are verified against the system's store; CURL_CA_BUNDLE or SSL_CERT_FILE in
 * the environment names a bundle file of trusted certificates to use instead. A certificate that
 * does not verify fails the connect: there is no unverified fallback. It knows nothing of the player: no Qt, no C++ types cross this
 * boundary, and no function throws.
 *
 * Threads
 *   - Every function may be called from any thread. BASS_Init must not overlap another call;
 *     BASS_Free may overlap a BASS_StreamCreateURL on another thread, which then returns 0 at
 *     once.
 *     BASS_StreamCreateURL blocks its caller while it connects; BASS_ChannelStop and
 *     BASS_StreamFree wait only for the stream's own threads, which end promptly.
 *   - DOWNLOADPROC runs on the stream's download thread; SYNCPROC runs on the library's metadata
 *     thread. Neither runs on the caller's thread, and neither runs again once BASS_StreamFree
 *     (or BASS_Free) has returned for its stream.
 *   - A callback must only notify (copy what it needs, take a short lock, post work elsewhere). It
 *     must never call BASS_ChannelStop, BASS_StreamFree or BASS_Free, and never wait for a thread
 *     that may itself be calling one of those: they wait for the callbacks to finish.
 *
 * Texts are single-byte strings as the server sent them (the player decodes them).
 */
#ifndef VORNEL_BASS_H
#define VORNEL_BASS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(VORNEL_BASS_BUILD)
#define BASSAPI __declspec(dllexport)
#define BASSCALL __stdcall
#elif defined(_WIN32)
#define BASSAPI __declspec(dllimport)
#define BASSCALL __stdcall
#else
#define BASSAPI __attribute__((visibility("default")))
#define BASSCALL
#endif

typedef uint32_t DWORD;
typedef uint64_t QWORD;
typedef int BOOL;
typedef DWORD HSTREAM; /* stream handle; 0 = none or failure */
typedef DWORD HSYNC;   /* sync handle; 0 = failure */

/* BASS_GetVersion: major, minor, revision and build, one byte each (2.3.0.3). */
#define BASS_VERSION_REQUIRED 0x02030003u

/* BASS_Init device: the system's default output. */
#define BASS_DEVICE_DEFAULT 1

/* BASS_SetConfig option: global volume of every stream, 0..100, applied at once. */
#define BASS_CONFIG_STREAM_VOLUME 5u

/* BASS_StreamCreateURL flag: download and play in small blocks, keeping nothing beyond them. */
#define BASS_STREAMFLAG_BLOCKS 0x100000u

/* BASS_ChannelGetTags kinds. */
#define BASS_TAGS_HEADERS 4u /* server header lines, status line first, each NUL-terminated,
                                ended by an empty string */
#define BASS_TAGS_META 5u    /* current metadata text, NUL-terminated (e.g. "StreamTitle='...';") */

/* BASS_ChannelSetSync kind: the stream's metadata text changed. */
#define BASS_SYNC_METADATA 4u

/* BASS_ChannelIsActive results. */
#define BASS_STATE_STOPPED 0u /* never played, stopped, freed, unknown, or ended and played out */
#define BASS_STATE_PLAYING 1u
#define BASS_STATE_STALLED 2u /* playing, but the buffer ran dry while the download goes on */
#define BASS_STATE_PAUSED 3u  /* not reported: there is no pause */

/*
 * Download callback: `buffer` holds `length` audio bytes exactly as the server sent them, with
 * the stream's ICY metadata blocks taken out; for HLS, the elementary audio of the segments (ADTS
 * or MP3 frames, without MPEG-TS packets or ID3 tags). A block begins at a frame (MP3, ADTS) or a
 * page (Ogg) wherever the stream has one, so a recording can begin at any block; bytes between
 * frames come in their place. Called once per block, in order (the first block may arrive before
 * BASS_StreamCreateURL returns), then exactly once with length 0 when the download ends for any
 * reason. `buffer` is valid only during the call. Runs on the download thread.
 */
typedef void(BASSCALL DOWNLOADPROC)(const void* buffer, DWORD length, void* user);

/*
 * Sync callback: `data` is the new metadata text (as BASS_TAGS_META returns it), valid during the
 * call. Runs on the library's metadata thread. Titles that a format carries inside (the comments
 * of each Ogg track, the ID3 tags of HLS segments) come in the ICY form,
 * "StreamTitle='Artist - Title';".
 */
typedef void(BASSCALL SYNCPROC)(HSYNC handle, DWORD channel, const char* data, void* user);

/* Returns BASS_VERSION_REQUIRED. Any thread, any time. */
BASSAPI DWORD BASSCALL BASS_GetVersion(void);

/*
 * Opens the output device at `freq` Hz (the player asks for 44100): `device` BASS_DEVICE_DEFAULT
 * (or -1) is the system's default output; other numbers are not offered. `flags`, `win` and
 * `clsid` are accepted and unused. Returns non-zero when the device is open (also when it already
 * was), 0 when no device can be opened. Call before any stream function.
 */
BASSAPI BOOL BASSCALL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid);

/* Frees every stream (as BASS_StreamFree does) and closes the output device. */
BASSAPI BOOL BASSCALL BASS_Free(void);

/*
 * BASS_CONFIG_STREAM_VOLUME: `value` 0..100 (larger values count as 100) becomes the volume of
 * every stream at once. Returns 0 for any other option.
 */
BASSAPI BOOL BASSCALL BASS_SetConfig(DWORD option, DWORD value);

/*
 * Connects to `url` (http:// or https://; up to 5 redirects; proxies from the environment as
 * libcurl reads them) and returns a stream handle once audio can start, or 0 when the station is
 * unreachable, answers with an error status, sends nothing we play (an error page, garbage) or has
 * no playable audio within 8 seconds (5 of them for the connect). A playlist gives each entry it
 * leads to 8 seconds of its own, nesting up to 3 lists, within 20 seconds in all. Blocks the
 * caller meanwhile.
 * When the server sends titles, a title that comes with the first burst of data is current
 * (BASS_TAGS_META) by the time the call returns. `offset` must be 0; `flags` is
 * BASS_STREAMFLAG_BLOCKS. `proc` (may be null) receives the downloaded blocks with `user`; no
 * block of a stream that fails to open ever reaches it.
 *
 * A stream whose server sends nothing for 10 seconds ends as if the server had closed.
 */
BASSAPI HSTREAM BASSCALL BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags,
                                              DOWNLOADPROC* proc, void* user);

/*
 * BASS_TAGS_HEADERS or BASS_TAGS_META of stream `handle`, or null (unknown handle or kind, no
 * metadata yet). The memory stays valid until the stream is freed or, for BASS_TAGS_META, until
 * the metadata changes (the library keeps the last 16 texts, so a text read just before a change
 * stays readable a while longer).
 */
BASSAPI const char* BASSCALL BASS_ChannelGetTags(DWORD handle, DWORD tags);

/*
 * BASS_SYNC_METADATA with `param` 0: `proc` is called with `user` whenever the stream's metadata
 * text changes (a block identical to the previous one is no change). Returns the sync handle, or
 * 0 for an unknown stream or kind.
 */
BASSAPI HSYNC BASSCALL BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc,
                                           void* user);

/* Starts playback of the stream; `restart` must be 0. Returns 0 for an unknown handle and for a
 * stream that has nothing left to play (stopped, or downloaded and played out). */
BASSAPI BOOL BASSCALL BASS_ChannelPlay(DWORD handle, BOOL restart);

/* Stops playback and the download (the zero-length download call follows). Harmless with 0 or a
 * freed handle. */
BASSAPI BOOL BASSCALL BASS_ChannelStop(DWORD handle);

/* Ends everything of the stream and returns promptly; after it returns no callback of the stream
 * runs. Harmless with 0 or a freed handle. */
BASSAPI BOOL BASSCALL BASS_StreamFree(HSTREAM handle);

/* One of the BASS_STATE_ values. */
BASSAPI DWORD BASSCALL BASS_ChannelIsActive(DWORD handle);

#ifdef __cplusplus
}
#endif

#endif /* VORNEL_BASS_H */
