#!/usr/bin/env python3
"""Inspects every measured file of a folder against one nominal part on a Dask cluster, through
the qorv Python module, and prints a summary table per part.

    inspect_folder.py NOMINAL FOLDER [--scheduler ADDRESS] [--workers N] [--serial] [--json OUT]

Measured files are probe points as CSV (.csv, .txt: id, x, y, z[, feature[, diameter]]) or a
scanner's surface points (.ply, .xyz, .asc, .pts). Without --scheduler a LocalCluster of N
worker processes (one thread each: every part is judged on one core, the parts in parallel) is
started and stopped here; with it, the parts go to that scheduler's workers, which must import
the same qorv module and see the same paths. --serial judges the parts one after the other in
this process: the results are the same, part for part and number for number.
"""
import argparse
import json
import os
import sys

CLOUDS = (".ply", ".xyz", ".asc", ".pts")
MEASURED = CLOUDS + (".csv", ".txt")


def inspect_part(nominal, path, probe_diameter=0.0):
    """One part's summary: plain numbers and strings, so that it travels between processes."""
    import numpy as np
    import qorv

    name = os.path.basename(path)
    try:
        if path.lower().endswith(CLOUDS):
            # Surface points: judged flat, no compensation.
            cloud = qorv.read_cloud(path, threads=1)
            points, not_read = cloud["points"], cloud["skipped_count"]
            r = qorv.inspect_cloud(nominal, points, threads=1)
        else:
            m = qorv.read_measured(path)
            points, not_read = m["points"], len(m["skipped"])
            r = qorv.inspect(nominal, points, probe_diameter=probe_diameter, features=list(m["features"]),
                             probe_diameters=m["probe_diameters"], threads=1)
    except (OSError, ValueError) as e:
        return {"part": name, "error": str(e)}
    judged = r["feature"] >= 0
    dev = r["deviation"][judged]
    return {
        "part": name,
        "points": int(len(points)),
        "not_read": int(not_read),
        "judged": int(np.count_nonzero(judged)),
        "out_of_tolerance": int(np.count_nonzero(judged & ~r["in_tolerance"])),
        "worst": float(dev[np.argmax(np.abs(dev))]) if len(dev) else None,
        "features": [{k: f[k] for k in ("id", "count", "out_of_tolerance", "min", "max", "mean", "std_dev")}
                     for f in r["features"]],
    }


def measured_files(folder):
    return sorted(os.path.join(folder, f) for f in os.listdir(folder)
                  if f.lower().endswith(MEASURED) and os.path.isfile(os.path.join(folder, f)))


def run_serial(nominal, paths, probe_diameter):
    return [inspect_part(nominal, p, probe_diameter) for p in paths]


def run_dask(nominal, paths, probe_diameter, scheduler=None, workers=2):
    from dask.distributed import Client, LocalCluster

    cluster = None
    if scheduler is None:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
    try:
        with Client(scheduler or cluster) as client:
            futures = client.map(inspect_part, [nominal] * len(paths), paths,
                                 [probe_diameter] * len(paths), pure=False)
            return client.gather(futures)
    finally:
        if cluster is not None:
            cluster.close()


def table(results):
    lines = [f"{'part':<24}{'points':>10}{'judged':>10}{'out':>8}{'worst':>11}  verdict"]
    for r in results:
        if "error" in r:
            lines.append(f"{r['part']:<24}{'-':>10}{'-':>10}{'-':>8}{'-':>11}  not inspected: {r['error']}")
            continue
        worst = "-" if r["worst"] is None else f"{r['worst']:.4f}"
        verdict = "no point judged" if r["judged"] == 0 else ("out" if r["out_of_tolerance"] else "in tolerance")
        lines.append(f"{r['part']:<24}{r['points']:>10}{r['judged']:>10}{r['out_of_tolerance']:>8}{worst:>11}  {verdict}")
    return "\n".join(lines)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("nominal", help="the nominal part (JSON, qorv database, STEP or IGES)")
    ap.add_argument("folder", help="a folder of measured files")
    ap.add_argument("--scheduler", help="a Dask scheduler's address (default: a LocalCluster here)")
    ap.add_argument("--workers", type=int, default=os.cpu_count() or 1, help="LocalCluster workers")
    ap.add_argument("--serial", action="store_true", help="no cluster: one part after the other")
    ap.add_argument("--probe-diameter", type=float, default=0.0, help="for CSV points that give none")
    ap.add_argument("--json", help="also write the summaries as JSON to this file")
    a = ap.parse_args(argv)
    paths = measured_files(a.folder)
    if not paths:
        print(f"inspect_folder: {a.folder}: no measured files", file=sys.stderr)
        return 2
    nominal = os.path.abspath(a.nominal)
    paths = [os.path.abspath(p) for p in paths]
    if a.serial:
        results = run_serial(nominal, paths, a.probe_diameter)
    else:
        results = run_dask(nominal, paths, a.probe_diameter, a.scheduler, a.workers)
    print(table(results))
    if a.json:
        with open(a.json, "w") as f:
            json.dump(results, f, indent=1)
    if any("error" in r for r in results):
        return 2
    return 1 if any(r["out_of_tolerance"] for r in results) else 0


if __name__ == "__main__":
    sys.exit(main())
