#!/usr/bin/env python3
"""The inspection report as a browser shows it: headless Chromium loads the sample part's report
offline, draws the 3D view, and the picture, the verdicts and the PDF agree with the JSON output.
Without chromium the browser cases skip and say why. QORV_TOOL, QORV_SAMPLE and QORV_SOURCE_DIR
name the tool, the sample generator and the sources (set by the build's test runner)."""
import hashlib
import html
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
import zlib

TOOL = os.environ.get("QORV_TOOL", "")
SAMPLE = os.environ.get("QORV_SAMPLE", "")
PART = os.path.join(os.environ.get("QORV_SOURCE_DIR", ""), "examples/inspection/part.json")
CHROMIUM = shutil.which("chromium")
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--window-size=1200,3200",
         "--force-device-scale-factor=1", "--virtual-time-budget=15000"]
BELOW, ABOVE = (0, 40, 255), (230, 0, 0)  # the colours beyond a band's limits


def png_pixels(path):
    """Width, height and rows of (r, g, b) from an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat = 8, b""
    while at < len(data):
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + size]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour in (2, 6), (depth, colour)
        elif kind == b"IDAT":
            idat += body
        at += 12 + size
    step = 3 if colour == 2 else 4
    raw, rows, previous = zlib.decompress(idat), [], bytearray(width * step)
    for y in range(height):
        start = y * (width * step + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + width * step])
        for i in range(len(line)):
            a = line[i - step] if i >= step else 0
            b, c = previous[i], previous[i - step] if i >= step else 0
            if kind == 1: line[i] = (line[i] + a) & 255
            elif kind == 2: line[i] = (line[i] + b) & 255
            elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * step:x * step + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def read(path):
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        return f.read()


def near(a, b, slack=8):
    return all(abs(x - y) <= slack for x, y in zip(a, b))


class Report(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="qorv_report_")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def inspect(self, *args, env=None):
        return subprocess.run([TOOL, "inspect", *args, "-q"], capture_output=True, text=True,
                              env=env, timeout=600)

    def sample(self):
        if not os.path.exists(self.path("measured.csv")):
            subprocess.run([SAMPLE, PART, self.dir + "/", "600", "3"], check=True, capture_output=True)
        return self.path("measured.csv")

    def browse(self, page, *extra):
        profile = tempfile.mkdtemp(dir=self.dir)
        return subprocess.run([CHROMIUM, *FLAGS, "--user-data-dir=" + profile, *extra, "file://" + page],
                              capture_output=True, text=True, timeout=300)

    def test_sample_report_in_a_browser(self):
        if not CHROMIUM or not shutil.which("pdftoppm"):
            self.skipTest("no headless browser or PDF renderer (Debian chromium, poppler-utils)")
        measured = self.sample()
        run = self.inspect("--nominal", PART, "--measured", measured, "--format", "json",
                           "--report", self.path("report.html"))
        self.assertEqual(run.returncode, 1, run.stderr)
        doc = json.loads(run.stdout)
        page = read(self.path("report.html"))
        # The header names each input by a digest anyone can recompute.
        for name in (PART, measured):
            with open(name, "rb") as f:
                self.assertIn(hashlib.sha256(f.read()).hexdigest(), page)
        self.assertIn("mm, degrees", page)
        # Each feature's verdict as the JSON implies it.
        rows = dict(re.findall(r'<tr data-feature="([^"]*)">.*?<td class="verdict [^"]*">([^<]*)</td>', page))
        for f in doc["features"]:
            failed = f["out_of_tolerance"] > 0 or any(
                f.get(k, {}).get("in_tolerance") is False for k in ("form", "size")) or any(
                t.get("in_tolerance") is False for t in f.get("tolerances", []))
            with self.subTest(feature=f["id"]):
                self.assertEqual(rows[f["id"]], "FAIL" if failed else "PASS")

        # Loaded offline: nothing on the console but the software renderer's own notes.
        dom = self.browse(self.path("report.html"), "--enable-logging=stderr", "--v=0", "--dump-dom")
        console = [l for l in dom.stderr.splitlines()
                   if ":CONSOLE" in l and "GL Driver Message (OpenGL, Performance" not in l]
        self.assertEqual(console, [])
        view = re.search(r'<div id="view3d"([^>]*)>', dom.stdout).group(1)
        attrs = {k: html.unescape(v) for k, v in re.findall(r'data-(\w+)="([^"]*)"', view)}
        self.assertEqual(attrs.get("ready"), "1", view)
        labels, (cx, cy, cw, ch) = json.loads(attrs["projected"]), json.loads(attrs["canvas"])
        self.assertGreater(len(labels), 3)

        self.browse(self.path("report.html"), "--screenshot=" + self.path("shot.png"))
        width, height, rows = png_pixels(self.path("shot.png"))
        self.assertLessEqual(cy + ch, height)
        canvas = [rows[y][x] for y in range(int(cy), int(cy + ch), 4) for x in range(int(cx), int(cx + cw), 4)]
        drawn = sum(1 for p in canvas if p != (255, 255, 255))
        self.assertGreater(drawn, len(canvas) // 10)  # the faces fill part of the canvas
        # Each labelled point out of tolerance shows its side's out-of-band colour where it projects.
        outside = {r["id"]: r for r in doc["results"] if not r["in_tolerance"]}
        covered = lambda x, y: any(b[0] - 2 <= x <= b[0] + b[2] + 2 and b[1] - 2 <= y <= b[1] + b[3] + 2
                                   for b in (l["box"] for l in labels))
        seen = [l for l in labels if not covered(l["x"], l["y"])]  # a label may hide another's point
        self.assertGreaterEqual(len(seen), 3)
        for label in seen:
            with self.subTest(point=label["id"]):
                r = outside[label["id"]]
                band = next(f["tolerance"] for f in doc["features"] if f["id"] == r["feature"])
                want = BELOW if r["deviation"] < band[0] else ABOVE
                x, y = round(label["x"]), round(label["y"])
                around = [rows[y + j][x + i] for j in (-1, 0, 1) for i in (-1, 0, 1)]
                self.assertTrue(any(near(p, want) for p in around), (label, around))

        # Printed (into a folder whose name is no plain URL): the pages render and carry the header
        # and every feature.
        pdf = self.path("a b#c/report.pdf")
        os.makedirs(os.path.dirname(pdf))
        run = self.inspect("--nominal", PART, "--measured", measured, "--report", pdf)
        self.assertEqual(run.returncode, 1, run.stderr)
        info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True)
        pages = int(re.search(r"Pages:\s+(\d+)", info.stdout).group(1))
        self.assertGreaterEqual(pages, 2)
        subprocess.run(["pdftoppm", "-r", "20", "-png", pdf, self.path("page")], check=True)
        self.assertEqual(len([n for n in os.listdir(self.dir) if n.startswith("page")]), pages)
        text = subprocess.run(["pdftotext", pdf, "-"], capture_output=True, text=True).stdout
        for word in ["Inspection of", "SHA-256", "FAIL"] + [f["id"] for f in doc["features"]]:
            self.assertIn(word, text)

    def test_colours_verdicts_and_order_per_feature(self):
        # A tight face and a cast face with an offset band: the same place in each band, the same
        # colour, whatever the band's width; a face without points is not judged.
        nominal, measured = self.path("two.json"), self.path("two.csv")
        with open(nominal, "w") as f:
            json.dump({"units": "mm", "features": [
                {"id": "tight", "kind": "plane", "origin": [0, 0, 0], "normal": [0, 0, 1],
                 "u": [0, 10], "v": [0, 10], "tolerance": [-0.01, 0.01]},
                {"id": "cast", "kind": "plane", "origin": [50, 0, 0], "normal": [0, 0, 1],
                 "u": [0, 10], "v": [0, 10], "tolerance": [0, 3]},
                {"id": "unused", "kind": "plane", "origin": [0, 50, 0], "normal": [0, 0, 1],
                 "u": [0, 10], "v": [0, 10], "tolerance": [-1, 1]}]}, f)
        lower, upper, white = (67, 147, 195), (214, 96, 77), (255, 255, 255)
        points = [  # feature, z, expected colour; the tight face passes, the cast face fails
            ("tight", 0.0, white), ("tight", -0.01, lower), ("tight", 0.01, upper),
            ("cast", 1.5, white), ("cast", 3.0, upper), ("cast", -0.5, BELOW), ("cast", 3.7, ABOVE)]
        with open(measured, "w") as f:
            for k, (feature, z, _) in enumerate(points):
                x = 5 + (50 if feature == "cast" else 0)
                f.write(f"p{k},{x},{1 + k},{z},{feature}\n")
        for order, rows in (("input", ["tight PASS", "cast FAIL", "unused NOT JUDGED"]),
                            ("failures", ["cast FAIL", "unused NOT JUDGED", "tight PASS"])):
            run = self.inspect("--nominal", nominal, "--measured", measured, "--report",
                               self.path("two.html"), "--report-order", order)
            self.assertEqual(run.returncode, 1, run.stderr)
            page = read(self.path("two.html"))
            found = re.findall(r'<tr data-feature="([^"]*)">.*?<td class="verdict [^"]*">([^<]*)</td>', page)
            self.assertEqual([f"{k} {v}" for k, v in found], rows)
            # The worst point is the farthest outside its band, not the first outside it.
            self.assertIn("p6 (line 7, +3.7000)", page[page.index('data-feature="cast"'):])
        view = page[page.index('<svg class="view"'):]
        view = view[:view.index("</svg>")]
        fills = [tuple(int(h[i:i + 2], 16) for i in (0, 2, 4))
                 for h in re.findall(r'<circle [^>]*fill="#([0-9a-f]{6})"', view)]
        self.assertEqual(len(fills), len(points))
        for _, _, want in points:
            self.assertEqual(sum(near(want, got, 2) for got in fills),
                             sum(near(want, c, 2) for _, _, c in points), want)

    def test_pdf_without_a_browser(self):
        env = dict(os.environ, QORV_CHROMIUM=os.path.join(self.dir, "no-such-browser"))
        target = self.path("none.pdf")
        run = self.inspect("--nominal", PART, "--measured", self.sample(), "--report", target, env=env)
        self.assertEqual(run.returncode, 2)
        self.assertIn("headless Chromium", run.stderr)
        self.assertFalse(os.path.exists(target))


if __name__ == "__main__":
    unittest.main(verbosity=2)
