#include "playback/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vornel::playback {

clsFileIo::~clsFileIo() { CloseFile(); }

bool clsFileIo::OpenFile(const std::string& FileN) {
  const int handle = ::open(FileN.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  lastResult_ = handle >= 0 ? 0 : errno;
  if (handle < 0) {
    handle_ = -1;
    return false;
  }
  if (handle_ >= 0) ::close(handle_);
  handle_ = handle;
  fileName_ = FileN;
  return true;
}

bool clsFileIo::CloseFile() {
  if (fileName_.empty() || handle_ < 0) return false;
  lastResult_ = ::close(handle_) == 0 ? 0 : errno;
  handle_ = -1;
  return true;
}

bool clsFileIo::WriteBytes(const std::uint8_t* data, std::size_t size) {
  if (fileName_.empty() || handle_ < 0) return false;
  written_ = 0;
  while (written_ < size) {
    const ssize_t n = ::write(handle_, data + written_, size - written_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastResult_ = errno;
      return false;
    }
    written_ += static_cast<std::size_t>(n);
  }
  lastResult_ = ::fdatasync(handle_) == 0 ? 0 : errno;
  return lastResult_ == 0;
}

}  // namespace vornel::playback
