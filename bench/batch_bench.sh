#!/usr/bin/env bash
# Headless batch throughput: COUNT copies of a 512 x 512 micrograph through three pipelines, by
# Tovra with one job, two and one per core, and by the same pipelines in NumPy + OpenCV, timed in
# the same run. Usage: bench/batch_bench.sh BUILD_BIN_DIR [COUNT]
set -euo pipefail
bin=${1:?usage: bench/batch_bench.sh BUILD_BIN_DIR [COUNT]}
count=${2:-400}
here=$(cd "$(dirname "$0")" && pwd)
sample="$here/../samples/maze_512.mon"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cores=$(nproc)

fresh() {
    rm -f "$dir"/f*.mon "$dir"/f*.csv
    for i in $(seq 1 "$count"); do cp "$sample" "$dir/f$i.mon"; done
    cp "$sample" "$dir/back.mon"
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

printf 'batch of %d files, 512 x 512, one process each (files/s); goal: 1-job/numpy at least 1.5\n' "$count"
printf '%-28s %9s %9s %9s %9s %14s %12s\n' pipeline jobs1 jobs2 "jobs$cores" numpy "1-job/numpy" "all/(n*one)"
for pipeline in "median-binarize-raw:10 40 110" "histogram-csv:10 95 40 120" "difference:20 10 40 110"; do
    name=${pipeline%%:*}
    codes=${pipeline#*:}
    declare -A t=()
    for jobs in 1 2 "$cores"; do
        fresh
        # shellcheck disable=SC2086
        script $codes
        t[$jobs]=$(seconds "$bin/Tovra" --batch "$dir/run.tvs" --workdir "$dir/work" --jobs "$jobs" ${TOVRA_OPTIONS:-})
    done
    fresh
    files=()
    for i in $(seq 1 "$count"); do files+=("$dir/f$i.mon"); done
    extra=()
    [[ $name == difference ]] && extra=(--reference "$dir/back.mon")
    python=$(/usr/bin/python3 "$here/batch_numpy.py" "$name" 512 512 "${extra[@]}" "${files[@]}")
    printf '%-28s %9.0f %9.0f %9.0f %9.0f %14.2f %12.2f\n' "$name ($codes)" "$(rate "${t[1]}")" "$(rate "${t[2]}")" \
        "$(rate "${t[$cores]}")" "$(rate "$python")" "$(echo "$python / ${t[1]}" | bc -l)" \
        "$(echo "${t[1]} / ($cores * ${t[$cores]})" | bc -l)"
done
