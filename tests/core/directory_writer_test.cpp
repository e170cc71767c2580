// What the directory tool writes must read back in the player exactly as it was meant.
#include "core/directory_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/directory.h"

namespace vornel::core {
namespace {

clsStation Station(std::int16_t id, std::string name, std::vector<clsStream> streams) {
  clsStation station;
  station.id = id;
  station.name = std::move(name);
  station.streams = std::move(streams);
  return station;
}

// Everything the reader gives back, as one comparable list of lines.
std::vector<std::string> Everything(const Directory& directory) {
  std::vector<std::string> out = {directory.bannerPictureUrl, directory.bannerUrl};
  for (const clsGroup& group : directory.groups) {
    out.push_back("group " + std::to_string(group.id) + " [" + group.name + "]");
    for (const clsStation& station : group.stations) {
      std::string line = std::to_string(station.id) + " [" + station.name + "]";
      for (const clsStream& stream : station.streams)
        line += " " + std::to_string(stream.bitrate) + " " + stream.url;
      out.push_back(line);
    }
  }
  return out;
}

Directory Sample() {
  Directory directory;
  directory.bannerPictureUrl = "http://example.org/banner.png";
  directory.bannerUrl = "http://example.org/";
  directory.groups.push_back({0, "Поп", {}});
  directory.groups.push_back({1, "Джаз и блюз", {}});
  directory.groups.push_back({2, "Пустая", {}});
  directory.groups[0].stations.push_back(
      Station(1, "Radio X",
              {{32, "http://a.example/32"}, {64, "http://a.example/64"}, {128, "https://a.example/128"}}));
  // The extremes of the code page: the first and last byte of the upper half, the unassigned
  // 0x98 (kept as U+0098), the no-break space, and blanks at both ends, which the reader keeps.
  directory.groups[0].stations.push_back(
      Station(2, " Ђ№€\u00A0\u0098ЁёЯя ", {{0, "http://b.example/?a=1&b=2"}}));
  directory.groups[1].stations.push_back(
      Station(32767, "Джаз FM", {{-32768, "http://c.example/"}, {32767, "x"}}));
  return directory;
}

TEST(WriteDirectory, ReadsBackAsTheSameGroupsStationsAndStreams) {
  const Directory written = Sample();
  const DirectoryWriteResult result = WriteDirectory(written, "Vornel");
  EXPECT_TRUE(result.problems.empty());
  const DirectoryReadResult read = ReadDirectory(result.bytes);
  EXPECT_TRUE(read.problems.empty());
  EXPECT_EQ(Everything(read.directory), Everything(written));
  EXPECT_EQ(read.directory.groups[1].stations[0].category, "1");
}

TEST(WriteDirectory, IsWindows1251WithCrLfLineEnds) {
  const DirectoryWriteResult result = WriteDirectory(Sample(), "Vornel");
  const std::string head =
      "Vornel\r\nhttp://example.org/banner.png\r\nhttp://example.org/"
      "\r\n3\r\n\xCF\xEE\xEF\r\n\xC4\xE6\xE0\xE7 \xE8 ";
  EXPECT_EQ(result.bytes.substr(0, head.size()), head);
  EXPECT_NE(result.bytes.find("2|0| \x80\xB9\x88\xA0\x98\xA8\xB8\xDF\xFF |0|http://b.example/?a=1&b=2\r\n"),
            std::string::npos);
  EXPECT_EQ(result.bytes.find('\n'), result.bytes.find("\r\n") + 1);
  EXPECT_EQ(result.bytes.substr(result.bytes.size() - 2), "\r\n");
}

struct RefusedStation {
  const char* why;
  std::string name;
  std::string url;
};

class WriteDirectoryRefusal : public ::testing::TestWithParam<RefusedStation> {};

// Written as it stands, each would read back as another station or a broken line, or with a
// question mark in its name.
TEST_P(WriteDirectoryRefusal, LeavesTheStationOutAndSaysSo) {
  const RefusedStation& c = GetParam();
  Directory directory = Sample();
  directory.groups[0].stations.insert(directory.groups[0].stations.begin() + 1,
                                      Station(9, c.name, {{64, c.url}}));
  const DirectoryWriteResult result = WriteDirectory(directory, "Vornel");
  ASSERT_EQ(result.problems.size(), 1u) << c.why;
  EXPECT_EQ(result.problems[0].line, 9) << "the line the station would have had";
  EXPECT_EQ(Everything(ReadDirectory(result.bytes).directory), Everything(Sample())) << c.why;
}

INSTANTIATE_TEST_SUITE_P(Cases, WriteDirectoryRefusal,
                         ::testing::Values(RefusedStation{"a bar in the name", "A|B", "http://x/"},
                                           RefusedStation{"a bar in the address", "AB", "http://x/?a|b"},
                                           RefusedStation{"a lone CR ends a line", "A\rB", "http://x/"},
                                           RefusedStation{"an LF stays in the line", "AB", "http://x/\n"},
                                           RefusedStation{"a Latin accent", "Música", "http://x/"},
                                           RefusedStation{"a Kazakh letter", "Қазақ радиосы", "http://x/"},
                                           RefusedStation{"outside the basic plane", "Radio \xF0\x9F\x8E\xB5",
                                                          "http://x/"},
                                           RefusedStation{"malformed UTF-8", "Radio \xD0", "http://x/"}));

TEST(WriteDirectory, StationWithoutStreamsIsLeftOutAndHeaderLinesThatCannotBeWrittenStayEmpty) {
  Directory directory = Sample();
  directory.groups[1].stations.push_back(Station(5, "Silent", {}));
  directory.bannerUrl = "http://example.org/\r\nextra";
  const DirectoryWriteResult result = WriteDirectory(directory, "Première");
  ASSERT_EQ(result.problems.size(), 3u);
  EXPECT_EQ(result.problems[0].line, 1);
  EXPECT_EQ(result.problems[1].line, 3);
  const DirectoryReadResult read = ReadDirectory(result.bytes);
  EXPECT_EQ(read.directory.bannerUrl, "");
  EXPECT_EQ(read.directory.groups.size(), 3u);
  EXPECT_EQ(read.directory.groups[1].stations.size(), 1u);
}

}  // namespace
}  // namespace vornel::core
