"""Values, plane curves, NURBS and unbounded surfaces against computations done here with numpy:
dense sampling refined by hand, closed forms, per-point calls."""
import math
import os

import numpy as np
import pytest

import qorv

SEED = int(os.environ.get("QORV_TEST_SEED", "2902"))
RNG = np.random.default_rng(SEED)


def random_frame(scale=50.0):
    z, x = RNG.normal(size=3), RNG.normal(size=3)
    return qorv.Transform.frame(RNG.normal(size=3) * scale, z, x)


def test_values_round_trip_through_numpy():
    p = qorv.Point3D(1.5, -2, 3)
    assert np.array_equal(np.asarray(p), [1.5, -2, 3])
    assert qorv.Point3D(np.array([1.5, -2, 3])) == p
    v = qorv.Point3D(4, 2, 3) - p
    assert isinstance(v, qorv.Vector3D) and v.x == 2.5 and v[1] == 4 and v[-1] == 0
    assert qorv.Vector3D(1, 0, 0).cross(qorv.Vector3D(0, 1, 0)) == qorv.Vector3D(0, 0, 1)
    assert (2 * qorv.Vector2D(3, 4)).norm() == 10
    assert np.allclose(np.asarray(qorv.Vector2D(3, 4).normalized()), [0.6, 0.8])
    assert p.distance(qorv.Point3D(1.5, 2, 0)) == 5
    assert "1.5" in repr(p)
    with pytest.raises(ValueError):
        qorv.Point2D(1, 2, 3)
    with pytest.raises(ValueError):
        qorv.Point3D(np.zeros(2))
    with pytest.raises(IndexError):
        qorv.Point2D(1, 2)[2]


def sampled_nearest(f, lo, hi, pts, n=20001):
    """Nearest parameter by dense sampling then golden-section refinement on the bracket."""
    t = np.linspace(lo, hi, n)
    c = f(t)
    best = []
    for p in pts:
        d = np.linalg.norm(c - p, axis=1)
        i = int(np.argmin(d))
        a, b = t[max(i - 1, 0)], t[min(i + 1, n - 1)]
        g = lambda s: np.linalg.norm(f(np.array([s]))[0] - p)
        for _ in range(80):
            m1, m2 = a + (b - a) * 0.382, a + (b - a) * 0.618
            if g(m1) < g(m2):
                b = m2
            else:
                a = m1
        best.append(min(g(0.5 * (a + b)), d[i]))
    return np.array(best)


@pytest.mark.parametrize("kind", ["segment", "arc", "reversed_arc", "circle", "ellipse"])
def test_plane_curves_nearest_is_never_worse_than_sampling(kind):
    centre = RNG.normal(size=2) * 10
    if kind == "segment":
        a, b = RNG.normal(size=2) * 5, RNG.normal(size=2) * 5
        curve = qorv.Segment2D(a, b)
        f = lambda t: a + np.outer(t, b - a)
    elif kind in ("arc", "reversed_arc", "circle"):
        r = RNG.uniform(0.5, 4)
        s = RNG.uniform(-7, 7)
        e = s + RNG.uniform(0.3, 6) * (-1 if kind == "reversed_arc" else 1)
        if kind == "circle":
            s, e = 0.0, 2 * math.pi
        curve = qorv.Circle2D(centre, r) if kind == "circle" else qorv.Arc2D(centre, r, s, e)
        f = lambda t: centre + r * np.column_stack([np.cos(t), np.sin(t)])
        lo, hi = curve.limits
        assert {round(lo, 12), round(hi, 12)} == {round(s, 12), round(e, 12)} or kind == "circle"
    else:
        a, b, ang = RNG.uniform(2, 5), RNG.uniform(0.5, 2), RNG.uniform(-3, 3)
        curve = qorv.Ellipse2D(centre, a, b, ang, 0.0, 2 * math.pi)
        pts = curve.evaluate(np.linspace(*curve.limits, 4001))
        f = None
    lo, hi = curve.limits
    if f is None:
        # The ellipse's parameter is the curve's own: sample the curve itself.
        f = lambda t: curve.evaluate(t)
    pts = centre + RNG.normal(size=(60, 2)) * 6
    res = curve.nearest(pts)
    ref = sampled_nearest(f, lo, hi, pts)
    assert np.all(res["distances"] <= ref + 1e-9), SEED
    np.testing.assert_allclose(np.linalg.norm(res["feet"] - pts, axis=1), res["distances"], atol=1e-9)
    np.testing.assert_allclose(curve.evaluate(res["parameters"]), res["feet"], atol=1e-9)
    assert (res["codes"] == 1).all()
    bad = curve.nearest(np.array([[np.nan, 0.0], [0.0, np.inf]]))
    assert (bad["codes"] == 0).all() and np.isnan(bad["distances"]).all()
    if kind == "segment":  # the same segment as a closed outline, through the batch entry
        d = qorv.outline_distances(np.array([a, b]), np.vstack([pts, [np.nan, 0.0]]))
        np.testing.assert_allclose(d[:-1], res["distances"], atol=1e-9)
        assert np.isnan(d[-1])


def test_space_curves_and_lines():
    frame = random_frame()
    ell = qorv.Ellipse(frame, 4.0, 1.5)
    t = np.linspace(0, 2 * math.pi, 50)
    local = frame.inverse().apply(ell.evaluate(t))
    np.testing.assert_allclose(local[:, 2], 0, atol=1e-10)
    np.testing.assert_allclose((local[:, 0] / 4) ** 2 + (local[:, 1] / 1.5) ** 2, 1, atol=1e-10)
    circle = qorv.Circle([1.0, 2, 3], [0, 0, 2], 2.0)
    assert circle.length() == pytest.approx(4 * math.pi, rel=1e-9)
    line = qorv.Line([1.0, 0, 0], [0, 0, 3])
    res = line.nearest(np.array([[4.0, 4, 7], [1.0, 0, -2]]))
    np.testing.assert_allclose(res["feet"], [[1, 0, 7], [1, 0, -2]])
    np.testing.assert_allclose(res["distances"], [5, 0])
    np.testing.assert_allclose(qorv.Line2D([0.0, 1], [2, 0]).evaluate([1.5]), [[1.5, 1]])
    with pytest.raises(ValueError):
        qorv.Line([0.0, 0, 0], [0, 0, 0])
    with pytest.raises(ValueError):
        qorv.Ellipse2D([0.0, 0], -1, 1)


def bspline_basis(knots, degree, t):
    """Cox-de Boor, right-continuous except at the last knot."""
    n = len(knots) - degree - 1
    t = np.atleast_1d(t)
    N = np.zeros((len(t), len(knots) - 1))
    for j in range(len(knots) - 1):
        N[:, j] = (knots[j] <= t) & (t < knots[j + 1])
    last = np.searchsorted(knots, knots[-1], side="left") - 1
    N[t == knots[-1], last] = 1
    for p in range(1, degree + 1):
        M = np.zeros((len(t), len(knots) - p - 1))
        for j in range(len(knots) - p - 1):
            a = knots[j + p] - knots[j]
            b = knots[j + p + 1] - knots[j + 1]
            if a > 0:
                M[:, j] += (t - knots[j]) / a * N[:, j]
            if b > 0:
                M[:, j] += (knots[j + p + 1] - t) / b * N[:, j + 1]
        N = M
    return N[:, :n]


def nurbs_patch():
    nu, nv = 6, 5
    ku = np.array([0, 0, 0, 0, 0.3, 0.6, 1, 1, 1, 1.0])
    kv = np.array([0, 0, 0, 0.5, 0.5, 1, 1, 1.0]) * 2 + 1
    u, v = np.meshgrid(np.linspace(0, 40, nu), np.linspace(0, 30, nv), indexing="ij")
    poles = np.stack([u, v, 4 * np.sin(u / 9) * np.cos(v / 7)], axis=-1)
    weights = RNG.uniform(0.6, 1.6, size=(nu, nv))
    return poles, ku, kv, weights


def test_nurbs_surface_evaluates_as_de_boor():
    poles, ku, kv, w = nurbs_patch()
    s = qorv.NurbsSurface(poles, ku, kv, 3, 2, weights=w)
    assert s.u_limits == (0, 1) and s.v_limits == (1, 3)
    uu = np.concatenate([RNG.uniform(0, 1, 300), [0, 0.3, 0.6, 1, 1]])
    vv = np.concatenate([RNG.uniform(1, 3, 300), [1, 2, 2, 3, 1]])
    Nu, Nv = bspline_basis(ku, 3, uu), bspline_basis(kv, 2, vv)
    hw = np.einsum("ki,kj,ij->k", Nu, Nv, w)
    expected = np.einsum("ki,kj,ij,ijc->kc", Nu, Nv, w, poles) / hw[:, None]
    pts, normals = s.evaluate(uu, vv)
    np.testing.assert_allclose(pts, expected, atol=1e-11)
    np.testing.assert_allclose(np.linalg.norm(normals, axis=1), 1, atol=1e-12)
    with pytest.raises(ValueError, match=r"\(nu, nv, 3\)"):
        qorv.NurbsSurface(poles[:, :, :2], ku, kv, 3, 2)
    with pytest.raises(ValueError):
        qorv.NurbsSurface(poles, ku[:-1], kv, 3, 2)
    with pytest.raises(ValueError):
        qorv.NurbsSurface(poles, ku, kv, 3, 2, weights=w[:, :2])


def test_nearest_on_surfaces_is_never_worse_than_a_dense_grid():
    poles, ku, kv, w = nurbs_patch()
    frame = random_frame(1e3)
    moved = frame.apply(poles.reshape(-1, 3)).reshape(poles.shape)
    surfaces = [qorv.NurbsSurface(moved, ku, kv, 3, 2, weights=w),
                qorv.BoundedCylinder(frame, 10.0, 6.0, (0.3, 4.0)),
                qorv.BoundedTorus(frame, 12.0, 3.0, (1.0, 5.0), (-2.0, 2.5))]
    for s in surfaces:
        (ulo, uhi), (vlo, vhi) = s.u_limits, s.v_limits
        gu, gv = np.meshgrid(np.linspace(ulo, uhi, 301), np.linspace(vlo, vhi, 301), indexing="ij")
        grid, _ = s.evaluate(gu.ravel(), gv.ravel())
        lo, hi = s.box()
        pts = lo + RNG.uniform(-0.3, 1.3, size=(200, 3)) * (hi - lo)
        res = s.nearest(pts)
        assert (res["codes"] == 1).all()
        ref = np.array([np.min(np.linalg.norm(grid - p, axis=1)) for p in pts])
        # Never farther than the grid's best (which is itself a little too far).
        assert np.all(np.abs(res["distances"]) <= ref + 1e-9), (s.class_name, SEED)
        np.testing.assert_allclose(np.linalg.norm(res["feet"] - pts, axis=1), np.abs(res["distances"]), atol=1e-8)
        # The bulk answer is the per-point one, bit for bit, and project agrees inside.
        one = [s.nearest(p)["feet"] for p in pts[:20]]
        assert np.array_equal(np.array(one), res["feet"][:20])
        proj = s.project(pts)
        inside = proj["codes"] == 1
        assert np.all(np.abs(proj["distances"][inside]) >= np.abs(res["distances"][inside]) - 1e-9)


def test_unbounded_surfaces_against_closed_forms():
    c = RNG.normal(size=3) * 20
    d = RNG.normal(size=3)
    d /= np.linalg.norm(d)
    pts = c + RNG.normal(size=(500, 3)) * 10
    w = pts - c
    along = w @ d
    radial = w - np.outer(along, d)
    rho = np.linalg.norm(radial, axis=1)

    sphere = qorv.Sphere(c, 4.0).project(pts)
    np.testing.assert_allclose(np.abs(sphere["distances"]), np.abs(np.linalg.norm(w, axis=1) - 4), atol=1e-10)
    cyl = qorv.Cylinder(c, d, 3.0).project(pts)
    np.testing.assert_allclose(cyl["feet"], c + np.outer(along, d) + radial * (3 / rho)[:, None], atol=1e-10)
    plane = qorv.Plane(c, d).project(pts)
    np.testing.assert_allclose(plane["distances"], along, atol=1e-10)
    np.testing.assert_allclose(plane["normals"], np.tile(d, (500, 1)), atol=1e-12)
    torus = qorv.Torus(c, d, 8.0, 2.0).project(pts)
    tube = np.hypot(rho - 8, along)
    np.testing.assert_allclose(np.abs(torus["distances"]), np.abs(tube - 2), atol=1e-9)
    a = 0.4
    cone = qorv.Cone(c, d, a).project(pts)
    # Distance to the double cone: the nearer of the two generator lines in the point's half-plane.
    dist = np.minimum(np.abs(rho * math.cos(a) - np.abs(along) * math.sin(a)),
                      np.hypot(rho, along))
    np.testing.assert_allclose(np.abs(cone["distances"]), dist, atol=1e-9)
    # No single foot on the axis or at the centre: code 0 and NaN, never an exception.
    on_axis = qorv.Cylinder(c, d, 3.0).project(np.array([c + 2 * d]))
    assert on_axis["codes"][0] == 0 and np.isnan(on_axis["feet"]).all()
    assert "Sphere" in qorv.Sphere(c, 4.0).class_name


def test_shapes_and_dtypes_are_refused_with_the_expected_shape():
    cyl = qorv.BoundedCylinder(qorv.Transform.translation([0.0, 0, 0]), 5.0, 2.0)
    for bad in [np.zeros((4, 2)), np.zeros((2, 3, 3)), np.array(["a", "b", "c"]),
                np.zeros((3, 3), dtype=complex), [[1, 2], [3]], "points"]:
        with pytest.raises(ValueError, match=r"\(n, 3\)"):
            cyl.project(bad)
    with pytest.raises(ValueError, match=r"\(n, 2\)"):
        qorv.Circle2D([0.0, 0], 1).nearest(np.zeros((3, 3)))
    with pytest.raises(ValueError):
        cyl.evaluate([0.0, 1.0], [0.0])
    # Integers are numbers: taken as float64.
    assert cyl.project(np.array([[5, 0, 0]]))["distances"][0] == pytest.approx(-3)
    # NaN coordinates give code 0, never a crash.
    assert cyl.project(np.array([[np.nan, 0, 0]]))["codes"][0] == 0
    assert cyl.nearest(np.array([[np.nan, 0, 0]]))["codes"][0] == 0
    # On the axis, within or beyond the ends, no single nearest point: code 0, as documented.
    assert list(cyl.nearest(np.array([[0.0, 0, 1], [0, 0, 7], [2.5, 0, 0]]))["codes"]) == [0, 0, 1]
    # Arguments out of their domain name themselves.
    frame = qorv.Transform.translation([0.0, 0, 0])
    for build, name in [(lambda: qorv.BoundedCylinder(frame, 5.0, -1.0), "radius"),
                        (lambda: qorv.BoundedCylinder(frame, 5.0, 0.0), "radius"),
                        (lambda: qorv.BoundedCylinder(frame, 5.0, math.nan), "radius"),
                        (lambda: qorv.BoundedCylinder(frame, -5.0, 1.0), "half_height"),
                        (lambda: qorv.BoundedCylinder(frame, 5.0, 1.0, (1.0, 0.0)), "angles"),
                        (lambda: qorv.BoundedSphere(frame, -2.0), "radius"),
                        (lambda: qorv.BoundedSphere(frame, 2.0, latitude=(-2.0, 0.0)), "latitude"),
                        (lambda: qorv.BoundedTorus(frame, 5.0, math.inf), "minor_radius"),
                        (lambda: qorv.BoundedCone(frame, 2.0, (0.0, 1.0)), "half_angle"),
                        (lambda: qorv.BoundedPlane(frame, (0.0, math.nan), (0.0, 1.0)), "u"),
                        (lambda: qorv.Cylinder([0.0, 0, 0], [0, 0, 1], -1.0), "radius"),
                        (lambda: qorv.Sphere([0.0, 0, 0], 0.0), "radius"),
                        (lambda: qorv.Torus([0.0, 0, 0], [0, 0, 1], 0.0, 1.0), "major_radius")]:
        with pytest.raises(ValueError, match=name):
            build()


def inside_polygon(pts, poly):
    """Even-odd rule, for points off the edges."""
    x, y = pts[:, 0], pts[:, 1]
    inside = np.zeros(len(pts), dtype=bool)
    for (x0, y0), (x1, y1) in zip(poly, np.roll(poly, -1, axis=0)):
        crosses = (y0 > y) != (y1 > y)
        xs = x0 + (y - y0) * (x1 - x0) / np.where(y1 != y0, y1 - y0, 1)
        inside ^= crosses & (x < xs)
    return inside


def test_trimmed_face_and_surface_of_revolution_nearest_points():
    frame = random_frame()
    plate = qorv.BoundedPlane(frame, (0, 10), (0, 8))
    outer = np.array([[0, 0], [10, 0], [10, 8], [0, 8.0]])
    hole = np.array([[3, 2], [7, 2], [6, 6], [4, 5.0]])
    face = qorv.TrimmedSurface(plate, outer, [hole])
    assert face.class_name == "ERTrimmedSurface"
    # The face sampled densely: grid points of the plate kept outside the hole, plus the hole's edges.
    g = np.stack(np.meshgrid(np.linspace(0, 10, 401), np.linspace(0, 8, 321)), axis=-1).reshape(-1, 2)
    g = g[~inside_polygon(g, hole)]
    t = np.linspace(0, 1, 400)[:, None]
    edges = np.concatenate([a + t * (b - a) for a, b in zip(hole, np.roll(hole, -1, axis=0))])
    uv = np.concatenate([g, edges])
    samples = frame.apply(np.column_stack([uv, np.zeros(len(uv))]))
    local = np.column_stack([RNG.uniform(-2, 12, 300), RNG.uniform(-2, 10, 300), RNG.normal(size=300) * 3])
    pts = frame.apply(local)
    res = face.nearest(pts)
    assert (res["codes"] == 1).all()
    ref = np.array([np.min(np.linalg.norm(samples - p, axis=1)) for p in pts])
    assert np.all(np.abs(res["distances"]) <= ref + 1e-9), SEED
    assert np.all(np.abs(res["distances"]) >= ref - 0.03), SEED  # the sampling's own spacing
    # A semicircle turned about its diameter is a sphere.
    w = math.sqrt(0.5)
    arc = qorv.NurbsCurve([[1.0, 2, -1], [5, 2, -1], [5, 2, 3], [5, 2, 7], [1, 2, 7]], [0, 0, 0, 1, 1, 2, 2, 2], 2,
                          weights=[1, w, 1, w, 1])
    ball = qorv.SurfaceOfRevolution(arc, [1.0, 2, 3], [0, 0, 1])
    pts = np.array([1.0, 2, 3]) + RNG.normal(size=(200, 3)) * 6
    res = ball.nearest(pts)
    np.testing.assert_allclose(np.abs(res["distances"]), np.abs(np.linalg.norm(pts - [1, 2, 3], axis=1) - 4),
                               atol=1e-9)
    with pytest.raises(ValueError):
        qorv.TrimmedSurface(plate, outer[:2])
