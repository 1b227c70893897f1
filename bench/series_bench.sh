#!/usr/bin/env bash
# A field sweep of 200 frames at 1024² (the maze sample tiled, a frame a file), measured with
# --jobs 2, against the same run that also writes the series' table and plot: what the series
# costs beyond its frames. Usage: bench/series_bench.sh BUILD_BIN_DIR [FRAMES]
set -euo pipefail
bin=${1:?usage: bench/series_bench.sh BUILD_BIN_DIR [FRAMES]}
frames=${2:-200}
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
/usr/bin/python3 -c "import numpy as np, sys; np.tile(np.fromfile(sys.argv[1], dtype=np.uint8).reshape(512, 512), (2, 2)).tofile(sys.argv[2])" \
    "$here/../samples/maze_512.mon" "$dir/maze.mon"
mkdir "$dir/sweep"
for i in $(seq 1 "$frames"); do ln "$dir/maze.mon" "$dir/sweep/H_${i}mT.mon"; done
# shellcheck source=timing.sh
source "$here/timing.sh"
# Both must measure every frame; a refusal would time nothing.
"$bin/Tovra" --measure "$dir/sweep" --size 1024 1024 --jobs 2 --values-from-name --table "$dir/t.csv" \
    --plot "$dir/p.png" >/dev/null
[ "$(grep -c '^[0-9]' "$dir/t.csv")" -eq "$frames" ]
plain=$(best "$bin/Tovra" --measure "$dir/sweep" --size 1024 1024 --jobs 2)
series=$(best "$bin/Tovra" --measure "$dir/sweep" --size 1024 1024 --jobs 2 --values-from-name \
    --value-unit mT --table "$dir/t.csv" --plot "$dir/p.png")
printf 'series of %d frames at 1024², --jobs 2: %.2f s measured alone, %.2f s with table and plot: %.3f (goal at most 1.05)\n' \
    "$frames" "$plain" "$series" "$(echo "$series / $plain" | bc -l)"
