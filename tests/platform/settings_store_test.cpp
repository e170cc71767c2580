#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace vornel::platform {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string folder = (std::filesystem::temp_directory_path() / "vornel-store-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    folder_ = folder;
    SetSettingsFolder(folder_ / "Vornel");
  }
  void TearDown() override {
    SetSettingsFolder({});
    std::filesystem::remove_all(folder_);
  }
  std::filesystem::path file() const { return folder_ / "Vornel" / "settings.reg"; }
  std::string text() const {
    std::ifstream in(file(), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  void writeText(const std::string& text) {
    std::filesystem::create_directories(file().parent_path());
    std::ofstream(file(), std::ios::binary) << text;
  }
  LONG setDword(const char* name, REGDWORD value) {
    HKEY key = 0;
    const LONG created = RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Vornel", &key);
    if (created != ERROR_SUCCESS) return created;
    const BYTE data[4] = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
    const LONG result = RegSetValueExA(key, name, 0, REG_DWORD, data, 4);
    RegCloseKey(key);
    return result;
  }
  // The type and bytes of a value, or the error.
  LONG query(const char* path, const char* name, REGDWORD& type, std::string& bytes) {
    HKEY key = 0;
    const LONG opened = RegOpenKeyA(HKEY_CURRENT_USER, path, &key);
    if (opened != ERROR_SUCCESS) return opened;
    char data[64] = {};
    REGDWORD size = sizeof data;
    const LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    if (result == ERROR_SUCCESS) bytes.assign(data, size);
    RegCloseKey(key);
    return result;
  }

  std::filesystem::path folder_;
};

TEST_F(SettingsStoreTest, AbsentStoreHasNoKeyAndBadHandlesAreRefused) {
  HKEY key = 0;
  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\Vornel", &key), ERROR_FILE_NOT_FOUND);
  REGDWORD type = 0;
  BYTE data[4];
  REGDWORD size = 4;
  EXPECT_EQ(RegQueryValueExA(0, "x", nullptr, &type, data, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(12345), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyA(0x80000007u, "Software", &key), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(std::filesystem::exists(file())) << "reading never creates the file";
}

TEST_F(SettingsStoreTest, ValuesKeepTheirTypeAndMatchWithoutCase) {
  ASSERT_EQ(setDword("default_bitrate", 64), ERROR_SUCCESS);
  ASSERT_EQ(setDword("DEFAULT_BITRATE", 128), ERROR_SUCCESS) << "same value, other case";
  EXPECT_NE(text().find("[HKEY_CURRENT_USER\\Software\\Vornel]\n\"default_bitrate\"=dword:00000080\n"),
            std::string::npos)
      << text();

  REGDWORD type = 0;
  std::string bytes;
  ASSERT_EQ(query("software\\VORNEL", "Default_Bitrate", type, bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(bytes, std::string("\x80\0\0\0", 4));
  // The parent key exists through its subkey.
  HKEY parent = 0;
  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software", &parent), ERROR_SUCCESS);
  HKEY child = 0;
  EXPECT_EQ(RegOpenKeyA(parent, "Vornel", &child), ERROR_SUCCESS) << "a key opened below an open key";
  RegCloseKey(child);
  RegCloseKey(parent);

  // A text value is a text value, and a buffer too small says how much is needed.
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Vornel", &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "name \"q\\", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 4), ERROR_SUCCESS);
  BYTE small[2];
  REGDWORD size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "NAME \"Q\\", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, REG_SZ);
  RegCloseKey(key);
  ASSERT_EQ(query("Software\\Vornel", "name \"q\\", type, bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, std::string("abc\0", 4));
}

TEST_F(SettingsStoreTest, LinesItCannotReadSurviveAChange) {
  const std::string broken = "; my notes\r\r\n[HKEY_CURRENT_USER\\Software\\Vornel]\n\"tray_tip\"=dword:zz\n"
                             "garbage \xC0\xFF\r\r\n\"default_bitrate\"=hex(4):40,00\n";
  writeText(broken);
  REGDWORD type = 0;
  std::string bytes;
  EXPECT_EQ(query("Software\\Vornel", "tray_tip", type, bytes), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(query("Software\\Vornel", "default_bitrate", type, bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(bytes.size(), 2u) << "a DWORD of the wrong size is kept as stored";

  ASSERT_EQ(setDword("default_bitrate", 96), ERROR_SUCCESS);
  // Byte for byte, down to a CR at a line's end.
  EXPECT_EQ(text(), "; my notes\r\r\n[HKEY_CURRENT_USER\\Software\\Vornel]\n\"tray_tip\"=dword:zz\n"
                    "garbage \xC0\xFF\r\r\n\"default_bitrate\"=dword:00000060\n");
}

TEST_F(SettingsStoreTest, AFailedWriteLeavesTheStoreAsItWas) {
  ASSERT_EQ(setDword("default_bitrate", 64), ERROR_SUCCESS);
  const std::string before = text();
  // The store's folder turns into a file: nothing can be written beside it any more.
  SetSettingsFolder(file());
  EXPECT_EQ(setDword("default_bitrate", 128), ERROR_ACCESS_DENIED);
  SetSettingsFolder(folder_ / "Vornel");
  EXPECT_EQ(text(), before);
  EXPECT_FALSE(std::filesystem::exists(file().string() + ".new"));
}

}  // namespace
}  // namespace vornel::platform
