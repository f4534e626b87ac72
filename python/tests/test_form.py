"""qorv.fit against zones built with known widths and contacts, in turned far-off frames, and
the form and size verdicts of the sample part's inspection."""
import os

import numpy as np
import pytest

import qorv

RNG = np.random.default_rng(int(os.environ.get("QORV_TEST_SEED", "4106")))
SOURCE = os.environ.get("QORV_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


def turned(points, offset):
    q, _ = np.linalg.qr(RNG.normal(size=(3, 3)))
    return points @ q.T + offset, q


def test_cylindricity_of_a_known_zone_with_its_contacts():
    # Contacts alternate between the outer (radius 1.01) and inner (0.99) cylinders at the two
    # ends; everything else lies inside the zone.
    ang = np.radians([0, 0, 180, 180, 90, 90, 270, 270])
    rad = np.array([1.01] * 4 + [0.99] * 4)
    z = np.array([1, -1] * 4, dtype=float)
    t, zz, rr = RNG.uniform(-np.pi, np.pi, 200), RNG.uniform(-1, 1, 200), RNG.uniform(0.991, 1.009, 200)
    local = np.r_[np.c_[rad * np.cos(ang), rad * np.sin(ang), z], np.c_[rr * np.cos(t), rr * np.sin(t), zz]]
    pts, _ = turned(local, [1e5, -2e5, 3e4])
    r = qorv.fit(pts, "cylinder", association="minimum-zone")
    assert r["width"] == pytest.approx(0.02, rel=1e-8)
    assert r["certified"]
    assert set(r["upper_contacts"]) <= set(range(4)) and set(r["lower_contacts"]) <= set(range(4, 8))
    assert r["upper_weights"].sum() == pytest.approx(1) and r["lower_weights"].sum() == pytest.approx(1)
    ls = qorv.fit(pts, "cylinder")
    assert ls["width"] >= r["width"] and ls["size"] == pytest.approx(2, abs=0.01)


def test_planar_points_sizes_and_refusals():
    square = np.array([[x, y] for x in np.linspace(-1, 1, 41) for y in (-1, 1)] +
                      [[x, y] for y in np.linspace(-1, 1, 41) for x in (-1, 1)])
    assert qorv.fit(square, "circle2d", "inscribed")["size"] == pytest.approx(2, abs=1e-12)
    assert qorv.fit(square, "circle2d", "circumscribed")["size"] == pytest.approx(2 * np.sqrt(2), abs=1e-12)
    with pytest.raises(ValueError, match="collinear points fix no circle"):
        qorv.fit(np.c_[np.arange(5.0), np.arange(5.0)], "circle2d")
    with pytest.raises(ValueError, match="association must be"):
        qorv.fit(square, "circle2d", "widest")
    with pytest.raises(ValueError, match="too few points"):
        qorv.fit(np.zeros((2, 3)), "sphere")


def test_inspection_reports_form_and_size_verdicts():
    part = os.path.join(SOURCE, "examples", "inspection", "part.json")
    t = RNG.uniform(0, 2 * np.pi, 300)
    h = RNG.uniform(6, 29, 300)
    e = 0.01 * np.sin(3 * t)  # a trilobed bore: its minimum zone is 0.02 wide
    pts = np.c_[30 + (8 + e) * np.cos(t), 30 + (8 + e) * np.sin(t), h]
    out = qorv.inspect(part, pts, features=["bore"] * len(pts))
    bore = next(f for f in out["features"] if f["id"] == "bore")
    assert bore["form"]["width"] == pytest.approx(0.02, rel=1e-3)
    assert bore["form_in_tolerance"]
    assert bore["size"]["size"] == pytest.approx(16 - 0.02, abs=1e-3)  # inscribed: through the lobes' valleys
    assert bore["size_in_tolerance"]


def test_inspection_reports_orientation_against_datums():
    # The bottom face (datum A) flat; the bore's axis leans 0.02 over its 25 mm: square to A
    # within 0.02 (its ends across A's normal). Faces without points are not judged, saying why.
    part = os.path.join(SOURCE, "examples", "inspection", "part.json")
    x, y = np.meshgrid(np.linspace(5, 95, 10), np.linspace(5, 55, 6))
    base = np.c_[x.ravel(), y.ravel(), np.zeros(x.size)]
    t, h = RNG.uniform(0, 2 * np.pi, 300), np.r_[[5.0, 30.0], RNG.uniform(5, 30, 298)]
    bore = np.c_[30 + 0.02 * (h - 5) / 25 + 8 * np.cos(t), 30 + 8 * np.sin(t), h]
    out = qorv.inspect(part, np.r_[base, bore], features=["bottom"] * len(base) + ["bore"] * len(bore))
    f = {g["id"]: g for g in out["features"]}
    assert f["bottom"]["datum"] == "A" and f["bore"]["datum"] == "B"
    (square,) = f["bore"]["tolerances"]
    assert square["value"] == pytest.approx(0.02, rel=1e-3) and square["in_tolerance"]
    assert f["boss"]["tolerances"][0]["in_tolerance"] is None  # no points: not judged
