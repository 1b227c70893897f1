#!/usr/bin/env python3
"""Tovra's automatic domain measurement from Python, through libTovraMeasure.so and ctypes.

    import tovra_measure
    m = tovra_measure.measure("/path/to/libTovraMeasure.so", pixels, width, height)
    print(m["period_px"], [band["width_px"] for band in m["bands"]])

`pixels` is any sequence of width * height numbers, rows from the top; `background` (a Kerr
frame's background, the same size) and `rect` (x1, y1, x2, y2) are optional. A measurement that
cannot be made gives {"error": "..."}.

From the shell: tovra_measure.py LIBRARY RAW_FILE WIDTH HEIGHT measures an 8-bit raw image and
prints its numbers."""
import ctypes
import sys


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
    ]


def measure(library, pixels, width, height, background=None, rect=(0, 0, 0, 0)):
    lib = ctypes.CDLL(library)
    lib.tovra_measure.restype = ctypes.c_int32
    lib.tovra_measure_band.restype = ctypes.c_int32
    image = (ctypes.c_double * (width * height))(*pixels)
    back = (ctypes.c_double * (width * height))(*background) if background is not None else None
    result = _Measurement()
    if lib.tovra_measure(image, width, height, back, *(ctypes.c_int32(v) for v in rect), ctypes.byref(result)):
        return {"error": result.error.decode()}
    record = {name: getattr(result, name) for name, _ in _Measurement._fields_[2:-1]}
    record["pattern"] = result.pattern.decode()
    record["bands"] = []
    position, angle, width_px, black = ctypes.c_double(), ctypes.c_double(), ctypes.c_double(), ctypes.c_int32()
    for k in range(result.bands):
        lib.tovra_measure_band(k, ctypes.byref(position), ctypes.byref(angle), ctypes.byref(width_px), ctypes.byref(black))
        record["bands"].append({"position_px": position.value, "angle_deg": angle.value, "width_px": width_px.value,
                                "colour": "black" if black.value else "white"})
    return record


if __name__ == "__main__":
    library, name, w, h = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    with open(name, "rb") as f:
        data = f.read(w * h)
    m = measure(library, data, w, h)
    if "error" in m:
        print("error", m["error"])
        sys.exit(1)
    print("pattern", m["pattern"])
    for key in ("black_fraction", "black_width_px", "white_width_px", "period_px", "period_fft_px", "orientation_deg"):
        print(key, f"{m[key]:.2f}")
    print("bands", len(m["bands"]))
