#!/usr/bin/env python3
"""An Icecast source client that sends a chained Ogg stream: the given Ogg files one after
another, round and round, for ever, at the pace a live encoder would.

ffmpeg can loop a file into a mount, but only as one continuous logical stream; a player
has to cope with a new logical stream (new headers, new comments, a new serial number)
starting mid-connection, and this is what produces that.

  ogg_chain_source.py HOST PORT MOUNT --password PW [--name N] [--serial-base S] FILE...

Each file must hold a single logical Vorbis or Opus stream. Every time a file is sent its
pages get a fresh serial number (S, S+1, ...): RFC 3533 wants the links of a chain to have
distinct serials, and alternating two files would otherwise repeat them. Exits non-zero
when the server refuses the source or drops the connection.
"""
import argparse
import base64
import socket
import struct
import sys
import time

CONNECT_SECONDS = 10.0


def _crc_table():
    table = []
    for i in range(256):
        r = i << 24
        for _ in range(8):
            r = ((r << 1) ^ 0x04C11DB7) if r & 0x80000000 else (r << 1)
        table.append(r & 0xFFFFFFFF)
    return table


CRC_TABLE = _crc_table()


def ogg_crc(data):
    crc = 0
    for b in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ CRC_TABLE[((crc >> 24) & 0xFF) ^ b]
    return crc


def split_pages(data, path):
    pages = []
    pos = 0
    while pos < len(data):
        if data[pos:pos + 4] != b"OggS" or len(data) < pos + 27:
            raise ValueError("%s: no Ogg page at byte %d" % (path, pos))
        nseg = data[pos + 26]
        size = 27 + nseg + sum(data[pos + 27:pos + 27 + nseg])
        if len(data) < pos + size:
            raise ValueError("%s: truncated page at byte %d" % (path, pos))
        pages.append(data[pos:pos + size])
        pos += size
    return pages


def granule(page):
    return struct.unpack_from("<q", page, 6)[0]


def with_serial(page, serial):
    out = bytearray(page)
    struct.pack_into("<I", out, 14, serial)
    struct.pack_into("<I", out, 22, 0)
    struct.pack_into("<I", out, 22, ogg_crc(out))
    return bytes(out)


class Link:
    """One file, split into pages, with what is needed to pace it: granule positions count
    samples at `rate`, offset by `skip` (Opus counts its pre-skip in them)."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.pages = split_pages(f.read(), path)
        if not self.pages or not self.pages[0][5] & 0x02:
            raise ValueError("%s does not start with a BOS page" % path)
        serials = {struct.unpack_from("<I", p, 14)[0] for p in self.pages}
        if len(serials) != 1:
            raise ValueError("%s holds %d logical streams, not one" % (path, len(serials)))
        first = self.pages[0]
        body = first[27 + first[26]:]
        if body.startswith(b"\x01vorbis"):
            self.rate = struct.unpack_from("<I", body, 12)[0]
            self.skip = 0
        elif body.startswith(b"OpusHead"):
            self.rate = 48000
            self.skip = struct.unpack_from("<H", body, 10)[0]
        else:
            raise ValueError("%s is neither Vorbis nor Opus" % path)
        last = max(granule(p) for p in self.pages)
        self.duration = (last - self.skip) / self.rate
        if self.duration <= 0:
            raise ValueError("%s has no audio" % path)

    def seconds_at(self, page):
        g = granule(page)
        return None if g <= 0 else max(0.0, (g - self.skip) / self.rate)


def read_response(sock, deadline, buf=b""):
    """(code, status line, bytes after the headers); buf holds what an earlier read left."""
    while b"\r\n\r\n" not in buf:
        left = deadline - time.monotonic()
        if left <= 0:
            raise TimeoutError("no answer from the server")
        sock.settimeout(left)
        chunk = sock.recv(4096)
        if not chunk:
            raise ConnectionError("server closed the connection")
        buf += chunk
        if len(buf) > 65536:
            raise ConnectionError("answer too long")
    head, _, rest = buf.partition(b"\r\n\r\n")
    status = head.split(b"\r\n", 1)[0].decode("latin-1")
    parts = status.split()
    code = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
    return code, status, rest


def connect(args, method):
    """Opens a source connection; returns the socket once the server said 200."""
    deadline = time.monotonic() + CONNECT_SECONDS
    sock = socket.create_connection((args.host, args.port), timeout=CONNECT_SECONDS)
    auth = base64.b64encode(("source:%s" % args.password).encode("utf-8")).decode("ascii")
    version = "HTTP/1.1" if method == "PUT" else "HTTP/1.0"
    lines = [
        "%s %s %s" % (method, args.mount, version),
        "Host: %s:%d" % (args.host, args.port),
        "Authorization: Basic %s" % auth,
        "User-Agent: vornel-ogg-chain-source",
        "Content-Type: application/ogg",
        "Ice-Name: %s" % args.name,
        "Ice-Description: %s" % args.name,
        "Ice-Genre: test",
        "Ice-Public: 0",
    ]
    if method == "PUT":
        # Icecast answers a PUT only once it has taken the mount; asking for a 100 first
        # keeps the audio from being sent to a server that is about to refuse it.
        lines.append("Expect: 100-continue")
    sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("utf-8"))
    try:
        code, status, rest = read_response(sock, deadline)
        if code == 100:
            # The final answer often comes in the same segment as the 100.
            code, status, rest = read_response(sock, deadline, rest)
    except (OSError, TimeoutError, ConnectionError):
        sock.close()
        raise
    if code != 200:
        sock.close()
        return None, status
    sock.settimeout(None)
    return sock, status


def stream(sock, links, serial_base):
    serial = serial_base
    start = time.monotonic()
    index = 0
    while True:
        link = links[index % len(links)]
        for page in link.pages:
            at = link.seconds_at(page)
            if at is not None:
                wait = start + at - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
            sock.sendall(with_serial(page, serial))
        # The next link starts where this one's audio ends, not where its last page was
        # sent, so that sleeping late never accumulates into drift.
        start += link.duration
        serial = (serial + 1) & 0xFFFFFFFF
        index += 1


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("host")
    p.add_argument("port", type=int)
    p.add_argument("mount")
    p.add_argument("files", nargs="+")
    p.add_argument("--password", required=True)
    p.add_argument("--name", default="Vornel Chain")
    p.add_argument("--serial-base", type=int, default=0x564F0000)
    args = p.parse_args()

    links = [Link(path) for path in args.files]
    sock, status = None, ""
    for method in ("PUT", "SOURCE"):
        try:
            sock, status = connect(args, method)
        except (OSError, TimeoutError, ConnectionError) as e:
            status = "%s: %s" % (type(e).__name__, e)
        if sock is not None:
            break
        print("ogg_chain_source: %s %s refused: %s" % (method, args.mount, status), file=sys.stderr, flush=True)
        if status.split()[1:2] in (["401"], ["403"]):
            return 1
    if sock is None:
        return 1
    print("ogg_chain_source: streaming %d files to %s (%s)" % (len(links), args.mount, status),
          file=sys.stderr, flush=True)
    try:
        stream(sock, links, args.serial_base)
    except OSError as e:
        print("ogg_chain_source: connection lost: %s" % e, file=sys.stderr, flush=True)
        return 1
    finally:
        sock.close()


if __name__ == "__main__":
    sys.exit(main())
