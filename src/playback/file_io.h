#pragma once

// The recording file writer: one file at a time, written block by block. Each block goes to the
// file in whole write calls, so a process killed at any moment leaves the file readable up to its
// last whole block; flushing to the disk itself is left to the caller (see FileSyncer), since it
// can take long and must not hold up the thread that writes.

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

namespace vornel::playback {

class clsFileIo {
 public:
  enum class Mode { Replace, Append };

  clsFileIo() = default;
  ~clsFileIo();  // closes a file it still holds
  clsFileIo(const clsFileIo&) = delete;
  clsFileIo& operator=(const clsFileIo&) = delete;

  // Opens `FileN` for writing: a new or emptied file, or the end of an existing one. On failure
  // the writer holds no file.
  [[nodiscard]] std::error_code OpenFile(const std::string& FileN, Mode eMode = Mode::Replace);
  // Closes the file; nothing when there is none.
  void CloseFile();
  // Writes all `Size` bytes. On failure the file is cut back to where it ended before, so that it
  // holds whole blocks only.
  [[nodiscard]] std::error_code WriteBytes(const std::uint8_t* Pointer, std::size_t Size);
  // Hands the open file's descriptor over (-1 when none); the writer then holds no file.
  int ReleaseHandle();
  // A second descriptor of the open file, for a flush elsewhere; -1 when none.
  int DuplicateHandle() const;

  bool isOpen() const { return handle_ >= 0; }
  const std::string& fileName() const { return fileName_; }

 private:
  int handle_ = -1;       // the open file's descriptor; -1 = none
  off_t size_ = 0;        // the open file's length: where a failed write is cut back to
  std::string fileName_;  // of the open file, or of the last one
};

}  // namespace vornel::playback
