#!/usr/bin/env python3
"""Prints the benchmark ratios: each shipped kernel against its plain version and against the
NumPy, SciPy and OpenCV jobs timed in the same run. Usage: compare.py bench.json[,more.json] numpy.json"""
import json
import sys


def load_bench(paths):
    times = {}
    for path in paths.split(","):
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
            times[b["name"].split("/")[0].removeprefix("BM_")] = b["real_time"] * scale
    return times


def main():
    t = load_bench(sys.argv[1])
    py = {}
    if len(sys.argv) > 2:
        with open(sys.argv[2]) as f:
            py = json.load(f)
    print(f"{'benchmark':<28}{'ms':>10}   ratio")
    for name in sorted(k for k in t if not k.endswith("_plain") and not k.startswith("Cv")):
        line = f"{name:<28}{t[name] * 1e3:>10.3f}"
        plain = t.get(name + "_plain")
        if plain:
            line += f"   {t[name] / plain:.3f} of the plain version ({plain * 1e3:.1f} ms)"
        print(line)
    print()
    goals = [
        ("Hcck", t.get("CvHoughLines"), "cv::HoughLines (rho 1, theta 1 deg, one thread)", 0.25),
        ("Medk", py.get("median_filter"), "scipy.ndimage.median_filter over doubles", 0.02),
        ("Toutim", py.get("read_slot"), "numpy fromfile + astype", 1.0),
        ("Savek", py.get("write_slot"), "numpy astype + tofile", 1.0),
        ("Hist", py.get("hist"), "numpy fromfile + bincount", 1.0),
        ("Rofk", py.get("stretch"), "numpy full-range stretch", 0.7),
    ]
    print(f"{'against':<52}{'ratio':>8}{'goal':>8}")
    for name, other, label, goal in goals:
        if other is None or name not in t:
            print(f"{name + ' / ' + label:<52}{'n/a':>8}{goal:>8}")
            continue
        ratio = t[name] / other
        mark = "ok" if ratio <= goal else "MISSED"
        print(f"{name + ' / ' + label:<52}{ratio:>8.3f}{goal:>8}  {mark}")
    cv_median = t.get("CvMedianBlur")
    if cv_median:
        print(f"{'Medk / cv::medianBlur 3x3 over bytes (for scale)':<52}{t['Medk'] / cv_median:>8.3f}")


if __name__ == "__main__":
    main()
