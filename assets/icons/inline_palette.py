#!/usr/bin/env python3
"""Writes an SVG of the skin with its palette classes turned into plain attributes.

The skin's SVGs take their colours from palette.css through an xml-stylesheet
link; an icon installed on its own has no stylesheet beside it, so every
class="f-*", "s-*" or "c-*" becomes the fill, stroke or stop-color it names.

Usage: inline_palette.py PALETTE.css IN.svg OUT.svg
"""

import re
import sys

PROPERTY = {"fill": "fill", "stroke": "stroke", "stop-color": "stop-color"}


def read_palette(path):
    rules = {}
    for name, prop, value in re.findall(r"\.([\w-]+)\s*\{\s*([\w-]+)\s*:\s*([^;]+);\s*\}", open(path).read()):
        rules[name] = (PROPERTY[prop], value.strip())
    return rules


def inline(svg, rules):
    def attributes(match):
        out = []
        for name in match.group(1).split():
            if name not in rules:
                sys.exit(f"class {name} is not in the palette")
            prop, value = rules[name]
            out.append(f'{prop}="{value}"')
        return " ".join(out)

    svg = re.sub(r"<\?xml-stylesheet[^>]*\?>\n?", "", svg)
    return re.sub(r'class="([^"]*)"', attributes, svg)


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    text = inline(open(argv[2], encoding="utf-8").read(), read_palette(argv[1]))
    with open(argv[3], "w", encoding="utf-8", newline="\n") as out:
        out.write(text)


if __name__ == "__main__":
    main(sys.argv)
