"""The batch example on a two-worker local cluster against a serial run: three small parts (probe
points as CSV, a binary PLY cloud, an XYZ cloud) and a damaged file, the same summaries number
for number. Exit 77 (skipped) when Dask is not installed for this interpreter."""
import json
import os
import struct
import subprocess
import sys
import tempfile

try:
    import dask.distributed  # noqa: F401
except ImportError:
    print("dask.distributed is not installed for", sys.executable)
    sys.exit(77)

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import inspect_folder  # noqa: E402

PART = os.path.join(HERE, "..", "inspection", "part.json")


def main():
    rng = np.random.default_rng(5)
    with tempfile.TemporaryDirectory() as d:
        parts = os.path.join(d, "parts")
        os.mkdir(parts)
        subprocess.run([os.environ["QORV_SAMPLE"], PART, d, "300", "11"], check=True)
        os.replace(os.path.join(d, "measured.csv"), os.path.join(parts, "a_probe.csv"))
        xyz = np.column_stack([rng.uniform(5, 15, 400), rng.uniform(5, 25, 400), 30 + rng.uniform(-0.07, 0.07, 400)])
        with open(os.path.join(parts, "b_scan.ply"), "wb") as f:
            f.write(b"ply\nformat binary_big_endian 1.0\nelement vertex 400\nproperty double x\n"
                    b"property double y\nproperty double z\nend_header\n")
            f.write(b"".join(struct.pack(">3d", *p) for p in xyz))
        np.savetxt(os.path.join(parts, "c_scan.xyz"), xyz[:200] + [0, 20, 0.01])
        with open(os.path.join(parts, "d_cut.ply"), "wb") as f:
            f.write(b"ply\nformat binary_little_endian 1.0\nelement vertex 9\nproperty float x\n"
                    b"property float y\nproperty float z\nend_header\n" + bytes(20))
        serial, parallel = os.path.join(d, "serial.json"), os.path.join(d, "dask.json")
        s1 = inspect_folder.main([PART, parts, "--serial", "--json", serial])
        s2 = inspect_folder.main([PART, parts, "--workers", "2", "--json", parallel])
        a, b = json.load(open(serial)), json.load(open(parallel))
        assert a == b, "the cluster's results differ from the serial run"
        assert s1 == s2 == 2  # the damaged file is reported
        assert [r["part"] for r in a] == ["a_probe.csv", "b_scan.ply", "c_scan.xyz", "d_cut.ply"]
        assert a[1]["judged"] == 400 and a[1]["out_of_tolerance"] == int(np.sum(np.abs(xyz[:, 2] - 30) > 0.05))
        assert "refused at byte" in a[3]["error"]
        assert a[0]["judged"] > 250
    print("batch: serial and two-worker cluster agree")


if __name__ == "__main__":
    main()
