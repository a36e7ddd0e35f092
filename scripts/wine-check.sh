#!/usr/bin/env bash
# The Windows builds and their conformance run under Wine: installs Debian's MinGW-w64 cross
# compilers and Wine (64-bit and 32-bit) when missing, builds wintest.exe, glide2x.dll and the
# companions for 32-bit and 64-bit Windows, and runs the CTest label "wine" of each build in a
# fresh Wine prefix. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in cmake ninja-build mingw-w64 wine wine64; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
# 32-bit programs run only with the i386 half of Wine, which needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "wine-check: adding the i386 architecture"
    "${sudo_cmd[@]}" dpkg --add-architecture i386
    missing+=(wine32:i386)
elif ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    missing+=(wine32:i386)
fi
if ((${#missing[@]})); then
    echo "wine-check: installing ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc)
((jobs > 2)) && jobs=2
for preset in mingw32 mingw64; do
    echo "== build ($preset)"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
done
for preset in mingw32 mingw64; do
    echo "== wine ($preset)"
    ctest --preset "$preset"
done
