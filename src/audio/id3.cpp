#include "id3.h"

#include <algorithm>
#include <vector>

namespace vornel::audio {

namespace {

constexpr std::size_t kTagHeaderSize = 10;
constexpr std::string_view kTimestampOwner = "com.apple.streaming.transportStreamTimestamp";
constexpr std::uint64_t kTimestampMask = (std::uint64_t{1} << 33) - 1;

enum class Encoding { Latin1 = 0, Utf16Bom = 1, Utf16Be = 2, Utf8 = 3 };

std::size_t Syncsafe(const std::uint8_t* p) {
  return (std::size_t{p[0] & 0x7Fu} << 21) | (std::size_t{p[1] & 0x7Fu} << 14) |
         (std::size_t{p[2] & 0x7Fu} << 7) | std::size_t{p[3] & 0x7Fu};
}

std::size_t BigEndian32(const std::uint8_t* p) {
  return (std::size_t{p[0]} << 24) | (std::size_t{p[1]} << 16) | (std::size_t{p[2]} << 8) | std::size_t{p[3]};
}

// Unsynchronisation put a 0x00 after every 0xFF so that no false MPEG sync appears in the tag.
std::vector<std::uint8_t> Resynchronise(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out;
  out.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(data[i]);
    if (data[i] == 0xFF && i + 1 < size && data[i + 1] == 0x00) ++i;
  }
  return out;
}

bool IsFrameIdChar(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool IsFrameId(const std::uint8_t* p, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (!IsFrameIdChar(p[i])) return false;
  }
  return true;
}

// Appends a code point as UTF-8. Control characters are dropped (a title is one line); tab and
// line breaks become spaces so the words they separated stay apart.
void AppendCodePoint(std::string& out, char32_t cp) {
  if (cp == U'\t' || cp == U'\n' || cp == U'\r') {
    out.push_back(' ');
    return;
  }
  if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == 0xFEFF) return;
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Invalid sequences become U+FFFD, one per byte, so the output is always valid UTF-8.
void DecodeUtf8(std::string& out, const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n;) {
    const std::uint8_t lead = p[i];
    std::size_t extra = 0;
    char32_t cp = lead;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      cp = lead & 0x07;
    } else if (lead >= 0x80) {
      AppendCodePoint(out, 0xFFFD);
      ++i;
      continue;
    }
    bool valid = i + extra < n;
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      valid = (p[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8 either.
    if (valid && ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
                  (cp >= 0xD800 && cp <= 0xDFFF))) {
      valid = false;
    }
    if (!valid) {
      AppendCodePoint(out, 0xFFFD);
      ++i;
      continue;
    }
    AppendCodePoint(out, cp);
    i += extra + 1;
  }
}

// Without a byte order mark, the order in which ASCII text puts its zero bytes gives it away.
bool GuessLittleEndian(const std::uint8_t* p, std::size_t n) {
  std::size_t zeroHigh = 0;
  std::size_t zeroLow = 0;
  for (std::size_t i = 0; i + 1 < n; i += 2) {
    zeroHigh += p[i] == 0;
    zeroLow += p[i + 1] == 0;
  }
  return zeroLow > zeroHigh;
}

void DecodeUtf16(std::string& out, const std::uint8_t* p, std::size_t n, bool littleEndian) {
  const auto unit = [&](std::size_t i) -> char32_t {
    return littleEndian ? char32_t(p[i] | (p[i + 1] << 8)) : char32_t((p[i] << 8) | p[i + 1]);
  };
  for (std::size_t i = 0; i + 1 < n; i += 2) {
    const char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendCodePoint(out, u);  // a lone surrogate becomes U+FFFD there
  }
}

std::string_view TrimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The strings of a frame's text: terminated by 0x00 (0x00 0x00 on a 16-bit boundary for UTF-16),
// the last terminator optional. Empty strings are kept: position tells a description from a value.
std::vector<std::string> DecodeStrings(Encoding encoding, const std::uint8_t* p, std::size_t n) {
  std::vector<std::string> values;
  const bool wide = encoding == Encoding::Utf16Bom || encoding == Encoding::Utf16Be;
  const std::size_t step = wide ? 2 : 1;
  bool littleEndian = false;
  bool orderKnown = encoding == Encoding::Utf16Be;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= n; i += step) {
    const bool atEnd = i + step > n;
    if (!atEnd && (p[i] != 0 || (wide && p[i + 1] != 0))) continue;
    const std::uint8_t* piece = p + start;
    std::size_t length = (atEnd ? n : i) - start;
    std::string value;
    switch (encoding) {
      case Encoding::Latin1:
        for (std::size_t k = 0; k < length; ++k) AppendCodePoint(value, piece[k]);
        break;
      case Encoding::Utf8:
        DecodeUtf8(value, piece, length);
        break;
      case Encoding::Utf16Bom:
      case Encoding::Utf16Be:
        // Each string of a UTF-16 frame may carry its own mark; one without follows the last.
        if (encoding == Encoding::Utf16Bom && length >= 2 &&
            ((piece[0] == 0xFF && piece[1] == 0xFE) || (piece[0] == 0xFE && piece[1] == 0xFF))) {
          littleEndian = piece[0] == 0xFF;
          orderKnown = true;
          piece += 2;
          length -= 2;
        } else if (!orderKnown) {
          littleEndian = GuessLittleEndian(piece, length);
          orderKnown = true;
        }
        DecodeUtf16(value, piece, length, littleEndian);
        break;
    }
    const std::string_view trimmed = TrimSpaces(value);
    values.emplace_back(trimmed);
    start = i + step;
    if (atEnd) break;
  }
  return values;
}

std::string Join(const std::vector<std::string>& values, std::size_t from) {
  std::string out;
  for (std::size_t i = from; i < values.size(); ++i) {
    if (values[i].empty()) continue;
    if (!out.empty()) out += '/';
    out += values[i];
  }
  return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// What the frames of one tag said, before the fallbacks are applied.
struct Found {
  std::optional<std::string> title;
  std::optional<std::string> artist;
  std::optional<std::string> customTitle;  // from TXXX
  std::optional<std::uint64_t> timestamp;
};

void ReadFrame(std::string_view id, const std::uint8_t* p, std::size_t n, int major, Found& found) {
  // v2.2 and v2.3 end a text at its first terminator (what follows is often junk); v2.4 lists values.
  const bool multiple = major >= 4;
  const bool isTitle = id == "TIT2" || id == "TT2";
  const bool isArtist = id == "TPE1" || id == "TP1";
  const bool isCustom = id == "TXXX" || id == "TXX";
  if (isTitle || isArtist || isCustom) {
    if (n < 1 || p[0] > 3) return;
    const std::vector<std::string> values = DecodeStrings(static_cast<Encoding>(p[0]), p + 1, n - 1);
    if (isCustom) {
      // The description comes first, then the value(s).
      if (values.size() < 2 || found.customTitle) return;
      if (EqualsIgnoringCase(values[0], "StreamTitle") || EqualsIgnoringCase(values[0], "title")) {
        found.customTitle = multiple ? Join(values, 1) : values[1];
      }
      return;
    }
    std::optional<std::string>& slot = isTitle ? found.title : found.artist;
    if (!slot) slot = multiple ? Join(values, 0) : values[0];
    return;
  }
  if (id == "PRIV") {
    const std::string_view owner(reinterpret_cast<const char*>(p), n);
    if (owner.size() <= kTimestampOwner.size() ||
        owner.substr(0, kTimestampOwner.size()) != kTimestampOwner || p[kTimestampOwner.size()] != 0 ||
        n - kTimestampOwner.size() - 1 != 8) {
      return;
    }
    const std::uint8_t* value = p + kTimestampOwner.size() + 1;
    std::uint64_t timestamp = 0;
    for (int i = 0; i < 8; ++i) timestamp = (timestamp << 8) | value[i];
    // The value is a 33-bit MPEG timestamp; the upper bits are meant to be zero.
    if (!found.timestamp) found.timestamp = timestamp & kTimestampMask;
  }
}

// True when a frame ending at `at` is followed by what can follow a frame.
bool FrameEndsCleanly(const std::uint8_t* body, std::size_t size, std::size_t at) {
  if (at == size) return true;
  if (at > size) return false;
  return body[at] == 0 || (at + 4 <= size && IsFrameId(body + at, 4));
}

// v2.4 frame sizes are syncsafe, but some writers put plain integers there as in v2.3; where
// the two readings differ, the one that lands on a frame boundary wins.
std::size_t V24FrameSize(const std::uint8_t* body, std::size_t size, std::size_t pos) {
  const std::uint8_t* field = body + pos + 4;
  const std::size_t plain = BigEndian32(field);
  if ((field[0] | field[1] | field[2] | field[3]) & 0x80) return plain;
  const std::size_t syncsafe = Syncsafe(field);
  if (plain == syncsafe || FrameEndsCleanly(body, size, pos + kTagHeaderSize + syncsafe)) return syncsafe;
  return FrameEndsCleanly(body, size, pos + kTagHeaderSize + plain) ? plain : syncsafe;
}

}  // namespace

std::size_t Id3TagSize(const std::uint8_t* data, std::size_t size) {
  if (size < kTagHeaderSize || data[0] != 'I' || data[1] != 'D' || data[2] != '3') return 0;
  if (data[3] == 0xFF || data[4] == 0xFF) return 0;
  for (std::size_t i = 6; i < 10; ++i) {
    if (data[i] & 0x80) return 0;
  }
  const bool footer = data[3] >= 4 && (data[5] & 0x10) != 0;  // only v2.4 has a footer
  return kTagHeaderSize + Syncsafe(data + 6) + (footer ? kTagHeaderSize : 0);
}

std::optional<Id3Info> ParseId3(const std::uint8_t* data, std::size_t size) {
  if (Id3TagSize(data, size) == 0) return std::nullopt;
  Id3Info info;
  const int major = data[3];
  const std::uint8_t flags = data[5];
  // Versions other than these have a header we can measure but frames we cannot read; a
  // compressed v2.2 tag never had a defined compression.
  if (major < 2 || major > 4 || (major == 2 && (flags & 0x40))) return info;

  const std::uint8_t* body = data + kTagHeaderSize;
  std::size_t bodySize = std::min(Syncsafe(data + 6), size - kTagHeaderSize);
  const bool tagUnsynchronised = (flags & 0x80) != 0;
  std::vector<std::uint8_t> resynchronised;
  if (tagUnsynchronised && major < 4) {
    // Before v2.4 the whole body is unsynchronised and frame sizes count the restored bytes.
    resynchronised = Resynchronise(body, bodySize);
    body = resynchronised.data();
    bodySize = resynchronised.size();
  }

  std::size_t pos = 0;
  if (major >= 3 && (flags & 0x40)) {
    if (bodySize < 4) return info;
    // v2.3 counts the extended header without its size field, v2.4 with it.
    const std::size_t extended = major == 3 ? 4 + BigEndian32(body) : Syncsafe(body);
    if (extended > bodySize) return info;
    pos = extended;
  }

  Found found;
  const std::size_t idLength = major == 2 ? 3 : 4;
  const std::size_t headerSize = major == 2 ? 6 : 10;
  while (bodySize - pos >= headerSize) {
    const std::uint8_t* header = body + pos;
    if (header[0] == 0 || !IsFrameId(header, idLength)) break;  // padding, or bytes we cannot trust
    std::size_t frameSize = 0;
    std::uint8_t format = 0;  // the second flags byte: how the frame data is stored
    if (major == 2) {
      frameSize = (std::size_t{header[3]} << 16) | (std::size_t{header[4]} << 8) | header[5];
    } else if (major == 3) {
      frameSize = BigEndian32(header + 4);
      format = header[9];
    } else {
      frameSize = V24FrameSize(body, bodySize, pos);
      format = header[9];
    }
    pos += headerSize;
    if (frameSize > bodySize - pos) break;
    const std::string_view id(reinterpret_cast<const char*>(header), idLength);
    const std::uint8_t* content = body + pos;
    std::size_t contentSize = frameSize;
    pos += frameSize;

    std::vector<std::uint8_t> frameResynchronised;
    if (major == 3) {
      if (format & 0xC0) continue;  // compressed or encrypted
      if (format & 0x20) {          // group identifier byte
        if (contentSize < 1) continue;
        ++content;
        --contentSize;
      }
    } else if (major == 4) {
      if (format & 0x0C) continue;  // compressed or encrypted
      const std::size_t extra = ((format & 0x40) ? 1 : 0) + ((format & 0x01) ? 4 : 0);  // group, data length
      if (contentSize < extra) continue;
      content += extra;
      contentSize -= extra;
      if (tagUnsynchronised || (format & 0x02)) {
        frameResynchronised = Resynchronise(content, contentSize);
        content = frameResynchronised.data();
        contentSize = frameResynchronised.size();
      }
    }
    ReadFrame(id, content, contentSize, major, found);
  }

  info.title = found.title && !found.title->empty() ? *found.title : found.customTitle.value_or("");
  info.artist = found.artist.value_or("");
  info.transportStreamTimestamp = found.timestamp;
  return info;
}

std::optional<std::string> IcyTitleText(std::string_view artist, std::string_view title) {
  const auto clean = [](std::string_view value) {
    std::string out;
    for (char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte >= 0x20 && byte != 0x7F) out.push_back(c);  // a NUL would end the text early
    }
    return std::string(TrimSpaces(out));
  };
  const std::string cleanArtist = clean(artist);
  const std::string cleanTitle = clean(title);
  if (cleanArtist.empty() && cleanTitle.empty()) return std::nullopt;
  std::string text = cleanArtist.empty()  ? cleanTitle
                     : cleanTitle.empty() ? cleanArtist
                                          : cleanArtist + " - " + cleanTitle;
  // A reader takes the title up to the first "';"; the opening quote counts for a leading ';'.
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ';' && (i == 0 || text[i - 1] == '\'')) text[i] = ',';
  }
  return "StreamTitle='" + text + "';";
}

}  // namespace vornel::audio
