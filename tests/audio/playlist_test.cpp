#include "playlist.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace vornel::audio {
namespace {

using Entries = std::vector<std::string>;

// The examples of RFC 3986 section 5.4 (on an http base), then what playlists add to them.
TEST(ResolveUrl, ReferenceResolution) {
  const std::string base = "http://a/b/c/d;p?q";
  // clang-format off
  const std::pair<const char*, const char*> cases[] = {
      {"g:h", "g:h"}, {"g", "http://a/b/c/g"}, {"./g", "http://a/b/c/g"}, {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"}, {"//g", "http://g"}, {"?y", "http://a/b/c/d;p?y"}, {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"}, {"g?y#s", "http://a/b/c/g?y#s"}, {";x", "http://a/b/c/;x"},
      {"", "http://a/b/c/d;p?q"}, {".", "http://a/b/c/"}, {"./", "http://a/b/c/"}, {"..", "http://a/b/"},
      {"../g", "http://a/b/g"}, {"../..", "http://a/"}, {"../../g", "http://a/g"},
      {"../../../../g", "http://a/g"}, {"/./g", "http://a/g"}, {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."}, {"..g", "http://a/b/c/..g"}, {"./../g", "http://a/b/g"},
      {"./g/.", "http://a/b/c/g/"}, {"g/../h", "http://a/b/c/h"}, {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/../x", "http://a/b/c/g?y/../x"}, {"g#s/../x", "http://a/b/c/g#s/../x"},
      // Absolute references stay as they are, apart from surrounding blanks.
      {" \tHTTPS://Other.example:8443/x/../y?z \r\n", "HTTPS://Other.example:8443/x/../y?z"},
      {"http://u:p@[::1]:8000/s", "http://u:p@[::1]:8000/s"},
      {"my stream/\xC3\xA9.mp3", "http://a/b/c/my%20stream/%C3%A9.mp3"}, {"http://h/a b", "http://h/a%20b"},
      // What cannot be fetched over http.
      {"///x", ""}, {"http:relative", ""}, {"http://:80/", ""}, {"http://host:port/", ""}, {"http://[::1/", ""},
      {"http://h/a\tb", ""}, {"<a href=x>", ""}, {"a\x01", ""}, {"//host name/", ""}};
  // clang-format on
  for (const auto& [reference, expected] : cases)
    EXPECT_EQ(ResolveUrl(base, reference), expected) << reference;
}

TEST(ResolveUrl, BaseMustBeAnHttpUrlWithAHost) {
  EXPECT_EQ(ResolveUrl("https://h", "a.m3u8"), "https://h/a.m3u8");
  EXPECT_EQ(ResolveUrl("https://h:8000#frag", "?x"), "https://h:8000?x");
  EXPECT_EQ(ResolveUrl("https://h/live/", "//cdn/x"), "https://cdn/x");
  EXPECT_EQ(ResolveUrl("h/live/", "a"), "");
  EXPECT_EQ(ResolveUrl("file:///home/", "a"), "");
  EXPECT_EQ(ResolveUrl("", "a"), "");
  EXPECT_EQ(ResolveUrl("", "http://h/a"), "http://h/a");
}

struct SniffCase {
  const char* name;
  std::string head;
  const char* contentType;
  PlaylistKind expected;
};

void PrintTo(const SniffCase& sniffCase, std::ostream* out) { *out << sniffCase.name; }

class Sniff : public testing::TestWithParam<SniffCase> {};

TEST_P(Sniff, Kind) {
  EXPECT_EQ(SniffPlaylist(GetParam().head, GetParam().contentType), GetParam().expected);
}

// Audio that happens to hold no control bytes, so that only its signature gives it away.
const std::string kMp3Frame = "\xFF\xFB\x90\x64LAME3.100" + std::string(40, '\x55');
const std::string kTsPackets = [] {
  std::string ts(376, '.');
  ts[0] = ts[188] = 0x47;
  return ts;
}();

INSTANTIATE_TEST_SUITE_P(
    Playlists, Sniff,
    testing::Values(
        SniffCase{"Pls", "[playlist]\nNumberOfEntries=1\nFile1=http://h/s\n", "", PlaylistKind::Pls},
        SniffCase{"PlsBomBlankLinesAnyCase", "\xEF\xBB\xBF\r\n\r\n[Playlist]\r\nfile1=x", "text/html",
                  PlaylistKind::Pls},
        SniffCase{"PlsWithoutHeader", "Title1=Radio\nFILE1 = http://h/s\n", "", PlaylistKind::Pls},
        SniffCase{"M3uWithHeader", "#EXTM3U\n#EXTINF:-1,Radio\nhttp://h/s\n", "", PlaylistKind::M3u},
        SniffCase{"M3uServedAsHls", "#EXTM3U\n#EXTINF:-1,R\nhttp://h/s\n", "application/vnd.apple.mpegurl",
                  PlaylistKind::M3u},
        SniffCase{"M3uBareAddress", "  http://h:8000/stream\n", "text/plain", PlaylistKind::M3u},
        SniffCase{"M3uRelativeNeedsListType", "stream.mp3\r\n", "audio/x-mpegurl; charset=utf-8",
                  PlaylistKind::M3u},
        SniffCase{"RelativeWithoutListType", "stream.mp3\r\n", "", PlaylistKind::None},
        SniffCase{"ErrorTextWithListType", "Stream not found\n", "audio/x-mpegurl", PlaylistKind::None},
        SniffCase{"HlsMedia", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\na.ts\n", "",
                  PlaylistKind::Hls},
        SniffCase{"HlsVersionAndExtinf", "#EXTM3U\r\n#EXT-X-VERSION:3\r\n#EXTINF:10,\r\na.aac\r\n",
                  "audio/mpegurl", PlaylistKind::Hls},
        SniffCase{"HlsLowerCaseMaster", "#extm3u\n#ext-x-stream-inf:bandwidth=1\nv.m3u8", "",
                  PlaylistKind::Hls},
        SniffCase{"HeaderOnlyAsHls", "#EXTM3U\n", "application/x-mpegURL", PlaylistKind::Hls},
        SniffCase{"HeaderOnlyAsList", "#EXTM3U\n", "", PlaylistKind::M3u},
        SniffCase{"Xspf", "<?xml version=\"1.0\"?>\n<!-- <asx> -->\n<playlist version=\"1\">", "",
                  PlaylistKind::Xspf},
        SniffCase{"XspfCutInProlog", "<?xml version=\"1.0\" enc", "application/xspf+xml", PlaylistKind::Xspf},
        SniffCase{"XmlCutWithoutHint", "<?xml version=\"1.0\" enc", "", PlaylistKind::None},
        SniffCase{"Asx", "<ASX Version=\"3.0\"><Entry>", "", PlaylistKind::Asx},
        SniffCase{"AsxReference", "[Reference]\r\nRef1=http://h/s?MSWMExt=.asf\r\n", "video/x-ms-asf",
                  PlaylistKind::Asx},
        SniffCase{"HtmlWithPlaylistType", "<!DOCTYPE html>\n<html><body>File1=x", "audio/x-scpls",
                  PlaylistKind::None},
        SniffCase{"HtmlWithXspfType", "<html><head>", "application/xspf+xml", PlaylistKind::None},
        SniffCase{"Json", "{\"File1\": 1}", "audio/x-mpegurl", PlaylistKind::None},
        SniffCase{"Empty", " \r\n", "audio/x-mpegurl", PlaylistKind::None},
        SniffCase{"Utf16LeBom", std::string("\xFF\xFE[\0p\0l\0a\0y\0l\0i\0s\0t\0]\0", 22), "",
                  PlaylistKind::Pls},
        SniffCase{"Utf16BeNoBom", std::string("\0#\0E\0X\0T\0M\0\x33\0U", 14), "", PlaylistKind::M3u},
        SniffCase{"Mp3", kMp3Frame, "audio/x-mpegurl", PlaylistKind::None},
        SniffCase{"Id3", "ID3\x04\0\0\0\0\0\0http://h/", "audio/x-scpls", PlaylistKind::None},
        SniffCase{"Ogg", "OggS/vorbis.", "audio/x-mpegurl", PlaylistKind::None},
        SniffCase{"MpegTs", kTsPackets, "application/vnd.apple.mpegurl", PlaylistKind::None},
        SniffCase{"BinaryNoise", std::string("#EXTM3U\n\x01\x02\x03", 11), "", PlaylistKind::None}),
    [](const auto& param) { return std::string(param.param.name); });

// A bare "host:port" means an http server.
TEST(ParsePlaylist, PlsSortsByNumberAndKeepsOnlyHttp) {
  const std::string pls =
      "[playlist]\r\nNumberOfEntries=9\r\nfile10=http://h/ten\r\nFile2 = relative/two \r\nTitle2=Two\r\n"
      "FILE1=https://h/one\r\nFile3=mms://h/three\r\nFile4=C:\\Music\\four.mp3\r\n"
      "File5=file:///etc/passwd\r\nFile02=https://h/one\r\nLength1=-1\r\nVersion=2\r\n"
      "File6=203.0.113.7:8000\r\nFile7=radio.example:8080/live\r\nFile8=a:b:1\r\n";
  EXPECT_EQ(ParsePlaylist(PlaylistKind::Pls, pls, "http://h/dir/list.pls"),
            (Entries{"https://h/one", "http://h/dir/relative/two", "http://203.0.113.7:8000",
                     "http://radio.example:8080/live", "http://h/ten"}));
}

TEST(ParsePlaylist, M3uAnyLineEndsAndEncodings) {
  const std::string lines[] = {"#EXTM3U",           "#EXTINF:-1,Radio \xC3\xA9", "  http://h/a  ", "",
                               "../b \xC3\xA9.mp3", "#http://h/commented",       "http://h/a",     "/c"};
  const Entries expected{"http://h/a", "http://h/b%20%C3%A9.mp3", "http://h/c"};
  for (const char* end : {"\n", "\r\n", "\r"}) {
    std::string text;
    for (const std::string& line : lines) text += line + end;
    std::string utf16le = "\xFF\xFE";
    std::string utf16be = "\xFE\xFF";
    for (char c : text) {
      // Only ASCII and the two bytes of U+00E9 occur above.
      if (c == '\xC3') continue;
      const char unit = c == '\xA9' ? '\xE9' : c;
      utf16le += std::string{unit, '\0'};
      utf16be += std::string{'\0', unit};
    }
    for (const std::string& encoded : {text, "\xEF\xBB\xBF" + text, utf16le, utf16be, utf16le.substr(2)}) {
      EXPECT_EQ(ParsePlaylist(PlaylistKind::M3u, encoded, "http://h/dir/x.m3u"), expected);
    }
  }
}

TEST(ParsePlaylist, XspfLocationsOfTracks) {
  const std::string xspf =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\">"
      "<location>http://h/this-list.xspf</location><!-- <track><location>http://h/c</location></track> -->"
      "<trackList><track><title>A &amp; B</title>"
      "<location> http://h/a?x=1&amp;y=&#50;&#x33;&apos;&lt; </location>"
      "<location>http://h/a?x=1&amp;y=&#50;&#x33;&APOS;&#0;&#xD800;&bogus;</location>"
      "<location>http://h/a-backup</location></track>"
      "<track><location><![CDATA[http://h/b?p=1&q=2]]></location></track>"
      "<TRACK><xspf:Location>rel&apos;s</xspf:Location></TRACK><track><location/></track>"
      "</trackList></playlist>";
  EXPECT_EQ(ParsePlaylist(PlaylistKind::Xspf, xspf, "http://h/"),
            (Entries{"http://h/a?x=1&y=23'&#0;&#xD800;&bogus;", "http://h/a-backup", "http://h/b?p=1&q=2",
                     "http://h/rel's"}))
      << "the first location decodes to a '<', which no address holds";
}

TEST(ParsePlaylist, AsxRefsAnyCaseAndQuotes) {
  const std::string asx =
      "<ASX version=\"3.0\"><Title>R</Title><MoreInfo href=\"http://h/info\"/>\n<Entry>"
      "<REF HREF = 'http://h/a?x=1&y=2' /><ref href=\"http://h/b&amp;c\"></ref><Ref href=http://h/c></Entry>"
      "<!-- <ref href=\"http://h/commented\"/> --><EntryRef href=\"more.asx\"/>"
      "<ref href=\"mms://h/d\"/></ASX>";
  EXPECT_EQ(ParsePlaylist(PlaylistKind::Asx, asx, "http://h/dir/"),
            (Entries{"http://h/a?x=1&y=2", "http://h/b&c", "http://h/c", "http://h/dir/more.asx"}));
  EXPECT_EQ(
      ParsePlaylist(PlaylistKind::Asx, "[Reference]\nRef2=http://h/2\nRef1=http://h/1?MSWMExt=.asf\n", ""),
      (Entries{"http://h/1?MSWMExt=.asf", "http://h/2"}));
}

TEST(ParsePlaylist, BoundedOutputAndInput) {
  std::string m3u;
  for (int i = 0; i < 100; ++i) m3u += "http://h/" + std::to_string(i % 80) + "\n";
  const Entries entries = ParsePlaylist(PlaylistKind::M3u, m3u, "");
  ASSERT_EQ(entries.size(), kMaxPlaylistEntries);
  EXPECT_EQ(entries.back(), "http://h/63");

  const std::string late = std::string(kMaxPlaylistBytes, '\n') + "http://h/late\n";
  EXPECT_TRUE(ParsePlaylist(PlaylistKind::M3u, late, "").empty());
}

TEST(ParsePlaylist, NothingFromGarbageOrTheWrongKind) {
  const std::string garbage("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\x01\x02<a>&#0;", 25);
  for (PlaylistKind kind : {PlaylistKind::None, PlaylistKind::Pls, PlaylistKind::M3u, PlaylistKind::Hls,
                            PlaylistKind::Xspf, PlaylistKind::Asx}) {
    EXPECT_TRUE(ParsePlaylist(kind, garbage, "http://h/").empty());
  }
  EXPECT_TRUE(ParsePlaylist(PlaylistKind::Hls, "#EXTM3U\n#EXTINF:1,\nhttp://h/a.ts\n", "").empty());
  EXPECT_TRUE(
      ParsePlaylist(PlaylistKind::Xspf, "<playlist><trackList><track><location>http://h/cut", "").empty());
}

}  // namespace
}  // namespace vornel::audio
