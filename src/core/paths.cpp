#include "core/paths.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace vornel::core {

std::string RPP(const std::string& fp) {
  if (!fp.empty() && fp.back() == kFolderSeparator) return fp;
  return fp + kFolderSeparator;
}

bool FileExists(const std::string& filename) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path path(filename);
  if (!fs::is_regular_file(path, error) || error) return false;
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(filename.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
#else
  const std::string name = path.filename().string();
  return !name.empty() && name.front() != '.';
#endif
}

std::string VersionLabel(int major, int minor) {
  return "Vornel v" + std::to_string(major) + "." + std::to_string(minor);
}

}  // namespace vornel::core
