#!/usr/bin/env python3
"""The automatic measurement's steps written with NumPy and SciPy, to time Tovra's against:
noise level and single-pixel impulses replaced, median 3 x 3, power spectrum (Hann window, ring of greatest mean power), light divided out by a
wide Gaussian blur, a light Gaussian blur, isodata threshold over the domains' insides, speck
removal, wall length along the half-way iso-line (marching squares), widths 2 x area / length;
then what the measurement adds for its standard errors and verdict: the level between the
plateaus, the domains labelled with their moments (bubbles, counts, the curvature correction),
the wall length again on a smoother picture, and the jackknife over blocks of both.
Usage: measure_numpy.py SIDE REPEATS FILE (a raw SIDE x SIDE image). Prints the best of REPEATS
times, in seconds per image."""
import sys
import time

import numpy as np
from scipy import ndimage, spatial


def spectrum_period(g):
    h, w = g.shape
    n = max(h, w)
    window = np.outer(np.hanning(h), np.hanning(w))
    padded = np.zeros((n, n))
    padded[:h, :w] = (g - g.mean()) * window
    power = np.abs(np.fft.rfft2(padded)) ** 2
    fy = np.fft.fftfreq(n) * n
    fx = np.arange(n // 2 + 1)
    weight = np.where((fx == 0) | (2 * fx == n), 1.0, 2.0)[None, :] * np.ones((n, 1))
    r = np.rint(np.hypot(fy[:, None], fx[None, :])).astype(int)
    rings = np.bincount(r.ravel(), (power * weight).ravel(), minlength=n)[: n // 2]
    counts = np.bincount(r.ravel(), weight.ravel(), minlength=n)[: n // 2]
    lo, hi = max(2, int(np.ceil(3 * n / min(h, w)))), min(n // 2 - 2, n // 3)
    most = lo + int(np.argmax(rings[lo:hi + 1]))
    rings = rings / np.maximum(counts, 1)
    lo, hi = max(lo, int(np.floor(0.7 * most))), min(hi, int(np.ceil(1.3 * most)))
    peak = lo + int(np.argmax(rings[lo:hi + 1]))
    a, b, c = rings[peak - 1], rings[peak], rings[peak + 1]
    shift = 0.5 * (a - c) / (a - 2 * b + c) if a - 2 * b + c < 0 else 0
    return n / (peak + shift)


def isodata(v):
    t = v.mean()
    for _ in range(100):
        nxt = (v[v < t].mean() + v[v >= t].mean()) / 2
        if abs(nxt - t) < 1e-9:
            break
        t = nxt
    return t


def interior_isodata(g):
    t = g.mean()
    most = ndimage.maximum_filter(g, 5, mode="mirror")
    least = ndimage.minimum_filter(g, 5, mode="mirror")
    for _ in range(100):
        nxt = (g[most < t].mean() + g[least >= t].mean()) / 2
        if abs(nxt - t) < 1e-9 * (1 + abs(t)):
            break
        t = nxt
    return t


def contour_length(g, t, blocks=None):
    # Only the cells the iso-line passes through: corners a (top left), b, c, d clockwise.
    below = g < t
    code = below[:-1, :-1].astype(np.uint8) + below[:-1, 1:] * 2 + below[1:, 1:] * 4 + below[1:, :-1] * 8
    ys, xs = np.nonzero((code != 0) & (code != 15))
    a, b, c, d = g[ys, xs], g[ys, xs + 1], g[ys + 1, xs + 1], g[ys + 1, xs]
    points = []
    for (p, q, x0, y0, x1, y1) in ((a, b, 0, 0, 1, 0), (b, c, 1, 0, 1, 1), (c, d, 1, 1, 0, 1), (d, a, 0, 1, 0, 0)):
        crosses = (p < t) != (q < t)
        f = (t - p) / np.where(crosses, q - p, 1)
        points.append((crosses, x0 + f * (x1 - x0), y0 + f * (y1 - y0)))
    (c0, x0, y0), (c1, x1, y1), (c2, x2, y2), (c3, x3, y3) = points
    # Two crossings: the first and the last edge crossed; four (a saddle): the shorter pairing.
    fx = np.where(c0, x0, np.where(c1, x1, x2))
    fy = np.where(c0, y0, np.where(c1, y1, y2))
    lx = np.where(c3, x3, np.where(c2, x2, x1))
    ly = np.where(c3, y3, np.where(c2, y2, y1))
    length = np.hypot(fx - lx, fy - ly)
    four = c0 & c1 & c2 & c3
    if four.any():
        s1 = np.hypot(x0 - x1, y0 - y1) + np.hypot(x2 - x3, y2 - y3)
        s2 = np.hypot(x0 - x3, y0 - y3) + np.hypot(x1 - x2, y1 - y2)
        length = np.where(four, np.minimum(s1, s2), length)
    if blocks is not None:  # the length in each block, by the cell's top left pixel
        return np.bincount(blocks[ys, xs], length, minlength=blocks.max() + 1)
    return length.sum() / ((g.shape[0] - 1) * (g.shape[1] - 1))


def noise_level(g):
    step = max(1, g.size // 65536)
    d = np.abs(np.diff(g[::step], axis=1))
    return 1.4826 * np.median(d) / np.sqrt(2)


def remove_impulses(g, noise):
    ring = np.ones((3, 3), bool)
    ring[1, 1] = False
    most = ndimage.maximum_filter(g, footprint=ring, mode="mirror")
    least = ndimage.minimum_filter(g, footprint=ring, mode="mirror")
    odd = (g > most + 4 * noise) | (g < least - 4 * noise)
    odd[0, :] = odd[-1, :] = odd[:, 0] = odd[:, -1] = False
    return np.where(odd, ndimage.median_filter(g, footprint=ring, mode="mirror"), g)


def measure(img):
    g = ndimage.median_filter(img, size=3)
    img = remove_impulses(img, noise_level(img))
    period = spectrum_period(g)
    light = ndimage.gaussian_filter(g, 2 * period)
    g = img * light.mean() / light
    smooth = ndimage.gaussian_filter(g, 1.2, truncate=3)
    t = interior_isodata(smooth)
    black = smooth < t
    for colour in (True, False):
        labels, count = ndimage.label(black == colour)
        sizes = np.bincount(labels.ravel())
        small = sizes < 10
        small[0] = False
        black[small[labels]] = not colour
    # The level between the plateaus, and the picture cut there again.
    inside = ndimage.uniform_filter(black.astype(np.float64), 5, mode="mirror")
    t = (g[inside > 1 - 1e-9].mean() + g[inside < 1e-9].mean()) / 2
    black = smooth < t
    # Domains of each colour with their areas, centres and second moments; nearest neighbours.
    ys, xs = np.mgrid[0 : g.shape[0], 0 : g.shape[1]]
    for colour in (True, False):
        labels, count = ndimage.label(black == colour)
        index = np.arange(1, count + 1)
        area = ndimage.sum_labels(np.ones_like(g), labels, index)
        for v in (xs, ys, xs * xs, ys * ys, xs * ys):
            ndimage.sum_labels(v.astype(np.float64), labels, index)
    centres = np.array(ndimage.center_of_mass(np.ones_like(g), labels, index)) if count > 1 else np.zeros((2, 2))
    spatial.cKDTree(centres).query(centres, k=2)
    # Per block, on two smoothings: black pixels, pixels, wall length; the jackknife of the widths.
    side = g.shape[0]
    across = int(np.clip(side / (3 * period), 2, 8))
    blocks = (ys * across // side) * across + xs * across // side
    smoother = ndimage.gaussian_filter(g, 2.0, truncate=3)
    estimates = []
    for picture in (smooth, smoother):
        dark = np.bincount(blocks.ravel(), (picture < t).ravel(), minlength=across * across)
        pixels = np.bincount(blocks.ravel(), minlength=across * across).astype(np.float64)
        length = contour_length(picture, t, blocks)
        f = (dark.sum() - dark) / (pixels.sum() - pixels)
        la = (length.sum() - length) / (pixels.sum() - pixels)
        estimates.append((2 * f / la, 2 * (1 - f) / la))
    n = across * across
    se = [np.sqrt((n - 1) / n * ((w - w.mean()) ** 2).sum()) for w in estimates[0]]
    f = black.mean()
    la = contour_length(smooth, t)
    return 2 * f / la, 2 * (1 - f) / la, period, se


def main():
    side, repeats, name = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    img = np.fromfile(name, dtype=np.uint8, count=side * side).reshape(side, side).astype(np.float64)
    measure(img)
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        measure(img)
        times.append(time.perf_counter() - start)
    print(min(times))


if __name__ == "__main__":
    main()
