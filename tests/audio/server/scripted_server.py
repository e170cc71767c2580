#!/usr/bin/python3
"""Scripted HTTP/ICY server for the audio library's tests.

A real Icecast only ever behaves well; the library has to survive the servers
that do not. Each URL path here is one scripted behaviour (see README.md).

Usage: scripted_server.py --mp3 FILE [--port 0]

Prints exactly one line "PORT <n>" on stdout, then serves until stdin is
closed or SIGTERM arrives. Everything else goes to stderr.
"""

import argparse
import socket
import threading
import time
import traceback
from urllib.parse import parse_qsl, unquote, urlencode, urlsplit

from child_process import announce_and_wait, exit_on_signals, log

SERVER_HEADER = "scripted-icy/1.0"
STATION_NAME = "Scripted Station"
DEFAULT_TITLE = "Artist - Song"
DEFAULT_METAINT = 8192
DEFAULT_BURST = 65536
DEFAULT_KBPS = 128

# A client that stops reading must not pin a thread for ever.
WRITE_TIMEOUT = 60.0
# Scenarios that wait for the client to leave give up after this long anyway.
HOLD_LIMIT = 600.0
REQUEST_TIMEOUT = 10.0
REQUEST_LIMIT = 64 * 1024
HEADER_FLOOD_LIMIT = 10 * 1024 * 1024
GARBAGE_SIZE = 256 * 1024
GARBAGE_SEED = 0x2545F491
ID3_TAG_SIZE = 2048
MAX_META_TEXT = 255 * 16



class ClientGone(Exception):
    pass


# ---------------------------------------------------------------- payloads


def xorshift_bytes(count, seed=GARBAGE_SEED):
    """xorshift32 (13, 17, 5), each state written as 4 little-endian bytes.

    Chosen over the random module so a C++ test can regenerate it in five lines.
    """
    x = seed & 0xFFFFFFFF
    out = bytearray()
    for _ in range((count + 3) // 4):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out += x.to_bytes(4, "little")
    return bytes(out[:count])


def _syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def _id3v23_frame(frame_id, content):
    return frame_id.encode("ascii") + len(content).to_bytes(4, "big") + b"\x00\x00" + content


def build_id3_tag():
    frames = b"".join([
        _id3v23_frame("TIT2", b"\x00Scripted Tag Title"),
        _id3v23_frame("TPE1", b"\x00Scripted Tag Artist"),
        _id3v23_frame("TALB", b"\x00Scripted Tag Album"),
        _id3v23_frame("TYER", b"\x002024"),
        _id3v23_frame("TCON", b"\x00Test"),
        _id3v23_frame("COMM", b"\x00eng\x00" + b"Padding and frames before the first MP3 frame. " * 8),
    ])
    body_size = ID3_TAG_SIZE - 10
    assert len(frames) < body_size
    body = frames + b"\x00" * (body_size - len(frames))
    return b"ID3\x03\x00\x00" + _syncsafe(body_size) + body


ID3_TAG = build_id3_tag()


def html_page(title, paragraphs):
    parts = [
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n",
        f"<title>{title}</title>\n</head>\n<body>\n<h1>{title}</h1>\n",
    ]
    parts += [f"<p>{p}</p>\n" for p in paragraphs]
    parts.append("</body>\n</html>\n")
    return "".join(parts).encode("utf-8")


STATION_PAGE = html_page(
    "Scripted Station - Listen Live",
    [f"Paragraph {i}: this is a web page about the station, not the stream itself. "
     "A player that is handed this page must notice that it is not audio and say so "
     "instead of feeding markup to the decoder." for i in range(1, 16)],
)


def error_page(code, reason, detail):
    return html_page(f"{code} {reason}", [detail])


# ---------------------------------------------------------------- MP3 frames

_BITRATES = {
    (3, 3): [0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448],
    (3, 2): [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384],
    (3, 1): [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
    (2, 3): [0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256],
    (2, 2): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
    (2, 1): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
}
_SAMPLE_RATES = {3: [44100, 48000, 32000], 2: [22050, 24000, 16000], 0: [11025, 12000, 8000]}


def mp3_frame_length(data, pos):
    if pos + 4 > len(data) or data[pos] != 0xFF or (data[pos + 1] & 0xE0) != 0xE0:
        return None
    version = (data[pos + 1] >> 3) & 3
    layer = (data[pos + 1] >> 1) & 3
    br_index = (data[pos + 2] >> 4) & 0xF
    sr_index = (data[pos + 2] >> 2) & 3
    padding = (data[pos + 2] >> 1) & 1
    if version == 1 or layer == 0 or br_index in (0, 15) or sr_index == 3:
        return None
    bitrate = _BITRATES[(3 if version == 3 else 2, layer)][br_index] * 1000
    rate = _SAMPLE_RATES[version][sr_index]
    if layer == 3:
        return (12 * bitrate // rate + padding) * 4
    if layer == 1 and version != 3:
        return 72 * bitrate // rate + padding
    return 144 * bitrate // rate + padding


def mp3_frame_starts(data):
    """Offsets of the consecutive MPEG audio frames in data (after any ID3v2 tag)."""
    pos = 0
    if data[:3] == b"ID3" and len(data) >= 10:
        size = (data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]
        pos = 10 + size + (10 if data[5] & 0x10 else 0)
    while pos + 4 <= len(data):
        n = mp3_frame_length(data, pos)
        # Two frames in a row, so a stray 0xFFE in the tag is not taken for a sync.
        if n and mp3_frame_length(data, pos + n) is not None:
            break
        pos += 1
    starts = []
    while pos + 4 <= len(data):
        n = mp3_frame_length(data, pos)
        if not n:
            break
        starts.append(pos)
        pos += n
    return starts


def describe_cut(data, offset):
    """Where offset falls in the looped file, in frame terms, for the log."""
    if not data:
        return "empty file"
    starts = mp3_frame_starts(data)
    if not starts:
        return "file has no MP3 frames"
    pos = offset % len(data)
    if pos in starts:
        return f"WARNING: offset {offset} is exactly on a frame boundary of this file"
    before = [s for s in starts if s < pos]
    if not before:
        return f"offset {offset} is before the first frame"
    start = before[-1]
    return f"offset {offset} is {pos - start} bytes into the frame at {start} " \
           f"({mp3_frame_length(data, start)} bytes long)"


# ---------------------------------------------------------------- metadata


EMPTY_BLOCK = b"\x00"


def meta_block(text, length_units=None):
    units = (len(text) + 15) // 16 if length_units is None else length_units
    if units > 255 or units * 16 < len(text):
        raise ValueError("metadata text does not fit")
    return bytes([units]) + text + b"\x00" * (units * 16 - len(text))


def stream_title_text(title):
    raw = title.encode("utf-8")
    room = MAX_META_TEXT - len(b"StreamTitle='';")
    if len(raw) > room:
        raw = raw[:room].decode("utf-8", "ignore").encode("utf-8")
    return b"StreamTitle='" + raw + b"';"


def title_block(title):
    return meta_block(stream_title_text(title))


_MAX_FILLER = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"


def max_title(n):
    """Title of block n (from 1) of /meta-max: 4000 ASCII characters."""
    head = f"Max {n} "
    body_len = 4000 - len(head)
    filler = (_MAX_FILLER * (body_len // len(_MAX_FILLER) + 1))[:body_len]
    return head + filler


# ---------------------------------------------------------------- plumbing


class Request:
    def __init__(self, method, target, version, headers):
        self.method = method
        self.target = target
        self.version = version
        self.headers = headers
        parts = urlsplit(target)
        self.path = unquote(parts.path) or "/"
        self.raw_query = parts.query
        self.query = dict(parse_qsl(parts.query, keep_blank_values=True))
        self.want_meta = any(
            name.strip().lower() == "icy-metadata" and value.strip() == "1" for name, value in headers
        )

    def q_int(self, name, default, lo, hi):
        try:
            value = int(self.query[name])
        except (KeyError, ValueError):
            return default
        return max(lo, min(hi, value))

    def q_float(self, name, default, lo, hi):
        try:
            value = float(self.query[name])
        except (KeyError, ValueError):
            return default
        if value != value:
            return default
        return max(lo, min(hi, value))

    def q_str(self, name, default):
        value = self.query.get(name)
        return default if value is None or value == "" else value


class Conn:
    def __init__(self, sock, cid, server):
        self.sock = sock
        self.cid = cid
        self.server = server
        self.wire_bytes = 0

    def send(self, data):
        if not data:
            return
        try:
            self.sock.sendall(data)
        except OSError as e:
            raise ClientGone(f"{type(e).__name__}: {e}") from None
        self.wire_bytes += len(data)

    def log(self, message):
        log(f"#{self.cid} {message}")

    def hold(self):
        """Keep the connection open, saying nothing, until the client goes."""
        deadline = time.monotonic() + HOLD_LIMIT
        self.sock.settimeout(0.5)
        while time.monotonic() < deadline:
            try:
                data = self.sock.recv(4096)
            except socket.timeout:
                continue
            except OSError as e:
                return f"client went ({type(e).__name__})"
            if not data:
                return "client closed"
        return f"hold limit of {HOLD_LIMIT:.0f} s reached"


class Audio:
    """prefix followed by the file repeated for ever, read front to back."""

    def __init__(self, data, prefix=b""):
        self.data = data
        self.prefix = prefix
        self.pos = 0

    def take(self, n):
        out = bytearray()
        while len(out) < n:
            want = n - len(out)
            if self.pos < len(self.prefix):
                chunk = self.prefix[self.pos:self.pos + want]
            else:
                at = (self.pos - len(self.prefix)) % len(self.data)
                chunk = self.data[at:at + want]
            out += chunk
            self.pos += len(chunk)
        return bytes(out)


class IcyWriter:
    """Interleaves metadata blocks: one after every metaint-th audio byte, the last one included."""

    def __init__(self, conn, metaint, block_for, split_delay=None):
        self.conn = conn
        self.metaint = metaint
        self.block_for = block_for
        self.split_delay = split_delay
        self.since_block = 0
        self.blocks = 0
        self.audio_bytes = 0

    def audio(self, data):
        if not self.metaint:
            self.conn.send(data)
            self.audio_bytes += len(data)
            return
        out = bytearray()
        i = 0
        while i < len(data):
            n = min(len(data) - i, self.metaint - self.since_block)
            out += data[i:i + n]
            i += n
            self.since_block += n
            if self.since_block == self.metaint:
                block = self.block_for(self.blocks)
                self.blocks += 1
                self.since_block = 0
                if self.split_delay is None:
                    out += block
                else:
                    self.conn.send(bytes(out))
                    out = bytearray()
                    for b in block:
                        self.conn.send(bytes([b]))
                        time.sleep(self.split_delay)
        self.conn.send(bytes(out))
        self.audio_bytes += len(data)


def send_paced(writer, audio, total, burst, bytes_per_second):
    """burst bytes at once, then the rest at bytes_per_second, the way a live source drips."""
    sent = 0
    first = min(total, burst)
    while sent < first:
        n = min(16384, first - sent)
        writer.audio(audio.take(n))
        sent += n
    t0 = time.monotonic()
    tick = max(1, int(bytes_per_second * 0.05))
    while sent < total:
        target = min(total, sent + tick)
        wait = (target - burst) / bytes_per_second - (time.monotonic() - t0)
        if wait > 0:
            time.sleep(wait)
        allowed = min(total, burst + int(bytes_per_second * (time.monotonic() - t0)))
        n = max(allowed, target) - sent
        writer.audio(audio.take(n))
        sent += n


def head(status_line, headers, separator=": "):
    lines = [status_line] + [f"{name}{separator}{value}" for name, value in headers]
    return ("\r\n".join(lines) + "\r\n\r\n").encode("utf-8")


# ---------------------------------------------------------------- scenarios


class Scenarios:
    def __init__(self, mp3, port):
        self.mp3 = mp3
        self.port = port
        self._garbage = None
        self._garbage_lock = threading.Lock()
        self._flaky_lock = threading.Lock()
        self._flaky_counts = {}
        self.table = {
            "/ok": self.ok,
            "/icy": self.icy,
            "/icy404": self.icy404,
            "/404": self.not_found,
            "/500": self.server_error,
            "/html": self.html,
            "/html-as-audio": self.html_as_audio,
            "/garbage": self.garbage,
            "/stall": self.stall,
            "/silent": self.silent,
            "/close-mid-frame": self.close_mid_frame,
            "/close-mid-meta": self.close_mid_meta,
            "/meta-split": self.meta_split,
            "/meta-max": self.meta_max,
            "/meta-zero": self.meta_zero,
            "/metaint1": self.metaint1,
            "/repeat": self.repeat,
            "/redirect": self.redirect,
            "/redirect-loop": self.redirect_loop,
            "/redirect-abs": self.redirect_abs,
            "/redirect-chain": self.redirect_chain,
            "/header-flood": self.header_flood,
            "/id3": self.id3,
            "/id3-tag": self.id3_tag,
            "/no-metaint": self.no_metaint,
            "/flaky": self.flaky,
        }

    def garbage_bytes(self):
        with self._garbage_lock:
            if self._garbage is None:
                self._garbage = xorshift_bytes(GARBAGE_SIZE)
            return self._garbage

    # -- helpers

    def stream_headers(self, req, kbps, metaint):
        headers = [
            ("Content-Type", "audio/mpeg"),
            ("Server", SERVER_HEADER),
            ("Cache-Control", "no-cache, no-store"),
            ("Pragma", "no-cache"),
            ("icy-br", str(kbps)),
            ("icy-name", STATION_NAME),
            ("icy-description", "Scripted test stream"),
            ("icy-genre", "Test"),
            ("icy-url", f"http://127.0.0.1:{self.port}/"),
            ("icy-pub", "0"),
        ]
        if metaint and req.want_meta:
            headers.append(("icy-metaint", str(metaint)))
        return headers

    def stream_params(self, req):
        kbps = req.q_int("kbps", DEFAULT_KBPS, 1, 100000)
        return {
            "kbps": kbps,
            "rate": kbps * 125,
            "metaint": req.q_int("metaint", DEFAULT_METAINT, 1, 1 << 20),
            "burst": req.q_int("burst", DEFAULT_BURST, 0, 1 << 30),
            "title": req.q_str("title", DEFAULT_TITLE),
            "change": req.q_int("change", 0, 0, 1 << 30),
        }

    @staticmethod
    def ok_blocks(title, change):
        first = title_block(title)

        def block_for(k):
            if k == 0:
                return first
            if change and k % change == 0:
                return title_block(f"Title {k // change}")
            return EMPTY_BLOCK
        return block_for

    def writer(self, conn, req, metaint, block_for, split_delay=None):
        return IcyWriter(conn, metaint if req.want_meta else None, block_for, split_delay)

    def plain_response(self, conn, status_line, content_type, body, extra=()):
        headers = [("Content-Type", content_type), ("Content-Length", str(len(body))),
                   ("Server", SERVER_HEADER), ("Connection", "close"), *extra]
        conn.send(head(status_line, headers) + body)

    # -- streams

    def _ok_like(self, conn, req, status_line, separator, prefix=b"", use_metaint=True):
        p = self.stream_params(req)
        seconds = req.q_float("seconds", 30.0, 0.0, 86400.0)
        total = p["burst"] + int(seconds * p["rate"])
        metaint = p["metaint"] if use_metaint else None
        headers = self.stream_headers(req, p["kbps"], metaint)
        if separator != ": ":
            headers = [(n.lower(), v) for n, v in headers]
        conn.send(head(status_line, headers, separator))
        w = self.writer(conn, req, metaint, self.ok_blocks(p["title"], p["change"]))
        send_paced(w, Audio(self.mp3, prefix), total, p["burst"], p["rate"])
        return f"sent {w.audio_bytes} audio bytes, {w.blocks} metadata blocks"

    def ok(self, conn, req):
        return self._ok_like(conn, req, "HTTP/1.0 200 OK", ": ")

    def icy(self, conn, req):
        # Old servers wrote "name:value" with no space and lower-case names.
        return self._ok_like(conn, req, "ICY 200 OK", ":")

    def id3(self, conn, req):
        return self._ok_like(conn, req, "HTTP/1.0 200 OK", ": ", prefix=ID3_TAG)

    def no_metaint(self, conn, req):
        return self._ok_like(conn, req, "HTTP/1.0 200 OK", ": ", use_metaint=False)

    def flaky(self, conn, req):
        """A station that drops its listeners and comes back.

        Connections to one key run through a plan: `drops` times a stream of `seconds` that
        then closes (mode=close) or goes quiet (mode=stall), each followed by `down` refused
        connects (503), and after that a stream of `after` seconds.
        """
        key = req.q_str("key", "default")
        drops = req.q_int("drops", 1, 0, 1000)
        down = req.q_int("down", 0, 0, 1000)
        with self._flaky_lock:
            n = self._flaky_counts.get(key, 0)
            self._flaky_counts[key] = n + 1
        cycle = 1 + down
        if n < drops * cycle and n % cycle != 0:
            self.plain_response(conn, "HTTP/1.0 503 Service Unavailable", "text/html",
                                error_page(503, "Service Unavailable", "The source is away."))
            return f"connection {n + 1}: refused"
        last = n >= drops * cycle
        p = self.stream_params(req)
        seconds = req.q_float("after" if last else "seconds", 30.0 if last else 2.0, 0.0, 86400.0)
        conn.send(head("HTTP/1.0 200 OK", self.stream_headers(req, p["kbps"], p["metaint"])))
        w = self.writer(conn, req, p["metaint"], self.ok_blocks(p["title"], p["change"]))
        audio = Audio(self.mp3)
        send_paced(w, audio, p["burst"] + int(seconds * p["rate"]), p["burst"], p["rate"])
        if not last and req.q_str("mode", "close") == "stall":
            conn.log(f"connection {n + 1}: stalling after {w.audio_bytes} audio bytes")
            return conn.hold()
        return f"connection {n + 1}: sent {w.audio_bytes} audio bytes, then closed"

    def id3_tag(self, conn, req):
        self.plain_response(conn, "HTTP/1.0 200 OK", "application/octet-stream", ID3_TAG)
        return "sent the ID3 tag"

    def stall(self, conn, req):
        p = self.stream_params(req)
        conn.send(head("HTTP/1.0 200 OK", self.stream_headers(req, p["kbps"], p["metaint"])))
        w = self.writer(conn, req, p["metaint"], self.ok_blocks(p["title"], p["change"]))
        w.audio(Audio(self.mp3).take(p["burst"]))
        conn.log(f"stalling after {w.audio_bytes} audio bytes, {w.blocks} blocks")
        return conn.hold()

    def silent(self, conn, req):
        return conn.hold()

    def close_mid_frame(self, conn, req):
        p = self.stream_params(req)
        count = req.q_int("bytes", 20000, 0, 1 << 30)
        conn.send(head("HTTP/1.0 200 OK", self.stream_headers(req, p["kbps"], DEFAULT_METAINT)))
        w = self.writer(conn, req, DEFAULT_METAINT, self.ok_blocks(p["title"], 0))
        w.audio(Audio(self.mp3).take(count))
        return f"sent {count} audio bytes; {describe_cut(self.mp3, count)}"

    def close_mid_meta(self, conn, req):
        p = self.stream_params(req)
        text = stream_title_text("This title is cut short by the server")
        cut = bytes([10]) + text.ljust(160, b"\x00")[:30]
        conn.send(head("HTTP/1.0 200 OK", self.stream_headers(req, p["kbps"], DEFAULT_METAINT)))
        w = self.writer(conn, req, DEFAULT_METAINT, lambda k: cut)
        w.audio(Audio(self.mp3).take(DEFAULT_METAINT))
        return "sent 8192 audio bytes and 31 of the 161 metadata bytes"

    def _blocks_stream(self, conn, req, default_blocks, block_for, split_delay=None):
        p = self.stream_params(req)
        blocks = req.q_int("blocks", default_blocks, 0, 1 << 20)
        conn.send(head("HTTP/1.0 200 OK", self.stream_headers(req, p["kbps"], p["metaint"])))
        w = self.writer(conn, req, p["metaint"], block_for, split_delay)
        send_paced(w, Audio(self.mp3), blocks * p["metaint"], p["burst"], p["rate"])
        return f"sent {w.audio_bytes} audio bytes, {w.blocks} metadata blocks"

    def meta_split(self, conn, req):
        delay = req.q_int("delay_ms", 4, 0, 1000) / 1000.0
        return self._blocks_stream(conn, req, 6, lambda k: title_block(f"Split {k + 1}"), split_delay=delay)

    def meta_max(self, conn, req):
        return self._blocks_stream(
            conn, req, 4, lambda k: meta_block(stream_title_text(max_title(k + 1)), 255))

    def meta_zero(self, conn, req):
        return self._blocks_stream(conn, req, 8, lambda k: EMPTY_BLOCK)

    def repeat(self, conn, req):
        block = title_block(req.q_str("title", DEFAULT_TITLE))
        return self._blocks_stream(conn, req, 6, lambda k: block)

    def metaint1(self, conn, req):
        p = self.stream_params(req)
        count = req.q_int("bytes", 40000, 0, 1 << 26)
        conn.send(head("HTTP/1.0 200 OK", self.stream_headers(req, p["kbps"], 1)))
        w = self.writer(conn, req, 1, lambda k: title_block(f"Block {k}") if k % 5000 == 0 else EMPTY_BLOCK)
        audio = Audio(self.mp3)
        left = count
        while left:
            n = min(4096, left)
            w.audio(audio.take(n))
            left -= n
        return f"sent {w.audio_bytes} audio bytes, {w.blocks} metadata blocks"

    # -- errors and non-audio

    def icy404(self, conn, req):
        conn.send(head("ICY 404 Resource Not Available",
                       [("icy-notice1", "<BR>This stream is not available<BR>"),
                        ("icy-notice2", "Scripted ICY server<BR>")], ":"))
        return "sent ICY 404"

    def not_found(self, conn, req, detail=None):
        body = error_page(404, "Not Found", detail or f"The resource {req.path} was not found.")
        self.plain_response(conn, "HTTP/1.0 404 Not Found", "text/html; charset=utf-8", body)
        return "sent 404"

    def server_error(self, conn, req):
        body = error_page(500, "Internal Server Error", "The source for this mount failed.")
        self.plain_response(conn, "HTTP/1.0 500 Internal Server Error", "text/html; charset=utf-8", body)
        return "sent 500"

    def html(self, conn, req):
        self.plain_response(conn, "HTTP/1.0 200 OK", "text/html; charset=utf-8", STATION_PAGE)
        return f"sent {len(STATION_PAGE)} bytes of HTML"

    def html_as_audio(self, conn, req):
        conn.send(head("HTTP/1.0 200 OK", [("Content-Type", "audio/mpeg"), ("Server", SERVER_HEADER),
                                           ("icy-name", STATION_NAME)]) + STATION_PAGE)
        return f"sent {len(STATION_PAGE)} bytes of HTML as audio/mpeg"

    def garbage(self, conn, req):
        data = self.garbage_bytes()
        conn.send(head("HTTP/1.0 200 OK", [("Content-Type", "audio/mpeg"), ("Server", SERVER_HEADER),
                                           ("icy-name", STATION_NAME), ("icy-br", "128")]))
        for i in range(0, len(data), 16384):
            conn.send(data[i:i + 16384])
        return f"sent {len(data)} garbage bytes"

    def header_flood(self, conn, req):
        sent = head("HTTP/1.0 200 OK", [("Content-Type", "audio/mpeg"), ("icy-name", STATION_NAME)])[:-2]
        conn.send(sent)
        total = len(sent)
        n = 0
        padding = "f" * 64
        while True:
            chunk = bytearray()
            while len(chunk) < 65536:
                line = f"X-Flood-{n}: {padding}\r\n".encode("ascii")
                if total + len(chunk) + len(line) > HEADER_FLOOD_LIMIT:
                    break
                chunk += line
                n += 1
            if not chunk:
                return f"flood limit reached after {total} bytes, {n} lines"
            conn.send(bytes(chunk))
            total += len(chunk)

    # -- redirects

    def _redirect(self, conn, location):
        body = html_page("302 Found", [f"The stream moved to <a href=\"{location}\">{location}</a>."])
        conn.send(head("HTTP/1.1 302 Found", [("Location", location), ("Content-Type", "text/html"),
                                              ("Content-Length", str(len(body))), ("Server", SERVER_HEADER),
                                              ("Connection", "close")]) + body)
        return f"redirected to {location}"

    @staticmethod
    def _with_query(path, raw_query):
        return f"{path}?{raw_query}" if raw_query else path

    def redirect(self, conn, req):
        return self._redirect(conn, self._with_query("/ok", req.raw_query))

    def redirect_loop(self, conn, req):
        return self._redirect(conn, self._with_query("/redirect-loop", req.raw_query))

    def redirect_abs(self, conn, req):
        return self._redirect(conn, self._with_query(f"http://127.0.0.1:{self.port}/ok", req.raw_query))

    def redirect_chain(self, conn, req):
        hops = req.q_int("hops", 5, 1, 1000)
        rest = [(k, v) for k, v in parse_qsl(req.raw_query, keep_blank_values=True) if k != "hops"]
        if hops <= 1:
            return self._redirect(conn, self._with_query("/ok", urlencode(rest)))
        return self._redirect(conn, "/redirect-chain?" + urlencode([("hops", hops - 1)] + rest))


# ---------------------------------------------------------------- server


def read_request(sock):
    sock.settimeout(REQUEST_TIMEOUT)
    buf = b""
    while True:
        end = buf.find(b"\r\n\r\n")
        alt = buf.find(b"\n\n")
        if end >= 0 or alt >= 0:
            break
        if len(buf) > REQUEST_LIMIT:
            return None, "request headers too long"
        try:
            chunk = sock.recv(4096)
        except socket.timeout:
            return None, "timed out waiting for the request"
        except OSError as e:
            return None, f"read failed: {e}"
        if not chunk:
            return None, "client closed before sending a request"
        buf += chunk
    cut = min(x for x in (end, alt) if x >= 0)
    lines = buf[:cut].decode("latin-1").replace("\r\n", "\n").split("\n")
    parts = lines[0].split()
    if len(parts) < 2:
        return None, f"bad request line {lines[0]!r}"
    headers = []
    for line in lines[1:]:
        if ":" in line:
            name, value = line.split(":", 1)
            headers.append((name.strip(), value.strip()))
    return Request(parts[0], parts[1], parts[2] if len(parts) > 2 else "", headers), None


def handle(sock, cid, scenarios):
    conn = Conn(sock, cid, scenarios)
    outcome = "?"
    try:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        req, problem = read_request(sock)
        if req is None:
            conn.log(problem)
            return
        conn.log(f"{req.method} {req.target} {req.version} (metadata {'yes' if req.want_meta else 'no'})")
        for name, value in req.headers:
            conn.log(f"  > {name}: {value}")
        sock.settimeout(WRITE_TIMEOUT)
        if req.method != "GET":
            body = error_page(405, "Method Not Allowed", "Only GET is served here.")
            scenarios.plain_response(conn, "HTTP/1.0 405 Method Not Allowed", "text/html", body,
                                     [("Allow", "GET")])
            outcome = "sent 405"
            return
        action = scenarios.table.get(req.path)
        if action is None:
            known = ", ".join(sorted(scenarios.table))
            outcome = scenarios.not_found(conn, req, f"No scenario {req.path}. Known: {known}.")
        else:
            outcome = action(conn, req)
    except ClientGone as e:
        outcome = f"client gone ({e})"
    except Exception:  # a broken scenario must not take the server down
        outcome = "scenario raised:\n" + traceback.format_exc()
    finally:
        try:
            sock.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        sock.close()
        conn.log(f"end: {outcome}; {conn.wire_bytes} bytes on the wire")


def accept_loop(listener, scenarios):
    cid = 0
    while True:
        try:
            sock, addr = listener.accept()
        except OSError as e:
            log(f"accept failed: {e}")
            time.sleep(0.1)
            continue
        cid += 1
        log(f"#{cid} connection from {addr[0]}:{addr[1]}")
        threading.Thread(target=handle, args=(sock, cid, scenarios), daemon=True,
                         name=f"conn-{cid}").start()


def main():
    parser = argparse.ArgumentParser(description="Scripted HTTP/ICY stream server for tests.")
    parser.add_argument("--mp3", required=True, help="audio payload, served looped")
    parser.add_argument("--port", type=int, default=0, help="TCP port on 127.0.0.1 (0 = any free port)")
    args = parser.parse_args()

    with open(args.mp3, "rb") as f:
        mp3 = f.read()
    if not mp3:
        parser.error(f"{args.mp3} is empty")

    exit_on_signals()

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", args.port))
    listener.listen(64)
    port = listener.getsockname()[1]

    scenarios = Scenarios(mp3, port)
    cut = describe_cut(mp3, 20000)
    log(f"serving {args.mp3} ({len(mp3)} bytes, {len(mp3_frame_starts(mp3))} MP3 frames; "
        f"/close-mid-frame: {cut}) on 127.0.0.1:{port}")
    threading.Thread(target=accept_loop, args=(listener, scenarios), daemon=True, name="accept").start()

    announce_and_wait(port)


if __name__ == "__main__":
    main()
