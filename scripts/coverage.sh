#!/usr/bin/env bash
# Builds the engine and the runner with gcc's --coverage into build-cov/, runs their tests there
# (the runner's shell test included) and prints the line coverage of engine/, program_files/ and
# cli/ per folder.
# A developer's tool, not part of CI. The per-file report with the lines never run is left in
# build-cov/coverage.txt, the annotated sources in build-cov/coverage/index.html.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v gcovr >/dev/null || { echo "gcovr is missing: run scripts/setup.sh" >&2; exit 1; }
# gcov reads only gcc's notes, so the compiler is gcc whatever the environment prefers. The notes
# name their sources by absolute paths, which gcovr needs: ccache must not make them relative.
# -O1 rather than -O0: the tests over large files would take many minutes. The counters are
# updated atomically: the tests run threads, and racing counts come out negative.
unset CCACHE_BASEDIR
flags="--coverage -fprofile-abs-path -fprofile-update=atomic"
cmake -S . -B build-cov -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DVESKOR_BUILD_UI=OFF -DVESKOR_BUILD_BENCH=OFF
cmake --build build-cov -j"$(nproc)"
# Counts from an earlier run, and from the build tools run while building, are not the tests'.
find build-cov -name '*.gcda' -delete
# A failing test still leaves its counts: report them, then fail with ctest.
status=0
(cd build-cov && ctest --output-on-failure -j"$(nproc)") || status=$?
# What counts: the engine's, the program files' and the runner's own code; not their tests, nor
# the slow scanner and matcher that only the tests use, nor the build-time generator of the text
# model.
filters=(-f 'engine/' -f 'program_files/' -f 'cli/' -e '.*_test\.cpp$'
  -e 'engine/score/text_model/' -e 'engine/search/reference_scanner\.'
  -e 'engine/regexp/reference_matcher\.')
gcovr -r . --object-directory build-cov "${filters[@]}" -j"$(nproc)" \
  --json build-cov/coverage.json >/dev/null
gcovr -r . -a build-cov/coverage.json --txt build-cov/coverage.txt \
  --json-summary build-cov/coverage-summary.json
mkdir -p build-cov/coverage
gcovr -r . -a build-cov/coverage.json --html-details build-cov/coverage/index.html
python3 - build-cov/coverage-summary.json <<'EOF'
import collections, json, os, sys
files = json.load(open(sys.argv[1]))["files"]
folders = collections.defaultdict(lambda: [0, 0])
for f in files:
    folder = os.path.dirname(f["filename"]) + "/"
    folders[folder][0] += f["line_covered"]
    folders[folder][1] += f["line_total"]
print(f"{'folder':<16}{'lines':>8}{'run':>8}{'cover':>8}")
total = [0, 0]
for folder in sorted(folders):
    run, lines = folders[folder]
    total[0] += run
    total[1] += lines
    print(f"{folder:<16}{lines:>8}{run:>8}{100 * run / lines:>7.1f}%")
engine = [sum(v[i] for k, v in folders.items() if k.startswith("engine/")) for i in (0, 1)]
print(f"{'engine/ in all':<16}{engine[1]:>8}{engine[0]:>8}{100 * engine[0] / engine[1]:>7.1f}%")
print(f"{'all':<16}{total[1]:>8}{total[0]:>8}{100 * total[0] / total[1]:>7.1f}%")
EOF
echo "Per file, with the lines never run: build-cov/coverage.txt"
exit "$status"
