#!/usr/bin/env python3
"""A pulse series to try the wall motion on: 8-bit frames (a TIFF each) of black bubbles growing
under field pulses of rising strength, their walls moving at the creep law's velocity
v = exp(a - b H^-1/4) px/s, the frames drifting, with marks along the top edge to align them on;
durations.csv gives the duration of each pulse, the frames' names their fields, truth.csv the walls' steps.
Usage: scripts/motion_demo.py OUTPUT_FOLDER  (writes frames/pulse_NN_HmT.tif, durations.csv, truth.csv)

It needs NumPy, SciPy and Pillow (Debian's python3-numpy, python3-scipy and python3-pil)."""
import pathlib
import sys

here = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(here))
sys.path.insert(0, str(here.parent / "tests" / "python"))
import debian_python  # noqa: E402

debian_python.require("numpy", "scipy", "PIL", packages="python3-numpy python3-scipy python3-pil")
import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

import bubble_frames  # noqa: E402

out = pathlib.Path(sys.argv[1])
(out / "frames").mkdir(parents=True, exist_ok=True)
rng = np.random.default_rng(2027)
size = (360, 480)
a, b = 4.0, 6.0  # ln v = a - b H^-1/4, v in px/s, H in mT
fields = [0, 8, 10, 13, 17, 22, 28, 36]
duration = 0.5
seeds = bubble_frames.hard_core_points(rng, 14, (440, 260), 70.0) + np.array([20, 80])
marks = [(15 + 31 * k % 450, 10 + 17 * k % 40) for k in range(16)]
radius = np.full(len(seeds), 8.0)
rows = ["frame,field_mT,duration_s,displacement_px"]
for k, h in enumerate(fields):
    step = 0.0
    if k > 0:
        step = np.exp(a - b * h ** -0.25) * duration
        radius = radius + step
    drift = rng.normal(0, 2.0, 2) if k > 0 else np.zeros(2)
    centres = [tuple(c + drift) for c in seeds] + [(x + drift[0], y + drift[1]) for x, y in marks]
    diameters = list(2 * radius) + [5.0] * len(marks)
    picture = bubble_frames.picture(centres, diameters, size, blur=1.2, noise=0.03, rng=rng)
    Image.fromarray((picture // 257).astype(np.uint8)).save(out / "frames" / f"pulse_{k + 1:02d}_{h}mT.tif")
    rows.append(f"{k + 1},{h},{duration if k > 0 else ''},{step:.4f}")

durations = "\n".join(["duration_s"] + [f"{duration}" for _ in fields[1:]]) + "\n"
(out / "durations.csv").write_text(durations)
(out / "truth.csv").write_text("\n".join(rows) + "\n")
print(out)
