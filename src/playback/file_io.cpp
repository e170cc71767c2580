#include "playback/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vornel::playback {

namespace {

bool IsLayer3Header(const std::uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int version = (p[1] >> 3) & 3;  // 1 is reserved
  const int layer = (p[1] >> 1) & 3;    // 1 is Layer III
  const int bitrate = p[2] >> 4;        // 0 (free) and 15 (bad) are not taken
  const int rate = (p[2] >> 2) & 3;     // 3 is reserved
  return version != 1 && layer == 1 && bitrate != 0 && bitrate != 15 && rate != 3;
}

}  // namespace

std::size_t FindFrameHeader(const std::uint8_t* data, std::size_t size) {
  // The third header byte may lie beyond the block; then only the first two can be checked, and
  // a pair that could start a header counts, as the block's last bytes.
  for (std::size_t i = 0; i + 1 < size; ++i) {
    if (i + 2 < size) {
      if (IsLayer3Header(data + i)) return i;
    } else if (data[i] == 0xFF && (data[i + 1] & 0xE0) == 0xE0 && ((data[i + 1] >> 1) & 3) == 1 &&
               ((data[i + 1] >> 3) & 3) != 1) {
      return i;
    }
  }
  return size;
}

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

bool clsFileIo::writeAll(const std::uint8_t* data, std::size_t size) {
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

bool clsFileIo::WriteBytes(const std::uint8_t* Pointer, std::size_t Size, bool& frameSynced) {
  if (fileName_.empty() || handle_ < 0) return false;
  for (std::size_t from = 0; !frameSynced;) {
    const std::size_t at = from + FindFrameHeader(Pointer + from, Size - from);
    if (at >= Size) return false;
    const std::uint8_t prefix[3] = {Pointer[at], Pointer[at + 1], at + 2 < Size ? Pointer[at + 2] : std::uint8_t{0}};
    if (writeAll(prefix, sizeof prefix)) {
      frameSynced = true;
    } else {
      from = at + 1;
    }
  }
  return writeAll(Pointer, Size);
}

}  // namespace vornel::playback
