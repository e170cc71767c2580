#include "playback/recorder.h"

#include <QLoggingCategory>
#include <QString>

#include <climits>
#include <csignal>
#include <filesystem>
#include <system_error>

namespace vornel::playback {

namespace {

Q_LOGGING_CATEGORY(lcRecorder, "vornel.recorder")

constexpr std::size_t kMaxNameBytes = 255;  // one path component on Linux file systems
constexpr std::size_t kMaxPathBytes = PATH_MAX - 1;
constexpr std::size_t kSuffixRoom = 11;  // "_32767.opus"

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

Recorder::Recorder(std::string recordFolder) : recordFolder_(std::move(recordFolder)) {
  // Past a file-size limit a write should fail like one on a full disk, not end the program.
  static std::once_flag ignored;
  std::call_once(ignored, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

Recorder::~Recorder() {
  std::lock_guard lock(mutex_);
  closeFile();
}

void Recorder::setFailureHandler(FailureHandler handler) {
  std::lock_guard lock(mutex_);
  onFailure_ = std::move(handler);
}

std::string Recorder::MakeRecordFileName(const std::string& folder, const std::string& statusText,
                                         const char* extension) {
  std::string dir = folder;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.empty() || dir.back() != '/') dir += '/';
  const std::size_t room =
      kMaxPathBytes > dir.size() + kSuffixRoom ? kMaxPathBytes - dir.size() - kSuffixRoom : 1;
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
  closeFile();
  // A new stream: nothing is recorded before its first title, and its format shows in its blocks.
  hasTrack_ = false;
  appendNext_ = false;
  continuing_ = false;
  format_ = RecordFormat::Unknown;
  oggHeaders_.clear();
}

void Recorder::ContinueAfterReconnect() {
  std::lock_guard lock(mutex_);
  closeFile();
  // Until the new stream's first title tells otherwise, its bytes go on in the file of the title
  // recorded before, from their first frame.
  continuing_ = hasTrack_ && !recFileName_.empty();
  appendNext_ = continuing_;
  frameSynced_ = false;
  oggHeaders_.clear();
}

void Recorder::CloseFile() {
  std::lock_guard lock(mutex_);
  closeFile();
  appendNext_ = false;
}

void Recorder::NewTrack(const std::string& text) {
  SetStatusText(text);
  std::lock_guard lock(mutex_);
  if (continuing_ && text == trackText_) {
    // The same title after a reconnect: its file goes on as it did since the reconnect.
    continuing_ = false;
    return;
  }
  continuing_ = false;
  frameSynced_ = false;
  appendNext_ = false;
  closeFile();
  hasTrack_ = true;
  trackText_ = text;
  recFileName_.clear();
}

void Recorder::OnDownloadBlock(const std::uint8_t* address, std::size_t length) {
  const bool recording = isRecording_.load();
  std::optional<Failed> failed;
  {
    std::lock_guard lock(mutex_);
    if (length > 0 && format_ == RecordFormat::Unknown) format_ = DetectRecordFormat(address, length);
    failed = recordBlock(recording, address, length);
    // After the block is written: a file that begins in this block took the header pages as they
    // were before it.
    if (length > 0 && (format_ == RecordFormat::Vorbis || format_ == RecordFormat::Opus)) {
      oggHeaders_.observe(address, length);
    }
  }
  if (failed) report(*failed);
}

std::optional<Recorder::Failed> Recorder::recordBlock(bool recording, const std::uint8_t* address,
                                                      std::size_t length) {
  if (length == 0) {
    // The download ended. Should the same stream come back with the same title, the file goes on.
    if (recWriter_.isOpen()) appendNext_ = true;
    closeFile();
    frameSynced_ = false;
    return std::nullopt;
  }
  if (!recording) {
    closeFile();
    appendNext_ = false;  // on again within a title: a file of its own
    return std::nullopt;
  }
  if (!hasTrack_) return std::nullopt;  // nothing is recorded before the first title
  if (!recWriter_.isOpen()) {
    if (std::optional<Failed> failed = openFile()) return failed;
  }
  const std::error_code error =
      frameSynced_ ? recWriter_.WriteBytes(address, length) : startFile(address, length);
  if (error) {
    closeFile();
    return Failed{Failure::CannotWrite, recFileName_, error};
  }
  flushNowAndThen();
  return std::nullopt;
}

std::optional<Recorder::Failed> Recorder::openFile() {
  frameSynced_ = false;
  if (appendNext_ && !recFileName_.empty()) {
    appendNext_ = false;
    if (const std::error_code error = recWriter_.OpenFile(recFileName_, clsFileIo::Mode::Append)) {
      return Failed{Failure::CannotOpen, recFileName_, error};
    }
    return std::nullopt;
  }
  recFileName_ = MakeRecordFileName(recordFolder_, statusText(), RecordExtension(format_));
  if (recFileName_.empty()) {
    return Failed{Failure::NoFreeName, recordFolder_, std::make_error_code(std::errc::file_exists)};
  }
  if (const std::error_code error = recWriter_.OpenFile(recFileName_)) {
    return Failed{Failure::CannotOpen, recFileName_, error};
  }
  lastFlush_ = std::chrono::steady_clock::now();
  return std::nullopt;
}

std::error_code Recorder::startFile(const std::uint8_t* address, std::size_t length) {
  const std::size_t start = FindRecordStart(format_, address, length);
  if (start >= length) return {};  // nothing to begin with in this block
  const bool ogg = format_ == RecordFormat::Vorbis || format_ == RecordFormat::Opus;
  if (!ogg || IsOggStreamStart(address + start, length - start)) {
    const std::error_code error = recWriter_.WriteBytes(address + start, length - start);
    frameSynced_ = !error;
    return error;
  }
  // Cut from the middle of an Ogg stream: the file needs the stream's header pages first.
  const std::vector<std::uint8_t>& headers = oggHeaders_.pages();
  if (headers.empty()) return {};
  std::vector<std::uint8_t> head(headers);
  head.insert(head.end(), address + start, address + length);
  const std::error_code error = recWriter_.WriteBytes(head.data(), head.size());
  frameSynced_ = !error;
  return error;
}

void Recorder::closeFile() { syncer_.FlushAndClose(recWriter_.ReleaseHandle()); }

void Recorder::flushNowAndThen() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastFlush_ < std::chrono::seconds(1)) return;
  lastFlush_ = now;
  syncer_.FlushAndClose(recWriter_.DuplicateHandle());
}

void Recorder::report(const Failed& failed) {
  // Recording ends: the lamp goes out and nothing runs the name search again block after block.
  isRecording_.store(false);
  qCWarning(lcRecorder).noquote() << "recording ended:"
                                  << (failed.failure == Failure::NoFreeName   ? "no free file name in"
                                      : failed.failure == Failure::CannotOpen ? "cannot create"
                                                                              : "cannot write")
                                  << QString::fromStdString(failed.fileName) << "-"
                                  << QString::fromStdString(failed.error.message());
  FailureHandler handler;
  {
    std::lock_guard lock(mutex_);
    appendNext_ = false;
    handler = onFailure_;
  }
  if (handler) handler(failed.failure, failed.fileName, failed.error);
}

}  // namespace vornel::playback
