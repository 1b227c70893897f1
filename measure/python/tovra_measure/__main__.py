"""python3 -m tovra_measure FILE [--size W H] [--pixel-size UM]: measures a picture (every page of
a multi-page TIFF) and prints its numbers with their standard errors, the verdict and the
warnings."""
import argparse
import math
import sys

from . import measure_file


def with_error(value, se):
    """A value and its standard error, the error to two significant digits and the value to the
    same decimal place (0.5123 ± 0.0045, never 0.51 ± 0.00)."""
    if se is None or not math.isfinite(se) or se <= 0:
        return f"{value:.6g}" + ("" if se is None else f" ± {se:g}")
    places = max(0, 1 - math.floor(math.log10(se)))
    return f"{value:.{places}f} ± {se:.{places}f}"


def show(m):
    if m.error:
        print("error", m.error)
        return 1
    print("pattern", m.pattern, "reliable" if m.reliable else "not reliable")
    for key, se in (("black_fraction", "black_fraction_se"), ("black_width_px", "black_width_se_px"),
                    ("white_width_px", "white_width_se_px"), ("period_px", "period_se_px")):
        if getattr(m, key) is not None:
            print(key, with_error(getattr(m, key), getattr(m, se)))
    for w in m.warnings:
        print("warning", w.code, w.message)
    print("bands", len(m.bands))
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tovra_measure", description=__doc__)
    parser.add_argument("file")
    parser.add_argument("--size", nargs=2, type=int, metavar=("W", "H"))
    parser.add_argument("--pixel-size", type=float)
    args = parser.parse_args(argv)
    try:
        m = measure_file(args.file, pixel_size=args.pixel_size, size=args.size)
    except (OSError, ValueError) as e:
        print(e, file=sys.stderr)
        return 2
    if not isinstance(m, list):
        return show(m)
    worst = 0
    for k, page in enumerate(m):
        print("page", k + 1)
        worst = max(worst, show(page))
    return worst


if __name__ == "__main__":
    sys.exit(main())
