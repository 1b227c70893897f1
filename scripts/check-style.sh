#!/usr/bin/env bash
# Checks the sources as CI does: clang-format leaves every file as it is, and clang-tidy with the
# project's configuration finds nothing in the program and library sources. Needs a configured
# build folder with compile_commands.json (default: build/default).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"

mapfile -t sources < <(git ls-files '*.cpp' '*.h' '*.cc')
if ! clang-format --dry-run --Werror "${sources[@]}"; then
    echo "clang-format: the files above need 'make format'" >&2
    exit 1
fi

mapfile -t tidy < <(git ls-files 'kernels/*.cpp' 'imageops/*.cpp' 'engine/*.cpp' 'measure/*.cpp' 'app/*.cpp' 'reference/*.cpp')
status=0
run-clang-tidy -p "$build" -quiet -j "$(nproc)" "${tidy[@]/#/$PWD/}" > "$build/clang-tidy.log" 2>&1 || status=$?
if [[ $status -ne 0 ]] || grep -qE "(warning|error):" "$build/clang-tidy.log"; then
    grep -E "(warning|error):" "$build/clang-tidy.log" >&2 || tail -20 "$build/clang-tidy.log" >&2
    echo "clang-tidy: see above" >&2
    exit 1
fi
echo "clang-format and clang-tidy: clean"
