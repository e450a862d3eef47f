#!/usr/bin/env bash
# Installs what the build needs, builds the programs and the starter presets (no tests, no
# benchmarks: scripts/test.sh builds those), and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh --target veskor_programs
if [ -x build/veskor ]; then
  exec build/veskor
fi
exec build/veskor-scan --help
