#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, when it is missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config clang-format libgtest-dev libgmock-dev
          libbenchmark-dev libpng-dev libsdl2-dev imagemagick xvfb xdotool x11-apps
          clang libclang-rt-14-dev libfuzzer-14-dev # the fuzz targets
          libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri) # bench/gl_peer

missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
