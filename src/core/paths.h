#pragma once

#include <string>

namespace vornel::core {

// The platform's folder separator, which RPP puts at the end of a folder name.
#ifdef _WIN32
inline constexpr char kFolderSeparator = '\\';
#else
inline constexpr char kFolderSeparator = '/';
#endif

// `fp` unchanged when it already ends with the folder separator, else with one appended, so that
// a bare file name can follow it (a drive root or "/" stays as it is).
std::string RPP(const std::string& fp);

// True when `filename` names an ordinary file: folders, hidden files (and on Windows system
// files) do not count. Any error of the look-up yields false; nothing is thrown.
bool FileExists(const std::string& filename);

// "Vornel v1.0": the version label, plain decimal numbers without leading zeros.
std::string VersionLabel(int major, int minor);

}  // namespace vornel::core
