#!/usr/bin/env bash
# Installs what the tests need, builds Dunelo and runs every test.
#   scripts/test.sh              release build in build/, warnings as errors
#   scripts/test.sh --sanitize   the same under AddressSanitizer + UndefinedBehaviorSanitizer,
#                                in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=(-DDUNELO_WERROR=ON -DDUNELO_BUILD_TESTS=ON -DDUNELO_BUILD_BENCHMARKS=ON)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags+=(-DDUNELO_SANITIZE=ON -DDUNELO_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug)
fi

scripts/install-deps.sh --test
cmake -S . -B "$dir" -G Ninja "${flags[@]}"
cmake --build "$dir" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300
