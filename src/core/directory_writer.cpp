#include "core/directory_writer.h"

#include <cstddef>
#include <optional>

#include "platform/codepage.h"

namespace vornel::core {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Any CR ends a line for the reader, and an LF would stay inside the text it ends, so neither may
// appear inside a line; `|` would split a station line into other fields.
std::optional<std::string> Encode(std::string_view utf8, bool inStationLine) {
  if (utf8.find_first_of(inStationLine ? std::string_view("\r\n|") : std::string_view("\r\n")) !=
      std::string_view::npos)
    return std::nullopt;
  return platform::Utf8ToCp1251Exact(utf8);
}

class Writer {
 public:
  DirectoryWriteResult Write(const Directory& directory, std::string_view firstLine) {
    HeaderLine(firstLine, "the first line");
    HeaderLine(directory.bannerPictureUrl, "the banner picture address");
    HeaderLine(directory.bannerUrl, "the banner link");

    // Group numbers are 16-bit; groups past that could never be named by a station line.
    std::size_t groups = directory.groups.size();
    if (groups > kMaxNumber) {
      Problem("only the first " + std::to_string(kMaxNumber + 1) + " groups fit the group numbers");
      groups = kMaxNumber + 1;
    }
    Line(std::to_string(groups));
    for (std::size_t g = 0; g < groups; ++g) HeaderLine(directory.groups[g].name, "a group name");
    for (std::size_t g = 0; g < groups; ++g) {
      for (const clsStation& station : directory.groups[g].stations) StationLine(g, station);
    }
    return std::move(result_);
  }

 private:
  static constexpr std::size_t kMaxNumber = 32767;

  void Problem(std::string what) { result_.problems.push_back({line_ + 1, std::move(what)}); }

  void Line(std::string_view bytes) {
    result_.bytes.append(bytes);
    result_.bytes.append(kLineEnd);
    ++line_;
  }

  void HeaderLine(std::string_view utf8, const char* what) {
    const std::optional<std::string> bytes = Encode(utf8, false);
    if (!bytes) Problem(std::string(what) + " cannot be written unchanged; it is left empty");
    Line(bytes.value_or(std::string()));
  }

  void StationLine(std::size_t group, const clsStation& station) {
    if (station.streams.empty()) {
      Problem("station \"" + station.name + "\" has no streams; left out");
      return;
    }
    const std::optional<std::string> name = Encode(station.name, true);
    if (!name) {
      Problem("the name of station \"" + station.name + "\" cannot be written unchanged; left out");
      return;
    }
    std::string line = std::to_string(station.id) + '|' + std::to_string(group) + '|' + *name;
    for (const clsStream& stream : station.streams) {
      const std::optional<std::string> url = Encode(stream.url, true);
      if (!url) {
        Problem("an address of station \"" + station.name + "\" cannot be written unchanged; left out");
        return;
      }
      line += '|' + std::to_string(stream.bitrate) + '|' + *url;
    }
    Line(line);
  }

  int line_ = 0;  // lines written so far
  DirectoryWriteResult result_;
};

}  // namespace

DirectoryWriteResult WriteDirectory(const Directory& directory, std::string_view firstLine) {
  return Writer().Write(directory, firstLine);
}

}  // namespace vornel::core
