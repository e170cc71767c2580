// Arbitrary bytes as the settings file, read through the store's registry calls, and written back
// once. Besides any crash, overflow or undefined behaviour, a finding is:
// - a key whose section the file holds that does not open;
// - a value whose size query, read and short read disagree (the player sizes its buffer by the
//   first and trusts the second);
// - a write that does not read back, that changes another value, or that drops or alters a line
//   the store cannot read (a hand edit would be lost);
// - a write of what is stored already that replaces the file.
//
// Input: a flags byte, a type byte, a name length and the name, a data length and the data (the
// value written when the flags ask), then the file.
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/settings_store.h"

// Every change of the store syncs the file to disk; the fuzzer's throwaway file needs no
// durability, and a disk sync per input would hold the fuzzer to the disk's pace.
extern "C" int fsync(int) { return 0; }

namespace {

using namespace vornel::platform;

constexpr std::size_t kMaxKeys = 4;
constexpr std::size_t kMaxNames = 12;

// A folder of the process's own, so that fuzzers running side by side never share the file; in
// memory where the system has a place for it, since every input rewrites and renames the file and a
// disk's journal would then set the pace.
struct Folder {
  Folder() {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "vornel-settings-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
    file = path / "settings.reg";
    SetSettingsFolder(path);
  }
  ~Folder() {
    std::error_code error;
    std::filesystem::remove_all(path, error);
  }
  std::filesystem::path path;
  std::filesystem::path file;
};

const Folder& TheFolder() {
  static const Folder folder;
  return folder;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The file's lines as the format defines them: '\n' ends a line, a CR before it belongs to the end.
std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(pos, end - pos));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    pos = end + 1;
  }
  return lines;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Key {
  HKEY handle = 0;
  std::string path;  // as the store names the key, letter case folded
};

// A value's name as a value line spells it, with its \\ and \" escapes undone.
bool NameOf(const std::string& line, std::string& name) {
  if (line.empty() || line[0] != '"') return false;
  name.clear();
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (line[i] == '"') return name.find('\0') == std::string::npos;
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    name += line[i];
  }
  return false;
}

struct Stored {
  LONG result = ERROR_FILE_NOT_FOUND;
  REGDWORD type = 0;
  std::vector<BYTE> data;
  bool operator==(const Stored&) const = default;
};

// A value read the way the player reads one: its size first, then into a buffer of that size.
Stored Query(HKEY key, const std::string& name) {
  Stored stored;
  REGDWORD size = 0;
  stored.result = RegQueryValueExA(key, name.c_str(), nullptr, &stored.type, nullptr, &size);
  if (stored.result != ERROR_SUCCESS) return stored;
  std::vector<BYTE> buffer(size + 1);
  REGDWORD type = 0;
  REGDWORD got = size;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer.data(), &got) != ERROR_SUCCESS ||
      got != size || type != stored.type) {
    std::abort();
  }
  stored.data.assign(buffer.begin(), buffer.begin() + size);
  if (size > 0) {
    REGDWORD tooSmall = size - 1;
    if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, buffer.data(), &tooSmall) != ERROR_MORE_DATA ||
        tooSmall != size) {
      std::abort();
    }
  }
  return stored;
}

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = Lower(c);
  return folded;
}

// The key a section names, when a root the calls know begins it and the rest opens it as is; `key`
// is then the path the store resolves it to, trailing backslashes off.
bool SubKeyOf(const std::string& path, HKEY& root, std::string& subKey, std::string& key) {
  for (const auto& [name, handle] : {std::pair{std::string_view("HKEY_CURRENT_USER"), HKEY_CURRENT_USER},
                                     std::pair{std::string_view("HKEY_LOCAL_MACHINE"), HKEY_LOCAL_MACHINE}}) {
    if (path.size() < name.size() || !SameName(std::string_view(path).substr(0, name.size()), name)) continue;
    if (path.size() == name.size()) {
      subKey.clear();
    } else if (path[name.size()] == '\\' && path.size() > name.size() + 1 && path[name.size() + 1] != '\\') {
      subKey = path.substr(name.size() + 1);
    } else {
      return false;
    }
    root = handle;
    std::string_view trimmed(subKey);
    while (!trimmed.empty() && trimmed.back() == '\\') trimmed.remove_suffix(1);
    key = Folded(name) + (trimmed.empty() ? "" : "\\" + Folded(trimmed));
    return subKey.find('\0') == std::string::npos;
  }
  return false;
}

ino_t Inode(const std::filesystem::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Folder& folder = TheFolder();
  if (size < 4) return 0;
  const std::uint8_t flags = data[0];
  static constexpr REGDWORD kTypes[] = {REG_SZ, REG_BINARY, REG_DWORD, 0, 7, 0xFFFFFFFFu};
  const REGDWORD type = kTypes[data[1] % std::size(kTypes)];
  std::size_t pos = 3;
  const std::size_t nameLength = std::min<std::size_t>(data[2] % 32, size - pos);
  // A name with a line end or a NUL is not one the player writes, and the C call could not pass it.
  std::string setName(reinterpret_cast<const char*>(data + pos), nameLength);
  for (char& c : setName) {
    if (c == '\0' || c == '\n' || c == '\r') c = '_';
  }
  pos += nameLength;
  if (pos >= size) return 0;
  const std::size_t dataLength = std::min<std::size_t>(data[pos], size - pos - 1);
  ++pos;
  const std::vector<BYTE> setData(data + pos, data + pos + dataLength);
  pos += dataLength;
  const std::string_view text(reinterpret_cast<const char*>(data + pos), size - pos);

  {
    std::ofstream out(folder.file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  const std::vector<std::string> lines = Lines(text);

  // Every section of a known root opens, and its values read consistently.
  std::vector<Key> keys;
  std::map<std::pair<std::string, std::string>, Stored> before;  // by key path and value name
  std::size_t names = 0;
  bool inKey = false;
  for (const std::string& line : lines) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      HKEY root = 0;
      std::string subKey;
      std::string path;
      inKey = keys.size() < kMaxKeys && SubKeyOf(line.substr(1, line.size() - 2), root, subKey, path);
      if (!inKey) continue;
      keys.push_back({0, path});
      if (RegOpenKeyA(root, subKey.c_str(), &keys.back().handle) != ERROR_SUCCESS) std::abort();
      continue;
    }
    std::string name;
    if (!inKey || names >= kMaxNames || !NameOf(line, name)) continue;
    ++names;
    before[{keys.back().path, name}] = Query(keys.back().handle, name);
  }

  if ((flags & 1) != 0) {
    HKEY target = keys.empty() ? 0 : keys.front().handle;
    const std::string targetPath = keys.empty() ? "hkey_current_user\\software\\vornel" : keys.front().path;
    if (keys.empty() && RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Vornel", &target) != ERROR_SUCCESS) {
      std::abort();
    }
    if (RegSetValueExA(target, setName.c_str(), 0, type, setData.data(),
                       static_cast<REGDWORD>(setData.size())) != ERROR_SUCCESS) {
      std::abort();
    }
    const Stored written{ERROR_SUCCESS, type, setData};
    if (!(Query(target, setName) == written)) std::abort();
    for (const auto& [where, value] : before) {
      if (where.first == targetPath && SameName(where.second, setName)) continue;
      HKEY key = 0;
      for (const Key& k : keys) {
        if (k.path == where.first) key = k.handle;
      }
      if (!(Query(key, where.second) == value)) std::abort();
    }
    // Lines that are no value stay as they stood, in their order.
    const std::vector<std::string> after = Lines(ReadFile(folder.file));
    std::size_t next = 0;
    for (const std::string& line : lines) {
      if (!line.empty() && line[0] == '"') continue;
      while (next < after.size() && after[next] != line) ++next;
      if (next == after.size()) std::abort();
      ++next;
    }
    // Storing it again is no change.
    const ino_t inode = Inode(folder.file);
    const std::string saved = ReadFile(folder.file);
    if (RegSetValueExA(target, setName.c_str(), 0, type, setData.data(),
                       static_cast<REGDWORD>(setData.size())) != ERROR_SUCCESS ||
        Inode(folder.file) != inode || ReadFile(folder.file) != saved) {
      std::abort();
    }
    if (keys.empty() && RegCloseKey(target) != ERROR_SUCCESS) std::abort();
  }

  for (const Key& key : keys) {
    if (RegCloseKey(key.handle) != ERROR_SUCCESS || RegCloseKey(key.handle) != ERROR_INVALID_HANDLE)
      std::abort();
  }
  return 0;
}
