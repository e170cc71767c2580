// The directory tool as a user runs it: Radio Browser's JSON from a file or a server in,
// stations.dat out, read back by the player's reader.
#include "directory_tool/tool.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTextStream>

#include <filesystem>
#include <string>
#include <vector>

#include "core/directory.h"
#include "core/directory_writer.h"
#include "directory_tool/directory_builder.h"
#include "directory_tool/json_array.h"
#include "directory_tool/radio_browser.h"
#include "support/files.h"
#include "support/server_process.h"

namespace vornel::directory_tool {
namespace {

const std::filesystem::path kFixture =
    std::filesystem::path(VORNEL_TEST_FIXTURES) / "radio_browser" / "stations.json";
const std::filesystem::path kRadioBrowser =
    std::filesystem::path(VORNEL_TEST_EXTERNAL_DIR) / "station-directory" / "radio-browser";

struct SplitCase {
  const char* text;
  int objects;  // -1: an error
};

class SplitJsonArray : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitJsonArray, CutsAtTheTopLevelOnly) {
  const JsonArraySplit split = SplitJsonArrayOfObjects(GetParam().text);
  EXPECT_EQ(split.error.empty() ? static_cast<int>(split.objects.size()) : -1, GetParam().objects)
      << GetParam().text << ": " << split.error;
  for (std::string_view object : split.objects) EXPECT_TRUE(object.front() == '{' && object.back() == '}');
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitJsonArray,
                         ::testing::Values(SplitCase{"[]", 0}, SplitCase{"\xEF\xBB\xBF [ ]\n", 0},
                                           SplitCase{"[{}]", 1},
                                           SplitCase{R"( [ {"a":"}\"{]"} ,{"b":[1,{"c":"\\"}]}]  )", 2},
                                           SplitCase{"", -1}, SplitCase{"{}", -1}, SplitCase{"[1]", -1},
                                           SplitCase{"[{}", -1}, SplitCase{"[{}]x", -1},
                                           SplitCase{"[{]}]", -1}, SplitCase{"[{},]", -1},
                                           SplitCase{"[{} {}]", -1}, SplitCase{R"([{"a":"}])", -1}));

TEST(ParseRadioBrowserStations, ReadsTheFieldsAndToleratesOddOnes) {
  const RadioBrowserParse parsed = ParseRadioBrowserStations(
      R"([{"name":"A","url":"","url_resolved":"http://r/","bitrate":"96","lastcheckok":true,"hls":1},)"
      R"({"name":"B","votes":3,"clickcount":4,"codec":"MP3"},{"name":}])");
  EXPECT_TRUE(parsed.error.isEmpty());
  EXPECT_EQ(parsed.unreadable, 1);
  ASSERT_EQ(parsed.stations.size(), 2u);
  EXPECT_EQ(parsed.stations[0].url, QStringLiteral("http://r/")) << "url_resolved stands in for an empty url";
  EXPECT_EQ(parsed.stations[0].bitrate, 96);
  EXPECT_TRUE(parsed.stations[0].lastCheckOk);
  EXPECT_TRUE(parsed.stations[0].hls);
  EXPECT_FALSE(parsed.stations[1].lastCheckOk) << "a station never checked is not a working one";
  EXPECT_EQ(parsed.stations[1].votes + parsed.stations[1].clicks, 7);
  EXPECT_FALSE(ParseRadioBrowserStations("{\"name\":\"A\"}").error.isEmpty());
}

class ToolTest : public ::testing::Test {
 protected:
  int Run(QStringList arguments) {
    arguments.prepend(QStringLiteral("vornel-directory"));
    QTextStream stream(&report_);
    const int status = RunTool(arguments, stream);
    stream.flush();
    return status;
  }
  QString Output() const { return dir_.filePath(QStringLiteral("stations.dat")); }
  core::DirectoryReadResult ReadOutput() const {
    return core::ReadDirectory(test::ReadWholeFile(Output().toStdString()));
  }

  QTemporaryDir dir_;
  QString report_;
};

std::vector<std::string> Summary(const core::Directory& directory) {
  std::vector<std::string> out;
  for (const core::clsGroup& group : directory.groups) {
    std::string line = group.name + ":";
    for (const core::clsStation& station : group.stations)
      line += " [" + core::StationDisplayText(station) + "]";
    out.push_back(line);
  }
  return out;
}

TEST_F(ToolTest, FileToStationsDatThatThePlayerReads) {
  ASSERT_EQ(
      Run({"--input", QString::fromStdString(kFixture.string()), "--output", Output(), "--first-line",
           "Каталог", "--banner-picture", "http://d.example/b.png", "--banner-link", "http://d.example/"}),
      kToolOk)
      << report_.toStdString();
  const std::string bytes = test::ReadWholeFile(Output().toStdString());
  EXPECT_EQ(bytes.substr(0, 9), "\xCA\xE0\xF2\xE0\xEB\xEE\xE3\r\n");
  const core::DirectoryReadResult read = ReadOutput();
  EXPECT_TRUE(read.problems.empty());
  EXPECT_EQ(read.directory.bannerPictureUrl, "http://d.example/b.png");
  EXPECT_EQ(read.directory.bannerUrl, "http://d.example/");
  EXPECT_EQ(
      Summary(read.directory),
      (std::vector<std::string>{"Поп: [Радио Север (32/64/128)]", "Рок: [Rock FM (128)]",
                                "Джаз и блюз: [Jazz Lounge (96)]", "Новости и разговор: [News 24 (48)]"}));
  EXPECT_TRUE(report_.contains(QStringLiteral("name not Windows-1251: 1"))) << report_.toStdString();

  ASSERT_EQ(Run({"--input", QString::fromStdString(kFixture.string()), "--output", Output(), "--group-by",
                 "country", "--per-group", "1"}),
            kToolOk);
  EXPECT_EQ(Summary(ReadOutput().directory),
            (std::vector<std::string>{"Cote D'Ivoire: [Jazz Lounge (96)]",
                                      "The Russian Federation: [Радио Север (32/64/128)]",
                                      "Другие: [Rock FM (128)]"}));
}

TEST_F(ToolTest, AFailedRunLeavesTheLastDirectoryAsItWas) {
  QFile previous(Output());
  ASSERT_TRUE(previous.open(QIODevice::WriteOnly));
  previous.write("previous\r\n");
  previous.close();
  const QString broken = dir_.filePath(QStringLiteral("broken.json"));
  QFile file(broken);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(R"([{"name":"A"},)");
  file.close();

  EXPECT_EQ(Run({"--input", broken, "--output", Output()}), kToolNoInput);
  EXPECT_EQ(Run({"--input", dir_.filePath(QStringLiteral("absent.json")), "--output", Output()}),
            kToolNoInput);
  EXPECT_EQ(Run({"--input", QString::fromStdString(kFixture.string()), "--output", Output(), "--banner-link",
                 "http://d.example/ü"}),
            kToolNoOutput)
      << "a banner line that cannot be written unchanged";
  EXPECT_EQ(test::ReadWholeFile(Output().toStdString()), "previous\r\n");
  EXPECT_EQ(Run({"--input", QString::fromStdString(kFixture.string()), "--output",
                 dir_.filePath(QStringLiteral("absent/stations.dat"))}),
            kToolNoOutput);
}

TEST_F(ToolTest, CommandLineMistakesAreUsageErrors) {
  const QString input = QString::fromStdString(kFixture.string());
  for (const QStringList& arguments :
       {QStringList{}, QStringList{"--input", input}, QStringList{"--output", Output()},
        QStringList{"--input", input, "--server", "http://x/", "--output", Output()},
        QStringList{"--input", input, "--output", Output(), "--group-by", "language"},
        QStringList{"--input", input, "--output", Output(), "--per-group", "-1"},
        QStringList{"--input", input, "--output", Output(), "--per-group", "many"},
        QStringList{"--input", input, "--output", Output(), "--unknown"}}) {
    EXPECT_EQ(Run(arguments), kToolUsage) << arguments.join(u' ').toStdString();
  }
  EXPECT_FALSE(QFile::exists(Output()));
}

TEST_F(ToolTest, LiveServerAskedWithItsUserAgentAndTheNextTakenWhenOneFails) {
  test::ServerProcess server({"python3", VORNEL_TEST_RADIO_BROWSER_SERVER, kFixture.string()});
  const QString base = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
  ASSERT_EQ(Run({"--server", base + "/down", "--server", base + "/up/", "--output", Output()}), kToolOk)
      << report_.toStdString();
  EXPECT_TRUE(report_.contains(QStringLiteral("/down/json/stations"))) << "the failing server is named";
  EXPECT_EQ(ReadOutput().directory.groups.size(), 4u);
  EXPECT_EQ(Run({"--server", base + "/down", "--output", dir_.filePath(QStringLiteral("other.dat"))}),
            kToolNoInput);
}

// The Radio Browser sample from the outside material, through the command.
TEST_F(ToolTest, SampleOfTheRealDirectory) {
  const std::filesystem::path sample = kRadioBrowser / "stations-sample-2000.json";
  if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no " << sample;
  ASSERT_EQ(Run({"--input", QString::fromStdString(sample.string()), "--output", Output()}), kToolOk);
  const core::DirectoryReadResult read = ReadOutput();
  EXPECT_TRUE(read.problems.empty());
  EXPECT_GE(read.directory.groups.size(), 10u);
  EXPECT_TRUE(report_.contains(QStringLiteral("entries read:                      2000")))
      << report_.toStdString();
}

// The whole snapshot: every entry accounted for, the caps held, bit rates rising, and the file
// reads back in the player as it was built.
TEST(WholeSnapshot, BuildsADirectoryThePlayerReadsBack) {
  const std::filesystem::path snapshot = kRadioBrowser / "stations-all-2025-04-27.json.xz";
  const QString xz = QStandardPaths::findExecutable(QStringLiteral("xz"));
  if (!std::filesystem::exists(snapshot) || xz.isEmpty()) GTEST_SKIP() << "no " << snapshot << " or no xz";
  QProcess unpack;
  unpack.start(xz, {QStringLiteral("-dc"), QString::fromStdString(snapshot.string())});
  ASSERT_TRUE(unpack.waitForFinished(60000));
  RadioBrowserParse parsed = ParseRadioBrowserStations(unpack.readAllStandardOutput());
  ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
  ASSERT_EQ(parsed.stations.size(), 55170u);

  const BuildResult built = BuildDirectory(parsed.stations, BuildOptions{});
  const BuildCounts& c = built.counts;
  EXPECT_EQ(c.failedCheck, 55170 - 54659);
  EXPECT_EQ(c.failedCheck + c.codecRefused + c.noAddress + c.nameEmpty + c.nameUnwritable +
                c.duplicateAddress + c.sameBitrate + c.merged + c.stations,
            c.entries);
  EXPECT_GT(c.nameUnwritable, 0);
  EXPECT_GT(c.multiBitrate, 500);
  EXPECT_EQ(c.written + c.capped, c.stations);
  ASSERT_EQ(built.directory.groups.size(), 12u);
  for (const core::clsGroup& group : built.directory.groups) {
    EXPECT_LE(group.stations.size(), 200u) << group.name;
    for (const core::clsStation& station : group.stations) {
      for (std::size_t i = 1; i < station.streams.size(); ++i)
        ASSERT_LT(station.streams[i - 1].bitrate, station.streams[i].bitrate) << station.name;
    }
  }

  const core::DirectoryWriteResult written = core::WriteDirectory(built.directory, "Vornel");
  EXPECT_TRUE(written.problems.empty());
  const core::DirectoryReadResult read = core::ReadDirectory(written.bytes);
  EXPECT_TRUE(read.problems.empty());
  const auto everything = [](const core::Directory& directory) {
    std::string text;
    for (const core::clsGroup& group : directory.groups) {
      text += group.name + '\n';
      for (const core::clsStation& station : group.stations) {
        text += std::to_string(station.id) + ' ' + station.name;
        for (const core::clsStream& stream : station.streams)
          text += ' ' + std::to_string(stream.bitrate) + stream.url;
        text += '\n';
      }
    }
    return text;
  };
  EXPECT_EQ(everything(read.directory), everything(built.directory));
}

}  // namespace
}  // namespace vornel::directory_tool
