"""The Python side of the bulk projection benchmark: 1,000,000 points onto a bounded cylinder in
one call (bench/python_bulk_bench.cpp runs the same loop in C++), and for contrast a per-point
Python loop over a sample. Run by scripts/bench.sh with the module on PYTHONPATH."""
import time

import numpy as np

import qorv


def best(f, repeat=5):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return min(times)


def main():
    bore = qorv.BoundedCylinder(qorv.Transform.frame([30, 30, 0], [0, 0, 1]), half_height=15, radius=8)
    rng = np.random.default_rng(29)
    pts = np.column_stack([30 + 10 * rng.normal(size=1000000), 30 + 10 * rng.normal(size=1000000),
                           10 * rng.normal(size=1000000)])
    bulk = best(lambda: bore.project(pts))
    print(f"python bulk project, 1,000,000 points: {bulk * 1e3:.1f} ms ({bulk * 1e3:.1f} ns per point)")
    sample = pts[:2000]
    loop = best(lambda: [bore.project(p) for p in sample], repeat=3) / len(sample)
    print(f"python per-point loop: {loop * 1e9:.0f} ns per point ({loop * 1e6 / bulk:.0f}x the bulk call)")


if __name__ == "__main__":
    main()
