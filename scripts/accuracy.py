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
