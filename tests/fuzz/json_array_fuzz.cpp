// Feeds arbitrary bytes to the directory tool's cutting of a Radio Browser answer into objects.
// Beyond crashes, the pieces must be what the JSON parser afterwards expects: in order, apart,
// inside the text, each from a brace to its brace.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "directory_tool/json_array.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto split = vornel::directory_tool::SplitJsonArrayOfObjects(text);
  if (!split.error.empty() && (!split.objects.empty() || split.errorOffset > size)) std::abort();
  const char* last = text.data();
  for (std::string_view object : split.objects) {
    if (object.size() < 2 || object.front() != '{' || object.back() != '}') std::abort();
    if (object.data() < last || object.data() + object.size() > text.data() + text.size()) std::abort();
    last = object.data() + object.size();
  }
  return 0;
}
