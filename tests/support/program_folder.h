#pragma once

// A throw-away program folder for start-up tests: the audio library, stations.dat and whatever
// else a test puts there, removed when the test ends.

#include <filesystem>
#include <string>
#include <string_view>

namespace vornel::test {

class ProgramFolder {
 public:
  ProgramFolder();
  ~ProgramFolder();
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  // Copies an audio library file in under the name the player looks for.
  void AddAudioLibrary(const std::string& source);
  // Copies a fixture from tests/fixtures/stations in as stations.dat.
  void AddStations(const std::string& fixture);
  void Write(const std::string& name, std::string_view bytes);

  std::string path() const { return path_.string(); }
  std::filesystem::path file(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Built libraries the tests load.
std::string RealAudioLibrary();
std::string FakeAudioLibrary(const std::string& variant);  // "version_2304", "init_fails", "missing_function"

}  // namespace vornel::test
