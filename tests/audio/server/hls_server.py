#!/usr/bin/python3
"""HLS and playlist server for the audio library's tests.

Real HLS stations are live: their playlists slide, their sequence numbers and timestamps only
ever grow, and some of them jump. This server plays such stations from a handful of segments that
make_hls.sh prepared, rewriting sequence numbers and timestamps so the loop is invisible. It also
serves the playlist files (PLS, M3U, XSPF, ASX) that lead to streams, and plain files paced as
radio streams, each with a Content-Type a test can make lie. See README.md, "HLS server".

Usage: hls_server.py --media DIR [--port 0]

Prints exactly one line "PORT <n>" on stdout, then serves until stdin is closed or SIGTERM
arrives. Everything else goes to stderr.
"""

import argparse
import bisect
import os
import re
import socket
import ssl
import sys
import threading
import time
import traceback
from collections import OrderedDict
from fractions import Fraction
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qsl, unquote, urlsplit
from xml.sax.saxutils import escape as xml_escape

from child_process import announce_and_wait, exit_on_signals, log

SERVER_HEADER = "hls-test/1.0"
TARGET_DURATION = 2
# Segments listed by a live playlist. Four 2 s segments leave a client the three target
# durations it needs behind the live edge.
WINDOW = 4
# A segment that left the playlist stays fetchable this many segments longer: a client that
# loaded the playlist just before it slid must still get what it was promised.
KEEP_AFTER_WINDOW = 5
# How many segments the streams cut here (packed audio, TS with ID3) loop over, and how many
# frames of the source they skip: an encoder's first frames are its start-up, near-silence.
LOOP_SEGMENTS = 6
LEAD_IN_FRAMES = 2
# /gap: every GAP_BLOCK published segments, GAP_SKIP sequence numbers are never used.
GAP_BLOCK = 5
GAP_SKIP = 3
# Timestamps of the segments made here start where ffmpeg's TS muxer starts its own (1.4 s), so
# every live stream here looks alike to a client.
PTS_START = 126000
PTS_WRAP = 1 << 33
MAX_DELAY_MS = 60000
FILE_BURST = 64 * 1024
# A client that stops reading must not pin a thread for ever; this is also the keep-alive idle time.
SOCKET_TIMEOUT = 60.0

PLAYLIST_TYPE = "application/vnd.apple.mpegurl"



class MediaError(Exception):
    """The media folder is not what make_hls.sh makes."""


# ---------------------------------------------------------------- audio frames


class Frames:
    """The whole frames of an elementary stream (ADTS AAC or MPEG audio), as (offset, length)."""

    def __init__(self, spans, rate, samples, kind):
        self.spans = spans
        self.rate = rate
        self.samples = samples  # per frame
        self.kind = kind

    def ticks(self, frame_count):
        """Exact 90 kHz time of frame_count frames (a Fraction when the rate does not divide)."""
        return Fraction(frame_count * self.samples * 90000, self.rate)


_ADTS_RATES = [96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350]


def adts_frames(data):
    spans = []
    rate = None
    blocks = 1
    pos = 0
    while pos + 7 <= len(data):
        if data[pos] != 0xFF or (data[pos + 1] & 0xF6) != 0xF0:
            raise MediaError(f"no ADTS sync at byte {pos}")
        length = ((data[pos + 3] & 0x03) << 11) | (data[pos + 4] << 3) | (data[pos + 5] >> 5)
        if length < 7 or pos + length > len(data):
            break  # a cut-off last frame is not a frame
        if rate is None:
            rate = _ADTS_RATES[(data[pos + 2] >> 2) & 0x0F]
            blocks = (data[pos + 6] & 0x03) + 1
        spans.append((pos, length))
        pos += length
    if not spans:
        raise MediaError("no ADTS frames")
    return Frames(spans, rate, 1024 * blocks, "adts")


_MPEG_BITRATES = {
    (1, 3): [0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448],
    (1, 2): [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384],
    (1, 1): [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
    (2, 3): [0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256],
    (2, 2): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
    (2, 1): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
}
_MPEG_RATES = {3: [44100, 48000, 32000], 2: [22050, 24000, 16000], 0: [11025, 12000, 8000]}


def mpeg_frame_header(data, pos):
    """(length, sample rate, samples) of the MPEG audio frame at pos, or None."""
    if pos + 4 > len(data) or data[pos] != 0xFF or (data[pos + 1] & 0xE0) != 0xE0:
        return None
    version = (data[pos + 1] >> 3) & 3  # 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5
    layer = (data[pos + 1] >> 1) & 3  # 3 = Layer I, 1 = Layer III
    br_index = (data[pos + 2] >> 4) & 0xF
    sr_index = (data[pos + 2] >> 2) & 3
    padding = (data[pos + 2] >> 1) & 1
    if version == 1 or layer == 0 or br_index in (0, 15) or sr_index == 3:
        return None
    family = 1 if version == 3 else 2
    bitrate = _MPEG_BITRATES[(family, layer)][br_index] * 1000
    rate = _MPEG_RATES[version][sr_index]
    if layer == 3:
        return (12 * bitrate // rate + padding) * 4, rate, 384
    if layer == 1 and family == 2:
        return 72 * bitrate // rate + padding, rate, 576
    return 144 * bitrate // rate + padding, rate, 1152


def mpeg_frames(data):
    spans = []
    rate = samples = None
    pos = 0
    while pos + 4 <= len(data):
        header = mpeg_frame_header(data, pos)
        if header is None:
            raise MediaError(f"no MPEG audio frame at byte {pos} (an ID3 tag or Xing frame?)")
        length, frame_rate, frame_samples = header
        if pos + length > len(data):
            break
        if rate is None:
            rate, samples = frame_rate, frame_samples
        spans.append((pos, length))
        pos += length
    if not spans:
        raise MediaError("no MPEG audio frames")
    return Frames(spans, rate, samples, "mpeg")


def audio_frames(data):
    if len(data) >= 2 and data[0] == 0xFF and (data[1] & 0xF6) == 0xF0:
        return adts_frames(data)
    return mpeg_frames(data)


# ---------------------------------------------------------------- ID3v2.4


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3v24(frames):
    """An ID3v2.4 tag of (frame id, content) pairs; v2.4 sizes are syncsafe in frames too."""
    body = b"".join(fid.encode("ascii") + syncsafe(len(content)) + b"\x00\x00" + content
                    for fid, content in frames)
    return b"ID3\x04\x00\x00" + syncsafe(len(body)) + body


def id3_text(text):
    return b"\x03" + text.encode("utf-8")  # 3 = UTF-8


def id3_timestamp(pts):
    """The PRIV frame that tells a packed-audio client the 90 kHz time of the first sample."""
    return ("PRIV", b"com.apple.streaming.transportStreamTimestamp\x00" + (pts % PTS_WRAP).to_bytes(8, "big"))


# ---------------------------------------------------------------- MPEG-TS


def crc32_mpeg(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if crc & 0x80000000 else (crc << 1) & 0xFFFFFFFF
    return crc


def read_timestamp(b, pos):
    return (((b[pos] >> 1) & 0x07) << 30) | (b[pos + 1] << 22) | ((b[pos + 2] >> 1) << 15) \
        | (b[pos + 3] << 7) | (b[pos + 4] >> 1)


def write_timestamp(b, pos, value):
    """Writes a 33-bit PES timestamp, keeping the 4-bit prefix already there ('0010', '0011', ...)."""
    value %= PTS_WRAP
    b[pos] = (b[pos] & 0xF0) | ((value >> 29) & 0x0E) | 1
    b[pos + 1] = (value >> 22) & 0xFF
    b[pos + 2] = ((value >> 14) & 0xFE) | 1
    b[pos + 3] = (value >> 7) & 0xFF
    b[pos + 4] = ((value << 1) & 0xFE) | 1


def encode_timestamp(prefix, value):
    b = bytearray([prefix << 4, 0, 0, 0, 0])
    write_timestamp(b, 0, value)
    return bytes(b)


def read_pcr_base(b, pos):
    return (b[pos] << 25) | (b[pos + 1] << 17) | (b[pos + 2] << 9) | (b[pos + 3] << 1) | (b[pos + 4] >> 7)


def write_pcr_base(b, pos, base):
    """Writes the 33-bit base of a PCR, keeping its reserved bits and 9-bit extension."""
    base %= PTS_WRAP
    b[pos:pos + 4] = (base >> 1).to_bytes(4, "big")
    b[pos + 4] = ((base & 1) << 7) | (b[pos + 4] & 0x7F)


def encode_pcr(base):
    b = bytearray(b"\x00\x00\x00\x00\x7E\x00")  # reserved bits set, extension 0
    write_pcr_base(b, 0, base)
    return bytes(b)


def ts_packets(data):
    """(offset, pid, payload_unit_start, has_payload, payload offset, adaptation field offset)."""
    if len(data) % 188:
        raise MediaError("TS data is not whole 188-byte packets")
    for off in range(0, len(data), 188):
        if data[off] != 0x47:
            raise MediaError(f"lost TS sync at byte {off}")
        pid = ((data[off + 1] & 0x1F) << 8) | data[off + 2]
        pusi = bool(data[off + 1] & 0x40)
        afc = (data[off + 3] >> 4) & 3
        payload = off + 4
        adaptation = None
        if afc & 2:
            adaptation = off + 4
            payload += 1 + data[off + 4]
        yield off, pid, pusi, bool(afc & 1), payload, adaptation


def pes_header_length(data, pos):
    return 9 + data[pos + 8]


# PES stream ids that have no optional header (so no PTS): padding, private_stream_2, ECM, EMM,
# DSM-CC, H.222.1 type E, program stream map and directory.
_PES_WITHOUT_HEADER = (0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xF2, 0xF8, 0xFF)


def pes_with_header(data, pos):
    return data[pos:pos + 3] == b"\x00\x00\x01" and data[pos + 3] not in _PES_WITHOUT_HEADER


class TsLoopPatcher:
    """Rewrites one loop's worth of ffmpeg-made TS segments so loop k follows loop k-1 seamlessly.

    Timestamps (PTS, DTS, PCR) move on by k loop lengths and continuity counters carry on from
    the segment before, so a client sees one endless, well-formed transport stream.
    """

    def __init__(self, name, segments):
        self.name = name
        self.segments = segments
        audio_pid = self.find_audio_pid(segments[0])
        self.first_pts = []
        self.payload_counts = []  # per segment: {pid: packets that carry payload}
        es = bytearray()  # the audio of the whole loop, to count its frames
        for index, data in enumerate(segments):
            counts = {}
            first = None
            for off, pid, pusi, has_payload, pay, _ in ts_packets(data):
                if not has_payload:
                    continue
                counts[pid] = counts.get(pid, 0) + 1
                if pid != audio_pid:
                    continue
                if pusi and pes_with_header(data, pay):
                    if first is None and data[pay + 7] & 0x80:
                        first = read_timestamp(data, pay + 9)
                    pay += pes_header_length(data, pay)
                es += data[pay:off + 188]
            if first is None:
                raise MediaError(f"{name}: segment {index} has no audio PES with a PTS")
            self.first_pts.append(first)
            self.payload_counts.append(counts)
        self.frames = audio_frames(bytes(es))
        self.loop_ticks = self.frames.ticks(len(self.frames.spans))
        # Segment durations from where each one starts; the last one ends where the loop does.
        ends = self.first_pts[1:] + [self.first_pts[0] + self.loop_ticks]
        self.durations = [Fraction(end - start) / 90000 for start, end in zip(self.first_pts, ends)]
        if min(self.durations) <= 0:
            raise MediaError(f"{name}: segments are not in PTS order")
        pids = set().union(*self.payload_counts)
        self.loop_counts = {pid: sum(c.get(pid, 0) for c in self.payload_counts) for pid in pids}
        self.prefix_counts = []
        running = dict.fromkeys(pids, 0)
        for counts in self.payload_counts:
            self.prefix_counts.append(dict(running))
            for pid, count in counts.items():
                running[pid] += count

    @staticmethod
    def find_audio_pid(data):
        for off, pid, pusi, has_payload, pay, _ in ts_packets(data):
            if pusi and has_payload and pes_with_header(data, pay) and 0xC0 <= data[pay + 3] <= 0xDF:
                return pid
        raise MediaError("no MPEG audio PES (stream id 0xC0-0xDF) in the first segment")

    def build(self, index, loop):
        data = bytearray(self.segments[index])
        shift = round(loop * self.loop_ticks)
        cc = {pid: (loop * self.loop_counts[pid] + start) % 16
              for pid, start in self.prefix_counts[index].items()}
        for off, pid, pusi, has_payload, pay, adaptation in ts_packets(data):
            if has_payload:
                data[off + 3] = (data[off + 3] & 0xF0) | cc[pid]
                cc[pid] = (cc[pid] + 1) % 16
            if adaptation is not None and data[adaptation] > 0 and data[adaptation + 1] & 0x10:
                write_pcr_base(data, adaptation + 2, read_pcr_base(data, adaptation + 2) + shift)
            if pusi and has_payload and pay + 14 <= off + 188 and pes_with_header(data, pay):
                flags = data[pay + 7] >> 6
                if flags & 2:
                    write_timestamp(data, pay + 9, read_timestamp(data, pay + 9) + shift)
                if flags == 3:
                    write_timestamp(data, pay + 14, read_timestamp(data, pay + 14) + shift)
        return bytes(data)


# Program layout of the TS segments written here, the usual one for HLS audio.
PMT_PID = 0x1000
AUDIO_PID = 0x100
ID3_PID = 0x101


def psi_packet(pid, section, cc):
    payload = b"\x00" + section  # pointer_field: the section starts right away
    return bytes([0x47, 0x40 | (pid >> 8), pid & 0xFF, 0x10 | cc]) + payload + b"\xFF" * (184 - len(payload))


def psi_section(table_id, table_id_extension, body):
    length = 5 + len(body) + 4
    head = bytes([table_id, 0xB0 | (length >> 8), length & 0xFF, table_id_extension >> 8,
                  table_id_extension & 0xFF, 0xC1, 0x00, 0x00])
    section = head + body
    return section + crc32_mpeg(section).to_bytes(4, "big")


def pat_section():
    return psi_section(0x00, 1, bytes([0x00, 0x01, 0xE0 | (PMT_PID >> 8), PMT_PID & 0xFF]))


def pmt_section():
    id3 = b"\xFF\xFFID3 \xFFID3 \x00"  # registered format 'ID3 ' for application and format
    # metadata_pointer_descriptor: the program's metadata is in this program (carriage flags 0).
    pointer = bytes([0x25, len(id3) + 3]) + id3 + b"\x1F\x00\x01"
    # metadata_descriptor on the ID3 stream: no decoder config, no DSM-CC.
    descriptor = bytes([0x26, len(id3) + 1]) + id3 + b"\x0F"
    body = bytes([0xE0 | (AUDIO_PID >> 8), AUDIO_PID & 0xFF, 0xF0 | (len(pointer) >> 8), len(pointer)]) + pointer
    body += bytes([0x0F, 0xE0 | (AUDIO_PID >> 8), AUDIO_PID & 0xFF, 0xF0, 0x00])  # ADTS AAC
    body += bytes([0x15, 0xE0 | (ID3_PID >> 8), ID3_PID & 0xFF, 0xF0, len(descriptor)]) + descriptor
    return psi_section(0x02, 1, body)


def pes(stream_id, pts, payload):
    """A PES with a PTS; data_alignment_indicator set, as every PES here starts a frame or a tag."""
    header = bytes([0x84, 0x80, 5]) + encode_timestamp(2, pts)
    length = len(header) + len(payload)
    assert length < 65536
    return b"\x00\x00\x01" + bytes([stream_id, length >> 8, length & 0xFF]) + header + payload


def pes_packets(pid, data, cc, pcr=None, random_access=False):
    """Cuts one PES into TS packets; the last one is padded with adaptation-field stuffing."""
    packets = []
    pos = 0
    first = True
    while pos < len(data):
        fields = b""
        if first and (pcr is not None or random_access):
            flags = (0x40 if random_access else 0) | (0x10 if pcr is not None else 0)
            fields = bytes([flags]) + (encode_pcr(pcr) if pcr is not None else b"")
        room = 184 - (1 + len(fields) if fields else 0)
        chunk = data[pos:pos + room]
        adaptation = bytes([len(fields)]) + fields if fields else b""
        if len(chunk) < room:
            need = 184 - len(chunk)  # bytes the adaptation field must fill
            if need == 1:
                adaptation = b"\x00"
            else:
                fields = fields or b"\x00"
                adaptation = bytes([need - 1]) + fields + b"\xFF" * (need - 1 - len(fields))
        afc = 0x30 if adaptation else 0x10
        packets.append(bytes([0x47, (0x40 if first else 0) | (pid >> 8), pid & 0xFF, afc | cc[pid]])
                       + adaptation + chunk)
        cc[pid] = (cc[pid] + 1) % 16
        pos += len(chunk)
        first = False
    return packets


# ---------------------------------------------------------------- fMP4


def mp4_boxes(data, start, end):
    """(type, box start, payload start, box end) of the boxes in data[start:end]."""
    pos = start
    while pos + 8 <= end:
        size = int.from_bytes(data[pos:pos + 4], "big")
        kind = data[pos + 4:pos + 8].decode("latin-1")
        header = 8
        if size == 1:
            size = int.from_bytes(data[pos + 8:pos + 16], "big")
            header = 16
        elif size == 0:
            size = end - pos
        if size < header or pos + size > end:
            raise MediaError(f"bad MP4 box {kind!r} at {pos}")
        yield kind, pos, pos + header, pos + size
        pos += size


def mp4_find(data, path, start=0, end=None):
    """(payload start, box end) of every box at path, e.g. ["moof", "traf", "tfdt"]."""
    end = len(data) if end is None else end
    found = []
    for kind, _, payload, box_end in mp4_boxes(data, start, end):
        if kind == path[0]:
            found += [(payload, box_end)] if len(path) == 1 else mp4_find(data, path[1:], payload, box_end)
    return found


def u32(data, pos):
    return int.from_bytes(data[pos:pos + 4], "big")


class Fmp4LoopPatcher:
    """Rewrites fMP4 media segments of one loop so that loop k follows loop k-1: the fragment
    sequence number and the decode time (tfdt) keep counting up."""

    def __init__(self, name, init, segments):
        self.name = name
        self.segments = segments
        mdhd = mp4_find(init, ["moov", "trak", "mdia", "mdhd"])
        if not mdhd:
            raise MediaError(f"{name}: init segment has no mdhd")
        p = mdhd[0][0]
        self.timescale = u32(init, p + (20 if init[p] == 1 else 12))
        trex = mp4_find(init, ["moov", "mvex", "trex"])
        trex_duration = u32(init, trex[0][0] + 12) if trex else 0
        self.tfdt = []
        units = []
        for index, seg in enumerate(segments):
            tfdt = mp4_find(seg, ["moof", "traf", "tfdt"])
            if len(tfdt) != 1 or not mp4_find(seg, ["moof", "mfhd"]):
                raise MediaError(f"{name}: segment {index} is not one moof with mfhd and one tfdt")
            p = tfdt[0][0]
            self.tfdt.append(int.from_bytes(seg[p + 4:p + (12 if seg[p] == 1 else 8)], "big"))
            units.append(self.traf_duration(seg, trex_duration))
        self.loop_units = self.tfdt[-1] + units[-1] - self.tfdt[0]
        self.durations = [Fraction(u, self.timescale) for u in units]

    @staticmethod
    def traf_duration(seg, default):
        """Sum of the sample durations of the (single) track fragment, in timescale units."""
        traf_start, traf_end = mp4_find(seg, ["moof", "traf"])[0]
        total = 0
        for kind, _, p, _ in mp4_boxes(seg, traf_start, traf_end):
            flags = int.from_bytes(seg[p + 1:p + 4], "big")
            if kind == "tfhd" and flags & 0x08:
                q = p + 8 + (8 if flags & 0x01 else 0) + (4 if flags & 0x02 else 0)
                default = u32(seg, q)
            elif kind == "trun":
                count = u32(seg, p + 4)
                if not flags & 0x100:
                    total += count * default
                    continue
                q = p + 8 + (4 if flags & 0x01 else 0) + (4 if flags & 0x04 else 0)
                stride = 4 * bin(flags & 0xF00).count("1")
                total += sum(u32(seg, q + i * stride) for i in range(count))
        return total

    def build(self, index, loop, sequence):
        seg = bytearray(self.segments[index])
        p = mp4_find(seg, ["moof", "mfhd"])[0][0]
        seg[p + 4:p + 8] = ((sequence + 1) & 0xFFFFFFFF).to_bytes(4, "big")
        p = mp4_find(seg, ["moof", "traf", "tfdt"])[0][0]
        width = 8 if seg[p] == 1 else 4
        value = int.from_bytes(seg[p + 4:p + 4 + width], "big") + loop * self.loop_units
        seg[p + 4:p + 4 + width] = (value % (1 << (8 * width))).to_bytes(width, "big")
        return bytes(seg)


# ---------------------------------------------------------------- live timing


class Timeline:
    """When each segment of an endless loop of prepared segments ends, in seconds of stream time."""

    def __init__(self, durations):
        self.durations = [float(d) for d in durations]
        self.ends = []
        total = 0.0
        for d in self.durations:
            total += d
            self.ends.append(total)
        self.loop = total

    def duration(self, j):
        return self.durations[j % len(self.durations)]

    def end(self, j):
        loop, index = divmod(j, len(self.durations))
        return loop * self.loop + self.ends[index]

    def latest(self, t):
        """The last segment that is complete at stream time t."""
        loop, rest = divmod(t, self.loop)
        return int(loop) * len(self.durations) + bisect.bisect_right(self.ends, rest + 1e-9) - 1


class LiveStream:
    """A station that has been on air a while: the playlist lists the last WINDOW finished
    segments; segment j of the endless stream is prepared segment j % N, made to look new."""

    ext = "ts"
    content_type = "video/mp2t"
    version = 3
    map_uri = None

    def __init__(self, name, durations, started):
        self.name = name
        self.count = len(durations)
        self.timeline = Timeline(durations)
        self.started = started
        # At server start WINDOW segments are already finished, so the very first playlist is full.
        self.head_start = self.timeline.end(WINDOW - 1)
        self._cache = OrderedDict()
        self._cache_lock = threading.Lock()

    def latest(self):
        return self.timeline.latest(time.monotonic() - self.started + self.head_start)

    # Sequence numbers equal segment indices, except on /gap.
    def sequence(self, j):
        return j

    def index(self, sequence):
        return sequence

    def window(self):
        last = self.latest()
        return list(range(max(0, last - WINDOW + 1), last + 1))

    def playlist(self):
        segments = self.window()
        first = self.sequence(segments[0])
        lines = ["#EXTM3U", f"#EXT-X-VERSION:{self.version}", f"#EXT-X-TARGETDURATION:{TARGET_DURATION}",
                 f"#EXT-X-MEDIA-SEQUENCE:{first}"]
        if self.map_uri:
            lines.append(f'#EXT-X-MAP:URI="{self.map_uri}"')
        for j in segments:
            lines += [f"#EXTINF:{self.timeline.duration(j):.6f},", f"seg-{self.sequence(j)}.{self.ext}"]
        note = f"live playlist, sequence {first}..{self.sequence(segments[-1])}"
        return "\n".join(lines) + "\n", note

    def segment(self, sequence):
        """(bytes, note), or (None, why not) for a segment nobody may fetch now."""
        j = self.index(sequence)
        if j is None:
            return None, f"sequence {sequence} was skipped, it never existed"
        window = self.window()
        if j > window[-1]:
            return None, f"sequence {sequence} is not published yet (latest {self.sequence(window[-1])})"
        if j < window[0] - KEEP_AFTER_WINDOW:
            return None, f"sequence {sequence} has expired"
        loop, index = divmod(j, self.count)
        with self._cache_lock:
            body = self._cache.get(j)
        if body is None:
            body = self.build(index, loop, j)
            with self._cache_lock:
                self._cache[j] = body
                while len(self._cache) > 32:
                    self._cache.popitem(last=False)
        return body, f"sequence {sequence} = prepared segment {index}, loop {loop}"

    def build(self, index, loop, j):
        raise NotImplementedError


class TsStream(LiveStream):
    """ffmpeg-made TS segments (AAC or MP3 audio)."""

    def __init__(self, name, folder, started):
        self.patcher = TsLoopPatcher(name, read_numbered(folder, "seg-", ".ts"))
        super().__init__(name, self.patcher.durations, started)

    def build(self, index, loop, j):
        return self.patcher.build(index, loop)


class GapStream(TsStream):
    """Numbers jump: published segment j gets sequence 8*(j//5) + j%5 (for 5 and 3), so 3
    numbers are skipped after every 5. A playlist lists only the current block, as numbers in
    one playlist must follow each other; so on the reload after a block ends the media sequence
    jumps by 3 more than the segments that slid out. The audio itself runs on without a break."""

    def sequence(self, j):
        block, position = divmod(j, GAP_BLOCK)
        return block * (GAP_BLOCK + GAP_SKIP) + position

    def index(self, sequence):
        block, position = divmod(sequence, GAP_BLOCK + GAP_SKIP)
        return None if position >= GAP_BLOCK else block * GAP_BLOCK + position

    def window(self):
        last = self.latest()
        return list(range(max(0, last - WINDOW + 1, last - last % GAP_BLOCK), last + 1))


class Fmp4Stream(LiveStream):
    """ffmpeg-made fMP4 segments behind one init segment (EXT-X-MAP)."""

    ext = "m4s"
    content_type = "audio/mp4"
    version = 7
    map_uri = "init.mp4"

    def __init__(self, name, folder, started):
        with open(os.path.join(folder, "init.mp4"), "rb") as f:
            self.init = f.read()
        self.patcher = Fmp4LoopPatcher(name, self.init, read_numbered(folder, "seg-", ".m4s"))
        super().__init__(name, self.patcher.durations, started)

    def build(self, index, loop, j):
        return self.patcher.build(index, loop, j)


def cut_points(frames, name):
    """Frame index where each of LOOP_SEGMENTS segments starts, plus the end: every segment ends
    on the first frame boundary at or after a multiple of TARGET_DURATION, as ffmpeg cuts. The
    loop starts LEAD_IN_FRAMES in, past the encoder's start-up, so its seam is not a silence."""
    per_segment = Fraction(TARGET_DURATION * frames.rate, frames.samples)
    points = [LEAD_IN_FRAMES - (-i * per_segment.numerator // per_segment.denominator)
              for i in range(LOOP_SEGMENTS + 1)]
    if points[-1] > len(frames.spans):
        raise MediaError(f"{name}: {len(frames.spans)} frames are fewer than {LOOP_SEGMENTS} segments need")
    return points


class FrameLoop(LiveStream):
    """Segments cut here from an elementary stream, at whole frames."""

    def __init__(self, name, path, started):
        with open(path, "rb") as f:
            self.source = f.read()
        self.frames = audio_frames(self.source)
        self.points = cut_points(self.frames, name)
        self.loop_frames = self.points[-1] - self.points[0]
        durations = [self.frames.ticks(b - a) / 90000 for a, b in zip(self.points, self.points[1:])]
        super().__init__(name, durations, started)

    def frame_bytes(self, first, last):
        start = self.frames.spans[first][0]
        end = self.frames.spans[last - 1][0] + self.frames.spans[last - 1][1]
        return self.source[start:end]

    def pts(self, loop, frame):
        """90 kHz time of a source frame played in loop `loop`, exact however long the server runs."""
        return PTS_START + round(self.frames.ticks(loop * self.loop_frames + frame - self.points[0]))


class PackedStream(FrameLoop):
    """Packed audio: each segment is an ID3 tag (timestamp, artist, title) and then whole frames.
    The title changes every two segments."""

    def __init__(self, name, path, started, ext, content_type, artist):
        self.ext = ext
        self.content_type = content_type
        self.artist = artist
        super().__init__(name, path, started)

    def build(self, index, loop, j):
        first, last = self.points[index], self.points[index + 1]
        tag = id3v24([id3_timestamp(self.pts(loop, first)),
                      ("TPE1", id3_text(self.artist)),
                      ("TIT2", id3_text(f"Song {j // 2}"))])
        return tag + self.frame_bytes(first, last)


class TsId3Stream(FrameLoop):
    """TS segments written here: ADTS AAC plus a timed ID3 stream (stream type 0x15) that says
    the artist and title at the start of every segment; the title changes every two segments."""

    FRAMES_PER_PES = 4  # ~85 ms at 48 kHz, so the PCR carried with each comes well within 100 ms

    def __init__(self, name, path, started):
        super().__init__(name, path, started)
        # Continuity counters must run on across segments. How many packets a segment has depends
        # only on its prepared index, so one dry run of the loop gives every segment's start values.
        pids = (0, PMT_PID, AUDIO_PID, ID3_PID)
        self.loop_counts = dict.fromkeys(pids, 0)
        self.prefix_counts = []
        for index in range(self.count):
            self.prefix_counts.append(dict(self.loop_counts))
            for packet in self.packets(index, 0, index, dict.fromkeys(pids, 0)):
                self.loop_counts[((packet[1] & 0x1F) << 8) | packet[2]] += 1

    def build(self, index, loop, j):
        cc = {pid: (loop * self.loop_counts[pid] + start) % 16
              for pid, start in self.prefix_counts[index].items()}
        return b"".join(self.packets(index, loop, j, cc))

    def packets(self, index, loop, j, cc):
        """The TS packets of segment j; cc holds each PID's next continuity counter."""
        out = [psi_packet(0, pat_section(), cc[0]), psi_packet(PMT_PID, pmt_section(), cc[PMT_PID])]
        cc[0] = (cc[0] + 1) % 16
        cc[PMT_PID] = (cc[PMT_PID] + 1) % 16
        first, last = self.points[index], self.points[index + 1]
        audio = []
        for group in range(first, last, self.FRAMES_PER_PES):
            pts = self.pts(loop, group)
            # The PCR runs a little ahead of the PTS, as a muxer's buffering delay would put it.
            audio += pes_packets(AUDIO_PID, pes(0xC0, pts, self.frame_bytes(group, min(group + self.FRAMES_PER_PES, last))),
                                 cc, pcr=pts - 9000, random_access=(group == first))
        tag = id3v24([("TPE1", id3_text("TS Artist")), ("TIT2", id3_text(f"Tune {j // 2}"))])
        id3 = pes_packets(ID3_PID, pes(0xBD, self.pts(loop, first), tag), cc)
        assert len(id3) == 1, "the dry run's packet counts assume the tag fits one packet"
        # The first audio packet carries the PCR, so it leads; the title follows at once.
        return out + audio[:1] + id3 + audio[1:]


class VodStream:
    """The first segments of a TS variant as a finished (VOD) playlist."""

    def __init__(self, source, count):
        self.source = source
        self.count = min(count, source.count)

    def playlist(self):
        lines = ["#EXTM3U", "#EXT-X-VERSION:3", f"#EXT-X-TARGETDURATION:{TARGET_DURATION}",
                 "#EXT-X-PLAYLIST-TYPE:VOD", "#EXT-X-MEDIA-SEQUENCE:0"]
        for j in range(self.count):
            lines += [f"#EXTINF:{self.source.timeline.duration(j):.6f},", f"seg-{j}.ts"]
        lines.append("#EXT-X-ENDLIST")
        return "\n".join(lines) + "\n", f"VOD playlist, {self.count} segments"

    def segment(self, sequence):
        if not 0 <= sequence < self.count:
            return None, f"VOD has segments 0..{self.count - 1}"
        return self.source.build(sequence, 0, sequence), f"VOD segment {sequence}"


def read_numbered(folder, prefix, suffix):
    """seg-0.ts, seg-1.ts, ... in number order (not name order: seg-10 comes after seg-9)."""
    pattern = re.compile(re.escape(prefix) + r"(\d+)" + re.escape(suffix) + "$")
    numbered = sorted((int(m.group(1)), name) for name in os.listdir(folder)
                      if (m := pattern.match(name)))
    if not numbered or [n for n, _ in numbered] != list(range(len(numbered))):
        raise MediaError(f"{folder}: expected {prefix}0{suffix}, {prefix}1{suffix}, ...")
    out = []
    for _, name in numbered:
        with open(os.path.join(folder, name), "rb") as f:
            out.append(f.read())
    return out


# Variants of /ts/master.m3u8 in the order listed: a client that takes the first, the last or the
# highest BANDWIDTH gets it wrong. Only 128 is audio-only, within 320 kbit/s, and the best such.
VARIANTS = [
    ("64", 'BANDWIDTH=64000,CODECS="mp4a.40.2"'),
    ("128", 'BANDWIDTH=128000,CODECS="mp4a.40.2"'),
    ("500", 'BANDWIDTH=500000,CODECS="avc1.4d401e,mp4a.40.2",RESOLUTION=640x360'),
    ("400", 'BANDWIDTH=400000,CODECS="mp4a.40.2"'),
]


def master_playlist():
    lines = ["#EXTM3U", "#EXT-X-VERSION:3", "#EXT-X-INDEPENDENT-SEGMENTS"]
    for name, attributes in VARIANTS:
        lines += [f"#EXT-X-STREAM-INF:{attributes}", f"{name}/media.m3u8"]
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------- files as radio streams


_OGG_CRC = []
for _i in range(256):
    _c = _i << 24
    for _ in range(8):
        _c = ((_c << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if _c & 0x80000000 else (_c << 1) & 0xFFFFFFFF
    _OGG_CRC.append(_c)


def ogg_crc(data):
    crc = 0
    for byte in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ _OGG_CRC[(crc >> 24) ^ byte]
    return crc


def ogg_pages(data):
    pos = 0
    while pos < len(data):
        if data[pos:pos + 4] != b"OggS" or pos + 27 > len(data):
            raise MediaError(f"no Ogg page at byte {pos}")
        count = data[pos + 26]
        length = 27 + count + sum(data[pos + 27:pos + 27 + count])
        yield pos, length
        pos += length


class MediaFile:
    """A prepared file streamed as an endless station; its pace comes from its own length."""

    TYPES = {".aac": "audio/aac", ".mp3": "audio/mpeg", ".ogg": "audio/ogg", ".opus": "audio/ogg"}

    def __init__(self, path):
        self.name = os.path.basename(path)
        with open(path, "rb") as f:
            self.data = f.read()
        self.content_type = self.TYPES.get(os.path.splitext(path)[1], "application/octet-stream")
        self.ogg = self.data[:4] == b"OggS"
        if self.ogg:
            self.seconds = self._ogg_seconds()
        else:
            frames = audio_frames(self.data)
            self.seconds = float(frames.ticks(len(frames.spans)) / 90000)
        self.bytes_per_second = len(self.data) / self.seconds
        self._loops = OrderedDict()
        self._lock = threading.Lock()

    def _ogg_seconds(self):
        pages = list(ogg_pages(self.data))
        first, _ = pages[0]
        packet = self.data[first + 27 + self.data[first + 26]:]
        last, _ = pages[-1]
        granule = int.from_bytes(self.data[last + 6:last + 14], "little")
        if packet.startswith(b"\x01vorbis"):
            return granule / int.from_bytes(packet[12:16], "little")
        if packet.startswith(b"OpusHead"):
            return (granule - int.from_bytes(packet[10:12], "little")) / 48000
        raise MediaError(f"{self.name}: neither Vorbis nor Opus")

    def loop_bytes(self, loop):
        """The file for its loop-th time round. An Ogg file played again is a new link of a
        chained stream, and links must not share a serial number, so each loop gets its own."""
        if not self.ogg or loop == 0:
            return self.data
        with self._lock:
            cached = self._loops.get(loop)
        if cached is not None:
            return cached
        out = bytearray(self.data)
        for pos, length in ogg_pages(self.data):
            serial = (int.from_bytes(out[pos + 14:pos + 18], "little") + loop) & 0xFFFFFFFF
            out[pos + 14:pos + 18] = serial.to_bytes(4, "little")
            out[pos + 22:pos + 26] = b"\x00\x00\x00\x00"
            out[pos + 22:pos + 26] = ogg_crc(out[pos:pos + length]).to_bytes(4, "little")
        out = bytes(out)
        with self._lock:
            self._loops[loop] = out
            while len(self._loops) > 4:
                self._loops.popitem(last=False)
        return out


def icy_block(title):
    text = f"StreamTitle='{title}';".encode("utf-8")
    units = (len(text) + 15) // 16
    return bytes([units]) + text + b"\x00" * (units * 16 - len(text))


# ---------------------------------------------------------------- playlists that lead to streams


PLAYLIST_TYPES = {
    "pls": "audio/x-scpls",
    "m3u": "audio/x-mpegurl",
    "xspf": "application/xspf+xml",
    "asx": "video/x-ms-asf",
}


def make_list(kind, entries):
    if kind == "pls":
        lines = ["[playlist]", f"NumberOfEntries={len(entries)}"]
        for n, url in enumerate(entries, 1):
            lines += [f"File{n}={url}", f"Title{n}=Entry {n}", f"Length{n}=-1"]
        lines.append("Version=2")
        return "\n".join(lines) + "\n"
    if kind == "m3u":
        lines = ["#EXTM3U"]
        for n, url in enumerate(entries, 1):
            lines += [f"#EXTINF:-1,Entry {n}", url]
        return "\n".join(lines) + "\n"
    if kind == "xspf":
        tracks = "".join(f"    <track>\n      <location>{xml_escape(url)}</location>\n"
                         f"      <title>Entry {n}</title>\n    </track>\n" for n, url in enumerate(entries, 1))
        return ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<playlist version="1" xmlns="http://xspf.org/ns/0/">\n'
                f"  <title>Test list</title>\n  <trackList>\n{tracks}  </trackList>\n</playlist>\n")
    if kind == "asx":
        items = "".join(f'  <entry>\n    <title>Entry {n}</title>\n    <ref href="{xml_escape(url, {chr(34): "&quot;"})}"/>\n'
                        "  </entry>\n" for n, url in enumerate(entries, 1))
        return f'<asx version="3.0">\n  <title>Test list</title>\n{items}</asx>\n'
    raise ValueError(kind)


def raw_query_value(raw_query, name):
    """A query value still percent-encoded: entries are split on ',' before they are decoded,
    so an address may carry ',' (as %2C) and its own query."""
    for item in raw_query.split("&"):
        key, _, value = item.partition("=")
        if key == name:
            return value
    return None


# ---------------------------------------------------------------- HTTP


def chunked_body(body):
    """`body` in chunked transfer coding, as dynamic web servers send it: chunks of uneven sizes
    (upper- and lower-case hex), an extension on the first, a trailer field at the end."""
    out = bytearray()
    sizes = [1, 700, 4096, 333]
    pos = 0
    turn = 0
    while pos < len(body):
        size = min(sizes[turn % len(sizes)], len(body) - pos)
        head = f"{size:X}" if turn % 2 else f"{size:x}"
        if turn == 0:
            head += ";name=value"
        out += head.encode() + b"\r\n" + body[pos:pos + size] + b"\r\n"
        pos += size
        turn += 1
    out += b"0\r\nX-Trailer: done\r\n\r\n"
    return bytes(out)


def html_page(title, text):
    return (f"<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\"><title>{title}</title></head>\n"
            f"<body>\n<h1>{title}</h1>\n<p>{text}</p>\n</body>\n</html>\n").encode("utf-8")


class Reply:
    def __init__(self, status, content_type, body, note, headers=()):
        self.status = status
        self.content_type = content_type
        self.body = body
        self.note = note
        self.headers = list(headers)


class Media:
    """Everything loaded from the media folder."""

    def __init__(self, folder, started):
        def path(*names):
            return os.path.join(folder, *names)

        self.variants = {name: TsStream(f"ts/{name}", path("ts", name), started) for name, _ in VARIANTS}
        self.live = {
            "mp3ts": TsStream("mp3ts", path("mp3ts"), started),
            "gap": GapStream("gap", path("gap"), started),
            "fmp4": Fmp4Stream("fmp4", path("fmp4"), started),
            "packed": PackedStream("packed", path("packed", "source.aac"), started, "aac", "audio/aac",
                                   "Packed Artist"),
            "packed-mp3": PackedStream("packed-mp3", path("packed-mp3", "source.mp3"), started, "mp3",
                                       "audio/mpeg", "Packed MP3 Artist"),
            "tsid3": TsId3Stream("tsid3", path("tsid3", "source.aac"), started),
        }
        self.vod = VodStream(self.variants["128"], 3)
        self.files = {}
        for name in sorted(os.listdir(path("file"))):
            self.files[name] = MediaFile(path("file", name))

    def describe(self):
        for stream in list(self.variants.values()) + list(self.live.values()):
            durations = ", ".join(f"{d:.3f}" for d in stream.timeline.durations)
            log(f"{stream.name}: {stream.count} segments looped ({durations} s; loop {stream.timeline.loop:.3f} s)")
        for f in self.files.values():
            log(f"file/{f.name}: {len(f.data)} bytes, {f.seconds:.3f} s, paced at {f.bytes_per_second:.0f} B/s")


SEGMENT = re.compile(r"seg-(\d+)\.(ts|aac|mp3|m4s)$")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = SERVER_HEADER
    timeout = SOCKET_TIMEOUT

    def setup(self):
        super().setup()
        # Headers and body go out in separate writes; without this, Nagle's algorithm and the
        # client's delayed ACK add ~40 ms to every keep-alive request.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.cid = self.server.next_connection_id()
        self.count = 0

    def version_string(self):
        return SERVER_HEADER

    def log_request(self, code="-", size="-"):
        pass  # one line per request is written by dispatch(), with what was served

    def log_message(self, format, *args):
        log(f"#{self.cid} {format % args}")

    def do_GET(self):
        self.dispatch(head=False)

    def do_HEAD(self):
        self.dispatch(head=True)

    def dispatch(self, head):
        self.count += 1
        self.progress = ""  # what a stream had sent, for the log line when the client goes
        tag = f"#{self.cid}.{self.count} {self.command} {self.path} {self.request_version}"
        if self.headers.get("Icy-MetaData", "").strip() == "1":
            tag += " [Icy-MetaData: 1]"
        url = urlsplit(self.path)
        self.query = dict(parse_qsl(url.query, keep_blank_values=True))
        self.raw_query = url.query
        path = unquote(url.path)
        chunked = path.startswith("/chunked/")
        if chunked:
            path = path[len("/chunked"):]
        try:
            delay = max(0, min(MAX_DELAY_MS, int(self.query.get("delay_ms", "0"))))
        except ValueError:
            delay = 0
        if delay:
            time.sleep(delay / 1000)
        try:
            if path.startswith("/file/"):
                outcome = self.stream_file(path[len("/file/"):], head)
            else:
                outcome = self.send_reply(self.route(path), head, chunked)
        except (BrokenPipeError, ConnectionResetError, socket.timeout) as e:
            self.close_connection = True
            outcome = f"client gone ({type(e).__name__}){self.progress}"
        except Exception:  # a bug in one path must not take the server down
            self.close_connection = True
            outcome = "failed:\n" + traceback.format_exc()
        log(f"{tag} -> {outcome}{f' (after {delay} ms delay)' if delay else ''}")

    def send_reply(self, reply, head, chunked=False):
        body = reply.body.encode("utf-8") if isinstance(reply.body, str) else reply.body
        content_type = reply.content_type
        if reply.status == 200 and self.query.get("ctype"):
            content_type = self.query["ctype"]
        self.send_response(reply.status)
        self.send_header("Content-Type", content_type)
        if chunked and self.request_version != "HTTP/1.0":
            self.send_header("Transfer-Encoding", "chunked")
        else:
            chunked = False
            self.send_header("Content-Length", str(len(body)))
        for name, value in reply.headers:
            self.send_header(name, value)
        if self.close_connection:
            self.send_header("Connection", "close")
        elif self.request_version == "HTTP/1.0":
            self.send_header("Connection", "keep-alive")
        self.end_headers()
        if not head and chunked:
            self.wfile.write(chunked_body(body))
        elif not head:
            self.wfile.write(body)
        coding = " chunked" if chunked else ""
        return f"{reply.status} {content_type} {len(body)} bytes{coding}{' (HEAD)' if head else ''}: {reply.note}"

    def not_found(self, why):
        return Reply(404, "text/html; charset=utf-8", html_page("404 Not Found", why), why)

    def host(self):
        return self.headers.get("Host") or f"127.0.0.1:{self.server.server_address[1]}"

    def route(self, path):
        media = self.server.media
        steps = path.strip("/").split("/")
        no_cache = [("Cache-Control", "no-cache")]

        if path == "/ts/master.m3u8":
            return Reply(200, PLAYLIST_TYPE, master_playlist(), "master playlist", no_cache)
        if len(steps) == 3 and steps[0] == "ts" and steps[1] in media.variants:
            return self.hls(media.variants[steps[1]], steps[2], no_cache)
        if len(steps) == 2 and steps[0] in media.live:
            stream = media.live[steps[0]]
            if steps[1] == "init.mp4" and isinstance(stream, Fmp4Stream):
                return Reply(200, "audio/mp4", stream.init, "fMP4 init segment")
            return self.hls(stream, steps[1], no_cache)
        if len(steps) == 2 and steps[0] == "vod":
            return self.hls(media.vod, steps[1], no_cache)

        match = re.fullmatch(r"/list\.(pls|m3u|xspf|asx)", path)
        if match:
            entries = self.entries()
            return Reply(200, PLAYLIST_TYPES[match.group(1)], make_list(match.group(1), entries),
                         f"{match.group(1)} list of {len(entries)}: {', '.join(entries)}", no_cache)
        if path == "/nested.pls":
            return self.nested()
        if path == "/redirect":
            # To another server, perhaps across http and https: `to` is the whole address.
            target = unquote(raw_query_value(self.raw_query, "to") or "/file/tone.mp3")
            return Reply(302, "text/html; charset=utf-8", html_page("302 Found", f"See {target}"),
                         f"redirect to {target}", [("Location", target)])
        if path == "/relative.m3u":
            return Reply(200, PLAYLIST_TYPES["m3u"], "#EXTM3U\n#EXTINF:-1,Relative HLS\nts/128/media.m3u8\n",
                         "M3U with the relative entry ts/128/media.m3u8", no_cache)
        return self.not_found(f"Nothing at {path}. See README.md next to hls_server.py for the paths.")

    def hls(self, stream, leaf, no_cache):
        if leaf == "media.m3u8":
            text, note = stream.playlist()
            return Reply(200, PLAYLIST_TYPE, text, note, no_cache)
        match = SEGMENT.fullmatch(leaf)
        ext = getattr(stream, "ext", "ts")
        if not match or match.group(2) != ext:
            return self.not_found(f"No {leaf} here: this stream has media.m3u8 and seg-N.{ext}.")
        body, note = stream.segment(int(match.group(1)))
        if body is None:
            return self.not_found(note)
        return Reply(200, getattr(stream, "content_type", "video/mp2t"), body, note)

    def entries(self):
        raw = raw_query_value(self.raw_query, "entries")
        if raw:
            return [unquote(e) for e in raw.split(",") if e]
        return [f"http://{self.host()}/file/tone.mp3?loop=1"]

    def nested(self):
        try:
            depth = max(0, min(20, int(self.query.get("depth", "0"))))
        except ValueError:
            depth = 0
        if depth == 0:
            entries = self.entries()
            return Reply(200, PLAYLIST_TYPES["pls"], make_list("pls", entries),
                         f"nested.pls at depth 0: the real list ({', '.join(entries)})")
        # Everything but depth goes on unchanged, entries still encoded, ctype included.
        rest = [p for p in self.raw_query.split("&") if p and not p.startswith("depth=")]
        inner = f"http://{self.host()}/nested.pls?" + "&".join([f"depth={depth - 1}"] + rest)
        return Reply(200, PLAYLIST_TYPES["pls"], make_list("pls", [inner]), f"nested.pls -> {inner}")

    def stream_file(self, name, head):
        media_file = self.server.media.files.get(name)
        if media_file is None:
            known = ", ".join(self.server.media.files)
            return self.send_reply(self.not_found(f"No file {name!r}; there are: {known}."), head)
        loop = self.query.get("loop", "0") == "1"
        try:
            metaint = max(0, int(self.query.get("metaint", "0")))
        except ValueError:
            metaint = 0
        if self.headers.get("Icy-MetaData", "").strip() != "1":
            metaint = 0
        content_type = self.query.get("ctype") or media_file.content_type
        kbps = round(media_file.bytes_per_second * 8 / 1000)
        # Like Icecast: an HTTP/1.0 answer with no length, the stream ends when the server closes.
        lines = ["HTTP/1.0 200 OK", f"Content-Type: {content_type}", f"Server: {SERVER_HEADER}",
                 "Cache-Control: no-cache, no-store", "Connection: close", f"icy-br: {kbps}",
                 f"icy-name: File Station {name}", "icy-description: A test file played as a station",
                 "icy-genre: Test", "icy-pub: 0"]
        if metaint:
            lines.append(f"icy-metaint: {metaint}")
        self.close_connection = True
        self.wfile.write(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))
        what = f"200 {content_type} stream of {name}{' looped' if loop else ''}, metaint {metaint or 'off'}"
        if head:
            return what + " (HEAD)"
        title_block = icy_block(f"File Artist - {name}")
        left = metaint  # audio bytes until the next metadata block
        blocks = 0
        sent = 0
        started = time.monotonic()
        loops = 0
        while True:
            data = media_file.loop_bytes(loops)
            for pos in range(0, len(data), 4096):
                chunk = data[pos:pos + 4096]
                due = started + (sent + len(chunk) - FILE_BURST) / media_file.bytes_per_second
                wait = due - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
                out = bytearray()
                while chunk:
                    take = len(chunk) if not metaint else min(left, len(chunk))
                    out += chunk[:take]
                    chunk = chunk[take:]
                    sent += take
                    if metaint:
                        left -= take
                        if left == 0:
                            out += title_block if blocks == 0 else b"\x00"
                            blocks += 1
                            left = metaint
                self.wfile.write(out)
                self.progress = f" after {sent} audio bytes, {blocks} metadata blocks"
            loops += 1
            if not loop:
                return f"{what}: whole file sent, {sent} audio bytes, {blocks} metadata blocks"


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, address, media):
        super().__init__(address, Handler)
        self.media = media
        self._ids = 0
        self._ids_lock = threading.Lock()

    def next_connection_id(self):
        with self._ids_lock:
            self._ids += 1
            return self._ids

    def handle_error(self, request, client_address):
        log(f"connection from {client_address} failed:\n{traceback.format_exc()}")


def main():
    parser = argparse.ArgumentParser(description="HLS and playlist test server.")
    parser.add_argument("--media", required=True, help="folder made by make_hls.sh")
    parser.add_argument("--port", type=int, default=0, help="TCP port on 127.0.0.1 (0 = any free port)")
    parser.add_argument("--certfile", help="PEM with certificate and key: serve HTTPS instead of HTTP")
    args = parser.parse_args()

    started = time.monotonic()
    try:
        media = Media(args.media, started)
    except (MediaError, OSError) as e:
        sys.stderr.write(f"hls_server.py: {args.media} is not usable media ({e}); make it with make_hls.sh\n")
        sys.exit(1)

    exit_on_signals()

    server = Server(("127.0.0.1", args.port), media)
    if args.certfile:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.certfile)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    port = server.server_address[1]
    log(f"serving {args.media} on 127.0.0.1:{port}")
    media.describe()
    threading.Thread(target=server.serve_forever, daemon=True, name="accept").start()

    announce_and_wait(port)


if __name__ == "__main__":
    main()
