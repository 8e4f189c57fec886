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

# Failures are run once more, alone, and both runs are reported: a test that
# fails twice fails the command. A test that passes only on its rerun hides a
# race: each is named at the end as a fault to mend, not a pass.
if ! ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300; then
    failedLog="$build/Testing/Temporary/LastTestsFailed.log"
    failedFirst=$(cat "$failedLog" 2>/dev/null || true)  # "number:name", one a line
    echo "test.sh: running the failed tests once more, one at a time"
    rerun=0
    ctest --test-dir "$build" --rerun-failed --output-on-failure --timeout 300 || rerun=$?
    failedAgain=""
    [ "$rerun" -eq 0 ] || failedAgain=$(cat "$failedLog" 2>/dev/null || true)
    passedOnRerun=$(grep -vxF -f <(printf '%s\n' "$failedAgain") <<<"$failedFirst" || true)
    if [ -n "$passedOnRerun" ]; then
        echo
        echo "test.sh: FAULT: these tests failed in the full run and passed only when run again alone."
        echo "test.sh: each hides a race (timing, order or a shared resource) and is a fault to mend, not a pass:"
        while IFS=: read -r number name; do
            echo "  FAULT: $name (test #$number)"
        done <<<"$passedOnRerun"
    fi
    [ "$rerun" -eq 0 ] || exit "$rerun"
fi
