#!/usr/bin/env bash
# A pulse series of 11 frames at 1024² (the maze sample tiled, drifting by whole and part pixels),
# by `Tovra --motion` against `Tovra --measure` of the same frames: the time a step takes, and what
# aligning a frame costs beside measuring it (the motion less the measurement, over the frames).
# Usage: bench/motion_bench.sh BUILD_BIN_DIR
set -euo pipefail
bin=${1:?usage: bench/motion_bench.sh BUILD_BIN_DIR}
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
/usr/bin/python3 - "$here/../samples/maze_512.mon" "$dir" <<'PY'
import sys
import numpy as np
from scipy import ndimage
tile = np.tile(np.fromfile(sys.argv[1], dtype=np.uint8).reshape(512, 512), (3, 3)).astype(float)
rng = np.random.default_rng(5)
for k in range(11):
    dx, dy = rng.uniform(-6, 6, 2) if k else (0, 0)
    frame = ndimage.shift(tile, (dy, dx), order=3, mode="nearest")[256:1280, 256:1280]
    np.clip(frame + rng.normal(0, 4, frame.shape), 0, 255).astype(np.uint8).tofile(f"{sys.argv[2]}/f_{k:02d}.mon")
PY
# shellcheck source=timing.sh
source "$here/timing.sh"
"$bin/Tovra" --motion "$dir" --size 1024 1024 >/dev/null
motion=$(best "$bin/Tovra" --motion "$dir" --size 1024 1024)
measure=$(best "$bin/Tovra" --measure "$dir" --size 1024 1024 --jobs 1)
printf 'motion of 11 frames at 1024²: %.2f s, %.3f s a step; measuring them alone %.2f s (%.3f s a frame)\n' \
    "$motion" "$(echo "$motion / 10" | bc -l)" "$measure" "$(echo "$measure / 11" | bc -l)"
printf 'aligning a frame over measuring it: %.2f (goal at most 1)\n' \
    "$(echo "($motion - $measure) / $measure" | bc -l)"
