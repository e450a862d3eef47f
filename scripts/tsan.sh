#!/usr/bin/env bash
# Builds the tests that run threads, and what they test, with ThreadSanitizer into build-tsan/
# and runs them there: the worker pool, the searches of all keys, the run, the counts across keys,
# the regular expression's shared programs, the runner's ordered output and its files side by side
# share memory across threads. The other tests run one thread and are left to the plain and
# AddressSanitizer builds. With CI=true, warnings are errors (as in scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
# The test programs that start threads (their CTest label is their name), and the runner.
threaded=(search_test run_test match_counts_test results_test cli_test regexp_test
  regexp_backtracker_test regexp_pike_vm_test veskor-scan)
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" \
  -DVESKOR_TSAN=ON -DVESKOR_BUILD_UI=OFF -DVESKOR_BUILD_BENCH=OFF -DVESKOR_WERROR="$werror"
cmake --build build-tsan -j"$(nproc)" $(printf -- '--target %s ' "${threaded[@]}")
cd build-tsan
# Left to the plain and AddressSanitizer builds, which run it: RunTest.LargeFileWidthAndPositions
# reads 5 GiB, and the sanitizer keeps 4 bytes of shadow memory for every byte read: 20 GiB,
# more than the machine has.
skipped='^RunTest\.LargeFileWidthAndPositions$'
labels=$(IFS='|'; echo "^(${threaded[*]})\$")
# VESKOR_TEST_SHRINK: the heaviest tests take smaller inputs (engine/search/test_shrink.h), since every
# byte they read costs many times more here; VESKOR_TEST_THREADED_ONLY: they leave out their cases
# of one worker, which start no thread. handle_sigbus=0: the scanner's own SIGBUS guard
# turns a file that shrinks under its mapping into a message (as in scripts/sanitize.sh).
# halt_on_error: a race fails its test at once, with the report as the test's output.
VESKOR_TEST_SHRINK=16 VESKOR_TEST_THREADED_ONLY=1 \
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:handle_sigbus=0" \
  ctest --output-on-failure -j"$(nproc)" -L "$labels" -E "$skipped"
