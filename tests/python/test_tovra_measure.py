"""The Python wrapper refuses what cannot describe an image instead of crashing or padding."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "measure", "python"))
import tovra_measure  # noqa: E402

LIBRARY = os.environ["TOVRA_MEASURE_LIB"]
STRIPES = [0 if (x + y) % 20 < 8 else 255 for y in range(64) for x in range(64)]


class Refusals(unittest.TestCase):
    def test_bad_arguments_raise_value_error(self):
        rows = [
            ("rect of three", dict(rect=(0, 0, 10))),
            ("rect of five", dict(rect=(0, 0, 10, 10, 3))),
            ("rect not numbers", dict(rect=("a", 0, 10, 10))),
            ("rect not a sequence", dict(rect=7)),
            ("short pixels", dict(pixels=STRIPES[:-1])),
            ("long pixels", dict(pixels=STRIPES + [0])),
            ("text pixels", dict(pixels=["x"] * len(STRIPES))),
            ("short background", dict(background=STRIPES[:10])),
            ("width zero", dict(width=0)),
            ("width real", dict(width=64.0)),
            ("width beyond 32 bits", dict(width=2**40)),
        ]
        for name, change in rows:
            args = dict(pixels=STRIPES, width=64, height=64, background=None, rect=(0, 0, 0, 0))
            args.update(change)
            with self.subTest(name), self.assertRaises(ValueError):
                tovra_measure.measure(LIBRARY, args["pixels"], args["width"], args["height"],
                                      background=args["background"], rect=args["rect"])

    def test_good_arguments_measure(self):
        m = tovra_measure.measure(LIBRARY, STRIPES, 64, 64, rect=[0, 0, 64, 64])
        self.assertNotIn("error", m)
        self.assertGreater(m["period_px"], 0)
        # The library's whole record comes through: its standard errors and verdict too.
        self.assertGreater(m["period_se_px"], 0)
        self.assertIs(m["reliable"], True)
        self.assertEqual(m["warnings"], [])

    def test_command_line_refuses_a_truncated_raw_file(self):
        with tempfile.NamedTemporaryFile(suffix=".mon") as f:
            f.write(bytes(STRIPES[:1000]))
            f.flush()
            run = subprocess.run([sys.executable, tovra_measure.__file__, LIBRARY, f.name, "64", "64"],
                                 capture_output=True, text=True)
        self.assertEqual(run.returncode, 2)
        self.assertIn("1000 bytes", run.stderr)


if __name__ == "__main__":
    unittest.main()
