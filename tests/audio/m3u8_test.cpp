#include "m3u8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace vornel::audio {
namespace {

const char* const kBase = "https://cdn.example/radio/live/index.m3u8";

// Every field, so that one comparison covers the whole result.
std::string Describe(const std::optional<HlsPlaylist>& p) {
  if (!p) return "invalid";
  std::ostringstream out;
  out << (p->master ? "master" : "media") << " target=" << p->targetDuration << " seq=" << p->mediaSequence
      << (p->endList ? " end" : "") << (p->encrypted ? " encrypted" : "") << " map=" << p->mapUri << "\n";
  for (const auto& v : p->variants)
    out << "V " << v.uri << " " << v.bandwidth << " " << v.codecs << "|" << v.audioGroup << "\n";
  for (const auto& r : p->renditions)
    out << "R " << r.type << " " << r.groupId << " " << r.uri << (r.isDefault ? " default" : "") << "\n";
  for (const auto& s : p->segments) {
    out << "S " << s.sequence << " " << s.duration << " " << s.uri << (s.discontinuity ? " disc" : "") << " "
        << s.byteRangeLength << "@" << s.byteRangeOffset << "\n";
  }
  return out.str();
}

std::optional<HlsPlaylist> Read(const std::string& text, const std::string& base = kBase) {
  M3u8Reader reader(base);
  reader.feed(text.data(), text.size());
  return reader.finish();
}

const std::string kMedia =
    "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:6\n#EXT-X-MEDIA-SEQUENCE:4200\n## a comment\n"
    "#EXT-X-MAP:URI=\"init.mp4\"\n#EXT-X-KEY:METHOD=NONE\n#EXT-X-PROGRAM-DATE-TIME:2024-01-01T00:00:00Z\n"
    "#EXTINF:5.96,Title, with comma\nseg-1.m4s\n#EXT-X-DISCONTINUITY\n#EXTINF:6,\n../other/seg-2.m4s?t\n"
    "#EXTINF:4.5,\n#EXT-X-BYTERANGE:1000@200\nhttps://abs.example/all.m4s\n#EXT-X-BYTERANGE:500\n#EXTINF:2,\n"
    "https://abs.example/all.m4s\n#EXTINF:2,\n#EXT-X-BYTERANGE:70\nhttps://abs.example/"
    "other.m4s\n#EXT-X-ENDLIST";
const std::string kMediaDescribed =
    "media target=6 seq=4200 end map=https://cdn.example/radio/live/init.mp4\n"
    "S 4200 5.96 https://cdn.example/radio/live/seg-1.m4s -1@-1\n"
    "S 4201 6 https://cdn.example/radio/other/seg-2.m4s?t disc -1@-1\n"
    "S 4202 4.5 https://abs.example/all.m4s 1000@200\n"
    "S 4203 2 https://abs.example/all.m4s 500@1200\n"
    "S 4204 2 https://abs.example/other.m4s 70@0\n";

TEST(M3u8Reader, MediaPlaylist) { EXPECT_EQ(Describe(Read(kMedia)), kMediaDescribed); }

TEST(M3u8Reader, SameResultWhereverTheNetworkSplitsTheBytes) {
  for (std::size_t cut = 0; cut <= kMedia.size(); ++cut) {
    M3u8Reader reader(kBase);
    ASSERT_TRUE(reader.feed(kMedia.data(), cut));
    ASSERT_TRUE(reader.feed(kMedia.data() + cut, kMedia.size() - cut));
    ASSERT_EQ(Describe(reader.finish()), kMediaDescribed) << cut;
  }
  M3u8Reader reader(kBase);
  for (char c : kMedia) ASSERT_TRUE(reader.feed(&c, 1));
  EXPECT_EQ(Describe(reader.finish()), kMediaDescribed);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class Quirks : public testing::TestWithParam<std::string> {};

TEST_P(Quirks, ReadLikeTheCleanPlaylist) { EXPECT_EQ(Describe(Read(GetParam())), kMediaDescribed); }

INSTANTIATE_TEST_SUITE_P(
    RealWorld, Quirks,
    testing::Values(Replace(kMedia, "\n", "\r\n"), Replace(kMedia, "\n", "\r"), "\xEF\xBB\xBF" + kMedia,
                    "\n \r\n" + kMedia + "\n\n",
                    Replace(Replace(Replace(kMedia, "#EXT-X-", "#ext-x-"), "#EXTINF", "#extinf"), "#EXTM3U",
                            "#extm3u"),
                    Replace(Replace(Replace(Replace(kMedia, "=", " = "), ",", " , "), "INF:", "INF: "),
                            "RANGE:", "RANGE:\t"),
                    Replace(Replace(kMedia, "\n", " \t\n"), "URI=", " uri = "),
                    Replace(kMedia, "#EXT-X-VERSION:7\n", "")));

TEST(M3u8Reader, MasterPlaylist) {
  const std::string master =
      "#EXTM3U\n#EXT-X-INDEPENDENT-SEGMENTS\n"
      "#EXT-X-MEDIA:TYPE=audio,GROUP-ID=\"aac\",NAME=\"A, B\",DEFAULT=YES,URI=\"a/en.m3u8\"\n"
      "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",DEFAULT=NO,URI=\"file:///etc/passwd\"\n"
      "#EXT-X-MEDIA:TYPE=CLOSED-CAPTIONS,GROUP-ID=\"cc\",INSTREAM-ID=\"CC1\"\n"
      "#EXT-X-STREAM-INF:BANDWIDTH=900000,CODECS=\"avc1.4d401e,mp4a.40.2\",RESOLUTION=640x360,AUDIO=\"aac\"\n"
      "# a comment between the tag and its URI\nvideo/360.m3u8\n"
      "#EXT-X-STREAM-INF:PROGRAM-ID=1, bandwidth = 64000 ,codecs=\"mp4a.40.5\"\n/audio/64.m3u8\n"
      "#EXT-X-STREAM-INF:BANDWIDTH=99999999999999999999999\n"
      "#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS=\"mp4a.40.2\n128.m3u8\n"
      "#EXT-X-STREAM-INF:BANDWIDTH=1\nftp://h/x.m3u8\n";
  EXPECT_EQ(Describe(Read(master)),
            "master target=0 seq=0 map=\n"
            "V https://cdn.example/radio/live/video/360.m3u8 900000 avc1.4d401e,mp4a.40.2|aac\n"
            "V https://cdn.example/audio/64.m3u8 64000 mp4a.40.5|\n"
            "V https://cdn.example/radio/live/128.m3u8 128000 mp4a.40.2|\n"
            "R AUDIO aac https://cdn.example/radio/live/a/en.m3u8 default\n"
            "R CLOSED-CAPTIONS cc \n");
}

// A remote playlist may not send the player to local files; the gap it leaves is a discontinuity.
// A key that a later METHOD=NONE ends still means the player cannot decode everything, and an
// empty URI names nothing (resolved, it would be the playlist itself).
TEST(M3u8Reader, SegmentsThatCannotBeFetchedAreDroppedAndKeysNoticed) {
  EXPECT_EQ(
      Describe(Read("#EXTM3U\n#EXT-X-MAP:URI=\"\"\n#EXT-X-KEY:URI=\"k\"\n#EXTINF:1,\na.ts\n"
                    "#EXT-X-KEY:IV=0x1,METHOD=AES-128\n#EXTINF:1,\nfile:///dev/zero\n#EXT-X-KEY:METHOD=NONE\n"
                    "#EXTINF:1,\nc.ts\n",
                    "http://h/")),
      "media target=0 seq=0 encrypted map=\nS 0 1 http://h/a.ts -1@-1\nS 2 1 http://h/c.ts disc -1@-1\n");
  EXPECT_TRUE(Read("#EXTM3U\n#EXTINF:1,\na.ts\n", "")->segments.empty());
}

TEST(M3u8Reader, RefusesWhatIsNoPlaylistAtItsFirstBytes) {
  for (const std::string start :
       {"\xFF\xFB\x90", "ID3", "<html>", "[playlist]", "#EXTM4U", "\xEF\xBB\xBF#EXTX", "\n\n http"}) {
    M3u8Reader reader(kBase);
    EXPECT_FALSE(reader.feed(start.data(), start.size())) << start;
    EXPECT_FALSE(reader.feed("#EXTM3U\n", 8)) << start;
    EXPECT_FALSE(reader.finish()) << start;
  }
  for (const std::string incomplete : {"", "\xEF\xBB", "\r\n #EXT", "#extm3u"}) {
    M3u8Reader reader(kBase);
    EXPECT_TRUE(reader.feed(incomplete.data(), incomplete.size())) << incomplete;
    EXPECT_EQ(reader.finish().has_value(), incomplete == "#extm3u") << incomplete;
    // finish() ends the input for good.
    EXPECT_FALSE(reader.feed("#EXTM3U\n", 8));
    EXPECT_EQ(reader.finish().has_value(), incomplete == "#extm3u") << incomplete;
  }
}

TEST(M3u8Reader, Limits) {
  const auto feedAll = [](const std::string& text) {
    M3u8Reader reader(kBase);
    const bool fed = reader.feed(text.data(), text.size());
    EXPECT_EQ(fed, reader.finish().has_value());
    return fed;
  };
  std::string segments = "#EXTM3U\n";
  for (std::size_t i = 0; i < kMaxHlsSegments; ++i) segments += "#EXTINF:1,\ns.ts\n";
  EXPECT_TRUE(feedAll(segments));
  EXPECT_FALSE(feedAll(segments + "s.ts\n"));
  EXPECT_TRUE(feedAll("#EXTM3U\n#" + std::string(kMaxM3u8LineBytes - 1, 'x') + "\n"));
  EXPECT_FALSE(feedAll("#EXTM3U\n#" + std::string(kMaxM3u8LineBytes, 'x')));
  EXPECT_TRUE(feedAll("#EXTM3U" + std::string(kMaxM3u8Bytes - 7, '\n')));
  EXPECT_FALSE(feedAll("#EXTM3U" + std::string(kMaxM3u8Bytes - 6, '\n')));
}

TEST(ChooseVariant, AudioFirstThenBandwidth) {
  const std::vector<HlsVariant> mixed = {{"v-low", 200000, "avc1.42e00a,mp4a.40.2", ""},
                                         {"a-96", 96000, "mp4a.40.2", ""},
                                         {"a-hi", 512000, "mp4a.40.2", ""},
                                         {"a-256", 256000, "", ""},
                                         {"v-hevc", 100, "HVC1.1.6.L93, mp4a.40.2", ""},
                                         {"a-256-second", 256000, "opus", ""}};
  const std::vector<HlsVariant> video = {{"v-2", 2000000, "av01.0.04M.08", ""},
                                         {"v-1", 1000000, "avc3.64001f", ""}};
  const std::pair<long, const char*> cases[] = {
      {320000, "a-256"}, {100000, "a-96"}, {1000, "a-96"}, {10000000, "a-hi"}};
  for (const auto& [max, expected] : cases) EXPECT_EQ(ChooseVariant(mixed, max)->uri, expected) << max;
  EXPECT_EQ(ChooseVariant(video)->uri, "v-1");
  EXPECT_EQ(ChooseVariant(video, 5000000)->uri, "v-2");
  EXPECT_EQ(ChooseVariant({}), nullptr);
}

TEST(M3u8Reader, RealPlaylists) {
  const std::filesystem::path hls = std::filesystem::path(VORNEL_TEST_EXTERNAL_DIR) / "aac/hls";
  if (!std::filesystem::exists(hls / "playlists")) GTEST_SKIP() << "no fixtures in " << hls;
  const auto read = [&](const char* path) {
    std::ifstream in(hls / path, std::ios::binary);
    return Read(std::string(std::istreambuf_iterator<char>(in), {}), "http://h/x/");
  };
  EXPECT_EQ(Describe(read("playlists/shaka-packager_packed-audio-sample-aes_bear-640x360-audio.m3u8")),
            "media target=2 seq=0 end encrypted map=\nS 0 0.975 http://h/x/bear-640x360-audio-1.aac -1@-1\n"
            "S 1 0.998 http://h/x/bear-640x360-audio-2.aac disc -1@-1\n"
            "S 2 0.789 http://h/x/bear-640x360-audio-3.aac -1@-1\n");
  EXPECT_EQ(Describe(read("playlists/shaka-packager_avc-aac-ts_bear-640x360-audio.m3u8")),
            "media target=2 seq=0 end map=\nS 0 0.975 http://h/x/bear-640x360-audio-1.ts -1@-1\n"
            "S 1 0.998 http://h/x/bear-640x360-audio-2.ts -1@-1\n"
            "S 2 0.789 http://h/x/bear-640x360-audio-3.ts -1@-1\n");
  EXPECT_EQ(Describe(read("androidx-cea608/sd-hls.m3u8")),
            "media target=6 seq=0 end map=\nS 0 2.458 http://h/x/sd-hls0000000000.ts 284820@0\n");
  const std::pair<const char*, const char*> masters[] = {
      {"playlists/open-m3u8_masterPlaylist.m3u8", "http://example.com/audio-only.m3u8"},
      {"playlists/open-m3u8_masterPlaylistWithAlternativeAudio.m3u8", "http://h/x/main/english-audio.m3u8"},
      {"androidx-cea608/manifest.m3u8", "http://h/x/sd-hls.m3u8"}};
  for (const auto& [path, chosen] : masters) {
    const auto master = read(path);
    ASSERT_TRUE(master && master->master) << path;
    EXPECT_EQ(ChooseVariant(master->variants)->uri, chosen) << path;
  }
  EXPECT_EQ(
      Describe(read("playlists/open-m3u8_masterPlaylistWithAlternativeAudio.m3u8")),
      "master target=0 seq=0 map=\nV http://h/x/low/video-only.m3u8 1280000 ...|aac\n"
      "V http://h/x/mid/video-only.m3u8 2560000 ...|aac\nV http://h/x/hi/video-only.m3u8 7680000 ...|aac\n"
      "V http://h/x/main/english-audio.m3u8 65000 mp4a.40.5|aac\n"
      "R AUDIO aac http://h/x/main/english-audio.m3u8 default\n"
      "R AUDIO aac http://h/x/main/german-audio.m3u8\nR AUDIO aac http://h/x/commentary/audio-only.m3u8\n");
}

}  // namespace
}  // namespace vornel::audio
