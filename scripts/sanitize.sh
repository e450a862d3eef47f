#!/usr/bin/env bash
# Builds the engine and the runner with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ and runs their unit tests there (the window's tests run in the plain build).
# With CI=true, warnings are errors (as in scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DVESKOR_SANITIZE=ON \
  -DVESKOR_BUILD_UI=OFF -DVESKOR_BUILD_BENCH=OFF -DVESKOR_WERROR="$werror"
cmake --build build-asan -j"$(nproc)"
cd build-asan
# handle_sigbus=0: the scanner's own SIGBUS guard turns a file that shrinks under its mapping
# into a message; the sanitizer must leave that signal to it.
ASAN_OPTIONS=handle_sigbus=0:detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure -j"$(nproc)"
