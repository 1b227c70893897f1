#!/usr/bin/env python3
"""The automatic measurement against the samples' ground truth: runs `Tovra --measure` on every
sample that has a JSON truth file and prints a Markdown table of truth, measured value, error,
standard error, the method's allowance and whether the truth lies within three whole errors (the
two in quadrature), then how many of the true values that covers, and the verdict (reliable or
not) on every sample.
Usage: scripts/accuracy.py [PATH_TO_TOVRA] [SAMPLES_FOLDER]"""
import json
import pathlib
import subprocess
import sys

root = pathlib.Path(__file__).resolve().parent.parent
tovra = sys.argv[1] if len(sys.argv) > 1 else str(root / "build/default/bin/Tovra")
samples = pathlib.Path(sys.argv[2] if len(sys.argv) > 2 else root / "samples")

print("| sample | quantity | truth | measured | error | standard error | allowance | within 3 whole errors |")
print("|---|---|---|---|---|---|---|---|")
covered = []
verdicts = []
for truth_file in sorted(samples.glob("*.json")):
    truth = json.loads(truth_file.read_text())
    name = truth_file.stem
    image = next((samples / (name + ext) for ext in (".mon", ".gif", ".bmp") if (samples / (name + ext)).exists()), None)
    if image is None:
        continue
    if "black_width_px" not in truth:
        # A frame without domains: only the verdict is checked.
        args = [tovra, "--measure", str(image), "--size", str(truth["width"]), str(truth["height"])]
        # The first line says where the records came from; the record follows it.
        lines = subprocess.run(args, capture_output=True, text=True).stdout.strip().splitlines()
        record = json.loads(lines[-1]) if len(lines) > 1 else {}
        verdicts.append((name, "none", record.get("pattern"), record.get("reliable")))
        continue
    args = [tovra, "--measure", str(image), "--size", str(truth["width"]), str(truth["height"])]
    if truth.get("background"):
        args += ["--background", str(samples / (truth["background"] + ".mon"))]
    out = subprocess.run(args, capture_output=True, text=True).stdout.strip().splitlines()
    record = json.loads(out[-1]) if len(out) > 1 else {"error": "no output"}
    if "error" in record:
        print(f"| {name} | — | — | {record['error']} | — | | | |")
        continue
    stripes = truth.get("angle_deg") is not None and truth.get("kind") != "maze"
    for quantity, key, se_key, relative in (
        ("black width (px)", "black_width_px", "black_width_se_px", True),
        ("white width (px)", "white_width_px", "white_width_se_px", True),
        ("period (px)", "period_px", "period_se_px", True),
        # For straight stripes the spectrum must find the exact period; for mazes its peak is a
        # quantity of its own, compared with the truth's spectral peak.
        ("period, spectrum (px)", "period_fft_px", None, True),
        ("black fraction", "black_fraction", "black_fraction_se", False),
    ):
        sys_key = se_key.replace("_se", "_sys") if se_key else None
        want = truth.get("period_px" if key == "period_fft_px" and stripes else key)
        got = record.get(key)
        if want is None or got is None:
            continue
        error = f"{(got - want) / want * 100:+.2f} %" if relative else f"{got - want:+.4f}"
        se = record.get(se_key) if se_key else None
        if se is not None:
            allowance = record.get(sys_key) or 0.0
            inside = abs(got - want) <= 3 * (se * se + allowance * allowance) ** 0.5
            covered.append(inside)
            se_text = f"{se / want * 100:.2f} %" if relative else f"{se:.4f}"
            sys_text = f"{allowance / want * 100:.2f} %" if relative else f"{allowance:.4f}"
            print(f"| {name} | {quantity} | {want:g} | {got:.4g} | {error} | {se_text} | {sys_text} | {'yes' if inside else 'no'} |")
        else:
            print(f"| {name} | {quantity} | {want:g} | {got:.4g} | {error} | | | |")
    pattern = truth.get("pattern") or ("stripes" if stripes else "maze")
    verdicts.append((name, pattern, record["pattern"], record.get("reliable")))
    print(f"| {name} | pattern | {pattern} | {record['pattern']} | | | | |")
    if "bubbles" in truth and "bubbles" in record:
        want, got = truth["bubbles"], record["bubbles"]
        for quantity, wkey, gkey in (
            ("bubbles", "count_all", "count"),
            ("bubbles inside", "count_inside", "count_inside"),
            ("bubble density (1/px²)", "density_per_px2", "density_per_px2"),
            ("bubble diameter (px)", "mean_equivalent_diameter_inside_px", "mean_diameter_px"),
            ("diameter spread (px)", "sd_equivalent_diameter_inside_px", "sd_diameter_px"),
            ("nearest neighbour (px)", "mean_nearest_neighbour_distance_px", "mean_nearest_neighbour_px"),
        ):
            w, g = want[wkey], got[gkey]
            print(f"| {name} | {quantity} | {w:g} | {g:.4g} | {(g - w) / w * 100:+.2f} % | | | |")
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
        print(f"| {name} | walls found | {len(truth['walls'])} | {walls} | {walls / len(truth['walls']) * 100:.0f} % | | | |")
        print(f"| {name} | worst band width (px) | | | {worst:.3f} px | | | |")
        print(f"| {name} | bands of the wrong colour | 0 | {wrong} | | | | |")
        print(f"| {name} | stripe angle (°) | {truth['angle_deg']:g} | {record['orientation_deg']:.2f} | {record['orientation_deg'] - truth['angle_deg']:+.2f}° | | | |")

print()
print(f"True values within three whole errors: {sum(covered)} of {len(covered)} ({sum(covered) / max(1, len(covered)) * 100:.0f} %).")
print()
print("| sample | pattern (truth) | pattern (measured) | reliable |")
print("|---|---|---|---|")
for name, want, got, reliable in verdicts:
    print(f"| {name} | {want} | {got} | {'true' if reliable else 'false'} |")
