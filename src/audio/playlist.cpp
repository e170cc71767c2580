#include "playlist.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <utility>

#include "text.h"

namespace vornel::audio {

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}


bool IsHttpUrl(std::string_view url) {
  return StartsWithIgnoreCase(url, "http://") || StartsWithIgnoreCase(url, "https://");
}

// Calls fn(line) for each line, whichever of CRLF, LF or CR ends it; stops when fn returns false.
template <typename Fn>
void ForEachLine(std::string_view text, Fn&& fn) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == npos) end = text.size();
    if (!fn(text.substr(pos, end - pos))) return;
    pos = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
  }
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  const auto unitAt = [&](std::size_t i) -> std::uint32_t {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    std::uint32_t cp = unitAt(i);
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      const bool paired =
          cp < 0xDC00 && i + 3 < bytes.size() && unitAt(i + 2) >= 0xDC00 && unitAt(i + 2) <= 0xDFFF;
      if (paired) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
        i += 2;
      } else {
        cp = 0xFFFD;
      }
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// Windows tools write playlists in UTF-16, sometimes without a BOM; a zero byte among the first two
// is impossible in a UTF-8 playlist, so it gives the byte order away.
std::string TextToUtf8(std::string_view raw) {
  if (raw.starts_with("\xEF\xBB\xBF")) return std::string(raw.substr(3));
  if (raw.starts_with("\xFF\xFE")) return Utf16ToUtf8(raw.substr(2), false);
  if (raw.starts_with("\xFE\xFF")) return Utf16ToUtf8(raw.substr(2), true);
  if (raw.size() >= 2 && raw[0] != '\0' && raw[1] == '\0') return Utf16ToUtf8(raw, false);
  if (raw.size() >= 2 && raw[0] == '\0' && raw[1] != '\0') return Utf16ToUtf8(raw, true);
  return std::string(raw);
}

// ---- URLs ----

struct UriComponents {
  std::string_view scheme, authority, path, query, fragment;
  bool hasScheme = false, hasAuthority = false, hasQuery = false, hasFragment = false;
};

UriComponents SplitUri(std::string_view s) {
  UriComponents parts;
  if (!s.empty() && IsAlpha(s[0])) {
    std::size_t i = 1;
    while (i < s.size() && (IsAlpha(s[i]) || IsDigit(s[i]) || s[i] == '+' || s[i] == '-' || s[i] == '.')) ++i;
    if (i < s.size() && s[i] == ':') {
      parts.scheme = s.substr(0, i);
      parts.hasScheme = true;
      s.remove_prefix(i + 1);
    }
  }
  if (s.starts_with("//")) {
    s.remove_prefix(2);
    const std::size_t end = std::min(s.find_first_of("/?#"), s.size());
    parts.authority = s.substr(0, end);
    parts.hasAuthority = true;
    s.remove_prefix(end);
  }
  std::size_t end = std::min(s.find_first_of("?#"), s.size());
  parts.path = s.substr(0, end);
  s.remove_prefix(end);
  if (s.starts_with('?')) {
    end = std::min(s.find('#'), s.size());
    parts.query = s.substr(1, end - 1);
    parts.hasQuery = true;
    s.remove_prefix(end);
  }
  if (s.starts_with('#')) {
    parts.fragment = s.substr(1);
    parts.hasFragment = true;
  }
  return parts;
}

bool IsHttpScheme(std::string_view scheme) {
  return EqualsIgnoreCase(scheme, "http") || EqualsIgnoreCase(scheme, "https");
}

// A usable http authority: a host, and a port that is a number when there is one.
bool IsHttpAuthority(std::string_view authority) {
  if (authority.find_first_of(" \\") != npos) return false;
  const std::size_t at = authority.rfind('@');
  if (at != npos) authority.remove_prefix(at + 1);
  std::string_view port;
  if (authority.starts_with('[')) {
    const std::size_t close = authority.find(']');
    if (close == npos || close == 1) return false;
    port = authority.substr(close + 1);
    if (!port.empty() && !port.starts_with(':')) return false;
  } else {
    const std::size_t colon = authority.rfind(':');
    if (colon == 0) return false;
    if (colon != npos) port = authority.substr(colon);
    if (authority.size() - port.size() == 0) return false;
  }
  if (!port.empty()) port.remove_prefix(1);
  return std::all_of(port.begin(), port.end(), IsDigit);
}

// The last pass over every result: rejects what only garbage contains, escapes what hand-written
// playlists contain.
std::string CheckedUrl(std::string_view url) {
  for (char c : url) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '<' || c == '>' || c == '"') return {};
  }
  const UriComponents parts = SplitUri(url);
  if (parts.hasScheme && IsHttpScheme(parts.scheme) &&
      (!parts.hasAuthority || !IsHttpAuthority(parts.authority))) {
    return {};
  }
  if (parts.hasAuthority && parts.authority.find(' ') != npos) return {};
  const std::size_t tail = static_cast<std::size_t>(parts.path.data() - url.data());
  std::string out(url.substr(0, tail));
  for (char c : url.substr(tail)) {
    const auto u = static_cast<unsigned char>(c);
    if (c == ' ' || u >= 0x80) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

std::string RemoveDotSegments(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  const auto dropLastSegment = [&out] {
    const std::size_t slash = out.rfind('/');
    out.erase(slash == npos ? 0 : slash);
  };
  std::size_t i = 0;
  while (i < in.size()) {
    const std::string_view rest = in.substr(i);
    if (rest.starts_with("../")) {
      i += 3;
    } else if (rest.starts_with("./")) {
      i += 2;
    } else if (rest.starts_with("/./")) {
      i += 2;  // leaves the second '/' in place
    } else if (rest == "/.") {
      out += '/';
      break;
    } else if (rest.starts_with("/../")) {
      i += 3;
      dropLastSegment();
    } else if (rest == "/..") {
      dropLastSegment();
      out += '/';
      break;
    } else if (rest == "." || rest == "..") {
      break;
    } else {
      const std::size_t next = std::min(in.find('/', i + 1), in.size());
      out.append(in.substr(i, next - i));
      i = next;
    }
  }
  return out;
}

// ---- collecting entries ----

// Station lists often give a server as "host:port/path" and mean http. As a URI reference that is
// a scheme "host" (or, for an IP address, a relative path), neither of which could be meant.
bool LacksHttpScheme(std::string_view reference) {
  const std::size_t colon = reference.find(':');
  if (colon == 0 || colon == npos || reference.substr(0, colon).find_first_of("/?#") != npos) return false;
  if (!std::all_of(reference.begin(), reference.begin() + static_cast<std::ptrdiff_t>(colon),
                   [](char c) { return IsAlpha(c) || IsDigit(c) || c == '.' || c == '-'; })) {
    return false;
  }
  const std::string_view rest = reference.substr(colon + 1);
  const std::size_t digits = std::min(rest.find_first_not_of("0123456789"), rest.size());
  return digits > 0 && (digits == rest.size() || rest[digits] == '/');
}

class EntryCollector {
 public:
  explicit EntryCollector(std::string_view baseUrl) : baseUrl_(baseUrl) {}

  // False once the list is full.
  bool add(std::string_view reference) {
    if (full()) return false;
    reference = Trim(reference);
    if (reference.empty()) return true;
    std::string url = ResolveUrl(
        baseUrl_, LacksHttpScheme(reference) ? "http://" + std::string(reference) : std::string(reference));
    if (url.empty() || !IsHttpUrl(url)) return true;
    if (std::find(entries_.begin(), entries_.end(), url) == entries_.end())
      entries_.push_back(std::move(url));
    return !full();
  }

  bool full() const { return entries_.size() >= kMaxPlaylistEntries; }
  std::vector<std::string> take() { return std::move(entries_); }

 private:
  std::string_view baseUrl_;
  std::vector<std::string> entries_;
};

// PLS "FileN=" and the older ASX form's "RefN=": numbered keys in any order and case.
void ReadNumberedKeys(std::string_view text, std::string_view prefix, EntryCollector& entries) {
  std::vector<std::pair<std::uint64_t, std::string_view>> found;
  ForEachLine(text, [&](std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == npos) return true;
    const std::string_view key = Trim(line.substr(0, eq));
    if (!StartsWithIgnoreCase(key, prefix) || key.size() == prefix.size()) return true;
    const std::string_view digits = key.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), IsDigit)) return true;
    std::uint64_t number = 0;
    // Absurdly long numbers sort last instead of failing.
    if (std::from_chars(digits.data(), digits.data() + digits.size(), number).ec != std::errc()) {
      number = std::numeric_limits<std::uint64_t>::max();
    }
    found.emplace_back(number, line.substr(eq + 1));
    return true;
  });
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [number, value] : found) {
    if (!entries.add(value)) break;
  }
}

void ReadM3u(std::string_view text, EntryCollector& entries) {
  ForEachLine(text, [&](std::string_view line) {
    line = Trim(line);
    return line.starts_with('#') || entries.add(line);
  });
}

// ---- a forgiving XML reader: playlists in the wild are often not well-formed ----

std::string DecodeXmlEntities(std::string_view s) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') {
      out += s[i];
      continue;
    }
    const std::size_t semi = s.substr(i + 1, 12).find(';');
    if (semi == npos) {
      out += '&';
      continue;
    }
    const std::string_view name = s.substr(i + 1, semi);
    bool decoded = false;
    if (name.starts_with('#')) {
      const bool hex = name.size() > 1 && AsciiLower(name[1]) == 'x';
      const std::string_view digits = name.substr(hex ? 2 : 1);
      std::uint32_t cp = 0;
      const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
      if (ec == std::errc() && end == digits.data() + digits.size() && !digits.empty() && cp != 0 &&
          cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
        AppendUtf8(out, cp);
        decoded = true;
      }
    } else {
      for (const auto& [entity, c] : kNamed) {
        if (EqualsIgnoreCase(name, entity)) {
          out += c;
          decoded = true;
          break;
        }
      }
    }
    if (decoded) {
      i += semi + 1;
    } else {
      out += '&';
    }
  }
  return out;
}

struct XmlTag {
  std::string_view name;        // without any namespace prefix
  std::string_view attributes;  // raw, up to the closing '>' or "/>"
  bool end = false;             // </name>
  bool empty = false;           // <name/>
};

// Calls onTag(const XmlTag&) for each tag and onText(text, isCdata) for the raw text between tags.
// Comments, processing instructions and declarations are skipped; a stray '<' is text. Input cut off
// inside a tag ends the scan.
template <typename OnTag, typename OnText>
void ScanXml(std::string_view xml, OnTag&& onTag, OnText&& onText) {
  std::size_t pos = 0;
  while (pos < xml.size()) {
    const std::size_t lt = xml.find('<', pos);
    if (lt == npos) {
      onText(xml.substr(pos), false);
      return;
    }
    if (lt > pos) onText(xml.substr(pos, lt - pos), false);
    const std::string_view rest = xml.substr(lt);
    if (rest.starts_with("<!--")) {
      const std::size_t end = xml.find("-->", lt + 4);
      if (end == npos) return;
      pos = end + 3;
      continue;
    }
    if (rest.starts_with("<![CDATA[")) {
      const std::size_t end = xml.find("]]>", lt + 9);
      onText(xml.substr(lt + 9, end == npos ? npos : end - lt - 9), true);
      if (end == npos) return;
      pos = end + 3;
      continue;
    }
    if (rest.starts_with("<?") || rest.starts_with("<!")) {
      const std::size_t end = xml.find('>', lt);
      if (end == npos) return;
      pos = end + 1;
      continue;
    }
    XmlTag tag;
    std::size_t p = lt + 1;
    tag.end = p < xml.size() && xml[p] == '/';
    if (tag.end) ++p;
    const std::size_t nameStart = p;
    while (p < xml.size() && !IsSpace(xml[p]) && xml[p] != '/' && xml[p] != '>' && xml[p] != '<') ++p;
    if (p == nameStart) {
      onText(xml.substr(lt, 1), false);
      pos = lt + 1;
      continue;
    }
    tag.name = xml.substr(nameStart, p - nameStart);
    if (const std::size_t colon = tag.name.rfind(':'); colon != npos) tag.name.remove_prefix(colon + 1);
    const std::size_t attributesStart = p;
    char quote = 0;
    for (; p < xml.size() && (quote != 0 || xml[p] != '>'); ++p) {
      if (quote != 0) {
        if (xml[p] == quote) quote = 0;
      } else if (xml[p] == '"' || xml[p] == '\'') {
        quote = xml[p];
      }
    }
    if (p >= xml.size()) return;
    tag.attributes = xml.substr(attributesStart, p - attributesStart);
    if (tag.attributes.ends_with('/')) {
      tag.attributes.remove_suffix(1);
      tag.empty = true;
    }
    onTag(tag);
    pos = p + 1;
  }
}

// The decoded value of an attribute, matched without regard to case; quotes are optional.
std::string XmlAttribute(std::string_view attributes, std::string_view wanted) {
  std::size_t p = 0;
  const std::size_t n = attributes.size();
  while (p < n) {
    while (p < n && (IsSpace(attributes[p]) || attributes[p] == '/')) ++p;
    const std::size_t nameStart = p;
    while (p < n && !IsSpace(attributes[p]) && attributes[p] != '=') ++p;
    const std::string_view name = attributes.substr(nameStart, p - nameStart);
    while (p < n && IsSpace(attributes[p])) ++p;
    std::string_view value;
    if (p < n && attributes[p] == '=') {
      ++p;
      while (p < n && IsSpace(attributes[p])) ++p;
      if (p < n && (attributes[p] == '"' || attributes[p] == '\'')) {
        const std::size_t close = std::min(attributes.find(attributes[p], p + 1), n);
        value = attributes.substr(p + 1, close - p - 1);
        p = close + 1;
      } else {
        const std::size_t valueStart = p;
        while (p < n && !IsSpace(attributes[p])) ++p;
        value = attributes.substr(valueStart, p - valueStart);
      }
    }
    if (!name.empty() && EqualsIgnoreCase(name, wanted)) return DecodeXmlEntities(value);
  }
  return {};
}

// <location> of each <track>; a <location> elsewhere names the playlist itself, not a stream.
void ReadXspf(std::string_view xml, EntryCollector& entries) {
  bool inTrack = false;
  bool inLocation = false;
  std::string location;
  ScanXml(
      xml,
      [&](const XmlTag& tag) {
        if (EqualsIgnoreCase(tag.name, "track")) {
          inTrack = !tag.end && !tag.empty;
          inLocation = false;
        } else if (inTrack && EqualsIgnoreCase(tag.name, "location")) {
          if (!tag.end && !tag.empty) {
            inLocation = true;
            location.clear();
          } else if (tag.end && inLocation) {
            inLocation = false;
            entries.add(location);
          }
        }
      },
      [&](std::string_view text, bool cdata) {
        if (!inLocation || entries.full()) return;
        if (cdata) {
          location += text;
        } else {
          location += DecodeXmlEntities(text);
        }
      });
}

void ReadAsx(std::string_view xml, EntryCollector& entries) {
  ScanXml(
      xml,
      [&](const XmlTag& tag) {
        if (!tag.end && (EqualsIgnoreCase(tag.name, "ref") || EqualsIgnoreCase(tag.name, "entryref"))) {
          entries.add(XmlAttribute(tag.attributes, "href"));
        }
      },
      [](std::string_view, bool) {});
}

// ---- sniffing ----

// Container and codec signatures of the formats a station may send instead of a playlist.
bool LooksLikeAudio(std::string_view raw) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(raw[i]); };
  // A UTF-16 BOM, not a frame sync.
  if (raw.starts_with("\xFF\xFE") || raw.starts_with("\xFE\xFF")) return false;
  for (std::string_view magic :
       {std::string_view("ID3"), std::string_view("OggS"), std::string_view("fLaC"), std::string_view("RIFF"),
        std::string_view("\x30\x26\xB2\x75\x8E\x66\xCF\x11"), std::string_view("\x1A\x45\xDF\xA3")}) {
    if (raw.starts_with(magic)) return true;
  }
  if (raw.size() >= 2 && byte(0) == 0xFF && (byte(1) & 0xE0) == 0xE0) return true;  // MPEG audio / ADTS
  if (raw.size() > 188 && byte(0) == 0x47 && byte(188) == 0x47) return true;        // MPEG-TS packets
  return raw.size() >= 8 && raw.substr(4, 4) == "ftyp";
}

// Binary data is full of control bytes; text has none but line ends and tabs, and at most the NUL or
// Ctrl-Z padding some old tools leave at its end.
bool LooksLikeText(std::string_view text) {
  while (!text.empty() && (text.back() == '\0' || text.back() == '\x1A')) text.remove_suffix(1);
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && !IsSpace(c)) || u == 0x7F;
  });
}

PlaylistKind KindFromContentType(std::string_view contentType) {
  contentType = Trim(contentType.substr(0, contentType.find(';')));
  static constexpr std::pair<std::string_view, PlaylistKind> kTypes[] = {
      {"audio/x-mpegurl", PlaylistKind::M3u},
      {"audio/mpegurl", PlaylistKind::M3u},
      {"application/vnd.apple.mpegurl", PlaylistKind::Hls},
      {"application/x-mpegurl", PlaylistKind::Hls},
      {"application/xspf+xml", PlaylistKind::Xspf},
      {"video/x-ms-asf", PlaylistKind::Asx},
      {"video/x-ms-asx", PlaylistKind::Asx},
      {"audio/x-ms-asx", PlaylistKind::Asx},
      {"audio/x-ms-wax", PlaylistKind::Asx},
      {"video/x-ms-wvx", PlaylistKind::Asx},
  };
  for (const auto& [type, kind] : kTypes) {
    if (EqualsIgnoreCase(contentType, type)) return kind;
  }
  return PlaylistKind::None;
}

PlaylistKind SniffExtM3u(std::string_view text, PlaylistKind hint) {
  bool hls = false;
  bool entries = false;
  ForEachLine(text, [&](std::string_view line) {
    line = Trim(line);
    hls = StartsWithIgnoreCase(line, "#EXT-X-");  // the prefix HLS reserves for its tags
    if (!line.empty() && !line.starts_with('#')) entries = true;
    return !hls;
  });
  if (hls) return PlaylistKind::Hls;
  // With nothing past the comments, the head was cut too early to tell.
  return !entries && hint == PlaylistKind::Hls ? PlaylistKind::Hls : PlaylistKind::M3u;
}

bool HasPlsEntry(std::string_view text) {
  bool found = false;
  ForEachLine(text, [&](std::string_view line) {
    line = TrimLeft(line);
    if (StartsWithIgnoreCase(line, "file")) {
      std::size_t i = 4;
      while (i < line.size() && IsDigit(line[i])) ++i;
      found = i > 4 && TrimLeft(line.substr(i)).starts_with('=');
    }
    return !found;
  });
  return found;
}

// The root element decides; a head cut off before it leaves the choice to the hint.
PlaylistKind SniffXml(std::string_view text, PlaylistKind hint) {
  const PlaylistKind undecided =
      hint == PlaylistKind::Xspf || hint == PlaylistKind::Asx ? hint : PlaylistKind::None;
  PlaylistKind kind = undecided;
  bool decided = false;
  ScanXml(
      text,
      [&](const XmlTag& tag) {
        if (decided) return;
        decided = true;
        if (EqualsIgnoreCase(tag.name, "asx")) {
          kind = PlaylistKind::Asx;
        } else if (EqualsIgnoreCase(tag.name, "playlist")) {
          kind = PlaylistKind::Xspf;
        } else {
          kind = PlaylistKind::None;
        }
      },
      [&](std::string_view between, bool) {
        if (!decided && !Trim(between).empty()) {
          decided = true;
          kind = PlaylistKind::None;
        }
      });
  return kind;
}

// A list without a header: its first entry must look like an address. Relative ones count only
// when the server says it sent a list, and only without spaces, which error messages always have.
PlaylistKind SniffPlainM3u(std::string_view text, PlaylistKind hint) {
  std::string_view first;
  ForEachLine(text, [&](std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.starts_with('#')) return true;
    first = line;
    return false;
  });
  const UriComponents parts = SplitUri(first);
  if (parts.hasScheme && parts.hasAuthority && first.find(' ') == npos) return PlaylistKind::M3u;
  const bool listType = hint == PlaylistKind::M3u || hint == PlaylistKind::Hls;
  if (listType && !first.empty() && first.find_first_of(" \t<>{}\"") == npos &&
      first.find_first_of("./") != npos) {
    return PlaylistKind::M3u;
  }
  return PlaylistKind::None;
}

}  // namespace

PlaylistKind SniffPlaylist(std::string_view head, std::string_view contentType) {
  head = head.substr(0, kMaxPlaylistBytes);
  if (LooksLikeAudio(head)) return PlaylistKind::None;
  const std::string decoded = TextToUtf8(head);
  if (!LooksLikeText(decoded)) return PlaylistKind::None;
  const std::string_view text = TrimLeft(decoded);
  if (text.empty()) return PlaylistKind::None;
  const PlaylistKind hint = KindFromContentType(contentType);
  if (text.starts_with('<')) return SniffXml(text, hint);
  if (StartsWithIgnoreCase(text, "#EXTM3U")) return SniffExtM3u(text, hint);
  if (StartsWithIgnoreCase(text, "[playlist]") || HasPlsEntry(text)) return PlaylistKind::Pls;
  if (StartsWithIgnoreCase(text, "[reference]")) return PlaylistKind::Asx;
  return SniffPlainM3u(text, hint);
}

std::vector<std::string> ParsePlaylist(PlaylistKind kind, std::string_view text, std::string_view baseUrl) {
  const std::string decoded = TextToUtf8(text.substr(0, kMaxPlaylistBytes));
  if (!LooksLikeText(decoded)) return {};
  EntryCollector entries(baseUrl);
  switch (kind) {
    case PlaylistKind::Pls:
      ReadNumberedKeys(decoded, "file", entries);
      break;
    case PlaylistKind::M3u:
      ReadM3u(decoded, entries);
      break;
    case PlaylistKind::Xspf:
      ReadXspf(decoded, entries);
      break;
    case PlaylistKind::Asx:
      if (StartsWithIgnoreCase(TrimLeft(decoded), "[reference]")) {
        ReadNumberedKeys(decoded, "ref", entries);
      } else {
        ReadAsx(decoded, entries);
      }
      break;
    case PlaylistKind::None:
    case PlaylistKind::Hls:
      break;
  }
  return entries.take();
}

std::string ResolveUrl(std::string_view base, std::string_view reference) {
  reference = Trim(reference);
  const UriComponents ref = SplitUri(reference);
  if (ref.hasScheme) return CheckedUrl(reference);

  const UriComponents from = SplitUri(Trim(base));
  if (!from.hasScheme || !IsHttpScheme(from.scheme) || !from.hasAuthority) return {};

  std::string_view authority = from.authority;
  std::string path;
  const UriComponents* query = &ref;
  if (ref.hasAuthority) {
    authority = ref.authority;
    path = RemoveDotSegments(ref.path);
  } else if (ref.path.empty()) {
    path = from.path;
    if (!ref.hasQuery) query = &from;
  } else if (ref.path.starts_with('/')) {
    path = RemoveDotSegments(ref.path);
  } else {
    std::string merged;
    if (from.path.empty()) {
      merged = "/";
    } else {
      merged = from.path.substr(0, from.path.rfind('/') + 1);
    }
    merged += ref.path;
    path = RemoveDotSegments(merged);
  }

  std::string url(from.scheme);
  url += "://";
  url += authority;
  url += path;
  if (query->hasQuery) {
    url += '?';
    url += query->query;
  }
  if (ref.hasFragment) {
    url += '#';
    url += ref.fragment;
  }
  return CheckedUrl(url);
}

}  // namespace vornel::audio
