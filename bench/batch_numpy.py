#!/usr/bin/env python3
"""The batch pipeline of codes 10, 40, 110 (3 x 3 median, threshold 128, save over the source) with
NumPy and OpenCV, one file after another. Usage: batch_numpy.py WIDTH HEIGHT FILE...
Prints the seconds taken."""
import sys
import time

import cv2
import numpy as np


def main():
    width, height = int(sys.argv[1]), int(sys.argv[2])
    files = sys.argv[3:]
    start = time.perf_counter()
    for name in files:
        img = np.fromfile(name, dtype=np.uint8, count=width * height).reshape(height, width)
        img = cv2.medianBlur(img, 3)
        out = np.where(img > 128, 255, 0).astype(np.uint8)
        out.tofile(name)
    print(time.perf_counter() - start)


if __name__ == "__main__":
    cv2.setNumThreads(1)
    main()
