#!/usr/bin/env bash
# Builds the program and runs the demo: the three tests in turn on the bundled data.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
exec bash scripts/demo.sh "$@"
