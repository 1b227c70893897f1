#!/usr/bin/env bash
# Headless batch throughput: 200 copies of a 512 x 512 micrograph through codes 10, 40, 110, by
# Tovra and by the same pipeline in NumPy + OpenCV, timed in the same run.
# Usage: bench/batch_bench.sh BUILD_BIN_DIR [COUNT]
set -euo pipefail
bin=${1:?usage: bench/batch_bench.sh BUILD_BIN_DIR [COUNT]}
count=${2:-200}
here=$(cd "$(dirname "$0")" && pwd)
sample="$here/../samples/maze_512.mon"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

fresh() {
    rm -f "$dir"/f*.mon
    for i in $(seq 1 "$count"); do cp "$sample" "$dir/f$i.mon"; done
}

fresh
{
    printf '512\r\n512\r\n0\r\n1\r\nr.mon\r\n10\r\n40\r\n110\r\n0\r\n'
    for i in $(seq 1 "$count"); do printf 'f%d.mon\r\n' "$i"; done
    printf '0\r\n'
} > "$dir/run.tvs"
start=$(date +%s.%N)
"$bin/Tovra" --batch "$dir/run.tvs" --workdir "$dir/work" ${TOVRA_OPTIONS:-} 2>/dev/null
end=$(date +%s.%N)
tovra=$(echo "$end - $start" | bc -l)

fresh
files=()
for i in $(seq 1 "$count"); do files+=("$dir/f$i.mon"); done
python=$(/usr/bin/python3 "$here/batch_numpy.py" 512 512 "${files[@]}")

printf 'batch of %d files, 512 x 512, codes 10 40 110, one process\n' "$count"
printf '  Tovra --batch         %8.1f files/s  (%.2f s)\n' "$(echo "$count / $tovra" | bc -l)" "$tovra"
printf '  NumPy + OpenCV        %8.1f files/s  (%.2f s)\n' "$(echo "$count / $python" | bc -l)" "$python"
printf '  time ratio Tovra / Python: %.3f\n' "$(echo "$tovra / $python" | bc -l)"
