#!/usr/bin/env bash
# Proves that the libraries depend downwards only: no cycle in the link graph, and the layers
# below the Win32 subset and the board (platform, desktop bus) link neither of them.
#
#   scripts/check-layers.sh [build-dir | graph.dot]
#
# Reads the graph that `cmake --graphviz` writes for a configured build folder (default:
# build/), or a graph file given directly. Exits non-zero, naming the libraries, on a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

source=${1:-build}
if [ -d "$source" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    (cd "$source" && cmake --graphviz="$work/graph.dot" . >/dev/null)
    graph="$work/graph.dot"
else
    graph="$source"
fi

# Each edge is written as a comment "// from -> to" after the node ids.
edges=$(sed -n 's|.*// \([^ ]*\) -> \([^ ]*\)$|\1 \2|p' "$graph" | sort -u)
if [ -z "$edges" ]; then
    echo "check-layers: no dependencies found in $graph" >&2
    exit 1
fi

status=0
if ! loop=$(echo "$edges" | tsort 2>&1 >/dev/null) || [ -n "$loop" ]; then
    echo "check-layers: the libraries depend on each other in a circle:" >&2
    echo "$loop" | grep -v 'input contains a loop' | sed -n 's/^tsort: /  /p' >&2
    status=1
fi

# Lower layers that must not reach up.
while read -r lower upper; do
    if echo "$edges" | grep -qx "$lower $upper"; then
        echo "check-layers: $lower links $upper, a layer above it" >&2
        status=1
    fi
done <<'RULES'
wt_platform wt_bus
wt_platform wt_win32
wt_platform wt_board
wt_bus wt_win32
wt_bus wt_board
wt_board wt_win32
RULES

[ $status -eq 0 ] && echo "check-layers: $(echo "$edges" | wc -l) links, no cycle"
exit $status
