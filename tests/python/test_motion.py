"""Walls moving between frames of generated series of known truth, through `Tovra --motion` and
the Python package: a bubble growing by known radii while the frames drift, the switching-field map
as tifffile reads it, the creep fit, and what the motion refuses. TOVRA names the program."""
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import tifffile

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "measure" / "python"))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import bubble_frames as bf  # noqa: E402
import tovra_measure  # noqa: E402

TOVRA = os.environ.get("TOVRA", str(ROOT / "build" / "default" / "bin" / "Tovra"))
RADII = [20.0, 20.5, 22.5, 27.5, 37.5]
DRIFT = [(0, 0), (0.7, -1.2), (-3.4, 2.25), (6.1, 0.4), (-1.5, -4.8)]


def growing(rng):
    """A black bubble whose radius grows by 0.5, 2, 5 and 10 px among fixed marks (dust, 2.5 px
    dots), the whole drifting, blurred by sigma 1.2 with 2 % noise."""
    marks = [(20 + 37 * k % 280, 12 + 23 * k % 40) for k in range(14)]
    frames = []
    for r, (dx, dy) in zip(RADII, DRIFT):
        centres = [(160 + dx, 170 + dy)] + [(x + dx, y + dy) for x, y in marks]
        diameters = [2 * r] + [5.0] * len(marks)
        frames.append(bf.picture(centres, diameters, (300, 320), blur=1.2, noise=0.02, rng=rng))
    return frames


class Motion(unittest.TestCase):
    def test_a_bubble_growing_by_known_radii(self):
        frames = growing(np.random.default_rng(1))
        steps, summary, switching = tovra_measure.motion(frames, values=[1, 2, 3, 4, 5], durations=[0.1, 0.2, 0.4, 0.8],
                                                         rect=(40, 60, 280, 290), align_rect=(0, 0, 320, 56))
        self.assertEqual(len(steps), 4)
        for k, s in enumerate(steps):
            truth = RADII[k + 1] - RADII[k]
            self.assertLess(abs(s["displacement_px"] - truth), max(0.03 * truth, 0.05), (k, s))
            self.assertAlmostEqual(s["velocity_px_per_s"], s["displacement_px"] / [0.1, 0.2, 0.4, 0.8][k], places=6)
            self.assertLess(abs(s["drift_x_px"] - DRIFT[k + 1][0]), 0.05)
            self.assertLess(abs(s["drift_y_px"] - DRIFT[k + 1][1]), 0.05)
            self.assertGreater(s["to_black_px"], 20 * max(s["to_white_px"], 1))
        # Each pixel's last switch: the ring between two radii switched at the later frame's value.
        yy, xx = np.mgrid[0:300, 0:320]
        rho = np.hypot(xx - 160, yy - 170)
        ring = (rho > 28.5) & (rho < 36.5)
        self.assertGreater(np.mean(switching[ring] == 5), 0.99)
        self.assertTrue(np.all(np.isnan(switching[rho < 18])))
        self.assertIn("creep_fixed", summary)

    def test_command_line_files_and_refusals(self):
        with tempfile.TemporaryDirectory() as tmp:
            tmp = pathlib.Path(tmp)
            for k, f in enumerate(growing(np.random.default_rng(2))):
                tifffile.imwrite(tmp / f"pulse_{k + 1}.tif", f)
            names = [str(tmp / f"pulse_{k + 1}.tif") for k in range(5)]
            run = subprocess.run([TOVRA, "--motion", *names, "--values", "5,10,15,20,25", "--value-unit", "mT",
                                  "--durations", "1,1,1,1", "--align-rect", "0", "0", "320", "56",
                                  "--rect", "40", "60", "280", "290", "--pixel-size", "0.5", "--fit", "creep",
                                  "--table", str(tmp / "m.csv"), "--plot", str(tmp / "m.png"),
                                  "--summary", str(tmp / "m.json"), "--switching-map", str(tmp / "map.tif")],
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            lines = run.stdout.splitlines()
            self.assertIn("provenance", json.loads(lines[0]))
            steps = [json.loads(line) for line in lines[1:]]
            self.assertEqual([s["to"] for s in steps], [2, 3, 4, 5])
            self.assertAlmostEqual(steps[2]["displacement_um"], steps[2]["displacement_px"] * 0.5, places=6)
            self.assertAlmostEqual(steps[2]["velocity_m_per_s"], steps[2]["velocity_px_per_s"] * 0.5e-6, places=12)
            summary = json.loads((tmp / "m.json").read_text())
            self.assertEqual(summary["creep_fixed"]["values"], [10, 15, 20, 25])
            self.assertGreater(summary["switching_fields"]["pixels"], 1000)
            with tifffile.TiffFile(tmp / "map.tif") as t:
                page = t.pages[0]
                m = page.asarray()
                self.assertEqual(m.dtype, np.float32)
                self.assertEqual(m.shape, (300, 320))
                self.assertAlmostEqual(page.tags["XResolution"].value[0] / page.tags["XResolution"].value[1], 2e4, places=0)
            self.assertTrue(np.isnan(m[0, 0]))
            self.assertEqual(set(np.unique(m[np.isfinite(m)])), {10.0, 15.0, 20.0, 25.0})
            table = [line for line in (tmp / "m.csv").read_text().splitlines() if not line.startswith("#")]
            self.assertTrue(table[0].startswith("from,to,value,duration_s"))
            self.assertEqual(len(table), 5)
            # Refused before anything is written.
            tifffile.imwrite(tmp / "other.tif", np.zeros((100, 100), np.uint8))
            for args in ([names[0]], [names[0], str(tmp / "other.tif")], [*names, "--durations", "1,1"],
                         [*names, "--durations", "1,1,0,1"], [*names, "--durations", "1,1,1,x"],
                         [*names, "--fit", "linear"], [*names, "--switching-map", str(tmp / "map.png")],
                         [*names, "--table", names[0]]):
                run = subprocess.run([TOVRA, "--motion", *args, "--summary", str(tmp / "never.json")],
                                     capture_output=True, text=True)
                self.assertEqual(run.returncode, 2, (args, run.stderr))
                self.assertFalse((tmp / "never.json").exists(), args)
            self.assertGreater((tmp / "pulse_1.tif").stat().st_size, 1000)
            # Two fields only: the fit is refused, the rest is written.
            run = subprocess.run([TOVRA, "--motion", *names[:3], "--durations", "1,1", "--fit", "creep",
                                  "--summary", str(tmp / "two.json")], capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertIn("error", json.loads((tmp / "two.json").read_text())["creep_fixed"])

    def test_python_arguments(self):
        frames = growing(np.random.default_rng(3))[:3]
        for kwargs in ({"durations": [1]}, {"durations": [1, -1]}, {"values": [1, 2]}, {"rect": (1, 2, 3)}):
            with self.assertRaises(ValueError, msg=kwargs):
                tovra_measure.motion(frames, **kwargs)
        with self.assertRaises(ValueError):
            tovra_measure.motion(frames[:1])
        with self.assertRaises(ValueError):
            tovra_measure.motion([frames[0], frames[1][:-1]])


if __name__ == "__main__":
    unittest.main()
