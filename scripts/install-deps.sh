#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tidewell need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
pkgs=(
  cmake g++ clang clang-format clang-tidy ninja-build pkg-config libgtest-dev libbenchmark-dev
  g++-mingw-w64-x86-64 wine wine64 fonts-wine fonts-wqy-microhei
  xvfb xdotool imagemagick x11-utils shellcheck
  unixodbc unixodbc-dev tdsodbc freetds-bin locales python3 nlohmann-json3-dev
  openssl
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
