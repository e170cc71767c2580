#include "playback/metadata.h"

#include <cstring>

#include "platform/codepage.h"

namespace vornel::playback {

namespace {

constexpr std::string_view kPrefix = "StreamTitle='";

// True when `text` is well-formed UTF-8 and holds at least one multi-byte sequence.
bool IsMultiByteUtf8(std::string_view text) {
  bool multiByte = false;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      cp = lead & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    multiByte = true;
    i += extra + 1;
  }
  return multiByte;
}

// Start of the UTF-8 character that ends just before byte `end`.
std::size_t PreviousCharacter(std::string_view text, std::size_t end) {
  std::size_t i = end - 1;
  while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
  return i;
}

std::string Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::string CStringToText(const char* address) {
  if (address == nullptr) return {};
  const std::string_view raw(address, std::strlen(address));
  return IsMultiByteUtf8(raw) ? std::string(raw) : platform::Cp1251ToUtf8(raw);
}

std::string StripFileNameChars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (std::strchr("\":/\\?*|<>", c) == nullptr || c == '\0') out.push_back(c);
  }
  return out;
}

std::optional<std::string> StreamTitleOf(std::string_view text) {
  if (text.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  const std::string_view rest = text.substr(kPrefix.size());
  std::string_view raw = rest;
  if (const std::size_t closing = rest.find("';"); closing != std::string_view::npos) {
    raw = rest.substr(0, closing);
  } else if (const std::size_t semicolon = rest.find(';'); semicolon != std::string_view::npos && semicolon > 0) {
    // No closing "';": two characters before the first ";" as the original rule has it.
    raw = rest.substr(0, PreviousCharacter(rest, semicolon));
  }
  return Trim(StripFileNameChars(raw));
}

}  // namespace vornel::playback
