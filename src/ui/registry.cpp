#include "ui/registry.h"

#include <string>

#include "platform/codepage.h"

namespace vornel::ui {

namespace {

// Key and value names travel as single-byte text in the ANSI code page.
std::string Ansi(const QString& text) { return platform::Utf8ToCp1251(text.toStdString()); }

}  // namespace

std::int32_t ReadRegDword(platform::HKEY root, const QString& keyPath, const QString& valueName,
                          std::int32_t defaultValue) {
  std::int32_t result = defaultValue;
  platform::HKEY key = 0;
  // A key that does not open makes the query below fail, which leaves the default.
  platform::RegOpenKeyA(root, Ansi(keyPath).c_str(), &key);
  platform::REGDWORD type = 0;
  platform::BYTE data[4] = {};
  platform::REGDWORD size = sizeof data;
  if (platform::RegQueryValueExA(key, Ansi(valueName).c_str(), nullptr, &type, data, &size) ==
          platform::ERROR_SUCCESS &&
      type == platform::REG_DWORD && size == sizeof data) {
    const std::uint32_t stored = static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                                 static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    result = static_cast<std::int32_t>(stored);
  }
  platform::RegCloseKey(key);
  return result;
}

void WriteRegDword(platform::HKEY root, const QString& keyPath, const QString& valueName, std::int32_t value) {
  platform::HKEY key = 0;
  if (platform::RegCreateKeyA(root, Ansi(keyPath).c_str(), &key) != platform::ERROR_SUCCESS) return;
  const auto stored = static_cast<std::uint32_t>(value);
  const platform::BYTE data[4] = {static_cast<platform::BYTE>(stored), static_cast<platform::BYTE>(stored >> 8),
                                  static_cast<platform::BYTE>(stored >> 16), static_cast<platform::BYTE>(stored >> 24)};
  platform::RegSetValueExA(key, Ansi(valueName).c_str(), 0, platform::REG_DWORD, data, sizeof data);
  platform::RegCloseKey(key);
}

}  // namespace vornel::ui
