#include "playback/recorder.h"

#include <climits>
#include <filesystem>
#include <system_error>

namespace vornel::playback {

namespace {

constexpr std::size_t kMaxNameBytes = 255;       // one path component on Linux file systems
constexpr std::size_t kMaxPathBytes = PATH_MAX - 1;
constexpr std::size_t kSuffixRoom = 11;          // "_32767.opus"

// The status text as one safe path component: control characters and the folder separator go,
// names the file system reserves get a stand-in, and the name is cut to `maxBytes` at a UTF-8
// character boundary.
std::string FileNamePart(const std::string& text, std::size_t maxBytes) {
  std::string name;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/' || c == '\\') continue;
    name.push_back(c);
  }
  if (name.size() > maxBytes) {
    std::size_t cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  if (name.empty() || name == "." || name == "..") name = "_";
  return name;
}

bool Taken(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error) || error;
}

}  // namespace

Recorder::Recorder(std::string programFolder)
    : programFolder_(std::move(programFolder)), recWriter_(std::make_unique<clsFileIo>()) {}

std::string Recorder::MakeRecordFileName(const std::string& folder, const std::string& statusText,
                                         const char* extension) {
  std::string dir = folder;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  dir += "/REC/";
  const std::size_t room = kMaxPathBytes > dir.size() + kSuffixRoom ? kMaxPathBytes - dir.size() - kSuffixRoom : 1;
  const std::string base = dir + FileNamePart(statusText, std::min(kMaxNameBytes - kSuffixRoom, room));
  if (!Taken(base + extension)) return base + extension;
  for (int n = 0; n <= 32767; ++n) {
    const std::string candidate = base + "_" + std::to_string(n) + extension;
    if (!Taken(candidate)) return candidate;
  }
  return {};  // every name is taken: this title is not recorded rather than overwrite one
}

std::string Recorder::statusText() const {
  std::lock_guard lock(statusMutex_);
  return statusText_;
}

void Recorder::SetStatusText(const std::string& text) {
  std::lock_guard lock(statusMutex_);
  statusText_ = text;
}

std::string Recorder::recFileName() const {
  std::lock_guard lock(mutex_);
  return recFileName_;
}

bool Recorder::ToggleRecording() {
  // Only the record button toggles, on the user-interface thread; blocks only read it.
  const bool now = !isRecording_.load();
  isRecording_.store(now);
  return now;
}

RecordFormat Recorder::format() const {
  std::lock_guard lock(mutex_);
  return format_;
}

void Recorder::NewRecordWriter() {
  std::lock_guard lock(mutex_);
  recWriter_ = std::make_unique<clsFileIo>();
  // A new stream: its format shows in its own blocks.
  format_ = RecordFormat::Unknown;
  oggHeaders_.clear();
}

void Recorder::NewTrack(const std::string& text) {
  SetStatusText(text);
  const std::string name = MakeRecordFileName(programFolder_, text, RecordExtension(format()));
  std::lock_guard lock(mutex_);
  frameSynced_ = false;
  isFileOpen_ = false;
  recFileName_ = name;
}

void Recorder::OnDownloadBlock(const std::uint8_t* address, std::size_t length) {
  const bool recording = isRecording_.load();
  std::lock_guard lock(mutex_);
  if (length > 0 && format_ == RecordFormat::Unknown) format_ = DetectRecordFormat(address, length);
  recordBlock(recording, address, length);
  // After the block is written: a file that begins in this block took the header pages as they
  // were before it.
  if (length > 0 && (format_ == RecordFormat::Vorbis || format_ == RecordFormat::Opus)) {
    oggHeaders_.observe(address, length);
  }
}

void Recorder::recordBlock(bool recording, const std::uint8_t* address, std::size_t length) {
  if (!recording) {
    isFileOpen_ = false;
    recWriter_->CloseFile();
    return;
  }
  if (recFileName_.empty()) return;  // nothing is recorded before the first title
  if (!isFileOpen_) {
    isFileOpen_ = true;
    recWriter_->CloseFile();
    recFileName_ = MakeRecordFileName(programFolder_, statusText(), RecordExtension(format_));
    // Every file begins at a frame or page of its own, also one opened again within a title.
    frameSynced_ = false;
    if (!recFileName_.empty() && recWriter_->OpenFile(recFileName_)) {
      openFailed_ = false;
    } else {
      openFailed_ = true;
      frameSynced_ = false;
    }
  }
  if (openFailed_) {
    // Silently retried at the next block: the folder may appear, the name may become free.
    isFileOpen_ = false;
    recWriter_->CloseFile();
    frameSynced_ = false;
    return;
  }
  if (length == 0) {
    recWriter_->CloseFile();
    frameSynced_ = false;
    return;
  }
  if (frameSynced_) {
    recWriter_->WriteBytes(address, length);
  } else {
    startFile(address, length);
  }
}

void Recorder::startFile(const std::uint8_t* address, std::size_t length) {
  const std::size_t start = FindRecordStart(format_, address, length);
  if (start >= length) return;  // nothing to begin with in this block
  const bool ogg = format_ == RecordFormat::Vorbis || format_ == RecordFormat::Opus;
  if (!ogg || IsOggStreamStart(address + start, length - start)) {
    frameSynced_ = recWriter_->WriteBytes(address + start, length - start);
    return;
  }
  // Cut from the middle of an Ogg stream: the file needs the stream's header pages first.
  const std::vector<std::uint8_t>& headers = oggHeaders_.pages();
  if (headers.empty()) return;
  std::vector<std::uint8_t> head(headers);
  head.insert(head.end(), address + start, address + length);
  frameSynced_ = recWriter_->WriteBytes(head.data(), head.size());
}

}  // namespace vornel::playback
