#!/usr/bin/env python3
"""A time series of bubbles to try the tracking on: a 16-bit multi-page TIFF of a bubble lattice
with one dislocation, its bubbles diffusing (Gaussian steps, a hard core) while the whole drifts,
blurred and with camera noise, and times.csv naming each frame's time (0.5 s apart).
Usage: scripts/bubbles_demo.py OUTPUT_FOLDER  (writes bubbles.tif, times.csv and truth.csv: each
bubble's centre in each frame, and the diffusion coefficient in px² per second)

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
out.mkdir(parents=True, exist_ok=True)
rng = np.random.default_rng(2026)
size, spacing, frames, dt = (384, 320), 24.0, 30, 0.5
sites = bubble_frames.triangular((size[1], size[0]), spacing, origin=(5, 7), dislocation=(190.5, 160.5),
                                 margin=30)
sigma = 0.6  # px a coordinate a frame
path = bubble_frames.brownian(rng, sites, frames, sigma, spacing=0.6 * spacing, drift=(0.4, 0.15))
pages = []
for k in range(frames):
    pages.append(Image.fromarray(bubble_frames.picture(path[k], 12.0, size, blur=1.2, noise=0.04, rng=rng)))
pages[0].save(out / "bubbles.tif", save_all=True, append_images=pages[1:])
(out / "times.csv").write_text("time_s\n" + "".join(f"{k * dt:g}\n" for k in range(frames)))
with open(out / "truth.csv", "w") as f:
    f.write(f"# diffusion_px2_per_s {sigma ** 2 / (2 * dt):g}\nframe,bubble,x_px,y_px\n")
    for k in range(frames):
        for i, (x, y) in enumerate(path[k]):
            f.write(f"{k + 1},{i},{x:.4f},{y:.4f}\n")
print(out / "bubbles.tif")
