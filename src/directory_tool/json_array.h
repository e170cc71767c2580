#pragma once

// Radio Browser answers a station list with one JSON array of objects, some 65 MB for the whole
// directory. Parsed as one document it would take several times that in memory, so the array is
// cut into its objects first and each object is parsed on its own. No Qt here, so that the cutting
// is fuzzed alone.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::directory_tool {

struct JsonArraySplit {
  std::vector<std::string_view> objects;  // each from its `{` to its matching `}`, in order
  std::string error;                      // empty when the whole text was an array of objects
  std::size_t errorOffset = 0;            // byte offset of the fault
};

// Cuts a JSON array of objects into its elements. Strings (with their escapes) and nested objects
// and arrays are skipped over, not checked: each object goes to a real JSON parser afterwards.
// Anything but objects between the brackets, or text after the array, is an error.
JsonArraySplit SplitJsonArrayOfObjects(std::string_view text);

}  // namespace vornel::directory_tool
