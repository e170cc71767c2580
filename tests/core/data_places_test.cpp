// Where the cache and the recordings go: a portable program folder keeps both, an installed one
// sends them to the user's XDG folders. Real folders under a throw-away home.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "core/data_places.h"
#include "support/files.h"
#include "support/program_folder.h"

namespace vornel::core {
namespace {

namespace fs = std::filesystem;

// HOME and the XDG variables for one test, put back afterwards.
class Environment {
 public:
  void Set(const char* name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
  ~Environment() {
    for (const auto& [name, value] : saved_)
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

class DataPlacesTest : public ::testing::Test {
 protected:
  DataPlacesTest() {
    fs::create_directories(Home());
    environment_.Set("HOME", Home().string());
    environment_.Set("XDG_CACHE_HOME", std::nullopt);
    environment_.Set("XDG_CONFIG_HOME", std::nullopt);
    program_.Write("stations.dat", kBundled);
  }
  fs::path Home() const { return home_.file("home"); }

  static constexpr const char* kBundled = "bundled directory\r\n";
  test::ProgramFolder program_;
  test::ProgramFolder home_;
  Environment environment_;
};

TEST_F(DataPlacesTest, AWritableProgramFolderKeepsEverythingAndMakesNothing) {
  const DataPlaces places = ResolveDataPlaces(program_.path());
  EXPECT_TRUE(places.portable);
  EXPECT_EQ(fs::path(places.stationsFile), program_.file("stations.dat"));
  EXPECT_EQ(fs::path(places.recordFolder), program_.file("REC"));
  // A portable player never made REC, and leaves the user's folders alone.
  EXPECT_FALSE(fs::exists(program_.file("REC")));
  EXPECT_TRUE(fs::is_empty(Home()));
}

TEST_F(DataPlacesTest, AnInstalledPlayerSeedsTheXdgCacheAndRecordsIntoTheXdgMusicFolder) {
  environment_.Set("XDG_CACHE_HOME", home_.file("cache").string());
  environment_.Set("XDG_CONFIG_HOME", home_.file("config").string());
  fs::create_directories(home_.file("config"));
  home_.Write("config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Музыка\"\n");

  const DataPlaces places = ResolveDataPlaces(program_.path(), false);
  EXPECT_FALSE(places.portable);
  EXPECT_EQ(fs::path(places.stationsFile), home_.file("cache") / "Vornel" / "stations.dat");
  EXPECT_EQ(test::ReadWholeFile(places.stationsFile), kBundled);
  EXPECT_EQ(fs::path(places.recordFolder), Home() / "Музыка" / "Vornel");
  EXPECT_TRUE(fs::is_directory(places.recordFolder));
}

TEST_F(DataPlacesTest, WithoutXdgSettingsTheHomeFoldersAreUsed) {
  const DataPlaces places = ResolveDataPlaces(program_.path(), false);
  EXPECT_EQ(fs::path(places.stationsFile), Home() / ".cache" / "Vornel" / "stations.dat");
  EXPECT_EQ(fs::path(places.recordFolder), Home() / "Music" / "Vornel");
  EXPECT_TRUE(fs::is_directory(places.recordFolder));
}

TEST_F(DataPlacesTest, ADownloadedCacheIsNeverOverwrittenByTheBundledOne) {
  fs::create_directories(Home() / ".cache" / "Vornel");
  home_.Write("home/.cache/Vornel/stations.dat", "downloaded");
  EXPECT_EQ(test::ReadWholeFile(ResolveDataPlaces(program_.path(), false).stationsFile), "downloaded");
}

TEST_F(DataPlacesTest, TheSeededCacheCanBeReplacedThoughTheInstalledFileIsReadOnly) {
  fs::permissions(program_.file("stations.dat"),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const DataPlaces places = ResolveDataPlaces(program_.path(), false);
  EXPECT_NE(fs::status(places.stationsFile).permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST_F(DataPlacesTest, WritabilityIsFoundByMakingAFileThatDoesNotStay) {
  EXPECT_TRUE(FolderIsWritable(program_.path()));
  EXPECT_FALSE(fs::exists(program_.file("REC")));
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(program_.path())) ++entries;
  EXPECT_EQ(entries, 1u);  // stations.dat alone
  EXPECT_FALSE(FolderIsWritable(program_.file("missing").string()));
  EXPECT_FALSE(FolderIsWritable(program_.file("stations.dat").string()));
}

TEST_F(DataPlacesTest, AFolderWithoutWritePermissionIsNotWritable) {
  // Root writes whatever the mode says; the installed-tree test tries a read-only mount instead.
  if (geteuid() == 0) GTEST_SKIP() << "running as root";
  fs::permissions(program_.path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(FolderIsWritable(program_.path()));
  EXPECT_FALSE(ResolveDataPlaces(program_.path()).portable);
  fs::permissions(program_.path(), fs::perms::owner_all);
}

}  // namespace
}  // namespace vornel::core
