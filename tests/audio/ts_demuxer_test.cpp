#include "ts_demuxer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "id3.h"
#include "test_bytes.h"

namespace vornel::audio {
namespace {

using test::Bytes;
using test::operator+;
using test::Text;
using test::ReadExternal;

constexpr int kPmtPid = 0x1000, kVideoPid = 0x100, kAudioPid = 0x101, kId3Pid = 0x102;

template <typename... T>
Bytes B(T... values) {
  return {static_cast<std::uint8_t>(values)...};
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
  return Bytes(b.begin() + from, b.begin() + to);
}

Bytes Pattern(std::size_t n, int seed) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7);
  return out;
}

// One packet; a payload under 184 bytes is padded with an adaptation field (which `adaptationOnly`
// makes the whole packet).
Bytes Packet(int pid, bool start, int cc, const Bytes& payload, int flags = 0, bool adaptationOnly = false) {
  const bool adaptation = adaptationOnly || payload.size() < 184;
  Bytes p = B(0x47, (start ? 0x40 : 0) | pid >> 8, pid,
              (adaptationOnly ? 0x20
               : adaptation   ? 0x30
                              : 0x10) |
                  (cc & 15));
  if (adaptation) p = p + B(183 - payload.size()) + (payload.size() < 183 ? B(flags) : Bytes{});
  p.resize(188 - payload.size(), 0xFF);
  return p + payload;
}

// The table checksum appended.
Bytes Seal(const Bytes& section) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::uint8_t b : section) {
    crc ^= std::uint32_t{b} << 24;
    for (int i = 0; i < 8; ++i) crc = crc & 0x80000000 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
  }
  return section + B(crc >> 24, crc >> 16, crc >> 8, crc);
}

Bytes Section(int tableId, const Bytes& body) {
  return Seal(B(tableId, 0xB0 | (body.size() + 9) >> 8, body.size() + 9, 0, 1, 0xC1, 0, 0) + body);
}

// A section with one byte changed and the checksum made right again, so only the change counts.
Bytes Edit(const Bytes& section, std::size_t at, int value) {
  Bytes edited = Slice(section, 0, section.size() - 4);
  edited[at] = static_cast<std::uint8_t>(value);
  return Seal(edited);
}

struct Es {
  int type;
  int pid;
  Bytes descriptors = {};
};

Bytes Pmt(const std::vector<Es>& streams, const Bytes& programInfo = {}) {
  Bytes body =
      B(0xE0 | kVideoPid >> 8, kVideoPid, 0xF0 | programInfo.size() >> 8, programInfo.size()) + programInfo;
  for (const Es& es : streams) {
    const std::size_t n = es.descriptors.size();
    body = body + B(es.type, 0xE0 | es.pid >> 8, es.pid, 0xF0 | n >> 8, n) + es.descriptors;
  }
  return Section(2, body);
}

const Bytes kPat = Section(0, B(0, 1, 0xE0 | kPmtPid >> 8, kPmtPid));
const std::vector<Es> kStreams = {
    {0x1B, kVideoPid}, {0x0F, kAudioPid}, {0x15, kId3Pid, B(0x26, 3, 0xFF, 0xFF, 0xFF)}};
const Bytes kTitleTag =
    B('I', 'D', '3', 4, 0, 0, 0, 0, 0, 16, 'T', 'I', 'T', '2', 0, 0, 0, 6, 0, 0, 3, 'T', 'i', 't', 'l', 'e');

// A PES: `timestamps` 0 (none), 1 (PTS) or 2 (PTS and DTS); `bounded` false writes length 0.
Bytes Pes(int streamId, const Bytes& data, int timestamps = 1, std::size_t stuffing = 0,
          bool bounded = true) {
  const std::size_t headerData = 5 * static_cast<std::size_t>(timestamps) + stuffing;
  const std::size_t length = bounded ? 3 + headerData + data.size() : 0;
  Bytes pes = B(0, 0, 1, streamId, length >> 8, length, 0x80,
                timestamps == 0   ? 0
                : timestamps == 1 ? 0x80
                                  : 0xC0,
                headerData);
  for (int i = 0; i < timestamps; ++i) pes = pes + B(0x21, 0, 1, 0, 1);
  pes.resize(pes.size() + stuffing, 0xFF);
  return pes + data;
}

// Builds a stream, keeping a continuity counter per PID.
struct Mux {
  Bytes ts;
  std::map<int, int> cc;
  // `payload` cut into packets of `room` bytes, the first a unit start.
  Mux& put(int pid, const Bytes& payload, std::size_t room = 184) {
    for (std::size_t at = 0; at == 0 || at < payload.size(); at += room) {
      const Bytes packet =
          Packet(pid, at == 0, cc[pid]++, Slice(payload, at, std::min(at + room, payload.size())));
      ts.insert(ts.end(), packet.begin(), packet.end());
    }
    return *this;
  }
  Mux& tables(const Bytes& pmt = Pmt(kStreams)) { return put(0, B(0) + kPat).put(kPmtPid, B(0) + pmt); }
  Mux& audio(const Bytes& data) { return put(kAudioPid, Pes(0xC0, data)); }
};

struct Result {
  Bytes audio;
  std::vector<Bytes> metadata;
  bool accepted = true;
  TsAudioCodec codec = TsAudioCodec::None;
  bool sawPmt = false;
  std::size_t largestAudioCall = 0;  // audio comes a PES at a time, within a bound
  bool operator==(const Result&) const = default;
  friend void PrintTo(const Result& r, std::ostream* os) {
    *os << r.audio.size() << " audio bytes, " << r.metadata.size() << " tags"
        << (r.accepted ? "" : ", refused");
  }
};

struct Collector : TsDemuxer::Sink {
  Result result;
  void onAudio(TsAudioCodec, const std::uint8_t* p, std::size_t n) override {
    result.audio.insert(result.audio.end(), p, p + n);
    result.largestAudioCall = std::max(result.largestAudioCall, n);
  }
  void onTimedMetadata(const std::uint8_t* p, std::size_t n) override {
    result.metadata.emplace_back(p, p + n);
  }
};

// Feeds `ts` cut at `cuts` (ascending), then flushes.
Result Demux(const Bytes& ts, std::vector<std::size_t> cuts = {}) {
  Collector sink;
  TsDemuxer demuxer(sink);
  cuts.push_back(ts.size());
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
    sink.result.accepted = demuxer.feed(ts.data() + from, cut - from) && sink.result.accepted;
    from = cut;
  }
  demuxer.flush();
  sink.result.codec = demuxer.audioCodec();
  sink.result.sawPmt = demuxer.sawPmt();
  return sink.result;
}

TEST(TsDemuxer, SameResultWhereverTheNetworkSplitsTheBytes) {
  const Bytes a1 = Pattern(300, 1), a2 = Pattern(500, 2), a3 = Pattern(200, 3);
  const Bytes ts = Mux()
                       .tables()
                       .put(kVideoPid, Pes(0xE0, Pattern(400, 9)))
                       .audio(a1)
                       .put(kId3Pid, Pes(0xBD, kTitleTag))
                       .put(kAudioPid, Pes(0xC0, a2, 2, 0, false))
                       .put(kAudioPid, Pes(0xC0, a3, 0, 7), 100)
                       .ts;
  const Result expected{a1 + a2 + a3, {kTitleTag}, true, TsAudioCodec::Adts, true, a2.size()};
  ASSERT_EQ(Demux(ts), expected);
  EXPECT_EQ(ParseId3(Demux(ts).metadata.at(0).data(), kTitleTag.size())->title, "Title");
  std::vector<std::size_t> everyByte;
  for (std::size_t i = 1; i < ts.size(); ++i) everyByte.push_back(i);
  EXPECT_EQ(Demux(ts, everyByte), expected);
  for (std::size_t cut = 1; cut < ts.size(); ++cut) ASSERT_EQ(Demux(ts, {cut}), expected) << cut;
}

TEST(TsDemuxer, EveryAdaptationFieldLength) {
  Mux mux;
  mux.tables();
  Bytes audio;
  for (std::size_t length = 0; length <= 182; ++length) {
    const Bytes data = Pattern(400, static_cast<int>(length));
    audio.insert(audio.end(), data.begin(), data.end());
    mux.put(kAudioPid, Pes(0xC0, data), 183 - length);
    const Bytes only = Packet(kAudioPid, false, mux.cc[kAudioPid], {}, 0x10, true);  // the counter stays
    mux.ts.insert(mux.ts.end(), only.begin(), only.end());
  }
  EXPECT_EQ(Demux(mux.ts).audio, audio);
}

void ShiftCounters(std::vector<Bytes>& packets) {
  for (std::size_t i = 1; i < packets.size(); ++i)
    packets[i][3] = (packets[i][3] & 0xF0) | ((packets[i][3] + 5) & 15);
}

// What becomes of a 3-packet PES (and the one after it) when its packets are changed on the way.
struct Damage {
  const char* name;
  bool keeps;
  void (*apply)(std::vector<Bytes>& packets);
};

TEST(TsDemuxer, ContinuityDecidesWhetherAPesIsWhole) {
  const Damage damages[] = {
      {"middle lost", false, [](std::vector<Bytes>& p) { p.erase(p.begin() + 1); }},
      {"unit start lost", false, [](std::vector<Bytes>& p) { p.erase(p.begin()); }},
      {"middle sent twice", true, [](std::vector<Bytes>& p) { p.insert(p.begin() + 1, p[1]); }},
      {"middle marked damaged", false, [](std::vector<Bytes>& p) { p[1][1] |= 0x80; }},
      {"middle with impossible adaptation length", false, [](std::vector<Bytes>& p) { p[1][4] = 184; }},
      {"counter jumps", false, [](std::vector<Bytes>& p) { ShiftCounters(p); }},
      {"counter jump flagged as discontinuity", true,
       [](std::vector<Bytes>& p) { p[1][5] |= 0x80, ShiftCounters(p); }},
  };
  const Bytes before = Pattern(200, 1), hit = Pattern(500, 2), after = Pattern(300, 3);
  Mux mux;
  const Bytes head = mux.tables().audio(before).ts;
  const Bytes tail = mux.put(kAudioPid, Pes(0xC0, hit), 175).audio(after).ts;
  for (const Damage& damage : damages) {
    std::vector<Bytes> packets;
    for (std::size_t at = head.size(); at < tail.size(); at += 188)
      packets.push_back(Slice(tail, at, at + 188));
    damage.apply(packets);
    Bytes ts = head;
    for (const Bytes& packet : packets) ts = ts + packet;
    EXPECT_EQ(Demux(ts).audio, damage.keeps ? before + hit + after : before + after) << damage.name;
  }
}

TEST(TsDemuxer, FindsTheStreamsInTheTables) {
  const Bytes withNetworkPid = Section(0, B(0, 0, 0xE0, 0x10, 0, 1, 0xE0 | kPmtPid >> 8, kPmtPid));
  const Bytes longPmt = Pmt({{0x1B, kVideoPid, Pattern(200, 3)}, {0x0F, kAudioPid}, {0x15, kId3Pid}});
  const std::size_t rest = longPmt.size() - 183;
  const struct {
    const char* name;
    Bytes tables;
    TsAudioCodec codec;
    bool metadata;
  } cases[] = {
      // A pointer_field of 180 skips the tail of an earlier section; the PAT runs into a second packet.
      {"PAT after a section tail, across packets",
       Mux().put(0, B(180) + Pattern(180, 4) + withNetworkPid).put(kPmtPid, B(0) + Pmt(kStreams)).ts,
       TsAudioCodec::Adts, true},
      {"PMT ended in the next packet before its pointed-to start",
       Mux().put(0, B(0) + kPat).ts + Packet(kPmtPid, true, 0, B(0) + Slice(longPmt, 0, 183)) +
           Packet(kPmtPid, true, 1, B(rest) + Slice(longPmt, 183, longPmt.size()) + Bytes(20, 0xFF)),
       TsAudioCodec::Adts, true},
      {"PMT with long descriptors, across packets",
       Mux()
           .tables(Pmt({{0x1B, kVideoPid, Pattern(100, 1)},
                        {0x0F, kAudioPid, B(0x0A, 4, 'e', 'n', 'g', 0)},
                        {0x15, kId3Pid}},
                       Pattern(150, 2)))
           .ts,
       TsAudioCodec::Adts, true},
      {"MPEG-1 audio", Mux().tables(Pmt({{0x03, kAudioPid}})).ts, TsAudioCodec::Mpeg, false},
      {"MPEG-2 audio", Mux().tables(Pmt({{0x04, kAudioPid}})).ts, TsAudioCodec::Mpeg, false},
      {"first supported audio wins", Mux().tables(Pmt({{0x81, 0x200}, {0x0F, kAudioPid}, {0x03, 0x201}})).ts,
       TsAudioCodec::Adts, false},
      {"ID3 as private PES with a registration",
       Mux()
           .tables(Pmt(
               {{0x0F, kAudioPid}, {0x06, kId3Pid, B(0x0A, 4, 'e', 'n', 'g', 0, 5, 4, 'I', 'D', '3', ' ')}}))
           .ts,
       TsAudioCodec::Adts, true},
      {"video only", Mux().tables(Pmt({{0x1B, kVideoPid}})).ts, TsAudioCodec::None, false},
      {"PMT checksum wrong", Mux().tables([](Bytes pmt) { return pmt.back() ^= 1, pmt; }(Pmt(kStreams))).ts,
       TsAudioCodec::None, false},
      {"ES descriptors past the end",
       Mux().tables(Edit(Pmt({{0x0F, kAudioPid, B(5, 4, 'a', 'b', 'c', 'd')}}), 16, 40)).ts,
       TsAudioCodec::None, false},
      {"PMT not yet current", Mux().tables(Edit(Pmt(kStreams), 5, 0xC0)).ts, TsAudioCodec::None, false},
  };
  for (const auto& c : cases) {
    const Bytes ts =
        c.tables + Mux().audio(Pattern(300, 1)).put(kId3Pid, Pes(0xBD, kTitleTag)).audio(Pattern(300, 1)).ts;
    const Result result = Demux(ts);
    EXPECT_EQ(result.sawPmt, c.codec != TsAudioCodec::None || std::string(c.name) == "video only") << c.name;
    EXPECT_EQ(result.codec, c.codec) << c.name;
    EXPECT_EQ(result.audio, c.codec == TsAudioCodec::None ? Bytes{} : Pattern(300, 1) + Pattern(300, 1))
        << c.name;
    EXPECT_EQ(result.metadata, c.metadata ? std::vector<Bytes>{kTitleTag} : std::vector<Bytes>{}) << c.name;
  }
}

TEST(TsDemuxer, PesHeaderForms) {
  const Bytes data = Pattern(250, 6);
  Bytes noStartCode = Pes(0xC0, data), badMarker = noStartCode, lengthInsideHeader = noStartCode;
  noStartCode[2] = 2;
  badMarker[6] = 0x40;
  lengthInsideHeader[4] = 0, lengthInsideHeader[5] = 4;
  const std::pair<Bytes, bool> forms[] = {
      {Pes(0xC0, data, 0), true},
      {Pes(0xC0, data, 1), true},
      {Pes(0xC0, data, 2), true},
      {Pes(0xC0, data, 1, 200), true},
      {Pes(0xC0, data, 0, 0, false), true},
      {B(0, 0, 1, 0xBF, 0, 250) + data, true},  // private_stream_2: no optional header
      {noStartCode, false},
      {badMarker, false},
      {lengthInsideHeader, false},
      {Pes(0xBE, data), false},  // padding
  };
  for (const auto& [pes, delivered] : forms) {
    EXPECT_EQ(Demux(Mux().tables().put(kAudioPid, pes).ts).audio, delivered ? data : Bytes{})
        << pes[3] << pes[8];
  }
}

TEST(TsDemuxer, Sync) {
  Mux mux;
  const Bytes a1 = Pattern(300, 1), a2 = Pattern(500, 2), a3 = Pattern(200, 3);
  const std::size_t a2Start = mux.tables().audio(a1).ts.size();
  const Bytes ts = mux.audio(a2).audio(a3).ts;
  // Two sync bytes 188 apart are not enough to trust: here the second "packet" would swallow the
  // start of the real stream, 300 bytes in.
  Bytes junk = Pattern(300, 5);
  std::replace(junk.begin(), junk.end(), std::uint8_t{0x47}, std::uint8_t{0});
  junk[0] = junk[188] = 0x47;
  EXPECT_EQ(Demux(junk + ts).audio, a1 + a2 + a3);
  // Bytes slipped into the middle of a PES: it is lost, what follows is not.
  const std::size_t at = a2Start + 188;
  EXPECT_EQ(Demux(Slice(ts, 0, at) + Pattern(77, 8) + Slice(ts, at, ts.size())).audio, a1 + a3);

  const Bytes html(TsDemuxer::kMaxSyncSearch + 1000, '<');
  EXPECT_FALSE(Demux(html).accepted);
  EXPECT_FALSE(Demux(html, {1000, 30000, 60000}).accepted);
  EXPECT_TRUE(Demux(Bytes(TsDemuxer::kMaxSyncSearch - 1000, '<') + ts).accepted);

  EXPECT_TRUE(LooksLikeTransportStream(ts.data(), ts.size()));
  EXPECT_TRUE(LooksLikeTransportStream(ts.data(), 189));
  EXPECT_FALSE(LooksLikeTransportStream(ts.data(), 188));
  Bytes third = ts;
  third[376] = 0;
  EXPECT_FALSE(LooksLikeTransportStream(third.data(), third.size()));
  EXPECT_FALSE(LooksLikeTransportStream(html.data(), html.size()));
}

TEST(TsDemuxer, HoldsBoundedAmounts) {
  const Bytes big = Pattern(TsDemuxer::kMaxMetadataPes + 1, 1), longAudio = Pattern(150000, 2);
  const Bytes ts = Mux()
                       .tables()
                       .put(kId3Pid, Pes(0xBD, big, 0, 0, false))
                       .put(kId3Pid, Pes(0xBD, kTitleTag))
                       .put(kAudioPid, Pes(0xC0, longAudio, 1, 0, false))
                       .ts;
  const Result result = Demux(ts);
  EXPECT_EQ(result.metadata, std::vector<Bytes>{kTitleTag});
  EXPECT_EQ(result.audio, longAudio);
  EXPECT_EQ(result.largestAudioCall, TsDemuxer::kMaxAudioHeld);
}

TEST(TsDemuxer, SegmentsAndDiscontinuities) {
  const Bytes a1 = Pattern(300, 1), a2 = Pattern(400, 2);
  Collector sink;
  TsDemuxer demuxer(sink);
  const auto feed = [&](const Bytes& ts) { demuxer.feed(ts.data(), ts.size()); };
  // An unbounded PES has nothing after it to end it but the end of the segment.
  Mux segment1;
  feed(segment1.tables().put(kAudioPid, Pes(0xC0, a1, 1, 0, false)).ts);
  EXPECT_TRUE(sink.result.audio.empty());
  demuxer.flush();
  EXPECT_EQ(sink.result.audio, a1);
  // The next segment's packager restarts its counters, landing on the last value used.
  Mux segment2 = segment1;
  segment2.ts.clear();
  for (auto& [pid, cc] : segment2.cc) --cc;
  feed(segment2.tables().audio(a2).ts);
  demuxer.flush();
  EXPECT_EQ(sink.result.audio, a1 + a2);

  // After a reset the half-read PES is gone, but the tables still hold.
  const Bytes partial = Mux().audio(Pattern(600, 3)).ts;
  demuxer.feed(partial.data(), 2 * 188);
  demuxer.reset();
  // Two packets, their counters running on by chance; too few to confirm the sync point until the
  // segment is known to end there.
  Mux resumed;
  resumed.cc[kAudioPid] = 2;
  const Bytes after = resumed.audio(a1).ts;
  ASSERT_EQ(after.size(), 2 * 188u);
  feed(after);
  demuxer.flush();
  EXPECT_EQ(sink.result.audio, a1 + a2 + a1);
}

TEST(TsDemuxer, RealHlsSegmentGivesWholeAdtsFrames) {
  std::ifstream in(VORNEL_TEST_EXTERNAL_DIR "/aac/hls/androidx-cea608/sd-hls0000000000.ts", std::ios::binary);
  const Bytes ts{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (ts.empty()) GTEST_SKIP() << "test media not present";
  ASSERT_TRUE(LooksLikeTransportStream(ts.data(), ts.size()));
  std::vector<std::size_t> cuts;
  for (std::size_t at = 1000; at < ts.size(); at += 1000 + at % 7) cuts.push_back(at);
  const Result result = Demux(ts, cuts);
  EXPECT_EQ(result, Demux(ts));
  // Every frame's length leads to the next sync word and the last ends with the audio.
  std::size_t frames = 0, pos = 0;
  const Bytes& aac = result.audio;
  while (pos + 7 <= aac.size() && aac[pos] == 0xFF && (aac[pos + 1] & 0xF6) == 0xF0) {
    pos += ((aac[pos + 3] & 3u) << 11) | (aac[pos + 4] << 3) | (aac[pos + 5] >> 5);
    ++frames;
  }
  EXPECT_EQ(pos, aac.size());
  EXPECT_EQ(frames, 114u);  // 21078 bytes, as ffmpeg extracts them
}

}  // namespace
}  // namespace vornel::audio
