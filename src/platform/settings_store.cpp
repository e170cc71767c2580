#include "platform/settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace vornel::platform {

namespace {

constexpr const char* kFileName = "settings.reg";

struct Value {
  std::string name;
  REGDWORD type = 0;
  std::vector<BYTE> data;
};

// One line of a section: a value, or a line the store cannot read, kept as it stands.
struct Line {
  std::string raw;
  std::optional<Value> value;
};

struct Section {
  std::string path;  // "HKEY_CURRENT_USER\Software\Vornel"
  std::vector<Line> lines;
};

struct Store {
  std::vector<std::string> preamble;  // what stands before the first key
  std::vector<Section> sections;
};

// Guards the handle table, the folder and every read-modify-write of the file.
std::mutex gMutex;
std::filesystem::path gFolder;
std::map<HKEY, std::string> gHandles;
HKEY gNextHandle = 1;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::filesystem::path DefaultFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::filesystem::path(config) / "Vornel";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".config" / "Vornel";
}

std::filesystem::path FilePath() { return (gFolder.empty() ? DefaultFolder() : gFolder) / kFileName; }

// The full path of `subKey` below `root`, or nothing when `root` is neither a root nor open.
std::optional<std::string> Resolve(HKEY root, const char* subKey) {
  std::string base;
  if (root == HKEY_CURRENT_USER) {
    base = "HKEY_CURRENT_USER";
  } else if (root == HKEY_LOCAL_MACHINE) {
    base = "HKEY_LOCAL_MACHINE";
  } else if (auto open = gHandles.find(root); open != gHandles.end()) {
    base = open->second;
  } else {
    return std::nullopt;
  }
  std::string sub = subKey != nullptr ? subKey : "";
  while (!sub.empty() && sub.front() == '\\') sub.erase(sub.begin());
  while (!sub.empty() && sub.back() == '\\') sub.pop_back();
  return sub.empty() ? base : base + "\\" + sub;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<Value> ParseValue(const std::string& line) {
  // "name" with \\ and \" escapes, then =.
  if (line.empty() || line[0] != '"') return std::nullopt;
  Value value;
  std::size_t i = 1;
  for (;; ++i) {
    if (i >= line.size()) return std::nullopt;
    if (line[i] == '"') break;
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    value.name += line[i];
  }
  std::string rest = line.substr(i + 1);
  if (rest.empty() || rest[0] != '=') return std::nullopt;
  rest.erase(0, 1);

  if (rest.rfind("dword:", 0) == 0) {
    const std::string digits = rest.substr(6);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    REGDWORD n = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) return std::nullopt;
      n = n * 16 + static_cast<REGDWORD>(d);
    }
    value.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8) value.data.push_back(static_cast<BYTE>(n >> shift));
    return value;
  }

  std::string bytes;
  if (rest.rfind("hex:", 0) == 0) {
    value.type = REG_BINARY;
    bytes = rest.substr(4);
  } else if (rest.rfind("hex(", 0) == 0) {
    const std::size_t close = rest.find("):");
    if (close == std::string::npos || close == 4 || close > 12) return std::nullopt;
    REGDWORD type = 0;
    for (std::size_t k = 4; k < close; ++k) {
      const int d = HexDigit(rest[k]);
      if (d < 0) return std::nullopt;
      type = type * 16 + static_cast<REGDWORD>(d);
    }
    value.type = type;
    bytes = rest.substr(close + 2);
  } else {
    return std::nullopt;
  }
  for (std::size_t k = 0; k < bytes.size();) {
    if (k + 2 > bytes.size()) return std::nullopt;
    const int hi = HexDigit(bytes[k]);
    const int lo = HexDigit(bytes[k + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    value.data.push_back(static_cast<BYTE>(hi * 16 + lo));
    k += 2;
    if (k < bytes.size() && bytes[k++] != ',') return std::nullopt;
  }
  return value;
}

std::string FormatValue(const Value& value) {
  std::string line = "\"";
  for (char c : value.name) {
    if (c == '"' || c == '\\') line += '\\';
    line += c;
  }
  line += "\"=";
  char buffer[16];
  if (value.type == REG_DWORD && value.data.size() == 4) {
    const REGDWORD n = static_cast<REGDWORD>(value.data[0]) | static_cast<REGDWORD>(value.data[1]) << 8 |
                       static_cast<REGDWORD>(value.data[2]) << 16 | static_cast<REGDWORD>(value.data[3]) << 24;
    std::snprintf(buffer, sizeof buffer, "dword:%08x", n);
    return line + buffer;
  }
  std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
  line += buffer;
  for (std::size_t k = 0; k < value.data.size(); ++k) {
    std::snprintf(buffer, sizeof buffer, k == 0 ? "%02x" : ",%02x", value.data[k]);
    line += buffer;
  }
  return line;
}

Store Load() {
  Store store;
  std::ifstream in(FilePath(), std::ios::binary);
  std::string raw;
  while (std::getline(in, raw)) {
    // Lines it cannot read are written back byte for byte, a CR of their own included.
    std::string line = raw;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      store.sections.push_back({line.substr(1, line.size() - 2), {}});
    } else if (store.sections.empty()) {
      store.preamble.push_back(raw);
    } else {
      store.sections.back().lines.push_back({raw, ParseValue(line)});
    }
  }
  return store;
}

bool Save(const Store& store) {
  std::ostringstream out;
  for (const std::string& line : store.preamble) out << line << '\n';
  if (store.preamble.empty()) out << "; Vornel's settings. Written by the player; safe to edit while it is closed.\n";
  for (const Section& section : store.sections) {
    out << '[' << section.path << "]\n";
    for (const Line& line : section.lines) out << (line.value ? FormatValue(*line.value) : line.raw) << '\n';
  }
  const std::string text = out.str();

  const std::filesystem::path path = FilePath();
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  const std::string temporary = path.string() + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  for (std::size_t done = 0; ok && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

bool KeyExists(const Store& store, const std::string& path) {
  for (const Section& section : store.sections) {
    if (SameName(section.path, path)) return true;
    // A key with subkeys exists even without a section of its own.
    if (section.path.size() > path.size() && section.path[path.size()] == '\\' &&
        SameName(section.path.substr(0, path.size()), path))
      return true;
  }
  return false;
}

Section* FindSection(Store& store, const std::string& path) {
  for (Section& section : store.sections)
    if (SameName(section.path, path)) return &section;
  return nullptr;
}

HKEY NewHandle(const std::string& path) {
  while (gHandles.count(gNextHandle) != 0 || gNextHandle == 0 || gNextHandle >= 0x80000000u) {
    gNextHandle = gNextHandle >= 0x80000000u ? 1 : gNextHandle + 1;
  }
  gHandles[gNextHandle] = path;
  return gNextHandle++;
}

}  // namespace

void SetSettingsFolder(const std::filesystem::path& folder) {
  std::lock_guard lock(gMutex);
  gFolder = folder;
}

std::filesystem::path SettingsFolder() {
  std::lock_guard lock(gMutex);
  return FilePath().parent_path();
}

LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard lock(gMutex);
  const auto path = Resolve(root, subKey);
  if (!path) return ERROR_INVALID_HANDLE;
  if (!KeyExists(Load(), *path)) return ERROR_FILE_NOT_FOUND;
  *result = NewHandle(*path);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyA(HKEY root, const char* subKey, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  std::lock_guard lock(gMutex);
  const auto path = Resolve(root, subKey);
  if (!path) return ERROR_INVALID_HANDLE;
  Store store = Load();
  if (FindSection(store, *path) == nullptr) {
    store.sections.push_back({*path, {}});
    if (!Save(store)) return ERROR_ACCESS_DENIED;
  }
  *result = NewHandle(*path);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, REGDWORD* /*reserved*/, REGDWORD* type, BYTE* data,
                      REGDWORD* size) {
  std::lock_guard lock(gMutex);
  const auto path = Resolve(key, nullptr);
  if (!path) return ERROR_INVALID_HANDLE;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  Store store = Load();
  const Section* section = FindSection(store, *path);
  if (section == nullptr) return ERROR_FILE_NOT_FOUND;
  const std::string name = valueName != nullptr ? valueName : "";
  for (const Line& line : section->lines) {
    if (!line.value || !SameName(line.value->name, name)) continue;
    const Value& value = *line.value;
    if (type != nullptr) *type = value.type;
    const auto needed = static_cast<REGDWORD>(value.data.size());
    if (data != nullptr && *size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed > 0) std::memcpy(data, value.data.data(), needed);
    if (size != nullptr) *size = needed;
    return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG RegSetValueExA(HKEY key, const char* valueName, REGDWORD /*reserved*/, REGDWORD type, const BYTE* data,
                    REGDWORD size) {
  std::lock_guard lock(gMutex);
  const auto path = Resolve(key, nullptr);
  if (!path) return ERROR_INVALID_HANDLE;
  if (data == nullptr && size > 0) return ERROR_INVALID_PARAMETER;
  Store store = Load();
  Section* section = FindSection(store, *path);
  if (section == nullptr) {
    store.sections.push_back({*path, {}});
    section = &store.sections.back();
  }
  Value value{valueName != nullptr ? valueName : "", type, std::vector<BYTE>(data, data + size)};
  bool replaced = false;
  for (Line& line : section->lines) {
    if (line.value && SameName(line.value->name, value.name)) {
      // Storing what is there already needs no new file (the player does so at every start).
      if (line.value->type == value.type && line.value->data == value.data) return ERROR_SUCCESS;
      value.name = line.value->name;  // a value keeps the spelling it was created with
      line.value = value;
      replaced = true;
      break;
    }
  }
  if (!replaced) section->lines.push_back({std::string(), value});
  return Save(store) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegCloseKey(HKEY key) {
  std::lock_guard lock(gMutex);
  return gHandles.erase(key) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace vornel::platform
