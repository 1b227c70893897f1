#!/usr/bin/env python3
"""A field sweep to try the series on: a 16-bit multi-page TIFF of a labyrinth whose black domains
shrink and grow again as the field goes up and down (a hysteresis loop, coercive field 8 mT), with
camera noise, and fields.csv naming each frame's field. The domains follow one underlying pattern
from frame to frame, cut at the level that gives the loop's black fraction.
Usage: scripts/sweep_demo.py OUTPUT_FOLDER  (writes sweep.tif, fields.csv and truth.csv)

It needs NumPy and Pillow (Debian's python3-numpy and python3-pil, which `make test` installs).
Where the python3 first on the path lacks them (a pyenv or a virtual environment), it runs itself
again with Debian's /usr/bin/python3."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import debian_python  # noqa: E402

debian_python.require("numpy", "PIL", packages="python3-numpy python3-pil")
import numpy as np  # noqa: E402
from PIL import Image  # noqa: E402

out = pathlib.Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
side, period = 256, 20.0
rng = np.random.default_rng(2026)
# A labyrinth's field: noise filtered to a ring of spatial frequencies around 1 / period.
spectrum = np.fft.rfft2(rng.normal(size=(side, side)))
ky = np.fft.fftfreq(side)[:, None]
kx = np.fft.rfftfreq(side)[None, :]
spectrum *= np.exp(-(((np.hypot(kx, ky) - 1 / period) / 0.012) ** 2))
field = np.fft.irfft2(spectrum, s=(side, side))
up = list(range(-30, 31, 5))
fields = up + up[-2::-1]
rising = [True] * len(up) + [False] * (len(up) - 1)
frames, rows = [], []
for h, going_up in zip(fields, rising):
    coercive = 8.0 if going_up else -8.0
    m = np.tanh((h - coercive) / 10.0) * 0.9  # net magnetisation, short of saturation
    black = (1 - m) / 2
    level = np.quantile(field, black)
    dark = field < level
    grey = np.where(dark, 14000, 46000) + rng.normal(0, 2500, (side, side))
    frames.append(Image.fromarray(grey.clip(0, 65535).astype(np.uint16)))
    rows.append((h, black))
frames[0].save(out / "sweep.tif", save_all=True, append_images=frames[1:])
(out / "fields.csv").write_text("frame,field_mT\n" + "".join(f"{k + 1},{h}\n" for k, (h, _) in enumerate(rows)))
(out / "truth.csv").write_text("field_mT,black_fraction\n" + "".join(f"{h},{b:.4f}\n" for h, b in rows))
print(f"{len(frames)} frames of {side} x {side} in {out / 'sweep.tif'}")
