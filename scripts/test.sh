#!/usr/bin/env bash
# Installs the dependencies, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test in parallel.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=${VELMOOR_TEST_BUILD:-build-test}
jobs=$(nproc)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMOOR_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
export QT_QPA_PLATFORM=offscreen

# The fuzz targets for a bounded time each (clang only; skipped without it).
FUZZ_SECONDS=${FUZZ_SECONDS:-15} bash scripts/fuzz.sh

ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300
