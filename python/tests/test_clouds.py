"""Scanner clouds written here with struct (binary PLY, both byte orders) and as text, read by
qorv.read_cloud and judged by qorv inspect against the sample part's top face, whose deviations
are known exactly; the coloured PLY it writes read back with struct."""
import json
import os
import re
import struct
import subprocess
import tempfile

import numpy as np
import pytest

import qorv

RNG = np.random.default_rng(int(os.environ.get("QORV_TEST_SEED", "4242")))
PART = os.path.join(os.environ.get("QORV_SOURCE_DIR", ""), "examples", "inspection", "part.json")
TOOL = os.environ.get("QORV_TOOL", "")


def top_points(n):
    """Points over the sample part's top face (z = 30, normal +z), clear of its other features."""
    dev = RNG.uniform(-0.08, 0.08, n)
    xyz = np.column_stack([RNG.uniform(5, 15, n), RNG.uniform(5, 25, n), 30 + dev])
    return xyz, xyz[:, 2] - 30


def write_ply(path, xyz, order, coord):
    """x, y, z of type coord between a normal and a colour, a face list after the vertices."""
    fmt = {"<": "binary_little_endian", ">": "binary_big_endian"}[order]
    c = {"f": "float", "d": "double"}[coord]
    head = (f"ply\nformat {fmt} 1.0\ncomment written by struct\nelement vertex {len(xyz)}\n"
            f"property float nx\nproperty {c} x\nproperty {c} y\nproperty {c} z\n"
            "property uchar red\nproperty uchar green\nproperty uchar blue\n"
            "element face 2\nproperty list uchar int vertex_indices\nend_header\n")
    with open(path, "wb") as f:
        f.write(head.encode())
        for p in xyz:
            f.write(struct.pack(order + "f" + 3 * coord + "3B", 0.0, *p, 1, 2, 3))
        f.write(struct.pack(order + "B3i", 3, 0, 1, 2))
        f.write(struct.pack(order + "B4i", 4, 0, 1, 2, 0))
    return len(head)


def inspect(measured, *extra):
    run = subprocess.run([TOOL, "inspect", "--nominal", PART, "--measured", measured, "--format", "json", "-q",
                          *extra], capture_output=True, text=True)
    return run.returncode, (json.loads(run.stdout) if run.stdout else None), run.stderr


@pytest.mark.parametrize("order,coord", [("<", "f"), (">", "f"), ("<", "d"), (">", "d")])
def test_binary_ply_both_byte_orders(order, coord):
    xyz, dev = top_points(500)
    if coord == "f":
        xyz = xyz.astype(np.float32).astype(np.float64)
        dev = xyz[:, 2] - 30
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "scan.ply")
        write_ply(path, xyz, order, coord)
        cloud = qorv.read_cloud(path)
        assert cloud["kind"] == "ply" and cloud["skipped_count"] == 0
        np.testing.assert_array_equal(cloud["points"], xyz)
        out = os.path.join(d, "out.ply")
        status, report, err = inspect(path, "--cloud-out", out)
        assert status == 1, err  # the band is +-0.05: some points lie outside
        got = np.array([r["deviation"] for r in report["results"]])
        np.testing.assert_allclose(got, dev, atol=1e-12)
        assert report["features"][0]["count"] == 500
        flat = qorv.inspect_cloud(PART, cloud["points"], threads=2)
        np.testing.assert_array_equal(flat["deviation"], got)
        assert [f["count"] for f in flat["features"]] == [f["count"] for f in report["features"]]
        assert report["out_of_tolerance"] == int(np.sum(np.abs(dev) > 0.05))
        # The coloured cloud: 19 bytes a vertex after its header.
        raw = open(out, "rb").read()
        body = raw[raw.index(b"end_header\n") + 11:]
        assert len(body) == 19 * 500
        rows = [struct.unpack_from("<4f3B", body, 19 * i) for i in range(500)]
        np.testing.assert_allclose([r[3] for r in rows], dev, atol=1e-6)
        assert all((r[4] > r[6]) == (r[3] > 0) for r in rows if abs(r[3]) > 0.01)  # red above, blue below


def test_damaged_files_are_refused_with_their_offset():
    xyz, _ = top_points(4)
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "scan.ply")
        header = write_ply(path, xyz, ">", "d")
        whole = open(path, "rb").read()
        cut_path = os.path.join(d, "cut.ply")
        for cut in range(len(whole)):
            with open(cut_path, "wb") as f:
                f.write(whole[:cut])
            with pytest.raises(ValueError, match="refused at byte") as e:
                qorv.read_cloud(cut_path)
            if cut >= header:
                assert f"refused at byte {cut}:" in str(e.value)
        # A vertex count that lies either way, and the tool's answer to it.
        for lie in (b"element vertex 5\n", b"element vertex 3\n"):
            with open(cut_path, "wb") as f:
                f.write(whole.replace(b"element vertex 4\n", lie))
            with pytest.raises(ValueError, match="refused at byte"):
                qorv.read_cloud(cut_path)
            status, _, err = inspect(cut_path)
            assert status == 2 and "refused at byte" in err


def test_text_clouds_and_nan_rows():
    xyz, dev = top_points(50)
    with tempfile.TemporaryDirectory() as d:
        lines = [f"{x!r}{sep}{y!r}{sep}{z!r}{sep}0.5" for (x, y, z), sep in zip(xyz, [" ", "\t", ", "] * 50)]
        lines.insert(10, "nan 1 2")
        for name, text in (("scan.xyz", "X Y Z\n" + "\n".join(lines) + "\n"),
                           ("scan.pts", f"{len(lines)}\n" + "\n".join(lines) + "\n")):
            path = os.path.join(d, name)
            open(path, "w").write(text)
            cloud = qorv.read_cloud(path)
            np.testing.assert_array_equal(cloud["points"], xyz)
            assert cloud["skipped_count"] == 1 and cloud["skipped"][0][1] == 12
            html = os.path.join(d, "report.html")
            status, report, _ = inspect(path, "--report", html)
            np.testing.assert_allclose([r["deviation"] for r in report["results"]], dev, atol=1e-12)
            assert report["rows_skipped"] == 1
            shown = re.search(r"Shown: (\d+) of the (\d+) points out of tolerance.*?(\d+) of the (\d+) "
                              r"points in tolerance.*?; 1 rows not read", open(html, encoding="utf-8").read())
            assert shown and int(shown[1]) + int(shown[3]) == 50 == int(shown[2]) + int(shown[4])
