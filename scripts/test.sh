#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then the sanitizer build
# (address and undefined behaviour). Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

echo "== format"
files=$(git ls-files '*.cpp' '*.h' | grep -v '^third_party/' || true)
if [ -n "$files" ]; then
    clang-format --dry-run --Werror $files
fi

bash scripts/check-sizes.sh

echo "== build (default)"
cmake --preset default >/dev/null
echo "== layers"
bash scripts/check-layers.sh build
cmake --build --preset default -j"$(nproc)"
echo "== test (default)"
ctest --preset default
bash scripts/fuzz.sh --seconds 30
echo "== documented examples"
bash scripts/doctest.sh

echo "== windows builds under wine"
bash scripts/wine-check.sh
bash scripts/package-check.sh # the .deb and the Windows zip, installed and run

echo "== build (asan)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$(nproc)"
echo "== test (asan)"
ctest --preset asan
