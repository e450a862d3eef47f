#!/usr/bin/env bash
# Configures and builds into build/ at the project root: everything, or with --target NAME only
# that target and what it needs (the other arguments go to cmake's configure step). With CI=true
# in the environment (as CI runs) every compiler warning is an error; elsewhere a newer
# compiler's new warnings must not stop a user's build.
set -euo pipefail
cd "$(dirname "$0")/.."
werror=OFF
[ "${CI:-}" = true ] && werror=ON
configure=() targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = --target ]; then
    targets+=(--target "$2")
    shift 2
  else
    configure+=("$1")
    shift
  fi
done
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVESKOR_WERROR="$werror" ${configure[@]+"${configure[@]}"}
cmake --build build -j"$(nproc)" ${targets[@]+"${targets[@]}"}
