"""The tracking's accuracy on generated series of known truth, as the guide quotes it: each bubble's
centre against its true place (bubbles 8 to 30 px across, blur sigma 0 to 2 px, noise a tenth of the
contrast), the share of wrong links (Brownian bubbles at half close packing that repel, steps a
tenth and a fifth of their spacing), and D from the pictures against the generator's.
Usage: TOVRA_MEASURE_LIB=... python3 bench/track_accuracy.py [SEEDS [centres|links|diffusion ...]]"""
import pathlib
import sys

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "measure" / "python"))
sys.path.insert(0, str(ROOT / "tests" / "python"))
import bubble_frames as bf  # noqa: E402
import tovra_measure  # noqa: E402

seeds = int(sys.argv[1]) if len(sys.argv) > 1 else 4
parts = sys.argv[2:] or ["centres", "links", "diffusion"]
if "centres" in parts:
    print("centres: RMS error (px), mean error (px), the centres' own SE over the RMS error")
    for d in (8, 14, 30):
        for blur in (0.0, 1.0, 2.0):
            e = []
            for seed in range(seeds):
                rng = np.random.default_rng(seed)
                truth = bf.hard_core_points(rng, 400 // d * 10, (480, 480), 1.8 * d)
                m = tovra_measure.measure(bf.picture(truth, d, (480, 480), blur=blur, noise=0.05, rng=rng))
                it = m.bubbles.items[m.bubbles.items["inside"]]
                for r in it:
                    k = np.argmin(np.hypot(truth[:, 0] - r["x_px"], truth[:, 1] - r["y_px"]))
                    e.append((r["x_px"] - truth[k, 0], r["y_px"] - truth[k, 1], r["position_se_px"]))
            e = np.asarray(e)
            rms = np.sqrt(np.mean(e[:, :2] ** 2))
            print(f"  d {d:2d} px, blur {blur:.0f}: {len(e):5d} centres, RMS {rms:.3f}, mean {np.abs(e[:, :2].mean(0)).max():.3f}, "
                  f"SE/RMS {np.mean(e[:, 2]) / rms:.2f}")

if "links" in parts:
    print("wrong links (800 bubbles, 40 frames, spacing a)")
    for sigma, step in ((0.1, None), (0.2, 0.8), (0.3, 1.0)):
        wrong = links = 0
        for seed in range(seeds):
            rng = np.random.default_rng(seed)
            a = 10.0
            side = np.sqrt(800 * np.sqrt(3) * a * a)
            path = bf.brownian(rng, bf.hard_core_points(rng, 800, (side, side), a), 40, sigma * a, spacing=a)
            tracks, _ = tovra_measure.link(list(path), max_step=None if step is None else step * a)
            more_links, more_wrong = bf.link_errors(tracks, path)
            links, wrong = links + more_links, wrong + more_wrong
        print(f"  steps {sigma:.1f} a a coordinate, max step {'default' if step is None else f'{step} a'}: "
              f"{links} links, {100 * wrong / links:.3f} % wrong, {100 * (1 - links / (seeds * 800 * 39)):.2f} % missed")

if "diffusion" in parts:
    print("D from the pictures (220 bubbles 12 px across, 512², 60 frames, dt 0.25) over sigma^2 / (2 dt)")
    for blur in (0.8, 1.6):
        for seed in range(seeds):
            rng = np.random.default_rng(seed)
            path = bf.brownian(rng, bf.hard_core_points(rng, 220, (512, 512), 28.0), 60, 0.6, spacing=15.0)
            pictures = [bf.picture(p, 12.0, (512, 512), blur=blur, noise=0.05, rng=rng) for p in path]
            _, s = tovra_measure.track(pictures, values=np.arange(60) * 0.25)
            truth = 0.6 ** 2 / 0.5
            d, se = s["diffusion_px2_per_value"], s["diffusion_se"]
            print(f"  blur {blur}, seed {seed}: D/truth {d / truth:.4f} ± {se / truth:.4f} (z {(d - truth) / se:+.2f})")
