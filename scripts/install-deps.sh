#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, only what is missing.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev qt6-translations-l10n qt6-l10n-tools qt6-tools-dev libgl-dev clang libclang-rt-14-dev libspng-dev zlib1g-dev
          fonts-ipafont-gothic xvfb xauth libqt6opengl6-dev libgl1-mesa-dri libegl1 libglx-mesa0
          nlohmann-json3-dev nettle-dev libtiff-dev libfmt-dev libfast-float-dev
          libassimp-dev admesh)  # the last two only for the export tests
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
