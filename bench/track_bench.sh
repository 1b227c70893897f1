#!/usr/bin/env bash
# Linking 10^4 Brownian bubbles a frame over 10^3 frames (Gaussian steps of a tenth of their hard
# core a coordinate, a step refused where two would overlap; their density half of close packing), by the tracking on one core and by
# SciPy (KD-tree candidates, linear_sum_assignment over each group), the same positions for both:
# the time, the wrong links and the ratio. SciPy links the first 50 steps only (all of them would
# take most of an hour) and its time is scaled up to all. Usage: bench/track_bench.sh BUILD_BIN_DIR [FRAMES] [BUBBLES]
set -euo pipefail
bin=${1:?usage: bench/track_bench.sh BUILD_BIN_DIR [FRAMES] [BUBBLES]}
frames=${2:-1000}
bubbles=${3:-10000}
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
step=$(/usr/bin/python3 - "$dir" "$frames" "$bubbles" <<'PY'
import sys
import numpy as np
out, frames, bubbles = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = np.random.default_rng(7)
spacing = 10.0  # the hard core; the mean spacing of half close packing is about 1.35 times it
side = np.sqrt(bubbles * np.sqrt(3) * spacing ** 2)  # half of close packing's density
# A jittered triangular lattice thinned to the density: points at least `spacing` apart.
a = spacing * np.sqrt(2)
rows = int(side / (a * np.sqrt(3) / 2)) + 2
pts = np.array([(i * a + (j % 2) * a / 2, j * a * np.sqrt(3) / 2) for j in range(rows) for i in range(int(side / a) + 2)])
pts = pts[rng.permutation(len(pts))[:bubbles]] + rng.uniform(-0.1, 0.1, (bubbles, 2))
sigma = 0.1 * spacing
# Bubbles repel: a step that would bring two closer than the hard core is refused.
from scipy.spatial import cKDTree
xy = np.empty((frames, bubbles, 2))
xy[0] = pts
for f in range(1, frames):
    moved = xy[f - 1] + rng.normal(0, sigma, (bubbles, 2))
    for _ in range(4):
        pairs = cKDTree(moved).query_pairs(spacing, output_type="ndarray")
        if len(pairs) == 0:
            break
        back = np.unique(pairs.ravel())
        moved[back] = xy[f - 1][back]
    xy[f] = moved
xy.astype(np.float64).tofile(f"{out}/all.bin")
xy[:51].astype(np.float64).tofile(f"{out}/some.bin")
print(0.5 * spacing)
PY
)
read -r ours links wrong < <("$bin/track_bench" "$dir/all.bin" "$frames" "$bubbles" "$step")
some=$(( frames < 51 ? frames : 51 ))
read -r theirs theirLinks theirWrong < <(/usr/bin/python3 "$here/track_scipy.py" "$dir/some.bin" "$some" "$bubbles" "$step")
scaled=$(echo "$theirs * ($frames - 1) / ($some - 1)" | bc -l)
printf 'linking %d bubbles x %d frames: Tovra %.1f s (goal under 60 s), %d links, %.4f %% wrong\n' \
    "$bubbles" "$frames" "$ours" "$links" "$(echo "100 * $wrong / $links" | bc -l)"
printf 'SciPy (KD-tree + linear_sum_assignment), %d steps timed: %.1f s for all, %.4f %% wrong\n' \
    "$((some - 1))" "$scaled" "$(echo "100 * $theirWrong / $theirLinks" | bc -l)"
printf 'ratio SciPy / Tovra: %.1f\n' "$(echo "$scaled / $ours" | bc -l)"
