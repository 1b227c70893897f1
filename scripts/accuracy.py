#!/usr/bin/env python3
"""The automatic measurement against the samples' ground truth: runs `Tovra --measure` on every
sample that has a JSON truth file and prints a Markdown table of truth, measured value and error.
Usage: scripts/accuracy.py [PATH_TO_TOVRA] [SAMPLES_FOLDER]"""
import json
import pathlib
import subprocess
import sys

root = pathlib.Path(__file__).resolve().parent.parent
tovra = sys.argv[1] if len(sys.argv) > 1 else str(root / "build/default/bin/Tovra")
samples = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else root / "samples")

print("| sample | quantity | truth | measured | error |")
print("|---|---|---|---|---|")
for truth_file in sorted(samples.glob("*.json")):
    truth = json.loads(truth_file.read_text())
    name = truth_file.stem
    image = next((samples / (name + ext) for ext in (".mon", ".gif", ".bmp") if (samples / (name + ext)).exists()), None)
    if image is None or "black_width_px" not in truth or truth.get("kind") == "kerr_background":
        continue
    args = [tovra, "--measure", str(image), "--size", str(truth["width"]), str(truth["height"])]
    if truth.get("background"):
        args += ["--background", str(samples / (truth["background"] + ".mon"))]
    out = subprocess.run(args, capture_output=True, text=True).stdout.strip()
    record = json.loads(out) if out else {"error": "no output"}
    if "error" in record:
        print(f"| {name} | — | — | {record['error']} | — |")
        continue
    for quantity, key, relative in (
        ("black width (px)", "black_width_px", True),
        ("white width (px)", "white_width_px", True),
        ("period (px)", "period_px", True),
        ("period, spectrum (px)", "period_fft_px", True),
        ("black fraction", "black_fraction", False),
    ):
        want = truth.get(key if key != "period_fft_px" else "period_fft_px")
        got = record.get(key)
        if want is None or got is None:
            continue
        error = f"{(got - want) / want * 100:+.2f} %" if relative else f"{got - want:+.4f}"
        print(f"| {name} | {quantity} | {want:g} | {got:.4g} | {error} |")
    print(f"| {name} | pattern | {'stripes' if truth.get('angle_deg') is not None else 'maze'} | {record['pattern']} | |")
    if "bands" in truth and "bands" in record:
        # Straight stripes: each band found matched to the true band nearest its centre line.
        scale = (1 + truth["slope"] ** 2) ** 0.5
        centres = [sum(b["between_intercepts"]) / 2 / scale for b in truth["bands"]]
        found = record["bands"]
        best = None
        for sign in (1, -1):
            pairs = [(b, min(range(len(centres)), key=lambda k: abs(centres[k] - sign * b["position_px"]))) for b in found]
            offset = max((abs(centres[k] - sign * b["position_px"]) for b, k in pairs), default=0)
            if best is None or offset < best[0]:
                best = (offset, pairs)
        pairs = best[1]
        worst = max((abs(b["width_px"] - truth["bands"][k]["width_px"]) for b, k in pairs), default=float("nan"))
        wrong = sum(b["colour"] != truth["bands"][k]["colour"] for b, k in pairs)
        walls = len(found) + 1 if found else 0
        print(f"| {name} | walls found | {len(truth['walls'])} | {walls} | {walls / len(truth['walls']) * 100:.0f} % |")
        print(f"| {name} | worst band width (px) | | | {worst:.3f} px |")
        print(f"| {name} | bands of the wrong colour | 0 | {wrong} | |")
        print(f"| {name} | stripe angle (°) | {truth['angle_deg']:g} | {record['orientation_deg']:.2f} | {record['orientation_deg'] - truth['angle_deg']:+.2f}° |")
