"""The Python module against computations done here with numpy: transformations, surfaces,
curves and the inspection of the sample part."""
import math
import os
import subprocess
import tempfile

import numpy as np
import pytest

import qorv

RNG = np.random.default_rng(int(os.environ.get("QORV_TEST_SEED", "2901")))


def random_frame():
    z = RNG.normal(size=3)
    x = RNG.normal(size=3)
    return qorv.Transform.frame(RNG.normal(size=3) * 50, z, x), z / np.linalg.norm(z)


def test_transformations_match_matrices():
    rot = qorv.Transform.rotation([0, 0, 1], math.pi / 2, centre=[1, 0, 0])
    np.testing.assert_allclose(rot.apply([2.0, 0, 0]), [1, 1, 0], atol=1e-15)
    frame, _ = random_frame()
    move = qorv.Transform.translation([1, 2, 3]) * frame * qorv.Transform.scaling(2.5)
    pts = RNG.normal(size=(1000, 3)) * 100
    m = move.matrix()
    expected = pts @ m[:3, :3].T + m[:3, 3]
    np.testing.assert_allclose(move.apply(pts), expected, rtol=1e-12, atol=1e-10)
    np.testing.assert_allclose(move.inverse().apply(move.apply(pts)), pts, atol=1e-10)
    assert move.scale == pytest.approx(2.5)
    np.testing.assert_allclose(move.apply_vectors([1.0, 0, 0]), m[:3, 0], atol=1e-12)
    with pytest.raises(ValueError):
        qorv.Transform.frame([0, 0, 0], [0, 0, 0])
    with pytest.raises(ValueError):
        move.apply(np.zeros((4, 2)))


def test_cylinder_projection_in_bulk():
    frame, axis = random_frame()
    cyl = qorv.BoundedCylinder(frame, 20.0, 5.0)
    pts = frame.apply(np.column_stack([RNG.uniform(-12, 12, 5000), RNG.uniform(-12, 12, 5000),
                                       RNG.uniform(-19, 19, 5000)]))
    res = cyl.project(pts)
    origin = frame.apply([0.0, 0, 0])
    w = pts - origin
    along = w @ axis
    radial = w - np.outer(along, axis)
    rho = np.linalg.norm(radial, axis=1)
    ok = res["codes"] == 1
    assert ok.sum() > 4900
    expected_feet = origin + np.outer(along, axis) + radial * (5.0 / rho)[:, None]
    np.testing.assert_allclose(res["feet"][ok], expected_feet[ok], atol=1e-10)
    # The cylinder's normal points to its axis: the signed distance is 5 - rho.
    np.testing.assert_allclose(res["distances"][ok], (5.0 - rho)[ok], atol=1e-10)
    p, n = cyl.evaluate(res["parameters"][ok, 0], res["parameters"][ok, 1])
    np.testing.assert_allclose(p, res["feet"][ok], atol=1e-10)
    np.testing.assert_allclose(np.linalg.norm(n, axis=1), 1.0, atol=1e-12)
    assert cyl.u_limits == pytest.approx((-20, 20))


def test_sphere_and_plane():
    frame, _ = random_frame()
    sphere = qorv.BoundedSphere(frame, 3.0)
    pts = frame.apply(RNG.normal(size=(2000, 3)) * 10)
    res = sphere.project(pts)
    centre = frame.apply([0.0, 0, 0])
    d = np.linalg.norm(pts - centre, axis=1)
    np.testing.assert_allclose(np.abs(res["distances"]), np.abs(d - 3.0), atol=1e-10)
    plane = qorv.BoundedPlane(frame, (0, 1), (0, 1))
    lo, hi = plane.box()
    assert np.all(lo <= hi)


def test_curves_nearest_points():
    seg = qorv.Segment([0.0, 0, 0], [10.0, 0, 0])
    res = seg.nearest(np.array([[3.0, 4, 0], [-5.0, 1, 0], [12.0, 0, 2]]))
    np.testing.assert_allclose(res["feet"], [[3, 0, 0], [0, 0, 0], [10, 0, 0]], atol=1e-12)
    np.testing.assert_allclose(res["distances"], [4, math.hypot(5, 1), math.hypot(2, 2)], atol=1e-12)
    arc = qorv.Arc([0.0, 0, 0], [0.0, 0, 1], 2.0, 0.0, math.pi)
    ts = np.linspace(0.0, math.pi, 50)
    on = arc.evaluate(ts)
    np.testing.assert_allclose(np.linalg.norm(on, axis=1), 2.0, atol=1e-12)
    far = arc.nearest(np.array([[0.0, 5, 0], [0.0, -3, 0]]))
    np.testing.assert_allclose(far["distances"], [3, math.hypot(2, 3)], atol=1e-10)
    # A rational quadratic quarter circle: every point on the unit circle.
    w = math.sqrt(0.5)
    quarter = qorv.NurbsCurve([[1.0, 0, 0], [1.0, 1, 0], [0.0, 1, 0]], [0, 0, 0, 1, 1, 1], 2, weights=[1, w, 1])
    np.testing.assert_allclose(np.linalg.norm(quarter.evaluate(np.linspace(0, 1, 101)), axis=1), 1.0, atol=1e-14)
    with pytest.raises(ValueError):
        qorv.NurbsCurve([[0.0, 0, 0], [1.0, 0, 0]], [0, 1], 1)


def test_inspect_the_sample_part():
    source = os.environ.get("QORV_SOURCE_DIR")
    if source is None:
        pytest.skip("QORV_SOURCE_DIR names the source tree")
    part = os.path.join(source, "examples", "inspection", "part.json")
    # Points on the bore with a known deviation: probe centres 1 mm inside, 0.003 more material.
    a = np.linspace(0.1, 6.2, 400)
    z = np.linspace(7, 28, 400)
    r = 8 - 0.003 - 0.5
    pts = np.column_stack([30 + r * np.cos(a), 30 + r * np.sin(a), z])
    res = qorv.inspect(part, pts, probe_diameter=1.0, features=["bore"] * 400)
    assert res["feature_ids"][res["feature"][0]] == "bore"
    np.testing.assert_allclose(res["deviation"], 0.003, atol=1e-9)
    assert res["in_tolerance"].all()
    bore = [f for f in res["features"] if f["id"] == "bore"][0]
    assert bore["count"] == 400
    assert bore["fit_radius"] == pytest.approx(8 - 0.003, abs=1e-6)
    # Unknown features are skipped with a reason, never raised.
    res = qorv.inspect(part, pts[:2], probe_diameter=1.0, features=["nope", "bore"])
    assert res["feature"][0] == -1 and "unknown feature" in res["skip_reason"][0]
    assert math.isnan(res["deviation"][0])
    with pytest.raises(ValueError):
        qorv.inspect(os.path.join(source, "README.md"), pts)


def test_read_cad_and_inspect_the_step_sample():
    sample = os.environ.get("QORV_STEP_SAMPLE")
    if sample is None:
        pytest.skip("QORV_STEP_SAMPLE names the STEP sample writer")
    with tempfile.TemporaryDirectory() as d:
        subprocess.run([sample, d], check=True, capture_output=True)
        part = os.path.join(d, "part.step")
        features = qorv.read_cad(part)
        bore = [f for f in features if f["kind"] == "cylinder" and len(f["faces"]) == 2]
        assert len(bore) == 1
        assert bore[0]["area"] == pytest.approx(2 * math.pi * 8 * 30, rel=1e-9)
        assert len(qorv.read_cad(part, merge=False)) > len(features)
        # Probe centres in the bore (radius 8 about (20, 30)), 0.02 inside: more material, +.
        a = np.linspace(0.1, 6.2, 50)
        r = 8 - 0.02
        pts = np.column_stack([20 + r * np.cos(a), 30 + r * np.sin(a), np.linspace(2, 28, 50)])
        res = qorv.inspect(part, pts)
        np.testing.assert_allclose(res["deviation"], 0.02, atol=1e-9)
        assert {res["feature_ids"][k] for k in res["feature"]} == {bore[0]["id"]}
        with pytest.raises(ValueError):
            qorv.read_cad(os.path.join(d, "side.json"))


def test_docstrings_and_stubs_everywhere():
    import ast
    import pathlib
    public = [n for n in dir(qorv) if not n.startswith("_")]
    for name in public:
        obj = getattr(qorv, name)
        assert obj.__doc__, name
        for key, member in vars(obj).items() if isinstance(obj, type) else []:
            if isinstance(member, property) or (callable(member) and not key.startswith("__")):
                assert (member.__doc__ or "").strip(), f"{name}.{key}"
    stub = pathlib.Path(qorv.__file__).with_name("qorv.pyi")
    tree = ast.parse(stub.read_text())
    stubbed = {n.name for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    assert set(public) <= stubbed, set(public) - stubbed
