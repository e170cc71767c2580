#pragma once

// Stream titles: the text a station sends as metadata ("StreamTitle='Artist - Song';...") turned
// into the title the status line shows and the recorder names its files after.

#include <optional>
#include <string>
#include <string_view>

namespace vornel::playback {

// The NUL-terminated metadata text at `address` as UTF-8. Text that is valid UTF-8 with at least
// one multi-byte sequence is taken as UTF-8 (most stations send it today); anything else is
// Windows-1251. Empty for a null address or an empty text.
std::string CStringToText(const char* address);

// `text` without the characters a file name cannot hold: " : / \ ? * | < >.
std::string StripFileNameChars(std::string_view text);

// The cleaned title of a metadata text, or nothing when it does not begin "StreamTitle='".
// The title ends at the first "';" after the prefix; without one, two characters before the
// first ";" (and where that leaves no title at all, the whole rest). Characters a file name
// cannot hold are taken out and surrounding spaces trimmed; the result may be empty.
std::optional<std::string> StreamTitleOf(std::string_view text);

}  // namespace vornel::playback
