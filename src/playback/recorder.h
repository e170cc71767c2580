#pragma once

// The recorder: while recording is on, the stream's own bytes go to REC/<title>.<ext> in the
// program folder, one file per title, each file starting at a frame header (MP3, AAC) or at an Ogg
// page after the stream's header pages (Vorbis, Opus), so that every file plays on its own. Blocks arrive on the
// library's download thread, titles on its metadata thread, the record button and station changes
// on the user-interface thread; one lock keeps every block's view of the state consistent.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "playback/file_io.h"
#include "playback/record_format.h"

namespace vornel::playback {

class Recorder {
 public:
  explicit Recorder(std::string programFolder);

  // Download thread: one block of stream bytes; length 0 when the download ended.
  void OnDownloadBlock(const std::uint8_t* address, std::size_t length);

  // A fresh writer for a new stream; the previous writer's file is closed.
  void NewRecordWriter();

  // The record button: toggles recording and returns the new state.
  bool ToggleRecording();
  bool isRecording() const { return isRecording_.load(); }

  // A new title began (metadata thread, or the user-interface thread for the first title): the
  // next block starts a new file named after `statusText`. One change, seen whole by every block.
  void NewTrack(const std::string& statusText);

  // The status line changed; recording switched on names its file after the status of that moment.
  void SetStatusText(const std::string& statusText);

  std::string recFileName() const;

  // The file name for `statusText` in `folder`/REC with `extension`, with "_n" when taken; empty
  // when even "_32767" is taken. The name is shortened (at a character boundary) to fit the file
  // system.
  static std::string MakeRecordFileName(const std::string& folder, const std::string& statusText,
                                        const char* extension = ".mp3");

  // The format of the stream now playing, as its blocks show it; Unknown before the first.
  RecordFormat format() const;

 private:
  std::string statusText() const;
  // The steps of one block, under the lock.
  void recordBlock(bool recording, const std::uint8_t* address, std::size_t length);
  // The first bytes of a new file: from where a file may begin, after Ogg's header pages.
  void startFile(const std::uint8_t* address, std::size_t length);

  const std::string programFolder_;
  // The button's state, read once at the start of every block.
  std::atomic<bool> isRecording_{false};

  mutable std::mutex mutex_;  // the recording state; held by a block while it is written
  std::string recFileName_;               // guarded by mutex_
  std::unique_ptr<clsFileIo> recWriter_;  // guarded by mutex_
  bool isFileOpen_ = false;               // guarded by mutex_
  bool openFailed_ = false;               // guarded by mutex_
  bool frameSynced_ = false;              // the file has begun at a frame or page; guarded by mutex_
  RecordFormat format_ = RecordFormat::Unknown;  // of the current stream; guarded by mutex_
  OggHeaderPages oggHeaders_;             // guarded by mutex_

  // A copy of the status line, so that the user-interface thread never waits for a block's write.
  mutable std::mutex statusMutex_;
  std::string statusText_;  // guarded by statusMutex_
};

}  // namespace vornel::playback
