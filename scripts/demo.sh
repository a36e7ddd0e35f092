#!/usr/bin/env bash
# The demo: the three tests in turn on the bundled data, each driven through propsheet as the
# display property sheet would, leaving pictures of the board's screen, its TV view and the
# test window, the event log and the registry in one folder, named at the end.
#
#   bash scripts/demo.sh [<output folder>]
#
# DEMO_PAUSE (milliseconds, default 800) is how long each picture stays before the next step;
# raise it to watch the tests in real windows (WINTEST_DISPLAY=sdl).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bin=$root/build/bin
data=$root/data
pause=${DEMO_PAUSE:-800}

out=${1:-$root/demo-output/$(date +%Y%m%d-%H%M%S)}
mkdir -p "$out"
out=$(cd "$out" && pwd)
export WINTEST_PREFIX=$out/prefix # a machine of its own: registry, board lock, desktop
mkdir -p "$WINTEST_PREFIX"
log=$out/events.log
: >"$log"

for tool in wintest propsheet; do
    if [ ! -x "$bin/$tool" ]; then
        echo "demo: $bin/$tool is missing; build first (bash scripts/run.sh)" >&2
        exit 1
    fi
done

failures=0

# run_test <name> <test> <script> [propsheet options...]
run_test() {
    local name=$1 test=$2 script=$3
    shift 3
    echo "== $name" | tee -a "$log"
    printf '%s\n' "$script" >"$out/$name.script"
    "$bin/propsheet" --data "$data" "$@" "$test" "$out/$name.script" 2>&1 | tee -a "$log"
    local code=${PIPESTATUS[0]}
    echo "== $name ended with exit code $code" | tee -a "$log"
    [ "$code" -eq 0 ] || failures=$((failures + 1))
}

# Pictures that may not be available (a board without its TV view, say) are noted, not fatal.
shots() {
    local prefix=$1
    printf 'try screenshot board %s\ntry screenshot tv %s\ntry screenshot window %s\n' \
        "$out/$prefix-board.png" "$out/$prefix-tv.png" "$out/$prefix-window.png"
}

# Mode 0: shift the TV picture, brighten it, switch to overscan, turn the flicker filter off
# and sharpen less; save; end with Escape.
# (Without testtv.3df the frames show without the test image.)
run_test tv tv "
expect window WinGlideClass
wait $pause
$(shots tv-start)
key right repeat 8
key up repeat 4
keys shift+b shift+b d f s
expect broadcast \"KVXPS Test TV Underscan Overscan\" wparam=1
expect debug \"sss\\n\"
wait $pause
$(shots tv-adjusted)
key enter
expect debug \"return\\n\"
key esc
expect broadcast \"KVXPS Test TV Application Closed\" wparam=1
expect exit 0"

# Mode 1: step red and green from the keyboard, then the sheet sets all three channels; ask
# for correction off and on again (the sheet answers inside the broadcast); save; Escape.
if [ -e "$data/TESTGAMA.3DF" ]; then
    run_test gamma gamma "
expect window KVXMyWindow
wait $pause
$(shots gamma-start)
key shift+r repeat 3
keys g g
expect broadcast \"KVXPS Glide Gamma Correction Changed\" * lparam=1
wait $pause
$(shots gamma-keys)
gamma 2.6 2.2 1.2
wait $pause
$(shots gamma-sheet)
key d
expect broadcast \"KVXPS Glide Gamma Correction Enable\" wparam=0
key e
expect broadcast \"KVXPS Property Sheet Gamma Correction Enable\" wparam=1
key enter
wait $pause
key esc
expect broadcast \"KVXPS Test Gamma Application Closed\"
expect exit 0"
else
    echo "== gamma skipped: $data/TESTGAMA.3DF is not there yet" | tee -a "$log"
fi

# Mode 2: the sample texture over the whole screen; keys other than Escape change nothing.
texture=$data/sample256.3df
[ -e "$texture" ] || texture=$data/testtv.3df
if [ -e "$texture" ]; then
    run_test glide glide "
expect window WinGlideClass \"Kavix Glide Test\"
wait $pause
$(shots glide)
keys a enter
key esc
expect broadcast \"KVXPS Test Gamma Application Closed\"
expect exit 0" --texture "$texture"
else
    echo "== glide skipped: no 3DF texture in $data yet" | tee -a "$log"
fi

"$bin/propsheet" reg export >"$out/registry.reg" 2>/dev/null || true

echo
echo "Demo output in: $out"
ls "$out"/*.png 2>/dev/null | sed 's|^|  |'
echo "  $log"
echo "  $out/registry.reg"
[ "$failures" -eq 0 ]
