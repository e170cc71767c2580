#pragma once

// Byte strings for the tests of the audio library's parsers, and the outside test material that
// lies beside the checkout (../shared/external): tests that need it skip without it.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifndef VORNEL_TEST_EXTERNAL_DIR
#error "the build names the outside test material's folder in VORNEL_TEST_EXTERNAL_DIR"
#endif

namespace vornel::audio::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A file of the outside material by its path below the folder, or nothing when it is absent.
inline std::optional<Bytes> ReadExternal(const std::string& path) {
  std::ifstream in(std::filesystem::path(VORNEL_TEST_EXTERNAL_DIR) / path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace vornel::audio::test
