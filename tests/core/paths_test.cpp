#include "core/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vornel::core {
namespace {

namespace fs = std::filesystem;

TEST(RPP, AppendsTheSeparatorOnlyWhenMissing) {
  const std::string sep(1, kFolderSeparator);
  EXPECT_EQ(RPP("folder"), "folder" + sep);
  EXPECT_EQ(RPP("folder" + sep), "folder" + sep);
  EXPECT_EQ(RPP(sep), sep);  // the root stays the root
  EXPECT_EQ(RPP(""), sep);
}

class FileExistsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vornel-paths-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(dir_ / "folder");
    std::ofstream(dir_ / "file.dat") << "x";
    std::ofstream(dir_ / ".hidden") << "x";
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string At(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(FileExistsTest, OnlyOrdinaryVisibleFilesCount) {
  EXPECT_TRUE(FileExists(At("file.dat")));
  EXPECT_FALSE(FileExists(At("folder")));
  EXPECT_FALSE(FileExists(At(".hidden")));
  EXPECT_FALSE(FileExists(At("absent.dat")));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(At("file.dat/below")));  // a path through a file: an error, not a throw
  EXPECT_FALSE(FileExists(std::string(5000, 'a')));  // name too long
}

TEST(VersionLabel, PlainDecimalNumbers) {
  EXPECT_EQ(VersionLabel(1, 0), "Vornel v1.0");
  EXPECT_EQ(VersionLabel(2, 15), "Vornel v2.15");
}

}  // namespace
}  // namespace vornel::core
