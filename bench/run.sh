#!/usr/bin/env bash
# Runs the benchmarks and prints the ratios. Usage: bench/run.sh BUILD_BIN_DIR
set -euo pipefail
bin=${1:?usage: bench/run.sh BUILD_BIN_DIR}
here=$(cd "$(dirname "$0")" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$bin/kernel_bench" --benchmark_format=console --benchmark_out="$out/bench.json" --benchmark_out_format=json \
    --benchmark_min_time=0.3 >&2
"$bin/simulator_bench" --benchmark_format=console --benchmark_out="$out/simulator.json" \
    --benchmark_out_format=json >&2
/usr/bin/python3 "$here/numpy_baseline.py" > "$out/numpy.json" || echo '{}' > "$out/numpy.json"
/usr/bin/python3 "$here/compare.py" "$out/bench.json,$out/simulator.json" "$out/numpy.json"
echo
echo "where a batch file's time goes (512 x 512, codes 10 40 110):"
"$bin/engine_bench" --benchmark_min_time=0.3 2>/dev/null | grep -E "^BM_"
echo
"$here/batch_bench.sh" "$bin"
echo
echo "where an automatic measurement's time goes (1024 x 1024 stripes):"
"$bin/measure_steps_bench" --benchmark_min_time=0.3 2>/dev/null | grep -E "^BM_"
echo
"$here/measure_bench.sh" "$bin"

"$here/series_bench.sh" "$bin"

"$here/track_bench.sh" "$bin"

"$here/motion_bench.sh" "$bin"
