#pragma once

// The per-user settings store with the registry's calls and results, kept in one text file,
// settings.reg, in the user's configuration folder ($XDG_CONFIG_HOME/Vornel, or
// ~/.config/Vornel). Keys are sections, values are typed bytes:
//
//   [HKEY_CURRENT_USER\Software\Vornel]
//   "default_bitrate"=dword:00000040
//   "anything"=hex(1):41,00
//
// Names match without regard to ASCII letter case, as the registry's do. Every change rewrites
// the file beside itself and renames it over the old one, so a crash or a full disk never leaves
// half a file; lines the store cannot read are kept as they are, never dropped. A missing or
// unreadable file reads as an empty store.

#include <cstdint>
#include <filesystem>

namespace vornel::platform {

using HKEY = std::uint32_t;
using LONG = std::int32_t;
using REGDWORD = std::uint32_t;
using BYTE = unsigned char;

constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

constexpr REGDWORD REG_SZ = 1;
constexpr REGDWORD REG_BINARY = 3;
constexpr REGDWORD REG_DWORD = 4;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;

// The folder of settings.reg. Tests point it elsewhere; an empty path restores the default.
void SetSettingsFolder(const std::filesystem::path& folder);
std::filesystem::path SettingsFolder();

// Opens an existing key below `root` (a predefined root or an open key).
LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result);
// Opens a key, creating it (and the file) when needed.
LONG RegCreateKeyA(HKEY root, const char* subKey, HKEY* result);
// The value's type and bytes. `data` may be null to ask for the size; a buffer smaller than the
// value gives ERROR_MORE_DATA with the size needed in *size.
LONG RegQueryValueExA(HKEY key, const char* valueName, REGDWORD* reserved, REGDWORD* type, BYTE* data,
                      REGDWORD* size);
LONG RegSetValueExA(HKEY key, const char* valueName, REGDWORD reserved, REGDWORD type, const BYTE* data,
                    REGDWORD size);
LONG RegCloseKey(HKEY key);

}  // namespace vornel::platform
