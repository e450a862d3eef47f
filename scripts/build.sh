#!/usr/bin/env bash
# Configures and builds everything into build/ at the project root. With CI=true in the
# environment (as CI runs) every compiler warning is an error; elsewhere a newer compiler's new
# warnings must not stop a user's build.
set -euo pipefail
cd "$(dirname "$0")/.."
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVESKOR_WERROR="$werror" "$@"
cmake --build build -j"$(nproc)"
