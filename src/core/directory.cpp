#include "core/directory.h"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "platform/codepage.h"

namespace vornel::core {

using platform::Cp1251ToUtf8;

void clsStation::AddStream(std::int16_t bitrate, std::string url) {
  streams.push_back(clsStream{bitrate, std::move(url)});
}

std::string StationDisplayText(const clsStation& station) {
  std::string text = station.name + " (";
  for (std::size_t i = 0; i < station.streams.size(); ++i) {
    if (i > 0) text += '/';
    text += std::to_string(station.streams[i].bitrate);
  }
  text += ')';
  return text;
}

LenientNumber ReadLenientNumber(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  const auto isDigit = [&](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };

  // The magnitude is capped well above 32768 so that a long run of digits cannot overflow.
  constexpr long kCap = 1'000'000;
  long whole = 0;
  bool digits = false;
  for (; isDigit(pos); ++pos) {
    digits = true;
    whole = std::min(kCap, whole * 10 + (text[pos] - '0'));
  }
  // Fraction digits decide the rounding: above one half rounds up, exactly one half to even.
  enum class Fraction { Zero, BelowHalf, Half, AboveHalf } fraction = Fraction::Zero;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    bool first = true;
    for (; isDigit(pos); ++pos) {
      digits = true;
      const int d = text[pos] - '0';
      if (first) {
        fraction = d > 5 ? Fraction::AboveHalf : d == 5 ? Fraction::Half : d > 0 ? Fraction::BelowHalf : Fraction::Zero;
        first = false;
      } else if (d > 0) {
        if (fraction == Fraction::Half) fraction = Fraction::AboveHalf;
        if (fraction == Fraction::Zero) fraction = Fraction::BelowHalf;
      }
    }
  }
  if (!digits) return {};

  if (fraction == Fraction::AboveHalf || (fraction == Fraction::Half && whole % 2 == 1)) ++whole;
  const long value = negative ? -whole : whole;
  if (value < -32768 || value > 32767) return {LenientNumber::Kind::OutOfRange, 0};
  return {LenientNumber::Kind::Value, static_cast<std::int16_t>(value)};
}

std::vector<std::string_view> SplitDirectoryLines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r') continue;
    lines.push_back(bytes.substr(start, i - start));
    if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

namespace {

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = line.find('|', start);
    if (bar == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, bar - start));
    start = bar + 1;
  }
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : lines_(SplitDirectoryLines(bytes)) {}

  DirectoryReadResult Read() {
    // Line 1 is not used.
    result_.directory.bannerPictureUrl = HeaderLine(2);
    result_.directory.bannerUrl = HeaderLine(3);
    ReadGroups();
    for (std::size_t i = next_; i < lines_.size(); ++i) ReadStation(static_cast<int>(i) + 1, lines_[i]);
    return std::move(result_);
  }

 private:
  void Problem(int line, std::string what) { result_.problems.push_back({line, std::move(what)}); }

  std::string HeaderLine(int number) {
    if (static_cast<std::size_t>(number) > lines_.size()) {
      Problem(number, "the text ends before this line");
      return {};
    }
    return Cp1251ToUtf8(lines_[number - 1]);
  }

  void ReadGroups() {
    if (lines_.size() < 4) {
      Problem(4, "the text ends before the group count");
      next_ = lines_.size();
      return;
    }
    const LenientNumber count = ReadLenientNumber(lines_[3]);
    if (count.kind == LenientNumber::Kind::OutOfRange) Problem(4, "the group count is out of range");
    next_ = 4;
    for (int k = 1; k <= count.value; ++k) {
      if (next_ >= lines_.size()) {
        Problem(static_cast<int>(next_) + 1,
                "the text ends after " + std::to_string(k - 1) + " of " + std::to_string(count.value) +
                    " group names");
        return;
      }
      clsGroup group;
      group.id = static_cast<std::int16_t>(k - 1);
      group.name = Cp1251ToUtf8(lines_[next_++]);
      result_.directory.groups.push_back(std::move(group));
    }
  }

  // Reads one number field of a station line; a value out of 16-bit range refuses the line.
  std::optional<std::int16_t> NumberField(int line, std::string_view field, const char* what) {
    const LenientNumber n = ReadLenientNumber(field);
    if (n.kind == LenientNumber::Kind::OutOfRange) {
      Problem(line, std::string("station skipped: ") + what + " is out of range");
      return std::nullopt;
    }
    return n.value;
  }

  void ReadStation(int line, std::string_view text) {
    if (text.empty()) return;  // blank lines (a trailing one above all) carry nothing
    const std::vector<std::string_view> fields = SplitFields(text);
    if (fields.size() < 3) {
      Problem(line, "station skipped: fewer than three fields");
      return;
    }
    clsStation station;
    const auto id = NumberField(line, fields[0], "the station number");
    if (!id) return;
    station.id = *id;
    station.category = Cp1251ToUtf8(fields[1]);
    station.name = Cp1251ToUtf8(fields[2]);

    const LenientNumber category = ReadLenientNumber(fields[1]);
    if (category.kind != LenientNumber::Kind::Value || category.value < 0 ||
        static_cast<std::size_t>(category.value) >= result_.directory.groups.size()) {
      Problem(line, "station skipped: its group field names no group");
      return;
    }

    // (U - 2) / 2 rounded half to even, U being the last field's index: F = 3 + 2k gives k
    // streams, and an even field count rounds the half toward the even neighbour.
    const std::size_t half = fields.size() - 3;
    std::size_t count = half / 2;
    if (half % 2 == 1 && count % 2 == 1) ++count;
    for (std::size_t j = 1; j <= count; ++j) {
      if (2 * j + 2 >= fields.size()) {
        Problem(line, "the last bit rate has no address; it is left out");
        break;
      }
      const auto bitrate = NumberField(line, fields[2 * j + 1], "a bit rate");
      if (!bitrate) return;
      station.AddStream(*bitrate, Cp1251ToUtf8(fields[2 * j + 2]));
    }
    if (station.streams.empty()) {
      Problem(line, "station skipped: it has no streams");
      return;
    }
    result_.directory.groups[static_cast<std::size_t>(category.value)].stations.push_back(std::move(station));
  }

  std::vector<std::string_view> lines_;
  std::size_t next_ = 0;  // 0-based index of the first station line
  DirectoryReadResult result_;
};

}  // namespace

DirectoryReadResult ReadDirectory(std::string_view bytes) { return Reader(bytes).Read(); }

}  // namespace vornel::core
