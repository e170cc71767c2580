#pragma once

// The recorder: while recording is on, the stream's own bytes go to <title>.<ext> in the record
// folder (REC/ of a portable program folder), one file per title, each file starting at a frame
// header (MP3, AAC) or at an Ogg page after the stream's header pages (Vorbis, Opus), so that every
// file plays on its own. Blocks arrive on the library's download thread, titles on its metadata
// thread, the record button and station changes on the user-interface thread; one lock keeps every
// block's view of the state consistent. Files are flushed to the disk on a thread of their own; a
// file that cannot be made or written ends recording, and the failure is told once.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "playback/file_io.h"
#include "playback/file_syncer.h"
#include "playback/record_format.h"

namespace vornel::playback {

class Recorder {
 public:
  enum class Failure { CannotOpen, CannotWrite, NoFreeName };
  // Told once when recording had to end; runs on the thread where it failed, outside the lock.
  using FailureHandler = std::function<void(Failure, const std::string& fileName, std::error_code)>;

  explicit Recorder(std::string recordFolder);
  ~Recorder();

  void setFailureHandler(FailureHandler handler);

  // Download thread: one block of stream bytes; length 0 when the download ended.
  void OnDownloadBlock(const std::uint8_t* address, std::size_t length);

  // A fresh writer for a new stream; the previous writer's file is closed.
  void NewRecordWriter();

  // The same stream again after a lost connection: when its first title is the title recorded
  // before, the recording goes on at the end of the same file, from the new stream's first frame.
  void ContinueAfterReconnect();

  // Playback stopped: the file is closed now (and flushed to the disk off this thread).
  void CloseFile();

  // The record button: toggles recording and returns the new state.
  bool ToggleRecording();
  bool isRecording() const { return isRecording_.load(); }

  // A new title began (metadata thread, or the user-interface thread for the first title): the
  // next block starts a new file named after `statusText`. One change, seen whole by every block.
  void NewTrack(const std::string& statusText);

  // The status line changed; recording switched on names its file after the status of that moment.
  void SetStatusText(const std::string& statusText);

  std::string recFileName() const;

  // The file name for `statusText` in `folder` with `extension`, with "_n" when taken; empty
  // when even "_32767" is taken. The name is shortened (at a character boundary) to fit the file
  // system.
  static std::string MakeRecordFileName(const std::string& folder, const std::string& statusText,
                                        const char* extension = ".mp3");

  // The format of the stream now playing, as its blocks show it; Unknown before the first.
  RecordFormat format() const;

  // Returns once every file closed so far is on the disk.
  void WaitForDisk() { syncer_.Drain(); }

 private:
  struct Failed {
    Failure failure;
    std::string fileName;
    std::error_code error;
  };

  std::string statusText() const;
  // The steps of one block, under the lock; a failure to report comes back.
  std::optional<Failed> recordBlock(bool recording, const std::uint8_t* address, std::size_t length);
  std::optional<Failed> openFile();
  // The first bytes of a new file: from where a file may begin, after Ogg's header pages.
  std::error_code startFile(const std::uint8_t* address, std::size_t length);
  void closeFile();        // under the lock; the flush happens on the syncer's thread
  void flushNowAndThen();  // under the lock: at most once a second
  void report(const Failed& failed);

  const std::string recordFolder_;  // never made here: a missing folder ends recording
  // The button's state, read once at the start of every block.
  std::atomic<bool> isRecording_{false};

  mutable std::mutex mutex_;  // the recording state; held by a block while it is written (never flushed)
  std::string recFileName_;   // the file of the current title; guarded by mutex_
  clsFileIo recWriter_;       // guarded by mutex_
  bool hasTrack_ = false;     // a title was seen on this stream; guarded by mutex_
  std::string trackText_;     // that title; guarded by mutex_
  bool appendNext_ = false;   // the next file opened is recFileName_ again; guarded by mutex_
  bool continuing_ = false;   // the first title after a reconnect is awaited; guarded by mutex_
  bool frameSynced_ = false;  // the file has begun at a frame or page; guarded by mutex_
  RecordFormat format_ = RecordFormat::Unknown;      // of the current stream; guarded by mutex_
  OggHeaderPages oggHeaders_;                        // guarded by mutex_
  std::chrono::steady_clock::time_point lastFlush_;  // guarded by mutex_
  FailureHandler onFailure_;                         // guarded by mutex_

  // A copy of the status line, so that the user-interface thread never waits for a block's write.
  mutable std::mutex statusMutex_;
  std::string statusText_;  // guarded by statusMutex_

  FileSyncer syncer_;  // declared last, so it goes first: after the destructor has handed it the open file
};

}  // namespace vornel::playback
