#!/usr/bin/env python3
"""A bare-socket listener for the test Icecast server.

It speaks HTTP/1.0 by hand rather than through a library so that it sees exactly what a
streaming client sees: the status line, the icy-* headers, and the audio with the inline
metadata blocks still in place. Every read has a deadline, so a stalled server makes the
probe fail instead of hang.

  icy_probe.py audio HOST PORT MOUNT [--bytes N] [--timeout S]
      Reads N bytes of audio without metadata; prints a JSON report (status, headers,
      seconds to the headers and to the Nth byte, whether the first bytes are an MPEG
      frame header). Exit 0 when N bytes of audio/mpeg arrived in time.

  icy_probe.py meta HOST PORT MOUNT [--blocks N] [--timeout S] [--expect-title T]
      Asks for inline metadata ("Icy-MetaData: 1") and prints one JSON line per metadata
      block. With --expect-title it reads blocks until one carries StreamTitle='T'; and
      exits 0 then, or 1 at the deadline; without it, exit 0 after N blocks.
"""
import argparse
import json
import socket
import sys
import time


class Deadline(Exception):
    pass


class Reader:
    def __init__(self, sock, deadline):
        self.sock = sock
        self.deadline = deadline
        self.buf = b""

    def _fill(self):
        left = self.deadline - time.monotonic()
        if left <= 0:
            raise Deadline()
        self.sock.settimeout(left)
        try:
            chunk = self.sock.recv(65536)
        except socket.timeout:
            raise Deadline()
        if not chunk:
            raise EOFError("server closed the connection")
        self.buf += chunk

    def until(self, marker, limit=65536):
        while marker not in self.buf:
            if len(self.buf) > limit:
                raise ValueError("no %r within %d bytes" % (marker, limit))
            self._fill()
        head, _, self.buf = self.buf.partition(marker)
        return head

    def exactly(self, n):
        while len(self.buf) < n:
            self._fill()
        out, self.buf = self.buf[:n], self.buf[n:]
        return out


def connect(host, port, mount, want_meta, deadline):
    sock = socket.create_connection((host, port), timeout=max(0.1, deadline - time.monotonic()))
    request = "GET %s HTTP/1.0\r\nHost: %s:%d\r\nUser-Agent: vornel-icy-probe\r\n" % (mount, host, port)
    if want_meta:
        request += "Icy-MetaData: 1\r\n"
    sock.sendall((request + "\r\n").encode("ascii"))
    reader = Reader(sock, deadline)
    raw = reader.until(b"\r\n\r\n").decode("latin-1")
    lines = raw.split("\r\n")
    status = lines[0]
    headers = {}
    for line in lines[1:]:
        key, _, value = line.partition(":")
        headers[key.strip().lower()] = value.strip()
    return sock, reader, status, headers


def is_mpeg_frame_header(b):
    return len(b) >= 2 and b[0] == 0xFF and (b[1] & 0xE0) == 0xE0


def cmd_audio(args):
    start = time.monotonic()
    deadline = start + args.timeout
    report = {"mount": args.mount, "bytes_wanted": args.bytes}
    sock = None
    try:
        sock, reader, status, headers = connect(args.host, args.port, args.mount, False, deadline)
        report.update(status=status, headers=headers,
                      seconds_to_headers=round(time.monotonic() - start, 3))
        data = reader.exactly(args.bytes)
        report["seconds_to_bytes"] = round(time.monotonic() - start, 3)
        report["first_bytes"] = data[:4].hex()
        report["starts_with_frame_header"] = is_mpeg_frame_header(data)
        ok = status.split()[1:2] == ["200"] and headers.get("content-type") == "audio/mpeg"
    except (Deadline, EOFError, OSError, ValueError) as e:
        report["error"] = "%s: %s" % (type(e).__name__, e)
        ok = False
    finally:
        if sock is not None:
            sock.close()
    print(json.dumps(report))
    return 0 if ok else 1


def cmd_meta(args):
    start = time.monotonic()
    deadline = start + args.timeout
    want = None if args.expect_title is None else "StreamTitle='%s';" % args.expect_title
    sock = None
    try:
        sock, reader, status, headers = connect(args.host, args.port, args.mount, True, deadline)
        print(json.dumps({"status": status, "headers": headers}))
        metaint = int(headers.get("icy-metaint", "0"))
        if metaint <= 0:
            print(json.dumps({"error": "no icy-metaint in the response"}))
            return 1
        n = 0
        while True:
            reader.exactly(metaint)
            length = reader.exactly(1)[0] * 16
            block = reader.exactly(length)
            n += 1
            text = block.rstrip(b"\0").decode("utf-8", "replace")
            print(json.dumps({"block": n, "seconds": round(time.monotonic() - start, 3),
                              "length": length, "text": text}), flush=True)
            if want is not None and want in text:
                return 0
            if want is None and n >= args.blocks:
                return 0
    except (Deadline, EOFError, OSError, ValueError) as e:
        print(json.dumps({"error": "%s: %s" % (type(e).__name__, e)}))
        return 1
    finally:
        if sock is not None:
            sock.close()


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = p.add_subparsers(dest="cmd", required=True)
    for name in ("audio", "meta"):
        s = sub.add_parser(name)
        s.add_argument("host")
        s.add_argument("port", type=int)
        s.add_argument("mount")
        s.add_argument("--timeout", type=float, default=5.0)
        if name == "audio":
            s.add_argument("--bytes", type=int, default=4096)
        else:
            s.add_argument("--blocks", type=int, default=3)
            s.add_argument("--expect-title")
    args = p.parse_args()
    return cmd_audio(args) if args.cmd == "audio" else cmd_meta(args)


if __name__ == "__main__":
    sys.exit(main())
