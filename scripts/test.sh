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
status=0
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300 || status=$?
if [ "$status" -ne 0 ] && [ -d "$dir/test-shots" ]; then
  # What the desktop tests saw: every step of each window manager, the last screen of each GNOME
  # wait that gave up.
  echo "Screenshots of the desktop and GNOME tests: $(pwd)/$dir/test-shots/"
  find "$dir/test-shots" -type f | sort | sed 's/^/  /'
fi
exit "$status"
