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
  // Writes one block. Until `frameSynced` is true, the block is searched for the first MPEG audio
  // Layer III frame header; the file then gets that header's first three bytes and the whole
  // block, and `frameSynced` becomes true. A block without a header writes nothing.
  bool WriteBytes(const std::uint8_t* Pointer, std::size_t Size, bool& frameSynced);

  bool isOpen() const { return handle_ >= 0; }
  const std::string& fileName() const { return fileName_; }

 private:
  bool writeAll(const std::uint8_t* data, std::size_t size);

  int handle_ = -1;        // the open file's descriptor; -1 = none
  int lastResult_ = 0;     // result of the last system call
  std::size_t written_ = 0;  // bytes the last write wrote
  std::string fileName_;   // empty until an open succeeds
};

// Where a Layer III frame header starts in `data`, or `size` when there is none. Any MPEG version
// (1, 2 or 2.5), with or without checksum.
std::size_t FindFrameHeader(const std::uint8_t* data, std::size_t size);

}  // namespace vornel::playback
