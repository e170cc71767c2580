#include "directory_tool/json_array.h"

namespace vornel::directory_tool {
namespace {

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The end (one past the closing brace) of the object that begins at `start`, or npos when the
// text ends first or the brackets do not pair up.
std::size_t ObjectEnd(std::string_view text, std::size_t start) {
  // Nesting is tracked as a stack of expected closers so that `{]` is refused; a depth limit
  // keeps a hostile input from growing it without bound.
  constexpr std::size_t kMaxDepth = 512;
  std::string closers;
  bool inString = false;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character, whatever it is, cannot end the string
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '{':
      case '[':
        if (closers.size() == kMaxDepth) return std::string_view::npos;
        closers.push_back(c == '{' ? '}' : ']');
        break;
      case '}':
      case ']':
        if (closers.empty() || closers.back() != c) return std::string_view::npos;
        closers.pop_back();
        if (closers.empty()) return i + 1;
        break;
      default:
        break;
    }
  }
  return std::string_view::npos;
}

}  // namespace

JsonArraySplit SplitJsonArrayOfObjects(std::string_view text) {
  JsonArraySplit split;
  const auto fail = [&](std::size_t offset, const char* what) {
    split.objects.clear();
    split.error = what;
    split.errorOffset = offset;
    return split;
  };
  std::size_t pos = 0;
  const auto skipSpace = [&] {
    while (pos < text.size() && IsJsonSpace(text[pos])) ++pos;
  };
  // A byte-order mark is not JSON, but some servers and editors put one in front.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  skipSpace();
  if (pos >= text.size() || text[pos] != '[') return fail(pos, "the text is not a JSON array");
  ++pos;
  skipSpace();
  if (pos < text.size() && text[pos] == ']') {
    ++pos;
  } else {
    for (;;) {
      if (pos >= text.size() || text[pos] != '{')
        return fail(pos, "an element of the array is not an object");
      const std::size_t end = ObjectEnd(text, pos);
      if (end == std::string_view::npos) return fail(pos, "an object of the array does not end");
      split.objects.push_back(text.substr(pos, end - pos));
      pos = end;
      skipSpace();
      if (pos < text.size() && text[pos] == ',') {
        ++pos;
        skipSpace();
        continue;
      }
      if (pos < text.size() && text[pos] == ']') {
        ++pos;
        break;
      }
      return fail(pos, "the array does not go on with a comma or end with a bracket");
    }
  }
  skipSpace();
  if (pos != text.size()) return fail(pos, "text follows the array");
  return split;
}

}  // namespace vornel::directory_tool
