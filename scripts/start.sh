#!/usr/bin/env bash
# Installs what the build needs, builds, and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
if [ -x build/veskor ]; then
  exec build/veskor
fi
exec build/veskor-scan --help
