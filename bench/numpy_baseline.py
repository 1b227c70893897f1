#!/usr/bin/env python3
"""NumPy and SciPy doing the same jobs as the library, timed in the same run as kernel_bench.

Prints a JSON object: job name -> mean seconds per run.
"""
import json
import os
import sys
import tempfile
import timeit

import numpy as np

SIDE = 1024


def best_mean(fn, number):
    # The mean of the fastest of five batches, as Google Benchmark reports a steady mean.
    return min(timeit.repeat(fn, number=number, repeat=5)) / number


def main():
    rng = np.random.default_rng(1)
    grey = rng.integers(0, 256, size=(SIDE, SIDE)).astype(np.float64)
    folder = tempfile.mkdtemp(prefix="tovra-numpy-")
    path = os.path.join(folder, "slot.mon")
    grey.astype(np.uint8).tofile(path)
    out = {}
    out["read_slot"] = best_mean(lambda: np.fromfile(path, dtype=np.uint8).astype(np.float64), 20)
    out["write_slot"] = best_mean(lambda: grey.astype(np.uint8).tofile(path), 20)
    out["hist"] = best_mean(lambda: np.bincount(np.fromfile(path, dtype=np.uint8), minlength=256), 20)

    def stretch():
        lo, hi = grey.min(), grey.max()
        return (grey - lo) * 255.0 / (hi - lo)

    out["stretch"] = best_mean(stretch, 20)
    try:
        from scipy import ndimage

        out["median_filter"] = best_mean(lambda: ndimage.median_filter(grey, size=3), 3)
    except ImportError:
        pass
    os.remove(path)
    os.rmdir(folder)
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main()
