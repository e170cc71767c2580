#include "playback/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vornel::playback {

namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

}  // namespace

clsFileIo::~clsFileIo() { CloseFile(); }

std::error_code clsFileIo::OpenFile(const std::string& FileN, Mode eMode) {
  CloseFile();
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (eMode == Mode::Append ? O_APPEND : O_TRUNC);
  const int handle = ::open(FileN.c_str(), flags, 0644);
  if (handle < 0) return LastError();
  struct stat status {};
  size_ = ::fstat(handle, &status) == 0 ? status.st_size : 0;
  handle_ = handle;
  fileName_ = FileN;
  return {};
}

void clsFileIo::CloseFile() {
  if (handle_ < 0) return;
  ::close(handle_);
  handle_ = -1;
}

std::error_code clsFileIo::WriteBytes(const std::uint8_t* data, std::size_t size) {
  if (handle_ < 0) return std::make_error_code(std::errc::bad_file_descriptor);
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(handle_, data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::error_code error =
          n == 0 ? std::make_error_code(std::errc::no_space_on_device) : LastError();
      if (::ftruncate(handle_, size_) != 0) {
        // The part of the block stays; players skip a cut last frame.
      }
      return error;
    }
    written += static_cast<std::size_t>(n);
  }
  size_ += static_cast<off_t>(size);
  return {};
}

int clsFileIo::ReleaseHandle() {
  const int handle = handle_;
  handle_ = -1;
  return handle;
}

int clsFileIo::DuplicateHandle() const { return handle_ >= 0 ? ::fcntl(handle_, F_DUPFD_CLOEXEC, 0) : -1; }

}  // namespace vornel::playback
