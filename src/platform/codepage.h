#pragma once

// Single-byte text at the program's edges (the directory, stream headers and metadata) is
// Windows-1251. The table is our own so that the result never depends on the host's locale.

#include <optional>
#include <string>
#include <string_view>

namespace vornel::platform {

// The Unicode code point a Windows-1251 byte stands for. Byte 0x98, which the code page leaves
// unassigned, maps to U+0098 so that every byte survives a round trip.
char32_t Cp1251ToCodePoint(unsigned char byte);

// Windows-1251 bytes to UTF-8; every byte yields exactly one character.
std::string Cp1251ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1251. Characters the code page cannot hold and malformed UTF-8 sequences
// become '?', as the ANSI conversion of the original platform does.
std::string Utf8ToCp1251(std::string_view utf8);

// UTF-8 to Windows-1251 for text that must arrive unchanged (what the directory tool writes):
// nothing when a character has no byte in the code page or the UTF-8 is malformed.
std::optional<std::string> Utf8ToCp1251Exact(std::string_view utf8);

}  // namespace vornel::platform
