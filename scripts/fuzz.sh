#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time.
#   FUZZ_SECONDS   time per target (default 30)
#   VELMOOR_FUZZ_BUILD  build folder (default build-fuzz)
# Each target starts from its seed corpus in fuzz-seeds/<target> (valid inputs
# written by build/bin/fuzz-seeds; rewrite them when a format changes) and
# from what earlier runs in the same build folder found. A crash stops the
# script with the fuzzer's report and leaves the input that caused it in the
# build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is not installed; nothing to fuzz" >&2
    exit 0
fi

build=${VELMOOR_FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-30}

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DVELMOOR_SANITIZE=ON -DVELMOOR_TESTS=OFF -DVELMOOR_BENCH=OFF \
    -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
# Every fuzz target of the tree: executables named fuzz_* or *_fuzz.
mapfile -t targets < <(ninja -C "$build" -t targets all | sed -n 's/^\([A-Za-z0-9_]*\): phony$/\1/p' \
    | grep -v '^cmake_' | grep -E '^(fuzz_[A-Za-z0-9_]+|[A-Za-z0-9_]+_fuzz)$' | sort -u)
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz.sh: no fuzz targets" >&2
    exit 0
fi
cmake --build "$build" --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
for target in "${targets[@]}"; do
    corpus="$build/fuzz-corpus/$target"
    mkdir -p "$corpus"
    seeds=()
    if [ -d "fuzz-seeds/$target" ]; then
        seeds=("$PWD/fuzz-seeds/$target")
    else
        echo "fuzz.sh: $target has no seed corpus in fuzz-seeds/" >&2
    fi
    echo "fuzz.sh: $target for ${seconds}s"
    (cd "$build" && "bin/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
        -print_final_stats=1 "fuzz-corpus/$target" "${seeds[@]}")
done
