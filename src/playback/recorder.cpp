#include "playback/recorder.h"

#include <climits>
#include <filesystem>
#include <system_error>

namespace vornel::playback {

namespace {

constexpr std::size_t kMaxNameBytes = 255;       // one path component on Linux file systems
constexpr std::size_t kMaxPathBytes = PATH_MAX - 1;
constexpr std::size_t kSuffixRoom = 10;          // "_32767.mp3"

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

std::string Recorder::MakeRecordFileName(const std::string& folder, const std::string& statusText) {
  std::string dir = folder;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  dir += "/REC/";
  const std::size_t room = kMaxPathBytes > dir.size() + kSuffixRoom ? kMaxPathBytes - dir.size() - kSuffixRoom : 1;
  const std::string base = dir + FileNamePart(statusText, std::min(kMaxNameBytes - kSuffixRoom, room));
  if (!Taken(base + ".mp3")) return base + ".mp3";
  for (int n = 0; n <= 32767; ++n) {
    const std::string candidate = base + "_" + std::to_string(n) + ".mp3";
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

void Recorder::NewRecordWriter() {
  std::lock_guard lock(mutex_);
  recWriter_ = std::make_unique<clsFileIo>();
}

void Recorder::NewTrack(const std::string& text) {
  SetStatusText(text);
  const std::string name = MakeRecordFileName(programFolder_, text);
  std::lock_guard lock(mutex_);
  frameSynced_ = false;
  isFileOpen_ = false;
  recFileName_ = name;
}

void Recorder::OnDownloadBlock(const std::uint8_t* address, std::size_t length) {
  const bool recording = isRecording_.load();
  std::lock_guard lock(mutex_);
  if (!recording) {
    isFileOpen_ = false;
    recWriter_->CloseFile();
    return;
  }
  if (recFileName_.empty()) return;  // nothing is recorded before the first title
  if (!isFileOpen_) {
    isFileOpen_ = true;
    recWriter_->CloseFile();
    recFileName_ = MakeRecordFileName(programFolder_, statusText());
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
  recWriter_->WriteBytes(address, length, frameSynced_);
}

}  // namespace vornel::playback
