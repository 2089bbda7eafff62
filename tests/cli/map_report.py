#!/usr/bin/env python3
"""The HTML report of check --html and plan --html, read as a browser and a reader would.

  map_report.py parse HTML JSON          HTML well formed (html.parser), each inline SVG an XML
                                         document, no script and nothing fetched, every in-page
                                         link has its target, ids unique, and the figures of the
                                         report's tables the same as --json's
  map_report.py render HTML PROBES PNG   the page screenshot by headless chromium; the map's
                                         bands found in the picture and the colour in the
                                         middle of each probed sector as the model says

Exit status 0 when everything holds, 1 with what did not, 77 when chromium is missing.
"""
import html.parser
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib

VOID = {"meta", "br", "hr", "img", "input", "link", "col", "area", "base", "wbr", "source"}
# Inside inline SVG, elements may close themselves.
SVG_TAGS = {"svg", "g", "rect", "path", "line", "text", "title", "a"}


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack, self.ids, self.links, self.problems = [], [], [], []
        self.tables, self.row, self.cell, self.in_cell = [], None, "", False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "script" or "src" in attrs:
            self.problems.append(f"<{tag}> loads or runs something")
        for name in ("href", "xlink:href"):
            value = attrs.get(name)
            if value is None:
                continue
            if not value.startswith("#"):
                self.problems.append(f"link out of the page: {value}")
            self.links.append(value[1:])
        if "id" in attrs:
            self.ids.append(attrs["id"])
        if tag == "table":
            self.tables.append({"class": attrs.get("class", ""), "rows": []})
        elif tag == "tr":
            self.row = []
        elif tag in ("td", "th"):
            self.in_cell, self.cell = True, ""
        if tag not in VOID:
            self.stack.append(tag)

    def handle_startendtag(self, tag, attrs):
        if tag not in SVG_TAGS and tag not in VOID:
            self.problems.append(f"<{tag}/> closes itself outside SVG")
        saved = list(self.stack)
        self.handle_starttag(tag, attrs)
        self.stack = saved

    def handle_endtag(self, tag):
        if not self.stack or self.stack[-1] != tag:
            self.problems.append(f"</{tag}> closes <{self.stack[-1] if self.stack else None}>")
            return
        self.stack.pop()
        if tag in ("td", "th"):
            self.in_cell = False
            self.row.append(self.cell.strip())
        elif tag == "tr" and self.tables:
            self.tables[-1]["rows"].append(self.row)

    def handle_data(self, data):
        if self.in_cell:
            self.cell += data


def parse(html_path, json_path):
    text = open(html_path, encoding="utf-8").read()
    page = Page()
    page.feed(text)
    page.close()
    problems = list(page.problems)
    if page.stack:
        problems.append(f"never closed: {page.stack}")
    if len(set(page.ids)) != len(page.ids):
        problems.append("ids used twice")
    problems += [f"link to a missing id: {link}" for link in page.links if link not in page.ids]
    svgs = 0
    for start in range(text.count("<svg ")):
        begin = text.index("<svg ", 0 if start == 0 else end)
        end = text.index("</svg>", begin) + len("</svg>")
        ET.fromstring(text[begin:end])
        svgs += 1
    if svgs == 0:
        problems.append("no map")
    problems += same_figures(page.tables, json.load(open(json_path)))
    return problems


def rows_of(tables, cls):
    return [row for t in tables if t["class"] == cls for row in t["rows"][1:]]


def same_figures(tables, report):
    problems = []
    if report["command"] == "check":
        counts = rows_of(tables, "counts")
        expected = [[k, str(v)] for k, v in report["counts"].items()]
        for group in report["titleSets"]:
            expected += [[k, str(v)] for k, v in group["counts"].items()]
        if sorted(counts) != sorted(expected):
            problems.append(f"finding counts {counts} against --json {expected}")
        findings = [r[0] for r in rows_of(tables, "findings") if not r[0].startswith("note")]
        listed = [f["kind"] for g in report["titleSets"] for f in g["findings"]]
        if findings[: len(listed)] != listed:
            problems.append("the findings listed differ from --json's")
    else:
        steps = [r[2:] for r in rows_of(tables, "steps")]
        expected = [[str(s["packs"][k]) for k in ("read", "written", "removed")] +
                    [str(s["blankPacks"][k]) for k in ("removed", "stuffed")] +
                    [str(s["navpacks"][k]) for k in ("changed", "dropped")]
                    for s in report["steps"]]
        if steps != expected:
            problems.append(f"steps {steps} against --json {expected}")
        actions = [r[1] for r in rows_of(tables, "cells")]
        if actions != [c["action"] for s in report["steps"] for c in s["cells"]]:
            problems.append("cell actions differ from --json's")
    return problems


def read_png(path):
    """Width, height and rows of (r, g, b) of an 8-bit RGB or RGBA PNG, as chromium writes:
    through Pillow where it is installed (python3-pil), else decoded here."""
    try:
        from PIL import Image
        image = Image.open(path).convert("RGB")
        width, height = image.size
        pixels = list(image.getdata())
        return width, height, [pixels[y * width:(y + 1) * width] for y in range(height)]
    except ImportError:
        pass
    data = open(path, "rb").read()
    pos, chunks, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and interlace == 0, header
    step = 4 if colour == 6 else 3
    raw, stride, rows, prev = zlib.decompress(chunks), width * step, [], bytearray(width * step)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - step] if i >= step else 0
            b, c = prev[i], prev[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * step:x * step + 3]) for x in range(width)])
        prev = line
    return width, height, rows


def rgb(hex_colour):
    return tuple(int(hex_colour[i:i + 2], 16) for i in (1, 3, 5))


def near(a, b):
    return all(abs(x - y) <= 6 for x, y in zip(a, b))


def bands(rows, palette, min_pixels):
    """Each band: (row in its middle, first x, last x), top to bottom. The map's shapes have
    crisp edges: a band's pixels are the palette's colours exactly."""
    found, current, palette = [], [], set(palette)
    for y, row in enumerate(rows):
        xs = [x for x, p in enumerate(row) if p in palette]
        if len(xs) >= min_pixels:
            current.append((y, xs[0], xs[-1]))
        elif current:
            found.append(current[len(current) // 2])
            current = []
    return found


def render(html_path, probes_path, png_path):
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if chromium is None:
        print("chromium is not installed (apt-get install chromium): the rendering is not checked")
        return None
    probes = json.load(open(probes_path))
    with tempfile.TemporaryDirectory() as profile:
        subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                        "--force-device-scale-factor=1", f"--user-data-dir={profile}",
                        f"--window-size={probes['width']},{probes['height']}",
                        f"--screenshot={png_path}", "file://" + os.path.abspath(html_path)],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    _, _, rows = read_png(png_path)
    palette = [rgb(c) for c in probes["palette"]]
    found = bands(rows, palette, probes["minPixels"])
    problems = []
    if len(found) != len(probes["bands"]):
        return [f"{len(found)} bands in the picture, the model has {len(probes['bands'])}"]
    for index, ((y, first, last), band) in enumerate(zip(found, probes["bands"])):
        for probe in band:
            at = (probe["sector"] + 0.5) / probe["sectors"]
            x = first + int(at * (last - first + 1))
            if not near(rows[y][x], rgb(probe["colour"])):
                problems.append(f"band {index} ({probe['what']}): "
                                f"{rows[y][x]} in x {x} y {y}, expected {probe['colour']}")
    return problems


def main():
    mode, args = sys.argv[1], sys.argv[2:]
    problems = parse(*args) if mode == "parse" else render(*args)
    if problems is None:
        return 77
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
