#!/usr/bin/env python3
"""A bare-socket listener for the test Icecast server's non-MP3 mounts and its TLS port.

icy_probe.py takes only audio/mpeg as audio; this one looks inside the other containers,
so that a mount that answers 200 with the wrong codec, rate or channel count fails here
rather than in a player test. Like icy_probe.py every read has a deadline.

  stream_probe.py audio HOST PORT MOUNT --format F [--content-type T] [--bytes N]
                        [--timeout S] [--cafile CA]
      Reads N bytes (no inline metadata) and prints a JSON report. F is one of
        mpeg    an MPEG audio frame header somewhere in the bytes
        adts    two chained ADTS headers; reports profile, rate and channels
        vorbis  the bytes start with the BOS page of an Ogg Vorbis stream
        opus    the bytes start with the BOS page of an Ogg Opus stream
      With --cafile the connection is TLS, verified against that CA and HOST.
      Exit 0 when status is 200, the content type matches (when given) and F is found.

  stream_probe.py chain HOST PORT MOUNT [--links N] [--timeout S]
      Follows an Ogg stream and prints one JSON line per logical stream that begins in
      it (serial, codec, rate, channels, comments, seconds since connecting). Exit 0
      after N of them, 1 at the deadline.
"""
import argparse
import json
import socket
import ssl
import struct
import sys
import time

# The deadline-bound socket reader is icy_probe.py's, beside this file.
from icy_probe import Deadline, Reader

ADTS_RATES = [96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350]
ADTS_PROFILES = ["Main", "LC", "SSR", "LTP"]


def connect(host, port, mount, deadline, cafile):
    sock = socket.create_connection((host, port), timeout=max(0.1, deadline - time.monotonic()))
    if cafile:
        ctx = ssl.create_default_context(cafile=cafile)
        sock.settimeout(max(0.1, deadline - time.monotonic()))
        sock = ctx.wrap_socket(sock, server_hostname=host)
    request = "GET %s HTTP/1.0\r\nHost: %s:%d\r\nUser-Agent: vornel-stream-probe\r\n\r\n" % (mount, host, port)
    sock.sendall(request.encode("ascii"))
    reader = Reader(sock, deadline)
    raw = reader.until(b"\r\n\r\n").decode("latin-1")
    lines = raw.split("\r\n")
    headers = {}
    for line in lines[1:]:
        key, _, value = line.partition(":")
        headers[key.strip().lower()] = value.strip()
    return sock, reader, lines[0], headers


# --- formats -----------------------------------------------------------------------------

def find_mpeg(data):
    for i in range(len(data) - 1):
        if data[i] == 0xFF and (data[i + 1] & 0xE0) == 0xE0 and (data[i + 1] & 0x06) != 0:
            return {"offset": i}
    return None


def adts_header(data, i):
    if i + 7 > len(data) or data[i] != 0xFF or (data[i + 1] & 0xF6) != 0xF0:
        return None
    rate_index = (data[i + 2] >> 2) & 0x0F
    if rate_index >= len(ADTS_RATES):
        return None
    length = ((data[i + 3] & 0x03) << 11) | (data[i + 4] << 3) | (data[i + 5] >> 5)
    if length < 7:
        return None
    return {
        "profile": ADTS_PROFILES[data[i + 2] >> 6],
        "sample_rate": ADTS_RATES[rate_index],
        "channels": ((data[i + 2] & 0x01) << 2) | (data[i + 3] >> 6),
        "frame_length": length,
    }


def find_adts(data):
    # The stream may start mid-frame (the burst starts on a server buffer boundary), so a
    # header counts only when the next one sits exactly a frame length further on.
    for i in range(len(data)):
        h = adts_header(data, i)
        if h is None:
            continue
        nxt = adts_header(data, i + h["frame_length"])
        if nxt is not None and nxt["sample_rate"] == h["sample_rate"]:
            h["offset"] = i
            return h
    return None


def page_at(data, pos):
    """(header fields, packet segments, page size) of the Ogg page at pos, or None."""
    if data[pos:pos + 4] != b"OggS" or len(data) < pos + 27:
        return None
    nseg = data[pos + 26]
    if len(data) < pos + 27 + nseg:
        return None
    lacing = data[pos + 27:pos + 27 + nseg]
    size = 27 + nseg + sum(lacing)
    if len(data) < pos + size:
        return None
    flags = data[pos + 5]
    gp, serial, seq = struct.unpack_from("<qII", data, pos + 6)
    return {"flags": flags, "granule": gp, "serial": serial, "sequence": seq,
            "lacing": bytes(lacing), "body": data[pos + 27 + nseg:pos + size]}, size


def codec_of(packet):
    if packet.startswith(b"\x01vorbis") and len(packet) >= 16:
        channels = packet[11]
        rate = struct.unpack_from("<I", packet, 12)[0]
        return {"codec": "vorbis", "sample_rate": rate, "channels": channels}
    if packet.startswith(b"OpusHead") and len(packet) >= 16:
        return {"codec": "opus", "channels": packet[9],
                "input_sample_rate": struct.unpack_from("<I", packet, 12)[0],
                "pre_skip": struct.unpack_from("<H", packet, 10)[0]}
    return {"codec": "unknown", "first_bytes": packet[:8].hex()}


def parse_comments(packet, codec):
    if codec == "vorbis" and packet.startswith(b"\x03vorbis"):
        pos = 7
    elif codec == "opus" and packet.startswith(b"OpusTags"):
        pos = 8
    else:
        return None
    try:
        vlen = struct.unpack_from("<I", packet, pos)[0]
        pos += 4 + vlen
        count = struct.unpack_from("<I", packet, pos)[0]
        pos += 4
        comments = {}
        for _ in range(count):
            n = struct.unpack_from("<I", packet, pos)[0]
            pos += 4
            key, _, value = packet[pos:pos + n].decode("utf-8", "replace").partition("=")
            comments[key.upper()] = value
            pos += n
        return comments
    except struct.error:
        return None


def first_packets(pages):
    """Packets reassembled from a list of one logical stream's page dicts."""
    packets, cur = [], b""
    for page in pages:
        body, off = page["body"], 0
        for lace in page["lacing"]:
            cur += body[off:off + lace]
            off += lace
            if lace < 255:
                packets.append(cur)
                cur = b""
    return packets


# --- commands ----------------------------------------------------------------------------

def cmd_audio(args):
    start = time.monotonic()
    deadline = start + args.timeout
    report = {"mount": args.mount, "format": args.format, "tls": bool(args.cafile)}
    sock = None
    ok = False
    try:
        sock, reader, status, headers = connect(args.host, args.port, args.mount, deadline, args.cafile)
        report.update(status=status, headers=headers, seconds_to_headers=round(time.monotonic() - start, 3))
        data = reader.exactly(args.bytes)
        report["seconds_to_bytes"] = round(time.monotonic() - start, 3)
        report["first_bytes"] = data[:8].hex()
        if args.format == "mpeg":
            found = find_mpeg(data)
        elif args.format == "adts":
            found = find_adts(data)
        else:
            found = None
            p = page_at(data, 0)
            if p is not None and p[0]["flags"] & 0x02:
                packets = first_packets([p[0]])
                info = codec_of(packets[0] if packets else b"")
                info["serial"] = p[0]["serial"]
                if info["codec"] == args.format:
                    found = info
                else:
                    report["found_codec"] = info
        report["found"] = found
        ok = (status.split()[1:2] == ["200"] and found is not None
              and (args.content_type is None or headers.get("content-type") == args.content_type))
    except (Deadline, EOFError, OSError, ValueError) as e:
        report["error"] = "%s: %s" % (type(e).__name__, e)
    finally:
        if sock is not None:
            sock.close()
    print(json.dumps(report))
    return 0 if ok else 1


def cmd_chain(args):
    start = time.monotonic()
    deadline = start + args.timeout
    sock = None
    try:
        sock, reader, status, headers = connect(args.host, args.port, args.mount, deadline, args.cafile)
        print(json.dumps({"status": status, "headers": headers}), flush=True)
        if status.split()[1:2] != ["200"]:
            return 1
        pending = {}  # serial -> (link report, pages so far) until its comments are in
        links = 0
        while True:
            head = reader.exactly(27)
            if head[:4] != b"OggS":
                raise ValueError("lost Ogg page sync")
            lacing = reader.exactly(head[26])
            body = reader.exactly(sum(lacing))
            page, _ = page_at(head + lacing + body, 0)
            serial = page["serial"]
            if page["flags"] & 0x02:
                pending[serial] = ({"serial": serial, "granule": page["granule"],
                                    "seconds": round(time.monotonic() - start, 3)}, [])
            if serial not in pending:
                continue
            report, pages = pending[serial]
            pages.append(page)
            packets = first_packets(pages)
            if len(packets) < 2:
                continue
            info = codec_of(packets[0])
            report.update(info)
            report["comments"] = parse_comments(packets[1], info["codec"])
            del pending[serial]
            links += 1
            report["link"] = links
            print(json.dumps(report), flush=True)
            if links >= args.links:
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
    for name in ("audio", "chain"):
        s = sub.add_parser(name)
        s.add_argument("host")
        s.add_argument("port", type=int)
        s.add_argument("mount")
        s.add_argument("--timeout", type=float, default=5.0)
        s.add_argument("--cafile")
        if name == "audio":
            s.add_argument("--format", required=True, choices=["mpeg", "adts", "vorbis", "opus"])
            s.add_argument("--content-type")
            s.add_argument("--bytes", type=int, default=4096)
        else:
            s.add_argument("--links", type=int, default=2)
    args = p.parse_args()
    return cmd_audio(args) if args.cmd == "audio" else cmd_chain(args)


if __name__ == "__main__":
    sys.exit(main())
