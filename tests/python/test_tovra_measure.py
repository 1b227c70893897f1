"""The Python package: arrays of any dtype measured as the library measures them, every field of
the record in the dataclass, what cannot describe an image refused, and the guide's snippet run
exactly as printed."""
import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "measure" / "python"))
import tovra_measure  # noqa: E402

y, x = np.mgrid[0:64, 0:64]
STRIPES = np.where((x + y) % 20 < 8, 0, 255).astype(np.uint8)


class Package(unittest.TestCase):
    def test_any_dtype_gives_the_same_numbers(self):
        base = tovra_measure.measure(STRIPES)
        self.assertIsNone(base.error)
        self.assertEqual(base.pattern, "stripes")
        self.assertTrue(base.reliable)
        self.assertGreater(base.period_se_px, 0)
        for dtype, scale in ((np.uint16, 257), (np.float32, 1 / 255), (np.float64, 1e6), (np.int32, 1)):
            with self.subTest(dtype=dtype.__name__):
                m = tovra_measure.measure((STRIPES * scale).astype(dtype))
                self.assertAlmostEqual(m.period_px, base.period_px, delta=1e-3 * base.period_px)
        # A view that is not contiguous (every other column of a wider array) is the same picture.
        wide = np.repeat(STRIPES, 2, axis=1)
        self.assertAlmostEqual(tovra_measure.measure(wide[:, ::2]).period_px, base.period_px, places=9)

    def test_every_field_of_the_record(self):
        m = tovra_measure.measure_file(str(ROOT / "samples" / "bubbles_384.mon"), size=(384, 384), pixel_size=0.5)
        self.assertEqual(m.pattern, "bubbles")
        self.assertGreater(m.bubbles.count, 100)
        self.assertAlmostEqual(m.bubbles.mean_diameter_um, m.bubbles.mean_diameter_px / 2, places=6)
        self.assertAlmostEqual(m.black_width_um, m.black_width_px / 2, places=6)
        s = tovra_measure.measure_file(str(ROOT / "samples" / "stripes_bin_256.mon"), size=(256, 256))
        self.assertGreater(len(s.bands), 20)
        self.assertIn(s.bands[0].colour, ("black", "white"))
        self.assertIsNone(s.black_width_um)
        none = tovra_measure.measure_file(str(ROOT / "samples" / "kerr_bg_256.mon"), size=(256, 256))
        self.assertEqual(none.pattern, "none")
        self.assertFalse(none.reliable)
        self.assertIsNone(none.black_width_px)
        self.assertTrue(all(w.code for w in none.warnings))
        failed = tovra_measure.measure(np.full((32, 32), 7))
        self.assertIn("uniform", failed.error)
        # A record field this module does not know is an error, never silently dropped.
        with self.assertRaises(TypeError):
            tovra_measure.Measurement.from_record({"pattern": "maze", "a_new_number": 1})

    def test_bad_arguments_raise_value_error(self):
        rows = [
            ("one dimension", dict(pixels=STRIPES.ravel())),
            ("text", dict(pixels=np.array([["a", "b"], ["c", "d"]]))),
            ("empty", dict(pixels=np.zeros((0, 5)))),
            ("background of another shape", dict(background=STRIPES[:10])),
            ("rect of three", dict(rect=(0, 0, 10))),
            ("rect not whole numbers", dict(rect=(0, 0, 10.5, 10))),
            ("rect not a sequence", dict(rect=7)),
            ("pixel size zero", dict(pixel_size=0)),
            ("pixel size text", dict(pixel_size="abc")),
            ("pixel size beyond doubles", dict(pixel_size=float("inf"))),
        ]
        for name, change in rows:
            args = dict(pixels=STRIPES)
            args.update(change)
            with self.subTest(name), self.assertRaises(ValueError):
                tovra_measure.measure(**args)
        with self.assertRaises(ValueError):
            tovra_measure.measure_file(str(ROOT / "samples" / "maze_512.mon"))  # a raw file needs its size
        with tempfile.NamedTemporaryFile(suffix=".mon") as f:
            f.write(bytes(1000))
            f.flush()
            with self.assertRaises(ValueError):
                tovra_measure.measure_file(f.name, size=(64, 64))

    def test_any_array_and_arguments(self):
        """The wrapper over random arrays and arguments (a fuzzing of its own, seeded): a
        Measurement or ValueError, never another exception or a crash."""
        rng = np.random.default_rng(29)
        dtypes = (np.uint8, np.uint16, np.int8, np.int64, np.float16, np.float32, np.float64, np.bool_, np.complex64)
        for case in range(150):
            shape = tuple(int(n) for n in rng.integers(0, 40, size=int(rng.integers(0, 4))))
            dtype = dtypes[case % len(dtypes)]
            pixels = (rng.normal(size=shape) * 10.0 ** rng.integers(-3, 6)).astype(dtype)
            if case % 7 == 0 and pixels.size:
                pixels.flat[0] = np.nan if pixels.dtype.kind == "f" else pixels.flat[0]
            args = {}
            if case % 3 == 0:
                args["rect"] = tuple(int(v) for v in rng.integers(-5, 45, size=4))
            if case % 5 == 0:
                args["pixel_size"] = float(rng.choice([0.5, -1, np.inf, 1e300]))
            with self.subTest(case=case, shape=shape, dtype=dtype.__name__):
                try:
                    m = tovra_measure.measure(pixels, **args)
                except ValueError:
                    continue
                self.assertIsInstance(m, tovra_measure.Measurement)

    def test_command_line(self):
        run = subprocess.run([sys.executable, "-m", "tovra_measure", str(ROOT / "samples" / "stripes_bin_256.mon"),
                              "--size", "256", "256"], capture_output=True, text=True,
                             env=dict(os.environ, PYTHONPATH=str(ROOT / "measure" / "python"), PYTHONDONTWRITEBYTECODE="1"))
        self.assertEqual(run.returncode, 0, run.stderr)
        # Each standard error to two significant digits, its value to the same place.
        self.assertRegex(run.stdout, r"pattern stripes reliable\nblack_fraction 0\.40\d* ± 0\.0+[1-9]\d\n"
                                     r"black_width_px (8\.0|7\.99)\d* ± 0\.0*[1-9]\d\n")

    def test_library_only_from_absolute_paths(self):
        """The package away from its checkout, run in the build folder that holds a library: the
        current folder is never searched; a library without the measurement's symbols, or a
        relative TOVRA_MEASURE_LIB, is the module's own OSError with its hint."""
        built = pathlib.Path(tovra_measure.library_path()).resolve()
        with tempfile.TemporaryDirectory() as away:
            package = pathlib.Path(away) / "tovra_measure"
            package.mkdir()
            for f in (ROOT / "measure" / "python" / "tovra_measure").glob("*.py"):
                (package / f.name).write_text(f.read_text())
            probe = "import numpy, tovra_measure\ntry:\n    tovra_measure.measure(numpy.eye(64))\n    print('loaded')\n" \
                    "except OSError as e:\n    print('refused', e)\n"
            rows = [("current folder", {}, "Build Tovra"),
                    ("no symbols", {"TOVRA_MEASURE_LIB": str(next(built.parent.glob("libQuarnk.so*")))}, "lacks tovra_measure"),
                    ("relative", {"TOVRA_MEASURE_LIB": "libTovraMeasure.so"}, "absolute path")]
            for name, extra, said in rows:
                env = {k: v for k, v in os.environ.items() if k != "TOVRA_MEASURE_LIB"}
                env.update(extra, PYTHONPATH=away, PYTHONDONTWRITEBYTECODE="1")
                run = subprocess.run([sys.executable, "-c", probe], cwd=built.parent, env=env, capture_output=True, text=True)
                with self.subTest(name):
                    self.assertTrue(run.stdout.startswith("refused"), run.stdout + run.stderr)
                    self.assertIn(said, run.stdout)

    def test_shape_checked_before_the_copy(self):
        # 4.9e9 pixels of a broadcast view hold no memory; their float64 copy would take 39 GB.
        with self.assertRaises(ValueError):
            tovra_measure.measure(np.broadcast_to(np.uint8(0), (70000, 70000)))

    def test_files_read_as_the_program_reads_them(self):
        from PIL import Image
        with tempfile.TemporaryDirectory() as d:
            stack = os.path.join(d, "stack.tif")
            pages = [Image.fromarray(np.roll(STRIPES, k, axis=1)) for k in range(3)]
            pages[0].save(stack, save_all=True, append_images=pages[1:], resolution=20000.0, resolution_unit=3)
            measured = tovra_measure.measure_file(stack)
            self.assertEqual(len(measured), 3)
            for m in measured:
                self.assertEqual(m.pattern, "stripes")
                self.assertAlmostEqual(m.pixel_size_um, 0.5, places=9)  # 20000 pixels a centimetre
            self.assertAlmostEqual(tovra_measure.measure_file(stack, pixel_size=2)[1].pixel_size_um, 2)
            fifo = os.path.join(d, "frame.png")
            os.mkfifo(fifo)
            zero = os.path.join(d, "zero.tif")
            os.symlink("/dev/zero", zero)
            for special in (fifo, zero, d):
                with self.subTest(special), self.assertRaises(ValueError):
                    tovra_measure.measure_file(special)

    def test_the_guides_snippet_as_printed(self):
        for name in ("user-guide.md", "user-guide.ja.md"):
            guide = (ROOT / "docs" / name).read_text()
            snippet = re.search(r"```python\n(.*?)```", guide, re.S).group(1)
            env = dict(os.environ, PYTHONPATH=str(ROOT / "measure" / "python"), PYTHONDONTWRITEBYTECODE="1")
            if os.environ.get("TOVRA_SNIPPET_FINDS_LIBRARY"):
                env.pop("TOVRA_MEASURE_LIB", None)  # the package finds the library by itself
            run = subprocess.run([sys.executable, "-c", snippet], cwd=ROOT, env=env, capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, name + run.stderr)
            self.assertRegex(run.stdout, r"^maze True \d+\.\d\d ± \d\.\d\d px\nperiod \d\.\d{3} ± \d\.\d{3} µm \[\]\n"
                                         r"stripes \d+ bands, the first \d")


if __name__ == "__main__":
    unittest.main()
