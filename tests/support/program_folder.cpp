#include "support/program_folder.h"

#include <fstream>
#include <random>

#include "playback/audio_library.h"

namespace vornel::test {

namespace fs = std::filesystem;

ProgramFolder::ProgramFolder() {
  std::random_device random;
  path_ = fs::temp_directory_path() / ("vornel-test-" + std::to_string(random()) + std::to_string(random()));
  fs::create_directories(path_);
}

ProgramFolder::~ProgramFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void ProgramFolder::AddAudioLibrary(const std::string& source) {
  fs::copy_file(source, path_ / playback::kAudioLibraryFileName, fs::copy_options::overwrite_existing);
}

void ProgramFolder::AddStations(const std::string& fixture) {
  fs::copy_file(fs::path(VORNEL_TEST_FIXTURES) / "stations" / fixture, path_ / "stations.dat",
                fs::copy_options::overwrite_existing);
}

void ProgramFolder::Write(const std::string& name, std::string_view bytes) {
  std::ofstream(path_ / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string RealAudioLibrary() { return VORNEL_TEST_REAL_AUDIO_LIBRARY; }

std::string FakeAudioLibrary(const std::string& variant) {
  return (fs::path(VORNEL_TEST_FAKES_DIR) / variant / playback::kAudioLibraryFileName).string();
}

}  // namespace vornel::test
