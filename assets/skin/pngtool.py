#!/usr/bin/env python3
"""PNG post-processing for the Vornel skin, standard library only.

Written in plain Python rather than an image tool so that the output bytes
depend on nothing but the input pixels: no timestamps, no tool-version chunks,
so re-rendering an unchanged SVG leaves git with nothing to commit.

Usage:
  pngtool.py key  IN OUT INKHEX [x,y,w,h ...]
      Colour-keyed window picture: opaque RGB where everything outside the
      shape is exactly #FF00FF.  Each x,y,w,h rectangle must end up fully
      inside the shape; the run fails otherwise.
  pngtool.py rgba IN OUT
      Straight-alpha RGBA with fully transparent pixels zeroed.
  pngtool.py flat IN OUT BGHEX
      Opaque RGB: the picture laid over a solid background colour.
  pngtool.py crop IN OUT x,y,w,h
      Opaque RGB: one rectangle of a picture (its alpha dropped).
  pngtool.py key2x IN OUT INKHEX GUIDE
      A keyed window picture at twice the size of its keyed 1x GUIDE: the
      window's outline is the guide's, which is what the program shapes the
      window by, so every pixel inside it is opaque (ink where the finer
      rendering left it transparent) and every pixel outside is the key.
"""

import struct
import sys
import zlib

KEY = (255, 0, 255)


def read_png(path):
    """Return (width, height, rows) with rows as lists of RGBA tuples."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG")
    pos, idat, ihdr = 8, [], None
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        ctype = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if ctype == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif ctype == b"IDAT":
            idat.append(body)
        elif ctype == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = ihdr
    if depth != 8 or colour not in (2, 6) or interlace:
        sys.exit(f"{path}: expected 8-bit RGB/RGBA, non-interlaced")
    bpp = 4 if colour == 6 else 3
    raw = zlib.decompress(b"".join(idat))
    stride = width * bpp
    prev = bytearray(stride)
    rows, pos = [], 0
    for _ in range(height):
        ftype = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 255
            elif ftype == 2:
                line[i] = (line[i] + b) & 255
            elif ftype == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 255
            elif ftype == 4:
                line[i] = (line[i] + paeth(a, b, c)) & 255
        prev = line
        if bpp == 4:
            rows.append([tuple(line[i:i + 4]) for i in range(0, stride, 4)])
        else:
            rows.append([tuple(line[i:i + 3]) + (255,) for i in range(0, stride, 3)])
    return width, height, rows


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def write_png(path, width, height, rows, alpha):
    """Write 8-bit RGB or RGBA with a per-row filter choice (smallest sum)."""
    bpp = 4 if alpha else 3
    out = bytearray()
    prev = bytearray(width * bpp)
    for row in rows:
        line = bytearray()
        for px in row:
            line.extend(px[:bpp])
        best = None
        for ftype in range(5):
            f = bytearray(len(line))
            for i in range(len(line)):
                a = line[i - bpp] if i >= bpp else 0
                b = prev[i]
                c = prev[i - bpp] if i >= bpp else 0
                pred = (0, a, b, (a + b) >> 1, paeth(a, b, c))[ftype]
                f[i] = (line[i] - pred) & 255
            score = sum(v if v < 128 else 256 - v for v in f)
            if best is None or score < best[0]:
                best = (score, ftype, f)
        out.append(best[1])
        out.extend(best[2])
        prev = line

    def chunk(ctype, body):
        return (struct.pack(">I", len(body)) + ctype + body
                + struct.pack(">I", zlib.crc32(ctype + body) & 0xFFFFFFFF))

    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", ihdr))
        f.write(chunk(b"IDAT", zlib.compress(bytes(out), 9)))
        f.write(chunk(b"IEND", b""))


def near_key(rgb):
    # Anything this close to magenta could be swallowed by a tolerant keyer
    # or read as a fringe, so the inside of the window must keep clear of it.
    return abs(rgb[0] - 255) + rgb[1] + abs(rgb[2] - 255) < 96


def cmd_key(src, dst, ink_hex, rects):
    ink = tuple(int(ink_hex.lstrip("#")[i:i + 2], 16) for i in (0, 2, 4))
    width, height, rows = read_png(src)
    out = []
    for y, row in enumerate(rows):
        line = []
        for x, (r, g, b, a) in enumerate(row):
            if a < 128:
                line.append(KEY)
                continue
            # Semi-transparent edge pixels take on the outline colour, never
            # the key colour, so the keyed edge has no pink halo.
            px = tuple((c * a + k * (255 - a) + 127) // 255 for c, k in zip((r, g, b), ink))
            if near_key(px):
                sys.exit(f"{src}: pixel ({x},{y}) {px} is too close to the key colour")
            line.append(px)
        out.append(line)
    if out[0][0] != KEY:
        sys.exit(f"{src}: top-left pixel must be outside the window shape")
    for rect in rects:
        x0, y0, w, h = (int(v) for v in rect.split(","))
        for y in range(y0, min(y0 + h, height)):
            for x in range(x0, min(x0 + w, width)):
                if out[y][x] == KEY:
                    sys.exit(f"{src}: ({x},{y}) in {rect} lies outside the window shape")
    write_png(dst, width, height, out, alpha=False)


def cmd_key2x(src, dst, ink_hex, guide):
    ink = parse_hex(ink_hex)
    width, height, rows = read_png(src)
    gwidth, gheight, grows = read_png(guide)
    if (width, height) != (2 * gwidth, 2 * gheight):
        sys.exit(f"{src}: {width}x{height} is not twice {guide} ({gwidth}x{gheight})")
    out = []
    for y, row in enumerate(rows):
        line = []
        for x, (r, g, b, a) in enumerate(row):
            if grows[y // 2][x // 2][:3] == KEY:
                line.append(KEY)
                continue
            px = tuple((c * a + k * (255 - a) + 127) // 255 for c, k in zip((r, g, b), ink))
            if near_key(px):
                sys.exit(f"{src}: pixel ({x},{y}) {px} is too close to the key colour")
            line.append(px)
        out.append(line)
    write_png(dst, width, height, out, alpha=False)


def cmd_rgba(src, dst):
    width, height, rows = read_png(src)
    out = [[px if px[3] else (0, 0, 0, 0) for px in row] for row in rows]
    write_png(dst, width, height, out, alpha=True)


def parse_hex(text):
    return tuple(int(text.lstrip("#")[i:i + 2], 16) for i in (0, 2, 4))


def cmd_flat(src, dst, bg_hex):
    bg = parse_hex(bg_hex)
    width, height, rows = read_png(src)
    out = [[tuple((c * px[3] + k * (255 - px[3]) + 127) // 255 for c, k in zip(px[:3], bg)) for px in row]
           for row in rows]
    write_png(dst, width, height, out, alpha=False)


def cmd_crop(src, dst, rect):
    x0, y0, w, h = (int(v) for v in rect.split(","))
    width, height, rows = read_png(src)
    if x0 < 0 or y0 < 0 or x0 + w > width or y0 + h > height:
        sys.exit(f"{src}: {rect} lies outside the {width}x{height} picture")
    out = [[px[:3] for px in row[x0:x0 + w]] for row in rows[y0:y0 + h]]
    write_png(dst, w, h, out, alpha=False)


def main(argv):
    if len(argv) >= 5 and argv[1] == "key":
        cmd_key(argv[2], argv[3], argv[4], argv[5:])
    elif len(argv) == 6 and argv[1] == "key2x":
        cmd_key2x(argv[2], argv[3], argv[4], argv[5])
    elif len(argv) == 4 and argv[1] == "rgba":
        cmd_rgba(argv[2], argv[3])
    elif len(argv) == 5 and argv[1] == "flat":
        cmd_flat(argv[2], argv[3], argv[4])
    elif len(argv) == 5 and argv[1] == "crop":
        cmd_crop(argv[2], argv[3], argv[4])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
