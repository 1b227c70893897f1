#!/usr/bin/env python3
"""The measurement's own calibration: pictures of the kinds it is used on, made from many seeds with
their truth computed from the masks they are drawn from, measured, and summed up per kind.

Usage: scripts/calibration.py [--seeds N] [--side PX] [--kinds K1,K2,...] [--json FILE]

Each seed is a sample, of which two pictures are made: two parts of it far apart, whose stripes
keep their direction while the pattern, its noise and its dust are each part's own. Each picture is drawn from a mask four times
finer than its pixels (each pixel grey by the share of it that is black), then blurred like a microscope's optics, lit unevenly where the kind says
so, given a camera response, noise and a bit depth. The truth is the mask's own:

- mazes and bubbles: the black fraction, and the widths 2 x area / wall length, the wall length
  being the length of the mask's outline traced on the fine grid (marching squares);
- stripes: the mean lengths of the black and white runs across the stripes (along their normal),
  runs cut by the border left out.

For every kind the table gives, for each number (black fraction f, black and white widths b and
w, period p): the mean error (measured - truth; in % of the truth for lengths), the mean and SD
of z = error / SE (the statistical standard error), the share of truths within 3 SE, within 3 x
the total error (SE and the method's allowance in quadrature, where the record gives one), the
median SE, the scatter between repeats (the variation a repeat on another part of the same pattern
shows: the root mean square of the difference between each seed's two pictures, over root 2) over
the median SE, and the inflation: the RMS of the whole error over the larger of the actual RMS
error and that scatter. It
needs NumPy (Debian's python3-numpy) and Tovra's measurement library (a build, or installed).
"""
import argparse
import dataclasses
import json
import math
import pathlib
import statistics
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import debian_python  # noqa: E402

debian_python.require("numpy", packages="python3-numpy")
import numpy as np  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "measure" / "python"))
import tovra_measure  # noqa: E402

FINE = 4  # mask samples per pixel side


# ---- Masks and their truth ----

def ring_filter(shape, period, width, kx):
    ky = np.fft.fftfreq(shape[0])[:, None]
    k0 = 1.0 / period
    return np.exp(-(((np.hypot(kx, ky) - k0) / (width * k0)) ** 2))


def ring_field(rng, shape, period, width=0.25):
    """A band-pass random field of `shape` samples: noise filtered to a ring of spatial frequencies
    around 1 / period (samples), of relative width `width`; and the standard deviation such fields
    have on average (not this one's own: the amplitude varies from one part of a pattern to
    another, and so does the black fraction at a level away from 0)."""
    spectrum = np.fft.rfft2(rng.normal(size=shape)) * ring_filter(shape, period, width, np.fft.rfftfreq(shape[1])[None, :])
    expected = float(np.sqrt(np.mean(ring_filter(shape, period, width, np.fft.fftfreq(shape[1])[None, :]) ** 2)))
    return np.fft.irfft2(spectrum, s=shape), expected


def outline_length(field):
    """The length of the zero level line of `field` (marching squares, linear interpolation along
    the cell edges; saddles take the two shorter pairings), in samples."""
    a, b, c, d = field[:-1, :-1], field[:-1, 1:], field[1:, 1:], field[1:, :-1]

    def cross(p, q):
        with np.errstate(divide="ignore", invalid="ignore"):
            return np.where((p < 0) != (q < 0), p / (p - q), np.nan)

    t = [cross(a, b), cross(b, c), cross(d, c), cross(a, d)]  # top, right, bottom, left
    xs = [t[0], np.ones_like(a), t[2], np.zeros_like(a)]
    ys = [np.zeros_like(a), t[1], np.ones_like(a), t[3]]
    on = [~np.isnan(v) for v in t]
    n = sum(o.astype(int) for o in on)

    def dist(i, j):
        return np.hypot(np.nan_to_num(xs[i] - xs[j]), np.nan_to_num(ys[i] - ys[j]))

    pairs = [(0, 1), (0, 2), (0, 3), (1, 2), (1, 3), (2, 3)]
    two = sum(np.where(on[i] & on[j], dist(i, j), 0.0) for i, j in pairs)
    four = np.minimum(dist(0, 1) + dist(2, 3), dist(0, 3) + dist(1, 2))
    return float(np.sum(np.where(n == 2, two, 0.0)) + np.sum(np.where(n == 4, four, 0.0)))


@dataclasses.dataclass
class Truth:
    black_fraction: float
    black_width_px: float
    white_width_px: float

    @property
    def period_px(self):
        return self.black_width_px + self.white_width_px


def stereology_truth(level_field, side):
    """Black where level_field < 0: the fraction and 2 A / L in pixels of the coarse grid."""
    black = level_field < 0
    f = float(black.mean())
    length = outline_length(level_field) / FINE  # pixels
    # The outline is traced between the fine samples' centres, over (n - 1) / FINE pixels a side.
    span = (level_field.shape[0] - 1) / FINE
    per_area = length / (span * span)
    return Truth(f, 2 * f / per_area, 2 * (1 - f) / per_area)


def runs_truth(black):
    """Mean black and white run lengths along the rows of a fine mask, runs cut by the border left
    out, in pixels."""
    sums, counts = [0.0, 0.0], [0, 0]
    for row in black:
        edges = np.flatnonzero(np.diff(row.astype(np.int8))) + 1
        for start, end in zip(edges[:-1], edges[1:]):
            colour = int(row[start])
            sums[colour] += end - start
            counts[colour] += 1
    return Truth(float(black.mean()), sums[1] / counts[1] / FINE, sums[0] / counts[0] / FINE)


# ---- Pictures ----

def coverage(black, side):
    """Each pixel's share of black from the fine mask."""
    return black.reshape(side, FINE, side, FINE).mean(axis=(1, 3))


def gaussian_blur(img, sigma):
    if sigma <= 0:
        return img
    pad = int(math.ceil(4 * sigma))
    big = np.pad(img, pad, mode="reflect")
    ky = np.fft.fftfreq(big.shape[0])[:, None]
    kx = np.fft.rfftfreq(big.shape[1])[None, :]
    out = np.fft.irfft2(np.fft.rfft2(big) * np.exp(-2 * (math.pi * sigma) ** 2 * (kx ** 2 + ky ** 2)), s=big.shape)
    return out[pad:-pad, pad:-pad]


@dataclasses.dataclass
class Recipe:
    name: str
    pattern: str            # maze, stripes, wavy, bubbles
    period: float = 20.0    # pixels
    black: float = 0.5      # share of black
    blur: float = 1.0       # sigma of the optics, pixels
    noise: float = 0.04     # Gaussian noise, of the contrast
    poisson: float = 0.0    # photons at white (0: none)
    light: str = ""         # "", "gradient", "vignette"
    gamma: float = 1.0
    bits: int = 8
    kerr: float = 0.0       # Kerr contrast of the domains (0: a plain picture)
    degrade: str = ""       # saturated, scratch, focus, quarter: a frame that must not be reliable


RECIPES = [
    Recipe("maze-50", "maze", blur=1.0),
    Recipe("maze-38", "maze", black=0.38, blur=1.5),
    Recipe("maze-62", "maze", black=0.62, blur=0.7),
    Recipe("maze-blur2", "maze", period=24, blur=2.0),
    Recipe("maze-sharp", "maze", blur=0.0, noise=0.02),
    Recipe("maze-poisson16", "maze", blur=1.2, noise=0.0, poisson=400, bits=16),
    Recipe("maze-light", "maze", blur=1.0, light="vignette"),
    Recipe("maze-kerr", "maze", blur=1.2, noise=0.002, kerr=0.04, bits=16),
    Recipe("stripes", "stripes", black=0.4, blur=1.0),
    Recipe("stripes-gradient", "stripes", black=0.55, blur=1.5, light="gradient"),
    Recipe("wavy", "wavy", blur=1.0),
    Recipe("bubbles", "bubbles", period=24, black=0.25, blur=1.0),
]
# Degraded frames: each must come out not reliable, with the warning named after the colon.
DEGRADED = [
    (Recipe("saturated", "maze", blur=1.2, degrade="saturated"), "saturated"),
    (Recipe("scratch-dust", "maze", blur=1.0, degrade="scratch"), "defects"),
    (Recipe("focus-falling", "maze", blur=1.5, degrade="focus"), "uneven"),
    (Recipe("one-quarter", "maze", blur=1.0, degrade="quarter"), "uneven"),
    (Recipe("narrow-minority", "stripes", black=0.075, blur=1.3), "below_resolution"),
    (Recipe("gamma0.6", "maze", blur=1.0, gamma=0.6), "nonlinear_response"),
    (Recipe("gamma1.6", "maze", blur=1.0, gamma=1.6), "nonlinear_response"),
]


def make(recipe, seed, side, part=0):
    """A picture of the recipe, its background where it is a Kerr frame, and its truth. Each seed is
    a sample, `part` 0 or 1 two parts of it far apart: the sample's stripes keep their direction,
    while the pattern itself, its noise and its dust are each part's own."""
    angle = np.random.default_rng(seed).uniform(-0.6, 0.6)  # of the sample's stripes
    rng = np.random.default_rng([seed, part])
    n = side * FINE
    yy, xx = np.mgrid[0:n, 0:n] / FINE  # pixel coordinates of the fine samples
    if recipe.pattern == "maze":
        field, spread = ring_field(rng, (n, n), recipe.period * FINE)
        # A level fixed by the fields' distribution (Gaussian), not by each picture's own quantile
        # or spread, so that the black fraction varies from seed to seed as from one part of a
        # sample to another.
        level = spread * statistics.NormalDist().inv_cdf(recipe.black)
        level_field = field - level
        truth = stereology_truth(level_field, side)
        black = level_field < 0
    elif recipe.pattern in ("stripes", "wavy"):
        angle = angle if recipe.pattern == "stripes" else 0.0
        phase = rng.uniform(0, recipe.period)
        across = xx * math.cos(angle) + yy * math.sin(angle) + phase
        if recipe.pattern == "wavy":
            across = across + 0.15 * recipe.period * np.sin(2 * math.pi * yy / (3 * recipe.period) + rng.uniform(0, 6.3))
        black = np.mod(across, recipe.period) < recipe.black * recipe.period
        if recipe.pattern == "stripes":
            truth = Truth(float(black.mean()), recipe.black * recipe.period, (1 - recipe.black) * recipe.period)
        else:
            truth = runs_truth(black)
    else:  # bubbles on a jittered triangular lattice
        radius = math.sqrt(recipe.black * recipe.period ** 2 * math.sqrt(3) / 2 / math.pi)
        level_field = np.full((n, n), np.inf)
        for row in range(-1, int(side / (recipe.period * 0.866)) + 2):
            for col in range(-1, int(side / recipe.period) + 2):
                cx = (col + 0.5 * (row % 2)) * recipe.period + rng.normal(0, 0.08 * recipe.period)
                cy = row * recipe.period * 0.866 + rng.normal(0, 0.08 * recipe.period)
                r = radius * rng.uniform(0.85, 1.15)
                x0, x1 = max(0, int((cx - r - 1) * FINE)), min(n, int((cx + r + 2) * FINE))
                y0, y1 = max(0, int((cy - r - 1) * FINE)), min(n, int((cy + r + 2) * FINE))
                if x0 >= x1 or y0 >= y1:
                    continue
                d = np.hypot(xx[y0:y1, x0:x1] - cx, yy[y0:y1, x0:x1] - cy) - r
                level_field[y0:y1, x0:x1] = np.minimum(level_field[y0:y1, x0:x1], d)
        level_field = np.where(np.isinf(level_field), 10.0, level_field)
        truth = stereology_truth(level_field, side)
        black = level_field < 0
    share = coverage(black, side)
    # Grey levels: white 1, black 0, blurred, then the light, the camera's response and noise.
    signal = gaussian_blur(1.0 - share, recipe.blur)
    if recipe.degrade == "focus":  # the blur growing from the left to 6 px at the right
        far = gaussian_blur(1.0 - share, 6.0)
        t = np.linspace(0, 1, side)[None, :]
        signal = signal * (1 - t) + far * t
    elif recipe.degrade == "quarter":  # the pattern in the top left quarter, the rest white
        keep = np.zeros((side, side), bool)
        keep[: side // 2, : side // 2] = True
        signal = np.where(keep, signal, 1.0)
    elif recipe.degrade == "scratch":  # a scratch and dust darker than the black domains by 45 % of the contrast
        yy0, xx0 = np.mgrid[0:side, 0:side]
        line = np.abs((yy0 - side * 0.3) - 0.4 * (xx0 - side * 0.1)) < 1.5
        signal = np.where(line, -0.45, signal)
        for _ in range(25):
            cx, cy, r = rng.uniform(0, side), rng.uniform(0, side), rng.uniform(1.5, 3.5)
            signal = np.where(np.hypot(xx0 - cx, yy0 - cy) < r, -0.45, signal)
    y, x = np.mgrid[0:side, 0:side] / side
    light = np.ones((side, side))
    if recipe.light == "gradient":
        light = 0.7 + 0.6 * x
    elif recipe.light == "vignette":
        light = 1.0 - 0.5 * ((x - 0.5) ** 2 + (y - 0.5) ** 2)
    background = None
    if recipe.kerr > 0:
        background = light * 0.8
        grey = background * (1 + recipe.kerr * (signal - 0.5))
        grey = grey + rng.normal(0, recipe.noise, grey.shape)
        background = background + rng.normal(0, recipe.noise, grey.shape)
    else:
        grey = (0.3 if recipe.degrade == "scratch" else 0.12) + 0.62 * signal * light
        if recipe.poisson > 0:
            grey = rng.poisson(grey * recipe.poisson) / recipe.poisson
        grey = grey + rng.normal(0, recipe.noise * 0.7, grey.shape)
        if recipe.degrade == "saturated":  # the white domains beyond the camera's range
            grey = grey * 1.45
        grey = np.clip(grey, 0, 1) ** recipe.gamma
    top = 255 if recipe.bits == 8 else 65535
    dtype = np.uint8 if recipe.bits == 8 else np.uint16

    def quantise(v):
        return np.clip(np.round(v * top), 0, top).astype(dtype)

    return quantise(grey), None if background is None else quantise(background), truth


# ---- Measuring and summing up ----

NUMBERS = [("f", "black_fraction", "black_fraction_se", "black_fraction_sys", False),
           ("b", "black_width_px", "black_width_se_px", "black_width_sys_px", True),
           ("w", "white_width_px", "white_width_se_px", "white_width_sys_px", True),
           ("p", "period_px", "period_se_px", "period_sys_px", True)]


def summary(rows):
    """Per number: mean error, z's mean and SD, shares within 3 SE and 3 total, median SE, repeat
    scatter over median SE, all over the reliable records."""
    out = {"pictures": len(rows), "reliable": sum(r["reliable"] for r in rows)}
    used = [r for r in rows if r["reliable"]]
    for key, field, se_field, sys_field, relative in NUMBERS:
        errors = np.array([r["m"][field] - r["t"][field] for r in used if r["m"].get(field) is not None])
        if errors.size == 0:
            continue
        truths = np.array([r["t"][field] for r in used if r["m"].get(field) is not None])
        se = np.array([r["m"][se_field] or 0.0 for r in used if r["m"].get(field) is not None])
        sys_ = np.array([r["m"].get(sys_field) or 0.0 for r in used if r["m"].get(field) is not None])
        total = np.hypot(se, sys_)
        with np.errstate(divide="ignore", invalid="ignore"):
            z = errors / se
        scale = 100 / truths if relative else np.ones_like(truths)
        # The scatter between repeats: how much the measured value itself varies from one part of
        # the pattern to another, which the standard error is to describe: from each seed's two
        # frames, two parts of one sample, as the root mean square of their difference over root 2.
        pairs = {}
        for r in used:
            if r["m"].get(field) is not None:
                pairs.setdefault(r["seed"], []).append(r["m"][field])
        differences = [v[0] - v[1] for v in pairs.values() if len(v) == 2]
        scatter = float(np.sqrt(np.mean(np.square(differences)) / 2)) if differences else float("nan")
        out[key] = {
            "mean_error": float(np.mean(errors * scale)),
            "rms_error": float(np.sqrt(np.mean((errors * scale) ** 2))),
            "z_mean": float(np.nanmean(z)), "z_sd": float(np.nanstd(z)),
            "within_3se": float(np.mean(np.abs(errors) <= 3 * se)),
            "within_3total": float(np.mean(np.abs(errors) <= 3 * total)),
            "median_se": float(np.median(se * scale)),
            "median_sys": float(np.median(sys_ * scale)),
            "scatter_over_se": scatter / float(np.median(se)) if np.median(se) > 0 else float("nan"),
            # The whole error is not to be inflated: its RMS over the larger of the actual RMS
            # error and the scatter between repeats (at most 3).
            "inflation": float(np.sqrt(np.mean(total ** 2)) / max(np.sqrt(np.mean(errors ** 2)), scatter))
            if differences else float("nan"),
        }
    return out


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seeds", type=int, default=12)
    parser.add_argument("--side", type=int, default=256)
    parser.add_argument("--kinds", default="")
    parser.add_argument("--first-seed", type=int, default=1000)
    parser.add_argument("--json")
    args = parser.parse_args(argv)
    recipes = [r for r in RECIPES if not args.kinds or r.name in args.kinds.split(",")]
    results = {}
    for recipe in recipes:
        rows = []
        for seed in range(args.first_seed, args.first_seed + args.seeds):
            for part in (0, 1):
                picture, background, truth = make(recipe, seed, args.side, part)
                m = tovra_measure.measure(picture, background=background)
                record = dataclasses.asdict(m)
                rows.append({"m": record, "reliable": bool(m.reliable), "seed": seed,
                             "t": {"black_fraction": truth.black_fraction, "black_width_px": truth.black_width_px,
                                   "white_width_px": truth.white_width_px, "period_px": truth.period_px}})
        results[recipe.name] = summary(rows)
    print(f"{'kind':<17}{'num':>4}{'reliable':>9}{'error':>9}{'rms':>8}{'z mean':>8}{'z SD':>7}"
          f"{'<3SE':>6}{'<3tot':>6}{'SE':>8}{'sys':>8}{'scat/SE':>8}{'infl':>6}")
    for name, s in results.items():
        for key, *_ in NUMBERS:
            if key not in s:
                continue
            v = s[key]
            unit = "" if key == "f" else "%"
            print(f"{name:<17}{key:>4}{s['reliable']:>5}/{s['pictures']:<3}{v['mean_error']:>8.3f}{unit:1}"
                  f"{v['rms_error']:>7.3f}{v['z_mean']:>8.2f}{v['z_sd']:>7.2f}{v['within_3se']:>6.0%}"
                  f"{v['within_3total']:>6.0%}{v['median_se']:>8.3f}{v['median_sys']:>8.3f}{v['scatter_over_se']:>8.2f}"
                  f"{v['inflation']:>6.2f}")
    print("\ndegraded frames: reliable, the warning expected and how often it came, the worst error")
    for recipe, expected in DEGRADED if not args.kinds else []:
        reliable = warned = 0
        worst = 0.0
        for seed in range(args.first_seed, args.first_seed + args.seeds):
            picture, background, truth = make(recipe, seed, args.side)
            m = tovra_measure.measure(picture, background=background)
            reliable += bool(m.reliable)
            warned += any(w.code == expected for w in m.warnings)
            if m.period_px:
                worst = max(worst, abs(m.period_px / truth.period_px - 1), abs(m.black_width_px / truth.black_width_px - 1))
        results[recipe.name] = {"reliable": reliable, "warned": warned, "expected": expected, "worst": worst}
        print(f"{recipe.name:<17}{reliable:>3}/{args.seeds:<3} {expected:<18}{warned:>3}/{args.seeds:<3} {100 * worst:7.1f} %")
    if args.json:
        pathlib.Path(args.json).write_text(json.dumps(results, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
