// Feeds arbitrary bytes to the ID3v2 reader; any crash, overflow or undefined behaviour is a
// finding. Checked besides: what it returns is what the player is promised, clean UTF-8 without
// control characters, and a title text that reads back as exactly one title.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "audio/id3.h"

namespace {

// Well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF) without C0/C1 controls.
bool IsCleanUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t cp = lead;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, cp = lead & 0x07;
    } else if (lead >= 0x80) {
      return false;
    }
    if (i + extra >= text.size() && extra > 0) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arbitrary text, which need not be clean, still makes one title.
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const auto rawText = vornel::audio::IcyTitleText(raw.substr(0, size / 2), raw.substr(size / 2));
  if (rawText && rawText->find("';", 12) != rawText->size() - 2) std::abort();

  const std::size_t tagSize = vornel::audio::Id3TagSize(data, size);
  const auto info = vornel::audio::ParseId3(data, size);
  if (info.has_value() != (tagSize != 0)) std::abort();
  if (!info) return 0;
  if (!IsCleanUtf8(info->title) || !IsCleanUtf8(info->artist)) std::abort();
  if (info->transportStreamTimestamp && *info->transportStreamTimestamp >> 33) std::abort();

  // Read back the way a station's metadata is read: the title ends at the first "';".
  const auto text = vornel::audio::IcyTitleText(info->artist, info->title);
  if (text.has_value() == (info->artist.empty() && info->title.empty())) std::abort();
  if (text) {
    const std::string_view prefix = "StreamTitle='";
    if (text->compare(0, prefix.size(), prefix) != 0 ||
        text->find("';", prefix.size() - 1) != text->size() - 2) {
      std::abort();
    }
  }
  return 0;
}
