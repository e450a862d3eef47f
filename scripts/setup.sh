#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the window need.
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  libgtest-dev googletest
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  xvfb xauth x11-utils imagemagick fonts-dejavu-core fonts-dejavu-extra
  clang clang-format libclang-rt-14-dev binutils
  gcovr
  libssl-dev nlohmann-json3-dev jq yara parallel
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
