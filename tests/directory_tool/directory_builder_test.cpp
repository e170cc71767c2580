// The rules from Radio Browser's entries to the player's directory, on entries made here.
#include "directory_tool/directory_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "directory_tool/station_rules.h"

namespace vornel::directory_tool {
namespace {

RadioBrowserStation Entry(const char* name, const char* url, std::int64_t bitrate = 128) {
  RadioBrowserStation entry;
  entry.name = QString::fromUtf8(name);
  entry.url = QString::fromUtf8(url);
  entry.codec = QStringLiteral("MP3");
  entry.bitrate = bitrate;
  entry.lastCheckOk = true;
  return entry;
}

RadioBrowserStation Entry(const char* name, const char* url, std::int64_t bitrate, const char* homepage,
                          std::int64_t votes) {
  RadioBrowserStation entry = Entry(name, url, bitrate);
  entry.homepage = QString::fromUtf8(homepage);
  entry.votes = votes;
  return entry;
}

// "group: station (rates) <first address>, ..." per group.
std::vector<std::string> Summary(const core::Directory& directory) {
  std::vector<std::string> out;
  for (const core::clsGroup& group : directory.groups) {
    std::string line = group.name + ":";
    for (const core::clsStation& station : group.stations)
      line += " [" + std::to_string(station.id) + " " + core::StationDisplayText(station) + "]";
    out.push_back(line);
  }
  return out;
}

BuildResult Build(const std::vector<RadioBrowserStation>& entries, BuildOptions options = {}) {
  return BuildDirectory(entries, options);
}

struct LeftOutCase {
  const char* why;
  RadioBrowserStation entry;
  int BuildCounts::*counter;
};

class LeftOut : public ::testing::TestWithParam<LeftOutCase> {};

TEST_P(LeftOut, IsCountedWhereItBelongs) {
  const LeftOutCase& c = GetParam();
  const BuildResult result = Build({c.entry});
  EXPECT_EQ(result.counts.*c.counter, 1) << c.why;
  EXPECT_EQ(result.counts.written, 0) << c.why;
  EXPECT_TRUE(result.directory.groups.empty()) << c.why;
}

RadioBrowserStation With(RadioBrowserStation entry, void (*change)(RadioBrowserStation&)) {
  change(entry);
  return entry;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LeftOut,
    ::testing::Values(
        LeftOutCase{"its last check failed",
                    With(Entry("A", "http://a/"), [](RadioBrowserStation& e) { e.lastCheckOk = false; }),
                    &BuildCounts::failedCheck},
        LeftOutCase{"the checker could not tell the codec",
                    With(Entry("A", "http://a/"), [](RadioBrowserStation& e) { e.codec = "UNKNOWN"; }),
                    &BuildCounts::codecRefused},
        LeftOutCase{"television",
                    With(Entry("A", "http://a/"), [](RadioBrowserStation& e) { e.codec = "AAC+,H.264"; }),
                    &BuildCounts::codecRefused},
        LeftOutCase{"Ogg does not come as HLS",
                    With(Entry("A", "http://a/"),
                         [](RadioBrowserStation& e) {
                           e.codec = "OGG";
                           e.hls = true;
                         }),
                    &BuildCounts::codecRefused},
        LeftOutCase{"not http", Entry("A", "rtsp://a/"), &BuildCounts::noAddress},
        LeftOutCase{"a name of blanks, controls and bars", Entry("\t|\x01 \u200B", "http://a/"),
                    &BuildCounts::nameEmpty},
        LeftOutCase{"a Latin accent", Entry("Música", "http://a/"), &BuildCounts::nameUnwritable},
        LeftOutCase{"an emoji", Entry("Radio \xF0\x9F\x8E\xB5", "http://a/"), &BuildCounts::nameUnwritable}));

TEST(StationRules, CodecTableMatchesWhatThePlayerPlays) {
  for (const char* codec : {"MP3", "AAC", "AAC+", "aac+", "OGG", "OPUS"})
    EXPECT_TRUE(PlayableCodec(QString::fromLatin1(codec), false)) << codec;
  for (const char* codec : {"MP3", "AAC", "AAC+"})
    EXPECT_TRUE(PlayableCodec(QString::fromLatin1(codec), true)) << codec;
  for (const char* codec : {"UNKNOWN", "", "FLV", "AAC,H.264", "FLAC"})
    EXPECT_FALSE(PlayableCodec(QString::fromLatin1(codec), false)) << codec;
}

TEST(StationRules, NamesLoseControlsAndBarsButKeepTheirLetters) {
  EXPECT_EQ(CleanName(QStringLiteral("\tRadio\u200B |X\u0007\r\nFM ")), QStringLiteral("Radio X FM"));
  // A decomposed й is one Windows-1251 letter once composed.
  const QString decomposed = QStringLiteral("Радио Мои\u0306");
  ASSERT_TRUE(WritableName(CleanName(decomposed)));
  EXPECT_EQ(*WritableName(CleanName(decomposed)), "Радио Мой");
}

TEST(StationRules, AddressesArePrintableAsciiWithoutBars) {
  EXPECT_EQ(DirectoryAddress(QStringLiteral(" http://a.example:8000/;")), "http://a.example:8000/;");
  EXPECT_EQ(DirectoryAddress(QStringLiteral("https://a.example/a|b")), "https://a.example/a%7Cb");
  EXPECT_EQ(DirectoryAddress(QStringLiteral("http://a.example/радио")),
            "http://a.example/%D1%80%D0%B0%D0%B4%D0%B8%D0%BE");
  EXPECT_FALSE(DirectoryAddress(QStringLiteral("ftp://a.example/")));
  EXPECT_FALSE(DirectoryAddress(QString()));
}

TEST(StationRules, BitRatesStayInSixteenBitsAndComeFromNamesAndPaths) {
  EXPECT_EQ(ReportedBitrate(128), 128);
  EXPECT_EQ(ReportedBitrate(128000), 128) << "bit/s for kbit/s";
  EXPECT_EQ(ReportedBitrate(40001), 0);
  EXPECT_EQ(ReportedBitrate(-5), 0);
  EXPECT_EQ(BitrateFromText(QStringLiteral("Radio X 320k"), QStringLiteral("http://a/64")), 320);
  EXPECT_EQ(BitrateFromText(QStringLiteral("Radio X (96 кбит/с)"), QString()), 96);
  EXPECT_EQ(BitrateFromText(QStringLiteral("Radio X"), QStringLiteral("http://a:8000/live/mp3/128/stream")),
            128);
  EXPECT_EQ(BitrateFromText(QStringLiteral("Radio X"), QStringLiteral("http://a/radio96.aacp")), 96);
  EXPECT_EQ(BitrateFromText(QStringLiteral("Radio 101.4"), QStringLiteral("http://a:8064/2015/x")), 0)
      << "a frequency, a port and a year are no bit rates";
  EXPECT_EQ(BitrateFromText(QStringLiteral("Radio X"), QStringLiteral("http://a/64/128")), 0) << "ambiguous";
}

struct GenreCase {
  const char* tags;
  const char* group;
};

class Genre : public ::testing::TestWithParam<GenreCase> {};

TEST_P(Genre, FirstKnownTagDecides) {
  const auto& groups = GenreGroups();
  EXPECT_EQ(groups[GenreGroupOf(QString::fromUtf8(GetParam().tags))].toStdString(), GetParam().group)
      << GetParam().tags;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Genre,
    ::testing::Values(GenreCase{"pop,russian", "Поп"}, GenreCase{"music,Classic Rock,pop", "Рок"},
                      GenreCase{"russian,80s", "Ретро"}, GenreCase{"1990s", "Ретро"},
                      GenreCase{"80-е", "Ретро"}, GenreCase{"smooth jazz", "Джаз и блюз"},
                      GenreCase{"поп-музыка", "Поп"}, GenreCase{"шансон,russian", "Шансон"},
                      GenreCase{"news talk", "Новости и разговор"}, GenreCase{"deep house", "Танцевальная"},
                      GenreCase{"hip-hop", "Хип-хоп"}, GenreCase{"детские", "Детские"},
                      GenreCase{"ambient", "Электроника"}, GenreCase{"opera", "Классика"},
                      GenreCase{"", "Другие"}, GenreCase{"community radio,local", "Другие"}));

TEST(BuildDirectory, OneAddressOnceTheMostPopularEntryStays) {
  const BuildResult result =
      Build({Entry("Copy", "http://a/s", 128, "", 1), Entry("Rock FM", "http://a/s", 128, "", 9),
             Entry("Copy 2", " http://a/s", 128, "", 2)});
  EXPECT_EQ(result.counts.duplicateAddress, 2);
  EXPECT_EQ(Summary(result.directory), std::vector<std::string>{"Другие: [1 Rock FM (128)]"});
}

TEST(BuildDirectory, EntriesOfOneStationBecomeItsBitRatesInRisingOrder) {
  const BuildResult result = Build({
      // One name and homepage, told apart by scheme, "www." and a final slash only.
      Entry("Radio X 128", "http://x.example/hi", 128, "https://www.x.example/", 1),
      Entry(" radio x!", "http://cdn.example/x-low", 32, "http://x.example", 5),
      // Bit-rate variants of one mount on one server, whatever they are named.
      Entry("Rock 64", "http://rock.example:8000/rock64.mp3", 64, "", 3),
      Entry("Rock Radio", "http://rock.example:8000/rock192.mp3", 192, "", 1),
      // Unknown rate, stated in the name: joins by its mount.
      Entry("Rock (256k)", "http://rock.example:8000/rock256.mp3", 0, "", 0),
      // Unknown rate and nothing says it: a station of its own, even with the same name.
      Entry("Radio X", "http://x.example/unknown", 0, "x.example", 0),
      // A second stream at a rate the station has: the more popular stays.
      Entry("Radio X", "http://mirror.example/x", 32, "x.example", 2),
  });
  EXPECT_EQ(result.counts.merged, 3);
  EXPECT_EQ(result.counts.sameBitrate, 1);
  EXPECT_EQ(result.counts.multiBitrate, 2);
  EXPECT_EQ(
      Summary(result.directory),
      std::vector<std::string>{"Другие: [1 radio x! (32/128)] [2 Rock 64 (64/192/256)] [3 Radio X (0)]"});
  const auto& radioX = result.directory.groups[0].stations[0];
  EXPECT_EQ(radioX.streams[0].url, "http://cdn.example/x-low");
  EXPECT_EQ(radioX.streams[1].url, "http://x.example/hi");
}

TEST(BuildDirectory, GroupsOrderedByPopularityAndCapped) {
  std::vector<RadioBrowserStation> entries;
  const char* tags[] = {"jazz", "rock", "jazz", "jazz", "rock"};
  const std::int64_t votes[] = {5, 1, 50, 20, 7};
  for (int i = 0; i < 5; ++i) {
    const std::string name = "S" + std::to_string(i);
    const std::string url = "http://s.example/" + std::to_string(i);
    entries.push_back(Entry(name.c_str(), url.c_str(), 0, "", votes[i]));
    entries.back().tags = QString::fromLatin1(tags[i]);
    entries.back().clicks = i == 1 ? 10 : 0;  // votes and clicks together make popularity
  }
  BuildOptions options;
  options.perGroup = 2;
  const BuildResult result = Build(entries, options);
  EXPECT_EQ(result.counts.capped, 1);
  EXPECT_EQ(result.counts.written, 4);
  EXPECT_EQ(Summary(result.directory),
            (std::vector<std::string>{"Рок: [1 S1 (0)] [2 S4 (0)]", "Джаз и блюз: [3 S2 (0)] [4 S3 (0)]"}));
  for (std::size_t g = 0; g < result.directory.groups.size(); ++g) {
    EXPECT_EQ(result.directory.groups[g].id, static_cast<std::int16_t>(g)) << "empty groups are left out";
    EXPECT_EQ(result.directory.groups[g].stations[0].category, std::to_string(g));
  }
}

TEST(BuildDirectory, ByCountryAlphabeticalWithTheRestLast) {
  std::vector<RadioBrowserStation> entries = {Entry("A", "http://a/1"), Entry("B", "http://a/2"),
                                              Entry("C", "http://a/3"), Entry("D", "http://a/4")};
  entries[0].country = QStringLiteral("Ukraine");
  entries[1].country = QStringLiteral("Côte D'Ivoire");
  entries[2].country = QStringLiteral("ukraine");
  BuildOptions options;
  options.grouping = Grouping::ByCountry;
  EXPECT_EQ(Summary(Build(entries, options).directory),
            (std::vector<std::string>{"Cote D'Ivoire: [1 B (128)]", "Ukraine: [2 A (128)] [3 C (128)]",
                                      "Другие: [4 D (128)]"}));
}

TEST(BuildDirectory, StationNumbersStopAtTheSixteenBitLimit) {
  std::vector<RadioBrowserStation> entries;
  for (int i = 0; i < 32770; ++i) {
    const std::string url = "http://n.example/?id=" + std::to_string(i);
    entries.push_back(Entry("N", url.c_str(), 0));
  }
  BuildOptions options;
  options.perGroup = 0;
  const BuildResult result = Build(entries, options);
  EXPECT_EQ(result.counts.written, 32767);
  EXPECT_EQ(result.counts.outOfNumbers, 3);
  EXPECT_EQ(result.directory.groups[0].stations.back().id, 32767);
}

}  // namespace
}  // namespace vornel::directory_tool
