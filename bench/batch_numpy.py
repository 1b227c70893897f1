#!/usr/bin/env python3
"""Batch pipelines with NumPy and OpenCV, one file after another, as Tovra's batch codes do them.
Usage: batch_numpy.py PIPELINE WIDTH HEIGHT [--processes N] [--reference FILE] FILE...
  median-binarize-raw   codes 10 40 110: 3 x 3 median, threshold 128, raw save over the source
  histogram-csv         codes 10 95 40 120: median, mean level as threshold, CSV save beside
  difference            codes 20 10 40 110: minus the reference, stretched, median, threshold 128
With --processes N the files are shared out to a pool of N worker processes (N > 1), as a user
would spread the script over the cores. Prints the seconds taken, the pool's start included."""
import multiprocessing
import sys
import time

import cv2
import numpy as np


def read(name, width, height):
    return np.fromfile(name, dtype=np.uint8, count=width * height).reshape(height, width)


def one(job):
    name, pipeline, width, height, reference = job
    img = read(name, width, height)
    if pipeline == "difference":
        d = img.astype(np.float64) - read(reference, width, height)
        lo, hi = d.min(), d.max()
        img = ((d - lo) * 255.0 / (hi - lo)).astype(np.uint8) if hi > lo else img
    img = cv2.medianBlur(img, 3)
    if pipeline == "histogram-csv":
        counts = np.bincount(img.ravel(), minlength=256)
        threshold = int((np.arange(256) * counts).sum() / img.size)
        out = np.where(img > threshold, 255, 0).astype(np.uint8)
        np.savetxt(name[:-4] + ".csv", out, fmt="%d", delimiter=",", newline="\r\n")
    else:
        out = np.where(img > 128, 255, 0).astype(np.uint8)
        out.tofile(name)


def main():
    pipeline, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    files = sys.argv[4:]
    processes, reference = 1, None
    if files[0] == "--processes":
        processes, files = int(files[1]), files[2:]
    if files[0] == "--reference":
        reference, files = files[1], files[2:]
    jobs = [(name, pipeline, width, height, reference) for name in files]
    start = time.perf_counter()
    if processes > 1:
        with multiprocessing.Pool(processes) as pool:
            pool.map(one, jobs, chunksize=max(1, len(jobs) // (4 * processes)))
    else:
        for job in jobs:
            one(job)
    print(time.perf_counter() - start)


if __name__ == "__main__":
    cv2.setNumThreads(1)
    main()
