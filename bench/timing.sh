# Sourced by the benchmark scripts. best COMMAND...: the command's best wall time of three runs in
# seconds, so that what else the machine does counts least.
best() {
    local t b=""
    for _ in 1 2 3; do
        t=$( { /usr/bin/time -f %e "$@" >/dev/null; } 2>&1 | tail -1)
        if [ -z "$b" ] || (($(echo "$t < $b" | bc -l))); then b=$t; fi
    done
    echo "$b"
}
