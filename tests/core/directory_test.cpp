#include "core/directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace vornel::core {
namespace {

std::string Fixture(const std::string& name) {
  std::ifstream in(std::filesystem::path(VORNEL_TEST_FIXTURES) / "stations" / name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// "group: station (rates), ..." per group, so a whole directory compares in one line.
std::vector<std::string> Summary(const Directory& directory) {
  std::vector<std::string> out;
  for (const clsGroup& group : directory.groups) {
    std::string line = std::to_string(group.id) + " " + group.name + ":";
    for (const clsStation& station : group.stations) line += " [" + StationDisplayText(station) + "]";
    out.push_back(line);
  }
  return out;
}

struct NumberCase {
  const char* text;
  LenientNumber::Kind kind;
  int value;
};

class LenientNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(LenientNumberTest, ReadsTheLeadingDecimalNumberRoundedHalfToEven) {
  const NumberCase& c = GetParam();
  const LenientNumber n = ReadLenientNumber(c.text);
  EXPECT_EQ(n.kind, c.kind) << '"' << c.text << '"';
  EXPECT_EQ(n.value, c.value) << '"' << c.text << '"';
}

using K = LenientNumber::Kind;
INSTANTIATE_TEST_SUITE_P(
    Cases, LenientNumberTest,
    ::testing::Values(NumberCase{"64", K::Value, 64}, NumberCase{"64kbps", K::Value, 64},
                      NumberCase{"   128", K::Value, 128}, NumberCase{"\t7", K::Value, 7},
                      NumberCase{"", K::Absent, 0}, NumberCase{"abc", K::Absent, 0},
                      NumberCase{"-", K::Absent, 0}, NumberCase{".", K::Absent, 0},
                      NumberCase{"0.5", K::Value, 0}, NumberCase{"1.5", K::Value, 2},
                      NumberCase{"2.5", K::Value, 2}, NumberCase{"2.50001", K::Value, 3},
                      NumberCase{"2.49", K::Value, 2}, NumberCase{"3.5", K::Value, 4},
                      NumberCase{".6", K::Value, 1}, NumberCase{"-2.5", K::Value, -2},
                      NumberCase{"-3.5", K::Value, -4}, NumberCase{"+12", K::Value, 12},
                      NumberCase{"32767", K::Value, 32767}, NumberCase{"32767.5", K::OutOfRange, 0},
                      NumberCase{"-32768", K::Value, -32768}, NumberCase{"-32769", K::OutOfRange, 0},
                      NumberCase{"99999999999999999999999", K::OutOfRange, 0},
                      NumberCase{"1 2", K::Value, 1}, NumberCase{"12.3.4", K::Value, 12}));

TEST(DirectoryLines, CrLfAndLoneCrEndLinesButLoneLfDoesNot) {
  const auto lines = SplitDirectoryLines("a\r\nb\rc\nd\r\n\r\ne");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(lines[1], "b");
  EXPECT_EQ(lines[2], "c\nd");
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[4], "e");
  EXPECT_EQ(SplitDirectoryLines("a\r\n").size(), 1u);  // a final line end starts no new line
  EXPECT_TRUE(SplitDirectoryLines("").empty());
}

TEST(StationDisplayText, ListsTheRatesInStreamOrder) {
  clsStation station;
  station.name = "Radio X";
  station.AddStream(32, "a");
  station.AddStream(64, "b");
  station.AddStream(128, "c");
  EXPECT_EQ(StationDisplayText(station), "Radio X (32/64/128)");
}

TEST(ReadDirectory, WellFormedFileKeepsOrderNamesAndStreams) {
  const DirectoryReadResult read = ReadDirectory(Fixture("well_formed.dat"));
  EXPECT_TRUE(read.problems.empty());
  EXPECT_EQ(read.directory.bannerPictureUrl, "http://example.org/banner.gif");
  EXPECT_EQ(read.directory.bannerUrl, "http://example.org/");
  const std::vector<std::string> expected = {
      "0 Русские: [Radio X (32/64/128)] [  Ретро   (64/96)] [Empty rate (0)]",
      "1   Джаз  : [Eight fields (48/96)] [Half group (64)]",
      "2 Rock: [Рок FM (128)]"};
  EXPECT_EQ(Summary(read.directory), expected);

  const clsStation& radioX = read.directory.groups[0].stations[0];
  EXPECT_EQ(radioX.id, 17);
  EXPECT_EQ(radioX.category, "0");
  ASSERT_EQ(radioX.streams.size(), 3u);
  EXPECT_EQ(radioX.streams[2].url, "http://a.example/128");
}

TEST(ReadDirectory, Windows1251NamesDecodeToUnicode) {
  const DirectoryReadResult read = ReadDirectory("x\r\n\r\n\r\n1\r\n\xC0\xE1\xE2\xA8\xB8\r\n");
  ASSERT_EQ(read.directory.groups.size(), 1u);
  EXPECT_EQ(read.directory.groups[0].name, "АбвЁё");
}

struct BrokenCase {
  const char* file;
  std::vector<std::string> summary;
  bool problems;  // whether the reader must report something
};

class BrokenDirectoryTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenDirectoryTest, LoadsWhatCanBeReadAndReportsTheRest) {
  const BrokenCase& c = GetParam();
  const DirectoryReadResult read = ReadDirectory(Fixture(c.file));
  EXPECT_EQ(Summary(read.directory), c.summary);
  EXPECT_EQ(!read.problems.empty(), c.problems);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, BrokenDirectoryTest,
    ::testing::Values(
        BrokenCase{"trailing_blank_lines.dat", {"0 Group: [One (64)]"}, false},
        BrokenCase{"no_final_line_end.dat", {"0 Group: [One (64)]"}, false},
        BrokenCase{"lone_cr.dat", {"0 Group: [One (64)]"}, false},
        BrokenCase{"lf_only.dat", {}, true},
        BrokenCase{"empty.dat", {}, true},
        BrokenCase{"two_lines.dat", {}, true},
        BrokenCase{"missing_group_names.dat", {"0 A:", "1 B:"}, true},
        BrokenCase{"count_out_of_range.dat", {}, true},
        BrokenCase{"negative_count.dat", {}, true},
        BrokenCase{"bad_station_lines.dat",
                   {"0 A: [Rounds to zero (64)]", "1 B: [Six fields (64)] [Survivor (64)]"}, true},
        BrokenCase{"nul_bytes.dat", {std::string("0 G\0roup: [N\0ame (64)]", 22)}, false}),
    [](const auto& param_info) {
      std::string name = param_info.param.file;
      return name.substr(0, name.find('.'));
    });

TEST(ReadDirectory, BinaryGarbageNeverCrashes) {
  const DirectoryReadResult read = ReadDirectory(Fixture("binary_garbage.dat"));
  for (const clsGroup& group : read.directory.groups) {
    for (const clsStation& station : group.stations) EXPECT_FALSE(station.streams.empty());
  }
}

TEST(ReadDirectory, EveryPrefixOfAWellFormedFileReadsInOrder) {
  const std::string text = Fixture("well_formed.dat");
  for (std::size_t n = 0; n <= text.size(); ++n) {
    const DirectoryReadResult read = ReadDirectory(std::string_view(text).substr(0, n));
    ASSERT_LE(read.directory.groups.size(), 3u) << n;
  }
}

}  // namespace
}  // namespace vornel::core
