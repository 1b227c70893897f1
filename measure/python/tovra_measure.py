#!/usr/bin/env python3
"""Tovra's automatic domain measurement from Python, through libTovraMeasure.so and ctypes.

    import tovra_measure
    m = tovra_measure.measure("/path/to/libTovraMeasure.so", pixels, width, height)
    print(m["period_px"], m["period_se_px"], m["reliable"], [w["code"] for w in m["warnings"]])

`pixels` is any sequence of width * height numbers, rows from the top; `background` (a Kerr
frame's background, the same size) and `rect` (x1, y1, x2, y2) are optional. Arguments that
cannot describe an image (a wrong number of pixels, a rectangle of other than four whole numbers,
a size that is not a positive whole number) raise ValueError with the reason. A measurement that
cannot be made gives {"error": "..."}. The record holds the same fields as the command line's
JSON: the numbers with their standard errors, "pattern", "reliable", "warnings", and "bubbles" and
"bands" where the pattern has them.

From the shell: tovra_measure.py LIBRARY RAW_FILE WIDTH HEIGHT measures an 8-bit raw image of
exactly WIDTH * HEIGHT bytes and prints its numbers."""
import ctypes
import json
import numbers
import os
import sys

_INT32_MAX = 2**31 - 1


class _Measurement(ctypes.Structure):
    _fields_ = [
        ("pattern", ctypes.c_char * 16),
        ("error", ctypes.c_char * 160),
        ("black_fraction", ctypes.c_double),
        ("black_width_px", ctypes.c_double),
        ("white_width_px", ctypes.c_double),
        ("period_px", ctypes.c_double),
        ("period_fft_px", ctypes.c_double),
        ("orientation_deg", ctypes.c_double),
        ("anisotropy", ctypes.c_double),
        ("threshold", ctypes.c_double),
        ("bands", ctypes.c_int32),
        ("black_fraction_se", ctypes.c_double),
        ("black_width_se_px", ctypes.c_double),
        ("white_width_se_px", ctypes.c_double),
        ("period_se_px", ctypes.c_double),
        ("periods_across", ctypes.c_double),
        ("reliable", ctypes.c_int32),
        ("warnings", ctypes.c_int32),
    ]


_libraries = {}


def _library(path):
    """The library with the C signatures declared, so that ctypes checks every argument."""
    if path not in _libraries:
        lib = ctypes.CDLL(path)
        dp, i32 = ctypes.POINTER(ctypes.c_double), ctypes.c_int32
        lib.tovra_measure.argtypes = [dp, i32, i32, dp, i32, i32, i32, i32, ctypes.POINTER(_Measurement)]
        lib.tovra_measure.restype = i32
        lib.tovra_measure_band.argtypes = [i32, dp, dp, dp, ctypes.POINTER(i32)]
        lib.tovra_measure_band.restype = i32
        lib.tovra_measure_json.argtypes = [ctypes.c_char_p, i32]
        lib.tovra_measure_json.restype = i32
        _libraries[path] = lib
    return _libraries[path]


def _whole(value, what, low, high=_INT32_MAX):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral) or not low <= value <= high:
        raise ValueError(f"{what} must be a whole number from {low} to {high}, not {value!r}")
    return int(value)


def _pixels(values, count, what):
    try:
        n = len(values)
    except TypeError:
        raise ValueError(f"{what} must be a sequence of numbers") from None
    if n != count:
        raise ValueError(f"{what} holds {n} values, not the width x height = {count}")
    try:
        return (ctypes.c_double * count)(*values)
    except TypeError:
        raise ValueError(f"{what} holds a value that is not a number") from None


def measure(library, pixels, width, height, background=None, rect=(0, 0, 0, 0)):
    width = _whole(width, "width", 1)
    height = _whole(height, "height", 1)
    if width * height > _INT32_MAX:
        raise ValueError(f"{width} x {height} pixels are more than the library takes")
    try:
        corners = tuple(rect)
    except TypeError:
        raise ValueError("rect must be four whole numbers x1, y1, x2, y2") from None
    if len(corners) != 4:
        raise ValueError(f"rect must be four whole numbers x1, y1, x2, y2, not {len(corners)} values")
    corners = tuple(_whole(v, "a corner of rect", -_INT32_MAX - 1) for v in corners)
    lib = _library(library)
    image = _pixels(pixels, width * height, "pixels")
    back = _pixels(background, width * height, "background") if background is not None else None
    result = _Measurement()
    if lib.tovra_measure(image, width, height, back, *corners, ctypes.byref(result)):
        return {"error": result.error.decode(errors="replace")}
    # The library's own record, the one the command line writes: every field, warnings, bubbles
    # and bands, defined in one place.
    size = lib.tovra_measure_json(None, 0)
    text = ctypes.create_string_buffer(size + 1)
    lib.tovra_measure_json(text, size + 1)
    record = json.loads(text.value.decode())
    record.pop("file", None)
    return record


def main(argv):
    if len(argv) != 5:
        print("usage: tovra_measure.py LIBRARY RAW_FILE WIDTH HEIGHT", file=sys.stderr)
        return 2
    library, name = argv[1], argv[2]
    try:
        w, h = int(argv[3]), int(argv[4])
    except ValueError:
        print(f"the size {argv[3]} x {argv[4]} is not two whole numbers", file=sys.stderr)
        return 2
    try:
        size = os.path.getsize(name)
        if w <= 0 or h <= 0 or size != w * h:
            print(f"{name}: its {size} bytes are not the {w} x {h} image named", file=sys.stderr)
            return 2
        with open(name, "rb") as f:
            data = f.read()
    except OSError as e:
        print(f"{name}: {e.strerror}", file=sys.stderr)
        return 2
    m = measure(library, data, w, h)
    if "error" in m:
        print("error", m["error"])
        return 1
    print("pattern", m["pattern"], "reliable" if m["reliable"] else "not reliable")
    for key in ("black_fraction", "black_width_px", "white_width_px", "period_px", "period_fft_px", "orientation_deg"):
        if m.get(key) is not None:
            se = m.get(key.replace("_px", "_se_px") if key.endswith("_px") else key + "_se")
            print(key, f"{m[key]:.2f}" + (f" ± {se:.2f}" if isinstance(se, float) else ""))
    for w in m["warnings"]:
        print("warning", w["code"], w["message"])
    print("bands", len(m.get("bands", [])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
