#!/usr/bin/env bash
# Builds the extension and the core probe with the address and undefined-behaviour sanitizers and runs
# the whole test suite against them. Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/sanitize
cmake -S . -B "$build" -DTAVO_SANITIZE=ON -DTAVO_BUILD_PROBE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
export LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
export ASAN_OPTIONS=detect_leaks=0          # the interpreter itself is not leak-clean
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
PYTHONPATH="$build:python" TAVO_PROBE="$build/tavo_probe" python -m pytest -q "$@"
