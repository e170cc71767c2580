#!/usr/bin/python3
"""Self-check for scripted_server.py: every scenario, from a raw-socket client.

The C++ tests trust the server's documented answers; this makes sure they hold.
All scenarios run at once against one server, which also shows it serves
connections concurrently. Prints one PASS/FAIL line per scenario; exit status 0
only if all pass. Finishes in well under 60 s.
"""

import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "scripted_server.py")
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable

sys.dont_write_bytecode = True  # leave no __pycache__ in the source tree
sys.path.insert(0, HERE)
import scripted_server as ss  # noqa: E402  (only for the MP3 frame walker and the /meta-max titles)

RATE_128 = 128 * 125
BURST = 65536


# ---------------------------------------------------------------- fixtures


def make_mp3(directory):
    """A few seconds of real MP3, shorter than the burst so looping is exercised."""
    out = os.path.join(directory, "tone.mp3")
    wav = os.path.join(directory, "tone.wav")
    try:
        if shutil.which("sox") and shutil.which("lame"):
            subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav,
                            "synth", "3", "sine", "440", "sine", "660"], check=True, timeout=20)
            subprocess.run(["lame", "--quiet", "-b", "128", wav, out], check=True, timeout=20)
            return out, "sox+lame"
        if shutil.which("ffmpeg"):
            subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                            "sine=frequency=440:duration=3", "-b:a", "128k", out], check=True, timeout=20)
            return out, "ffmpeg"
    except (OSError, subprocess.SubprocessError) as e:
        print(f"note: could not encode an MP3 ({e}); using plain bytes", file=sys.stderr)
    with open(out, "wb") as f:
        f.write(bytes((i * 7 + i // 251) & 0xFF for i in range(50000)))
    return out, "plain bytes"


def start_server(mp3, log_path):
    log = open(log_path, "ab")
    proc = subprocess.Popen([PYTHON, SERVER, "--mp3", mp3, "--port", "0"],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log)
    log.close()
    ready, _, _ = select.select([proc.stdout], [], [], 10)
    line = proc.stdout.readline().decode() if ready else ""
    m = re.fullmatch(r"PORT (\d+)\n", line)
    if not m:
        proc.kill()
        raise SystemExit(f"server did not announce its port (got {line!r}); see {log_path}")
    return proc, int(m.group(1))


# ---------------------------------------------------------------- client


class Reply:
    def __init__(self):
        self.status = ""
        self.headers = {}
        self.header_lines = []
        self.header_complete = False
        self.raw = b""
        self.body = b""
        self.eof = False
        self.reads = []
        self.elapsed = 0.0

    def header(self, name):
        return self.headers.get(name.lower())


def fetch(port, target, meta=True, idle=None, limit=None, timeout=20.0):
    """GET target; read until EOF, `idle` seconds of silence, `limit` bytes, or timeout."""
    r = Reply()
    start = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    try:
        req = f"GET {target} HTTP/1.0\r\nHost: 127.0.0.1:{port}\r\nUser-Agent: check_server\r\nAccept: */*\r\n"
        if meta:
            req += "Icy-MetaData: 1\r\n"
        s.sendall((req + "\r\n").encode())
        data = bytearray()
        deadline = start + timeout
        while True:
            wait = deadline - time.monotonic()
            if idle is not None:
                wait = min(wait, idle)
            if wait <= 0:
                break
            s.settimeout(wait)
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                break
            if not chunk:
                r.eof = True
                break
            r.reads.append(len(chunk))
            data += chunk
            if limit is not None and len(data) >= limit:
                break
    finally:
        s.close()
    r.elapsed = time.monotonic() - start
    r.raw = bytes(data)
    end = r.raw.find(b"\r\n\r\n")
    head = r.raw if end < 0 else r.raw[:end]
    r.header_complete = end >= 0
    r.body = b"" if end < 0 else r.raw[end + 4:]
    lines = head.decode("latin-1").split("\r\n")
    r.status = lines[0]
    r.header_lines = lines[1:]
    for line in lines[1:]:
        if ":" in line:
            k, v = line.split(":", 1)
            r.headers[k.strip().lower()] = v.strip()
    return r


class Deframed:
    def __init__(self, body, metaint):
        self.audio = bytearray()
        self.blocks = []          # (L, text) of each complete block
        self.partial = None       # (L, bytes received) of a block cut short
        self.partial_length_only = False
        if not metaint:
            self.audio = bytearray(body)
            return
        i = 0
        n = len(body)
        while i < n:
            take = min(metaint, n - i)
            self.audio += body[i:i + take]
            i += take
            if take < metaint or i >= n:
                break
            length = body[i] * 16
            i += 1
            if i + length > n:
                self.partial = (body[i - 1], body[i:n])
                break
            self.blocks.append((body[i - 1], body[i:i + length]))
            i += length
        self.audio = bytes(self.audio)

    def titles(self):
        """Every StreamTitle in the order sent (one per non-empty block)."""
        out = []
        for length, text in self.blocks:
            if length == 0:
                continue
            m = re.match(rb"StreamTitle='(.*?)';", text, re.S)
            out.append(m.group(1).decode("utf-8") if m else None)
        return out

    def reported(self):
        """What a client should report: titles with consecutive repeats folded."""
        out = []
        for t in self.titles():
            if not out or out[-1] != t:
                out.append(t)
        return out


class Checker:
    def __init__(self, port, mp3):
        self.port = port
        self.mp3 = mp3

    def expected(self, n, prefix=b""):
        looped = self.mp3 * (n // len(self.mp3) + 2)
        return (prefix + looped)[:n]

    def deframe(self, r):
        mi = r.header("icy-metaint")
        return Deframed(r.body, int(mi) if mi else None)


class Failed(Exception):
    pass


def need(cond, what):
    if not cond:
        raise Failed(what)


def need_eq(got, want, what):
    if got != want:
        g, w = repr(got), repr(want)
        raise Failed(f"{what}: got {g[:120]}, want {w[:120]}")


def need_audio(got, want, what="audio"):
    if got != want:
        first = next((i for i in range(min(len(got), len(want))) if got[i] != want[i]), min(len(got), len(want)))
        raise Failed(f"{what}: {len(got)} bytes, want {len(want)}; first difference at {first}")


# ---------------------------------------------------------------- checks


def stream_ok(c, r, status, total, titles, metaint=8192, separator_lower=False):
    need_eq(r.status, status, "status line")
    need(r.header_complete and r.eof, "headers complete and connection closed")
    need_eq(r.header("content-type"), "audio/mpeg", "content-type")
    need_eq(r.header("icy-name"), "Scripted Station", "icy-name")
    need_eq(r.header("icy-metaint"), str(metaint), "icy-metaint")
    d = c.deframe(r)
    need_audio(d.audio, c.expected(total))
    need_eq(len(d.blocks), total // metaint, "metadata blocks")
    need(d.partial is None, "no cut block")
    need_eq(d.titles(), titles, "titles")
    return d


def check_ok(c):
    r = fetch(c.port, "/ok?seconds=2&change=2")
    total = BURST + 2 * RATE_128
    stream_ok(c, r, "HTTP/1.0 200 OK", total, ["Artist - Song"] + [f"Title {i}" for i in range(1, 6)])
    need(1.6 <= r.elapsed <= 5, f"paced: took {r.elapsed:.2f} s, want about 2")
    return f"{total} audio bytes, 6 titles, {r.elapsed:.1f} s"


def check_ok_no_meta(c):
    r = fetch(c.port, "/ok?seconds=1", meta=False)
    need_eq(r.status, "HTTP/1.0 200 OK", "status line")
    need(r.header("icy-metaint") is None, "no icy-metaint without Icy-MetaData")
    need_audio(r.body, c.expected(BURST + RATE_128), "body")
    return f"{len(r.body)} plain audio bytes"


def check_ok_options(c):
    r = fetch(c.port, "/ok?seconds=0.5&kbps=64&metaint=1000&title=Caf%C3%A9%20Ol%C3%A9%20%27live%27")
    total = BURST + int(0.5 * 64 * 125)
    stream_ok(c, r, "HTTP/1.0 200 OK", total, ["Café Olé 'live'"], metaint=1000)
    need_eq(r.header("icy-br"), "64", "icy-br")
    return f"{total} audio bytes, metaint 1000, UTF-8 title"


def check_icy(c):
    r = fetch(c.port, "/icy?seconds=1")
    total = BURST + RATE_128
    stream_ok(c, r, "ICY 200 OK", total, ["Artist - Song"])
    need(any(line.startswith("icy-name:Scripted") for line in r.header_lines), "old-style 'name:value' headers")
    return f"{total} audio bytes"


def check_icy404(c):
    r = fetch(c.port, "/icy404")
    need_eq(r.status, "ICY 404 Resource Not Available", "status line")
    need(r.eof and r.body == b"", "closed with no body")
    return "status only"


def check_error(code, reason):
    def check(c):
        r = fetch(c.port, f"/{code}")
        need_eq(r.status, f"HTTP/1.0 {code} {reason}", "status line")
        need(r.header("content-type", ).startswith("text/html"), "html body")
        need_eq(len(r.body), int(r.header("content-length")), "content-length")
        need(r.eof, "closed")
        return f"{len(r.body)}-byte HTML body"
    return check


def check_html(c):
    r = fetch(c.port, "/html")
    need_eq(r.status, "HTTP/1.0 200 OK", "status line")
    need_eq(r.header("content-type"), "text/html; charset=utf-8", "content-type")
    need_eq(len(r.body), int(r.header("content-length")), "content-length")
    need(2048 <= len(r.body) <= 8192 and r.body.startswith(b"<!DOCTYPE html>"), "a few KB of HTML")
    return f"{len(r.body)} bytes of HTML"


def check_html_as_audio(c):
    r = fetch(c.port, "/html-as-audio")
    need_eq(r.header("content-type"), "audio/mpeg", "content-type")
    need(r.header("icy-metaint") is None, "no icy-metaint")
    need(r.body.startswith(b"<!DOCTYPE html>") and r.body.endswith(b"</html>\n"), "body is one HTML page")
    need(r.eof, "closed")
    return f"{len(r.body)} bytes of HTML as audio/mpeg"


def xorshift_reference(count):
    x, out = 0x2545F491, bytearray()
    while len(out) < count:
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out += x.to_bytes(4, "little")
    return bytes(out[:count])


def check_garbage(c):
    r = fetch(c.port, "/garbage")
    need_eq(r.header("content-type"), "audio/mpeg", "content-type")
    need(r.header("icy-metaint") is None, "no icy-metaint")
    need_audio(r.body, xorshift_reference(262144), "body")
    need(r.eof, "closed")
    return "262144 xorshift32 bytes"


def check_stall(c):
    r = fetch(c.port, "/stall", idle=2.0)
    need(not r.eof, "connection still open after 2 s of silence")
    d = c.deframe(r)
    need_audio(d.audio, c.expected(BURST))
    need_eq(len(d.blocks), 8, "metadata blocks")
    need_eq(d.titles(), ["Artist - Song"], "titles")
    return "65536 audio bytes, then silence, still open"


def check_silent(c):
    r = fetch(c.port, "/silent", idle=1.5)
    need(not r.eof and r.raw == b"", "no answer and still open")
    return "no bytes, still open"


def check_close_mid_frame(c):
    r = fetch(c.port, "/close-mid-frame")
    need(r.eof, "closed")
    d = c.deframe(r)
    need_eq(r.header("icy-metaint"), "8192", "icy-metaint")
    need_audio(d.audio, c.expected(20000))
    need_eq(len(d.blocks), 2, "metadata blocks")
    need_eq(d.titles(), ["Artist - Song"], "titles")
    starts = ss.mp3_frame_starts(c.mp3)
    if starts:
        need(20000 % len(c.mp3) not in starts, "20000 is not a frame boundary of the test file")
        return "20000 audio bytes, cut inside a frame"
    return "20000 audio bytes (test file is not MP3)"


def check_close_mid_meta(c):
    r = fetch(c.port, "/close-mid-meta")
    need(r.eof, "closed")
    d = c.deframe(r)
    need_audio(d.audio, c.expected(8192))
    need_eq(len(d.blocks), 0, "complete blocks")
    need(d.partial is not None, "a cut metadata block")
    need_eq(d.partial[0], 10, "length byte")
    need_eq(d.partial[1], b"StreamTitle='This title is cut", "metadata bytes received")
    return "8192 audio bytes, then 30 of 160 metadata bytes"


def check_meta_split(c):
    r = fetch(c.port, "/meta-split")
    d = stream_ok(c, r, "HTTP/1.0 200 OK", 6 * 8192, [f"Split {i}" for i in range(1, 7)])
    meta_bytes = sum(1 + 16 * length for length, _ in d.blocks)
    small_reads = sum(1 for n in r.reads if n <= 2)
    need(small_reads >= meta_bytes // 3, f"metadata arrived over many reads ({small_reads} tiny reads "
                                         f"for {meta_bytes} metadata bytes)")
    return f"6 titles over {small_reads} tiny reads"


def check_meta_max(c):
    r = fetch(c.port, "/meta-max")
    d = stream_ok(c, r, "HTTP/1.0 200 OK", 4 * 8192, [ss.max_title(i) for i in range(1, 5)])
    need(all(length == 255 for length, _ in d.blocks), "every block L=255")
    need(all(len(t) == 4000 for t in d.titles()), "4000-character titles")
    return "4 blocks of 4080 bytes"


def check_meta_zero(c):
    r = fetch(c.port, "/meta-zero")
    d = stream_ok(c, r, "HTTP/1.0 200 OK", 8 * 8192, [])
    need(all(length == 0 for length, _ in d.blocks), "every block L=0")
    return "8 empty blocks"


def check_metaint1(c):
    r = fetch(c.port, "/metaint1")
    stream_ok(c, r, "HTTP/1.0 200 OK", 40000, [f"Block {k}" for k in range(0, 40000, 5000)], metaint=1)
    return "40000 audio bytes, 8 titles"


def check_repeat(c):
    r = fetch(c.port, "/repeat")
    d = stream_ok(c, r, "HTTP/1.0 200 OK", 6 * 8192, ["Artist - Song"] * 6)
    need_eq(d.reported(), ["Artist - Song"], "reported once")
    need(len(set(d.blocks)) == 1, "identical blocks")
    return "6 identical title blocks"


def follow(c, target, hops):
    seen = []
    for _ in range(hops):
        r = fetch(c.port, target)
        if not r.status.endswith("302 Found"):
            return r, seen
        need_eq(r.status, "HTTP/1.1 302 Found", "status line")
        loc = r.header("location")
        seen.append(loc)
        prefix = f"http://127.0.0.1:{c.port}"
        target = loc[len(prefix):] if loc.startswith(prefix) else loc
    return None, seen


def check_redirect(c):
    r, seen = follow(c, "/redirect?seconds=0", 5)
    need_eq(seen, ["/ok?seconds=0"], "Location")
    stream_ok(c, r, "HTTP/1.0 200 OK", BURST, ["Artist - Song"])
    return "302 -> /ok?seconds=0 -> stream"


def check_redirect_loop(c):
    r, seen = follow(c, "/redirect-loop?x=1", 6)
    need(r is None, "still redirecting after 6 requests")
    need_eq(seen, ["/redirect-loop?x=1"] * 6, "Location")
    return "302 to itself, 6 times"


def check_redirect_abs(c):
    r, seen = follow(c, "/redirect-abs?seconds=0", 5)
    need_eq(seen, [f"http://127.0.0.1:{c.port}/ok?seconds=0"], "Location")
    stream_ok(c, r, "HTTP/1.0 200 OK", BURST, ["Artist - Song"])
    return "302 -> absolute URL -> stream"


def check_redirect_chain(c):
    r, seen = follow(c, "/redirect-chain?hops=5&seconds=0", 6)
    need_eq(len(seen), 5, "redirects")
    need_eq(seen[-1], "/ok?seconds=0", "last Location")
    stream_ok(c, r, "HTTP/1.0 200 OK", BURST, ["Artist - Song"])
    return "5 redirects -> stream"


def check_header_flood(c):
    r = fetch(c.port, "/header-flood", limit=11 * 1024 * 1024)
    need(r.eof, "closed by the server")
    need(not r.header_complete, "never ends the headers")
    need(len(r.raw) <= 10 * 1024 * 1024, f"bounded ({len(r.raw)} bytes)")
    lines = r.raw.split(b"\r\n")
    flood = lines[3:-1]
    need(len(flood) > 100000, "many lines")
    need(all(line.startswith(b"X-Flood-%d: " % i) for i, line in enumerate(flood)), "X-Flood-N lines in order")
    early = fetch(c.port, "/header-flood", limit=256 * 1024)
    need(not early.eof, "an early close by the client")
    return f"{len(r.raw)} header bytes, then closed"


def check_id3(c):
    tag = fetch(c.port, "/id3-tag").body
    need_eq(len(tag), 2048, "tag size")
    need(tag[:6] == b"ID3\x03\x00\x00", "ID3v2.3 header")
    size = (tag[6] << 21) | (tag[7] << 14) | (tag[8] << 7) | tag[9]
    need_eq(size, 2038, "syncsafe tag size")
    need(b"TIT2" in tag and b"TPE1" in tag, "frames")
    r = fetch(c.port, "/id3?seconds=0")
    need_eq(r.status, "HTTP/1.0 200 OK", "status line")
    d = c.deframe(r)
    need_audio(d.audio, c.expected(BURST, prefix=tag))
    need_eq(d.titles(), ["Artist - Song"], "titles")
    return "2048-byte tag + file"


def check_no_metaint(c):
    r = fetch(c.port, "/no-metaint?seconds=1")
    need_eq(r.status, "HTTP/1.0 200 OK", "status line")
    need(r.header("icy-metaint") is None, "no icy-metaint though the client asked")
    need_audio(r.body, c.expected(BURST + RATE_128), "body")
    return f"{len(r.body)} audio bytes, no framing"


def check_unknown(c):
    r = fetch(c.port, "/no-such-thing")
    need_eq(r.status, "HTTP/1.0 404 Not Found", "status line")
    return "404"


CHECKS = [
    ("/ok?seconds=2&change=2", check_ok),
    ("/ok (no Icy-MetaData)", check_ok_no_meta),
    ("/ok?kbps&metaint&title", check_ok_options),
    ("/icy", check_icy),
    ("/icy404", check_icy404),
    ("/404", check_error(404, "Not Found")),
    ("/500", check_error(500, "Internal Server Error")),
    ("/html", check_html),
    ("/html-as-audio", check_html_as_audio),
    ("/garbage", check_garbage),
    ("/stall", check_stall),
    ("/silent", check_silent),
    ("/close-mid-frame", check_close_mid_frame),
    ("/close-mid-meta", check_close_mid_meta),
    ("/meta-split", check_meta_split),
    ("/meta-max", check_meta_max),
    ("/meta-zero", check_meta_zero),
    ("/metaint1", check_metaint1),
    ("/repeat", check_repeat),
    ("/redirect", check_redirect),
    ("/redirect-loop", check_redirect_loop),
    ("/redirect-abs", check_redirect_abs),
    ("/redirect-chain", check_redirect_chain),
    ("/header-flood", check_header_flood),
    ("/id3 + /id3-tag", check_id3),
    ("/no-metaint", check_no_metaint),
    ("unknown path", check_unknown),
]


def run(check, c):
    try:
        return True, check(c)
    except Failed as e:
        return False, str(e)
    except Exception as e:  # noqa: BLE001 - report, do not crash the whole run
        return False, f"{type(e).__name__}: {e}"


def check_lifecycle(mp3, log_path, proc):
    results = []
    # stdin closed -> exit, and nothing but the PORT line on stdout.
    t = time.monotonic()
    proc.stdin.close()
    try:
        proc.wait(timeout=5)
        rest = proc.stdout.read()
        ok = rest == b""
        results.append(("exit on stdin close", ok and proc.returncode == 0,
                        f"exited in {time.monotonic() - t:.2f} s" + ("" if ok else f"; extra stdout {rest[:60]!r}")))
    except subprocess.TimeoutExpired:
        proc.kill()
        results.append(("exit on stdin close", False, "still running 5 s later"))
    # SIGTERM -> exit, even with a connection held open.
    p2, port2 = start_server(mp3, log_path)
    s = socket.create_connection(("127.0.0.1", port2))
    s.sendall(b"GET /silent HTTP/1.0\r\n\r\n")
    time.sleep(0.2)
    t = time.monotonic()
    p2.send_signal(signal.SIGTERM)
    try:
        p2.wait(timeout=5)
        results.append(("exit on SIGTERM", True, f"exited in {time.monotonic() - t:.2f} s"))
    except subprocess.TimeoutExpired:
        p2.kill()
        results.append(("exit on SIGTERM", False, "still running 5 s later"))
    s.close()
    p2.stdin.close()
    p2.stdout.close()
    return results


def main():
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="scripted-server-check-") as tmp:
        mp3_path, how = make_mp3(tmp)
        with open(mp3_path, "rb") as f:
            mp3 = f.read()
        log_path = os.path.join(tmp, "server.log")
        proc, port = start_server(mp3_path, log_path)
        print(f"test file: {len(mp3)} bytes ({how}, {len(ss.mp3_frame_starts(mp3))} MP3 frames); port {port}")
        c = Checker(port, mp3)
        with ThreadPoolExecutor(max_workers=len(CHECKS)) as pool:
            futures = [pool.submit(run, check, c) for _, check in CHECKS]
            results = [(name, *f.result()) for (name, _), f in zip(CHECKS, futures)]
        results += check_lifecycle(mp3_path, log_path, proc)
        failed = 0
        for name, ok, detail in results:
            failed += not ok
            print(f"{'PASS' if ok else 'FAIL'}  {name:26} {detail}")
        if failed or "-v" in sys.argv:
            with open(log_path, "r", errors="replace") as f:
                tail = f.read().splitlines()[-80:]
            print("--- server log (tail) ---", file=sys.stderr)
            print("\n".join(tail), file=sys.stderr)
        print(f"{len(results) - failed}/{len(results)} passed in {time.monotonic() - started:.1f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
