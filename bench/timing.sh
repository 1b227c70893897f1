# Sourced by the benchmark scripts. best COMMAND...: the command's best wall time of three runs in
# seconds, so that what else the machine does counts least.
best() {
    local b=""
    for _ in 1 2 3; do b=$(least $b "$(wall "$@")"); done
    echo "$b"
}

# wall COMMAND...: the command's wall time in seconds, once.
wall() {
    { /usr/bin/time -f %e "$@" >/dev/null; } 2>&1 | tail -1
}

# least NUMBER...: the least of them.
least() {
    printf '%s\n' "$@" | sort -g | head -1
}
