"""python3 -m tovra_measure FILE [--size W H] [--pixel-size UM]: measures a picture and prints its
numbers with their standard errors, the verdict and the warnings."""
import argparse
import sys

from . import measure_file


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
    if m.error:
        print("error", m.error)
        return 1
    print("pattern", m.pattern, "reliable" if m.reliable else "not reliable")
    for key, se in (("black_fraction", "black_fraction_se"), ("black_width_px", "black_width_se_px"),
                    ("white_width_px", "white_width_se_px"), ("period_px", "period_se_px")):
        if getattr(m, key) is not None:
            print(key, f"{getattr(m, key):.2f} ± {getattr(m, se):.2f}")
    for w in m.warnings:
        print("warning", w.code, w.message)
    print("bands", len(m.bands))
    return 0


if __name__ == "__main__":
    sys.exit(main())
