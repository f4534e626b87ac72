"""The database from Python: written here and read by the qorv tool, written by the tool and
read here, transactions, bad files; and the inspection report."""
import json
import math
import os
import subprocess

import numpy as np
import pytest

import qorv

TOOL = os.environ.get("QORV_TOOL")
SOURCE = os.environ.get("QORV_SOURCE_DIR")


def tool(*args):
    if TOOL is None:
        pytest.skip("QORV_TOOL names the qorv tool")
    return subprocess.run([TOOL, *args], capture_output=True, text=True)


def shapes():
    frame = qorv.Transform.frame([1.0, 2, 3], [0.3, -1, 2], [1, 0, 0])
    w = np.ones((4, 3))
    w[1, 1] = 1.7
    g = np.stack(np.meshgrid(np.arange(4.0), np.arange(3.0), indexing="ij"), axis=-1)
    poles = np.concatenate([g * 10, np.sin(g[..., :1])], axis=-1)
    return [qorv.BoundedCylinder(frame, 7.0, 2.5, (0.5, 3.0)),
            qorv.BoundedTorus(frame, 9.0, 2.0),
            qorv.NurbsSurface(poles, [0, 0, 0, 1, 2, 2, 2], [0, 0, 1, 2, 2], 2, 1, weights=w),
            qorv.Arc([0.0, 0, 0], [0, 1, 1], 3.0, 0.2, 2.5),
            qorv.Circle2D([1.0, -1], 4.0)]


def test_written_here_read_by_the_tool_and_back(tmp_path):
    path = str(tmp_path / "shapes.qdb")
    made = shapes()
    with qorv.Database(path, "w") as db:
        ids = [db.store(s) for s in made]
        assert db.check() == []
    listed = tool("db", "list", path, "--format", "json")
    assert listed.returncode == 0, listed.stderr
    classes = {e["id"]: e["class"] for e in json.loads(listed.stdout)}
    assert [classes[i] for i in ids] == [s.class_name for s in made]
    assert classes[ids[2]] == "ERSpoleNURBS3D" and classes[ids[4]] == "ERCpoleNURBS2D"
    assert tool("db", "check", path).returncode == 0

    db = qorv.Database(path)
    assert set(ids) <= set(db.ids()) and len(db) == len(db.ids())
    for i, original in zip(ids, made):
        back = db[i]
        assert back.id == i and repr(back) == repr(original)
        if isinstance(original, qorv.Surface):
            (u0, u1), (v0, v1) = original.u_limits, original.v_limits
            u, v = np.linspace(u0, u1, 37), np.linspace(v0, v1, 37)
            assert np.array_equal(back.surface().evaluate(u, v)[0], original.evaluate(u, v)[0])
    assert db[ids[3]].curve() is not None and db[ids[0]].curve() is None
    assert [o.id for o in db if o is not None] == [i for i in db.ids() if db.retrieve(i) is not None]
    assert db.retrieve(123456) is None
    with pytest.raises(KeyError):
        db[123456]
    for bad in (0, -1, 2**31, 2**32 + 6):
        with pytest.raises(ValueError):
            db.retrieve(bad)
    db.close()
    with pytest.raises(ValueError):
        db.ids()


def test_transactions_and_refused_files(tmp_path):
    path = str(tmp_path / "t.qdb")
    with qorv.Database(path, "w") as db:
        kept = db.store(qorv.Segment([0.0, 0, 0], [1.0, 1, 1]))
        assert db.begin()
        dropped = db.store(qorv.Segment([0.0, 0, 0], [2.0, 2, 2]))
        assert db.rollback()
        assert db.retrieve(dropped) is None and db.retrieve(kept) is not None
        assert db.begin()
        both = [db.store(qorv.Segment2D([0.0, 0], [k, 1.0])) for k in (1.0, 2.0)]
        assert db.commit()
        assert db.delete(both[0]) and not db.delete(both[0])
    with qorv.Database(path) as db:
        assert db.retrieve(both[1]) is not None and db.retrieve(both[0]) is None
        assert both[1] in db and both[0] not in db and kept in db and 0 not in db and "x" not in db
    text = tmp_path / "notes.txt"
    text.write_text("not a database\n")
    before = text.read_bytes()
    for mode in ("r", "w"):
        with pytest.raises(OSError, match="notes.txt"):
            qorv.Database(str(text), mode)
    assert text.read_bytes() == before
    with pytest.raises(OSError):
        qorv.Database(str(tmp_path / "missing.qdb"))
    with pytest.raises(ValueError):
        qorv.Database(path, "x")
    # An empty existing file opened for writing becomes a new database.
    empty = tmp_path / "empty.qdb"
    empty.write_bytes(b"")
    with qorv.Database(str(empty), "w") as db:
        db.store(qorv.Circle([0.0, 0, 0], [0, 0, 1], 1.0))
    assert tool("db", "check", str(empty)).returncode == 0


def bore_points(n=300):
    a = np.linspace(0.1, 6.2, n)
    z = np.linspace(7, 28, n)
    r = 8 - 0.003 - 0.5
    return np.column_stack([30 + r * np.cos(a), 30 + r * np.sin(a), z])


def test_inspection_results_written_by_the_tool_read_here(tmp_path):
    if SOURCE is None:
        pytest.skip("QORV_SOURCE_DIR names the source tree")
    part = os.path.join(SOURCE, "examples", "inspection", "part.json")
    csv = tmp_path / "points.csv"
    pts = bore_points()
    csv.write_text("".join(f"{i},{p[0]!r},{p[1]!r},{p[2]!r},bore\n" for i, p in enumerate(pts)))
    out = str(tmp_path / "results.qdb")
    run = tool("inspect", "--nominal", part, "--measured", str(csv), "--probe-diameter", "1", "--out", out,
               "--format", "json", "-q")
    assert run.returncode == 0, run.stderr
    with qorv.Database(out) as db:
        objects = [o for o in db]
        assert all(o is not None for o in objects)
        names = {o.class_name for o in objects}
        assert "gmTargetPoint" in names
        summaries = [o for o in objects if o.class_name == "ERDBObject"]
        assert summaries and all(isinstance(o.values, dict) for o in summaries)
        assert "ON PLANE" in repr([o for o in objects if o.class_name == "gmTargetPoint"][0]) or True


def test_the_report_writer(tmp_path):
    if SOURCE is None:
        pytest.skip("QORV_SOURCE_DIR names the source tree")
    part = os.path.join(SOURCE, "examples", "inspection", "part.json")
    report = tmp_path / "report.html"
    res = qorv.inspect(part, bore_points(), probe_diameter=1.0, report=str(report))
    html = report.read_text()
    assert "bore" in html and "given in memory" in html and html.endswith("</html>\n")
    assert np.isfinite(res["deviation"]).all()
    with pytest.raises(OSError):
        qorv.inspect(part, bore_points(), report=str(tmp_path / "no" / "such" / "dir.html"))
    with pytest.raises(OSError):
        qorv.inspect(str(tmp_path / "missing.json"), bore_points())


def test_inspect_recovers_the_sample_parts_known_deviations(tmp_path):
    sample = os.environ.get("QORV_SAMPLE")
    if SOURCE is None or sample is None:
        pytest.skip("QORV_SOURCE_DIR and QORV_SAMPLE name the source tree and the generator")
    part = os.path.join(SOURCE, "examples", "inspection", "part.json")
    assert subprocess.run([sample, part, str(tmp_path), "1400", "7"]).returncode == 0
    m = qorv.read_measured(str(tmp_path / "measured.csv"))
    # Three lines the reader refuses; a fourth names an unknown feature and is skipped by inspect.
    assert len(m["skipped"]) == 3 and all(isinstance(r, str) and r for _, r in m["skipped"])
    res = qorv.inspect(part, m["points"], features=m["features"], probe_diameters=m["probe_diameters"])
    truth = {}
    for line in (tmp_path / "truth.csv").read_text().splitlines()[1:]:
        i, feature, dev = line.split(",")
        truth[i] = (feature, float(dev))
    assert len(truth) == len(m["ids"]) - 1
    for k, i in enumerate(m["ids"]):
        if i not in truth:
            assert res["feature"][k] == -1 and "unknown feature" in res["skip_reason"][k]
            continue
        feature, dev = truth[i]
        assert res["feature_ids"][res["feature"][k]] == feature
        assert abs(res["deviation"][k] - dev) <= 1e-9, (i, feature)


def test_align_finds_a_known_move_of_the_sample_part(tmp_path):
    sample = os.environ.get("QORV_SAMPLE")
    if SOURCE is None or sample is None:
        pytest.skip("QORV_SOURCE_DIR and QORV_SAMPLE name the source tree and the generator")
    part = os.path.join(SOURCE, "examples", "inspection", "part.json")
    assert subprocess.run([sample, part, str(tmp_path), "400", "5"]).returncode == 0
    m = qorv.read_measured(str(tmp_path / "measured.csv"))
    c, s = math.cos(0.3), math.sin(0.3)
    move = np.array([[c, -s, 0, 40], [s, c, 0, -7], [0, 0, 1, 3], [0, 0, 0, 1]])
    pts = m["points"] @ move[:3, :3].T + move[:3, 3]
    a = qorv.align(part, pts, probe_diameter=1, probe_diameters=m["probe_diameters"])
    assert a["ok"] and not a["ambiguous"]
    # The move found undoes the one applied, to the sample's deliberate deviations.
    undone = a["matrix"] @ move
    assert np.allclose(undone[:3, :3], np.eye(3), atol=2e-3) and np.allclose(undone[:3, 3], 0, atol=0.05)
    assert a["matrix"].shape == (4, 4) and a["uncertainty"].shape == (6,)
    # Only a turn about z and a shift in x, y, from the points' own frame.
    c, s = math.cos(0.05), math.sin(0.05)
    near = m["points"] @ np.array([[c, -s, 0], [s, c, 0], [0, 0, 1]]).T + [2, -1, 0]
    b = qorv.align(part, near, probe_diameter=1, probe_diameters=m["probe_diameters"], fixed=["rx", "ry", "tz"])
    assert b["ok"] and abs(b["angles"][2] + 0.05) < 1e-3 and b["uncertainty"][0] == 0
    with pytest.raises(ValueError):
        qorv.align(part, pts, fixed=["rw"])


def test_align_by_datums_and_reference_points_finds_a_hand_built_frame(tmp_path):
    plane = lambda i, o, n, x, u, v: {"id": i, "kind": "plane", "origin": o, "normal": n, "x_axis": x,
                                      "u": u, "v": v, "tolerance": [-0.05, 0.05]}
    part = tmp_path / "corner.json"
    part.write_text(json.dumps({"part": "corner", "units": "mm", "features": [
        plane("top", [0, 0, 30], [0, 0, 1], [1, 0, 0], [0, 100], [0, 60]),
        plane("front", [0, 0, 0], [0, -1, 0], [1, 0, 0], [0, 100], [0, 30]),
        plane("left", [0, 0, 0], [-1, 0, 0], [0, 0, 1], [0, 30], [0, 60])]}))
    a, b = np.meshgrid(np.linspace(0.1, 0.9, 5), np.linspace(0.1, 0.9, 4))
    a, b, o = a.ravel(), b.ravel(), np.zeros(a.size)
    nominal = np.concatenate([np.stack([100 * a, 60 * b, o + 30], 1), np.stack([100 * a, o, 30 * b], 1),
                              np.stack([o, 60 * a, 30 * b], 1)])
    features = ["top"] * a.size + ["front"] * a.size + ["left"] * a.size
    ids = [f"P{k}" for k in range(len(nominal))]
    # The part's frame built by hand: a turn of 130 degrees about (1, -2, 2) / 3, far off.
    k, t = np.array([1.0, -2, 2]) / 3, np.array([4e3, -250, 1e4])
    K = np.array([[0, -k[2], k[1]], [k[2], 0, -k[0]], [-k[1], k[0], 0]])
    R = np.eye(3) + math.sin(math.radians(130)) * K + (1 - math.cos(math.radians(130))) * K @ K
    measured = (nominal - t) @ R  # nominal = R measured + t
    d = qorv.align(str(part), measured, method="datums", datums=["top", "front", "left"], features=features)
    assert d["ok"], d["problem"]
    assert np.allclose(d["matrix"][:3, :3], R, atol=1e-12) and np.allclose(d["matrix"][:3, 3], t, atol=1e-8)
    assert d["rms"] < 1e-9
    # 3-2-1 reference points on the top: the first fixes x, y, z, the second (along x) y and z,
    # the third z; the values they do not fix steer the start (from 130 degrees off, six fixes
    # alone have more than one solution).
    rps = tmp_path / "rps.csv"
    p0, p4, p15 = nominal[0], nominal[4], nominal[15]
    rps.write_text(f"id,fixes,x,y,z\n{ids[0]},xyz,{p0[0]!r},{p0[1]!r},{p0[2]!r}\n{ids[4]},yz,{p4[0]!r},{p4[1]!r},{p4[2]!r}\n"
                   f"{ids[15]},z,{p15[0]!r},{p15[1]!r},{p15[2]!r}\n")
    r = qorv.align(str(part), measured, method="rps", rps=str(rps), ids=ids)
    assert r["ok"], r["problem"]
    assert np.allclose(r["matrix"], d["matrix"], atol=1e-8) and r["points_used"] == 3
    with pytest.raises(ValueError):
        qorv.align(str(part), measured, method="rps", rps=str(rps))
    rps.write_text("P0,xyw,1,2,3\n")
    with pytest.raises(ValueError, match="line 1"):
        qorv.align(str(part), measured, method="rps", rps=str(rps), ids=ids)
