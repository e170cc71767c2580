#pragma once

// The recording file writer: one file at a time, written block by block and flushed to disk after
// every write, so that the file on disk is complete at all times.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vornel::playback {

class clsFileIo {
 public:
  clsFileIo() = default;
  ~clsFileIo();  // closes a file it still holds
  clsFileIo(const clsFileIo&) = delete;
  clsFileIo& operator=(const clsFileIo&) = delete;

  // Creates `FileN` for writing, replacing a file of that name. On failure the writer holds no
  // file and keeps its previous name.
  bool OpenFile(const std::string& FileN);
  // Closes the file; false when there was none.
  bool CloseFile();
  // Writes `Size` bytes and flushes them to disk; false when the file does not hold them all.
  bool WriteBytes(const std::uint8_t* Pointer, std::size_t Size);

  bool isOpen() const { return handle_ >= 0; }
  const std::string& fileName() const { return fileName_; }

 private:
  int handle_ = -1;        // the open file's descriptor; -1 = none
  int lastResult_ = 0;     // result of the last system call
  std::size_t written_ = 0;  // bytes the last write wrote
  std::string fileName_;   // empty until an open succeeds
};

}  // namespace vornel::playback
