#!/usr/bin/env bash
# Runs the three tests through an installed or unpacked propsheet, scripted and headless, from
# an empty working folder with no build tree on the path: the sheet must find wintest and the
# data on its own.
#
#   installed-run.sh <propsheet>          Linux: an installed tree, a .deb unpacked with dpkg -x
#   installed-run.sh --wine <propsheet.exe>
#                                         Windows: the unpacked .zip under Wine (WINEPREFIX
#                                         ready, with the null graphics driver)
#
# Prints each run and ends non-zero when a test did not end as expected.
set -uo pipefail

runner=(timeout -k 5 120)
wine=0
if [ "${1:-}" = --wine ]; then
    runner+=(wine)
    wine=1
    shift
    export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    unset DISPLAY WAYLAND_DISPLAY
fi
sheet=${1:?usage: installed-run.sh [--wine] <propsheet>}
[ -x "$sheet" ] || [ -f "$sheet" ] || { echo "installed-run: no $sheet" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/wintest-installed-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/cwd" "$work/prefix"
cd "$work/cwd" || exit 2

failures=0
# run TEST EXPECTED-DATA-PATTERN SCRIPT-LINES...: one test; checks the exit code, the data the
# sheet handed to the program and the board picture.
run() {
    local test=$1 data_pattern=$2
    shift 2
    printf '%s\n' "$@" >"$work/$test.txt"
    local out
    out=$(env -u WINTEST_DATA PATH=/usr/bin:/bin WINTEST_PREFIX="$work/prefix" \
        WINTEST_DISPLAY=headless WINTEST_VSYNC=0 "${runner[@]}" "$sheet" "$test" \
        "../$test.txt" 2>&1 | tr -d '\r')
    local rc=$? # the sheet's, with pipefail
    echo "$out" | sed "s/^/    /"
    local started
    started=$(echo "$out" | grep -m1 ' started ')
    if [ "$rc" -ne 0 ]; then
        echo "FAIL $test: exit code $rc"
    elif ! [[ "$started" =~ $data_pattern ]]; then
        echo "FAIL $test: the data handed over is not the installed one: $started"
    elif ! [ -s "$test.png" ]; then
        echo "FAIL $test: no board picture"
    else
        echo "ok   $test"
        return 0
    fi
    failures=$((failures + 1))
}

# The data folder beside propsheet.exe, or the installed share/wintest; in one word either way.
data='with "[0-9] [^ ]*share/wintest/kvxlogo\.bmp '
# On Windows the board's screen is a window of its own, made once the board is open; on Linux
# the board answers screenshots from the start.
board_open='# the board answers at once'
if ((wine)); then
    data='with "[0-9] [^ ]*data[\\/]kvxlogo\.bmp '
    board_open='expect window WinTestBoardScreen*'
fi
run tv "$data" "$board_open" 'keys right d' \
    'expect broadcast "KVXPS Test TV Underscan Overscan" wparam=1' \
    'screenshot board tv.png' 'key esc' 'expect exit 0'
run gamma "$data" "$board_open" 'screenshot board gamma.png' 'key esc' 'expect exit 0'
run glide "$data" "$board_open" 'screenshot board glide.png' 'key esc' 'expect exit 0'

echo "installed-run: $((3 - failures)) of 3 tests passed"
[ "$failures" -eq 0 ]
