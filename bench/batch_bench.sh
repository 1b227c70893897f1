#!/usr/bin/env bash
# Headless batch throughput: COUNT copies of a 512 x 512 micrograph through three pipelines, by
# Tovra with every job count up to the cores, and by the same pipelines in NumPy + OpenCV with as
# many worker processes, timed in the same run (each the best of three, on fresh copies written out
# to disk first). Usage: bench/batch_bench.sh BUILD_BIN_DIR [COUNT]
set -euo pipefail
bin=${1:?usage: bench/batch_bench.sh BUILD_BIN_DIR [COUNT]}
count=${2:-400}
here=$(cd "$(dirname "$0")" && pwd)
sample="$here/../samples/maze_512.mon"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cores=$(nproc)
# shellcheck source=timing.sh
source "$here/timing.sh"

fresh() {
    rm -f "$dir"/f*.mon "$dir"/f*.csv
    for i in $(seq 1 "$count"); do cp "$sample" "$dir/f$i.mon"; done
    cp "$sample" "$dir/back.mon"
    sync
}

script() { # the operation codes, one per line
    {
        printf '512\r\n512\r\n0\r\n1\r\nback.mon\r\n'
        for c in "$@"; do printf '%s\r\n' "$c"; done
        printf '0\r\n'
        for i in $(seq 1 "$count"); do printf 'f%d.mon\r\n' "$i"; done
        printf '0\r\n'
    } > "$dir/run.tvs"
}

seconds() { # a command's wall time
    local start end
    start=$(date +%s.%N)
    "$@" 2>/dev/null >/dev/null || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

rate() { echo "$count / $1" | bc -l; }

files=()
for i in $(seq 1 "$count"); do files+=("$dir/f$i.mon"); done
printf 'batch of %d files, 512 x 512 (files/s); peer: NumPy + OpenCV, one worker process per job\n' "$count"
printf 'goal: Tovra/peer at least 1.5 with one job, at least 1.2 with more\n'
printf '%-32s %5s %9s %9s %11s %6s\n' pipeline jobs Tovra peer Tovra/peer goal
for pipeline in "median-binarize-raw:10 40 110" "histogram-csv:10 95 40 120" "difference:20 10 40 110"; do
    name=${pipeline%%:*}
    codes=${pipeline#*:}
    extra=()
    [[ $name == difference ]] && extra=(--reference "$dir/back.mon")
    for jobs in $(seq 1 "$cores"); do
        tovra=() peer=()
        for _ in 1 2 3; do
            fresh
            # shellcheck disable=SC2086
            script $codes
            tovra+=("$(seconds "$bin/Tovra" --batch "$dir/run.tvs" --workdir "$dir/work" --jobs "$jobs" ${TOVRA_OPTIONS:-})")
            fresh
            peer+=("$(/usr/bin/python3 "$here/batch_numpy.py" "$name" 512 512 --processes "$jobs" "${extra[@]}" "${files[@]}")")
        done
        t=$(least "${tovra[@]}") p=$(least "${peer[@]}")
        goal=1.2
        [[ $jobs == 1 ]] && goal=1.5
        printf '%-32s %5d %9.0f %9.0f %11.2f %6s\n' "$name ($codes)" "$jobs" "$(rate "$t")" "$(rate "$p")" \
            "$(echo "$p / $t" | bc -l)" "$goal"
    done
done
