"""Bubbles followed through generated series of known truth: their centres, the links, D, the
lattice's order and the drift, through the Python package and `Tovra --track`; what the tracking
refuses. Needs SciPy and tifffile (Debian's python3-scipy, python3-tifffile); TOVRA names the
program."""
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


def matched_errors(measured, truth):
    """Each inside bubble's centre less the nearest true centre."""
    it = measured.bubbles.items
    it = it[it["inside"]]
    out = []
    for r in it:
        k = np.argmin(np.hypot(truth[:, 0] - r["x_px"], truth[:, 1] - r["y_px"]))
        out.append((r["x_px"] - truth[k, 0], r["y_px"] - truth[k, 1], r["position_se_px"]))
    return np.asarray(out)


class Tracking(unittest.TestCase):
    def test_centres_to_a_tenth_of_a_pixel(self):
        # Bubbles 8 to 30 px across, blurred up to sigma 2, noise a tenth of the contrast.
        for d in (8, 14, 30):
            for blur in (0.0, 1.0, 2.0):
                errors = []
                for seed in range(2):
                    rng = np.random.default_rng(seed)
                    truth = bf.hard_core_points(rng, 400 // d * 10, (480, 480), 1.8 * d)
                    m = tovra_measure.measure(bf.picture(truth, d, (480, 480), blur=blur, noise=0.05, rng=rng))
                    self.assertEqual(m.pattern, "bubbles", (d, blur))
                    errors.append(matched_errors(m, truth))
                e = np.concatenate(errors)
                rms = np.sqrt(np.mean(e[:, :2] ** 2))
                self.assertLess(rms, 0.1, (d, blur))
                self.assertLess(np.abs(e[:, :2].mean(axis=0)).max(), 0.02, (d, blur))
                # The centres' own error says how far they are off.
                self.assertTrue(0.8 < np.mean(e[:, 2]) / rms < 1.4, (d, blur, np.mean(e[:, 2]), rms))

    def test_wrong_links_under_one_percent(self):
        # Bubbles at half close packing that repel, Gaussian steps of a tenth and a fifth of their
        # spacing a coordinate (the latter with the largest step given).
        for sigma, step in ((0.1, None), (0.2, 0.8)):
            rng = np.random.default_rng(4)
            a = 10.0
            side = np.sqrt(800 * np.sqrt(3) * a * a)
            start = bf.hard_core_points(rng, 800, (side, side), a)
            path = bf.brownian(rng, start, 40, sigma * a, spacing=a)
            tracks, summary = tovra_measure.link([p for p in path], max_step=None if step is None else step * a)
            links, wrong = bf.link_errors(tracks, path)
            self.assertGreater(links, 0.97 * 800 * 39, sigma)
            self.assertLess(wrong / links, 0.01, sigma)

    def test_diffusion_coefficient_of_generated_bubbles(self):
        # Frames of Brownian bubbles 12 px across, D = sigma^2 / (2 dt), measured from the pictures;
        # their hard core (15 px) is rarely reached, so the generator's D is sigma^2 / (2 dt).
        dt = 0.25
        for seed, blur in ((0, 0.8), (1, 1.6)):
            rng = np.random.default_rng(seed)
            start = bf.hard_core_points(rng, 220, (512, 512), 28.0)
            path = bf.brownian(rng, start, 60, 0.6, spacing=15.0)
            pictures = [bf.picture(p, 12.0, (512, 512), blur=blur, noise=0.05, rng=rng) for p in path]
            tracks, summary = tovra_measure.track(pictures, values=np.arange(60) * dt)
            truth = 0.6 ** 2 / (2 * dt)
            d, se = summary["diffusion_px2_per_value"], summary["diffusion_se"]
            self.assertLess(abs(d / truth - 1), 0.05, (seed, d, truth))
            self.assertLess(abs(d - truth), 3 * se, (seed, d, se, truth))
            self.assertLess(se / truth, 0.03)
            self.assertEqual(summary["pinned_fraction"], 0)
            self.assertEqual(tracks.dtype, tovra_measure.TRACK_DTYPE)
        # Crowded bubbles that touch and run together now and then under the blur: D from the pictures
        # is the one their true places give (the crowding slows them below sigma^2 / (2 dt)).
        rng = np.random.default_rng(2)
        start = bf.hard_core_points(rng, 300, (512, 512), 24.0)
        path = bf.brownian(rng, start, 40, 1.0, spacing=13.0)
        pictures = [bf.picture(p, 12.0, (512, 512), blur=1.6, noise=0.05, rng=rng) for p in path]
        _, measured = tovra_measure.track(pictures, values=np.arange(40) * dt)
        _, true = tovra_measure.link(list(path), values=np.arange(40) * dt)
        self.assertLess(abs(measured["diffusion_px2_per_value"] / true["diffusion_px2_per_value"] - 1), 0.03)

    def test_lattice_order_and_one_dislocation(self):
        rng = np.random.default_rng(7)
        perfect = tovra_measure.measure(bf.picture(bf.triangular((384, 384), 20.0, origin=(3.3, 4.1)), 10.0, (384, 384),
                                                   blur=1.2, noise=0.05, rng=rng))
        o = perfect.bubbles.order
        self.assertGreater(o.psi6, 0.99)
        self.assertEqual((o.fivefold, o.sevenfold, len(o.dislocations)), (0, 0, 0))
        core = (190.3, 185.7)
        one = tovra_measure.measure(bf.picture(bf.triangular((384, 384), 20.0, origin=(3.3, 4.1), dislocation=core),
                                               10.0, (384, 384), blur=1.2, noise=0.05, rng=rng))
        o = one.bubbles.order
        self.assertEqual(len(o.dislocations), 1)
        self.assertLess(np.hypot(o.dislocations[0][0] - core[0], o.dislocations[0][1] - core[1]), 20.0)
        # g(r) peaks at the nearest neighbours' distance; g6 stays near 1 out to five bonds.
        self.assertLess(abs(o.correlation[np.argmax(o.correlation[:, 1]), 0] - 20.0), 1.5)
        self.assertGreater(perfect.bubbles.order.correlation[-1, 2], 0.9)

    def test_command_line_follows_a_drifting_lattice(self):
        with tempfile.TemporaryDirectory() as tmp:
            tmp = pathlib.Path(tmp)
            rng = np.random.default_rng(3)
            base = bf.triangular((320, 256), 22.0, origin=(2, 3), margin=40)
            shifts = [np.array([1.37 * k, -0.61 * k]) for k in range(10)]
            stack = [bf.picture(base + s + rng.normal(0, 0.3, base.shape), 11.0, (256, 320), blur=1.0, noise=0.05, rng=rng)
                     for s in shifts]
            tifffile.imwrite(tmp / "lattice.tif", np.stack(stack))
            run = subprocess.run([TOVRA, "--track", str(tmp / "lattice.tif"), "--values", ",".join(str(0.1 * k) for k in range(10)),
                                  "--value-unit", "s", "--tracks", str(tmp / "t.csv"), "--summary", str(tmp / "s.json"),
                                  "--plot", str(tmp / "p.svg"), "--table", str(tmp / "table.csv"), "--pixel-size", "0.1"],
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            summary = json.loads((tmp / "s.json").read_text())
            for drift, shift in zip(summary["drift"], shifts):
                self.assertLess(abs(drift["drift_x_px"] - shift[0]), 0.1)
                self.assertLess(abs(drift["drift_y_px"] - shift[1]), 0.1)
            self.assertIn("program", summary["provenance"])
            rows = np.genfromtxt(tmp / "t.csv", delimiter=",", names=True)
            self.assertEqual(len(rows), sum(f["bubbles"] for f in summary["frame_details"]))
            self.assertTrue(np.all(np.diff(rows["track_id"]) >= 0))
            np.testing.assert_allclose(rows["x_um"], rows["x_px"] * 0.1, rtol=1e-9)
            # Records on standard output, a line a frame after the provenance; the table with the order.
            records = [json.loads(line) for line in run.stdout.splitlines()[1:]]
            self.assertEqual(len(records), 10)
            self.assertGreater(len(records[0]["bubbles"]["items"]), 100)
            header = [line for line in (tmp / "table.csv").read_text().splitlines() if not line.startswith("#")][0]
            self.assertTrue(header.endswith("bubbles,psi6,psi6_se,fivefold,sevenfold,dislocations"))
            self.assertIn("<svg", (tmp / "p.svg").read_text())

    def test_command_line_refusals_and_frames_without_bubbles(self):
        with tempfile.TemporaryDirectory() as tmp:
            tmp = pathlib.Path(tmp)
            rng = np.random.default_rng(1)
            pts = bf.triangular((160, 160), 20.0)
            for k in range(3):
                tifffile.imwrite(tmp / f"f{k}.tif", bf.picture(pts + 0.3 * k, 10.0, (160, 160), blur=1.0, noise=0.03, rng=rng))
            # A frame without bubbles between them: its row says so, the tracks go on with memory.
            tifffile.imwrite(tmp / "f1.tif", rng.normal(30000, 300, (160, 160)).astype(np.uint16))
            run = subprocess.run([TOVRA, "--track", *(str(tmp / f"f{k}.tif") for k in range(3)), "--memory", "1",
                                  "--summary", str(tmp / "s.json")], capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            summary = json.loads((tmp / "s.json").read_text())
            self.assertEqual(summary["frame_details"][1]["bubbles"], 0)
            self.assertIn("note", summary["frame_details"][1])
            self.assertGreater(summary["gap_links"], 30)
            # Frames of two sizes, absurd steps and memories: refused, nothing written.
            tifffile.imwrite(tmp / "big.tif", bf.picture(pts, 10.0, (200, 200), blur=1.0, noise=0.03, rng=rng))
            for args in (["--track", str(tmp / "f0.tif"), str(tmp / "big.tif")],
                         ["--track", str(tmp / "f0.tif"), "--max-step", "0"],
                         ["--track", str(tmp / "f0.tif"), "--max-step", "-3"],
                         ["--track", str(tmp / "f0.tif"), "--max-step", "abc"],
                         ["--track", str(tmp / "f0.tif"), "--max-step", "1e9"],
                         ["--track", str(tmp / "f0.tif"), "--memory", "-1"],
                         ["--track", str(tmp / "f0.tif"), "--tracks", str(tmp / "f0.tif")],
                         ["--measure", str(tmp / "f0.tif"), "--tracks", str(tmp / "x.csv")]):
                out = tmp / "x.csv"
                run = subprocess.run([TOVRA, *args, "--summary", str(tmp / "never.json")] if "--measure" not in args
                                     else [TOVRA, *args], capture_output=True, text=True)
                self.assertEqual(run.returncode, 2, args)
                self.assertFalse((tmp / "never.json").exists(), args)
                self.assertFalse(out.exists(), args)
            self.assertGreater((tmp / "f0.tif").stat().st_size, 1000)  # the input is still itself

    def test_python_arguments(self):
        frames = [np.zeros((64, 64)), np.zeros((64, 65))]
        with self.assertRaises(ValueError):
            tovra_measure.track(frames)
        for kwargs in ({"max_step": 0}, {"max_step": -1}, {"max_step": float("nan")}, {"memory": -1}, {"memory": 1.5},
                       {"values": [1, 2, 3]}):
            with self.assertRaises(ValueError, msg=kwargs):
                tovra_measure.link([np.zeros((1, 2)), np.zeros((1, 2))], **kwargs)
        with self.assertRaises(ValueError):
            tovra_measure.link([np.array([[np.nan, 1.0]])])
        tracks, summary = tovra_measure.link([np.zeros((0, 2)), np.zeros((0, 2))])
        self.assertEqual((len(tracks), summary["tracks"]), (0, 0))


if __name__ == "__main__":
    unittest.main()
