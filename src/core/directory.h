#pragma once

// The station directory: groups, their stations and each station's streams, as read from the
// text the directory server sends (cached as stations.dat). The reader is a pure function from
// bytes to records plus the problems it met, so that a broken file never takes the program down.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vornel::core {

// Texts in the records are UTF-8, decoded from the directory's Windows-1251.

struct clsStream {
  std::int16_t bitrate = 0;  // kbit/s
  std::string url;
};

struct clsStation {
  std::int16_t id = 0;       // the directory's number for the station; stored, never looked up
  std::string name;
  std::string category;      // the group field of the line, as written
  std::vector<clsStream> streams;

  void AddStream(std::int16_t bitrate, std::string url);
};

struct clsGroup {
  std::int16_t id = 0;  // 0-based position in the directory
  std::string name;
  std::vector<clsStation> stations;
};

struct Directory {
  std::string bannerPictureUrl;  // line 2
  std::string bannerUrl;         // line 3, the banner's link
  std::vector<clsGroup> groups;
};

struct DirectoryProblem {
  int line = 0;  // 1-based line of the text
  std::string what;
};

struct DirectoryReadResult {
  Directory directory;
  std::vector<DirectoryProblem> problems;  // empty for a well-formed text
};

// Reads the directory text. Never fails: what cannot be read is left out and reported.
DirectoryReadResult ReadDirectory(std::string_view bytes);

// "Radio X (32/64/128)": the station's line in the station list.
std::string StationDisplayText(const clsStation& station);

// Numbers in the directory are read leniently: leading blanks skipped, the longest leading
// decimal number taken (none counts as 0) and rounded half to even into 16 bits.
struct LenientNumber {
  enum class Kind { Absent, Value, OutOfRange };
  Kind kind = Kind::Absent;
  std::int16_t value = 0;  // 0 unless kind is Value
};
LenientNumber ReadLenientNumber(std::string_view text);

// Lines end at CR LF or at a lone CR; a lone LF stays part of its line. A final line end is
// allowed and does not start another line.
std::vector<std::string_view> SplitDirectoryLines(std::string_view bytes);

}  // namespace vornel::core
