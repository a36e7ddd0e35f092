#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (preset "fuzz") and runs each for a while.
#
#   scripts/fuzz.sh [--seconds N] [target...]
#
# Targets are named as their sources without "_fuzz.cpp" (dib, tdf, ...); none given: all of
# them. Each run starts from its seed corpus fuzz/corpus/<target>/ (left unchanged: new inputs
# go to build-fuzz/corpus/<target>/) and stops after N seconds (default 30). Any finding (a
# crash, a sanitizer report, a leak, a time-out or memory past the limit) ends the script with
# a failure; its input is in build-fuzz/findings/<target>/, to be added to the seed corpus as a
# regression case once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
targets=()
while (($#)); do
    case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --seconds=*) seconds="${1#*=}"; shift ;;
    -h | --help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
    esac
done
if ((${#targets[@]} == 0)); then
    for source in fuzz/*_fuzz.cpp; do
        name=$(basename "$source" _fuzz.cpp)
        targets+=("$name")
    done
fi
for t in "${targets[@]}"; do
    if [ ! -f "fuzz/${t}_fuzz.cpp" ]; then
        echo "fuzz.sh: no target $t (fuzz/${t}_fuzz.cpp)" >&2
        exit 2
    fi
done

echo "== build (fuzz)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" --target "${targets[@]/%/_fuzz}"

failed=()
for t in "${targets[@]}"; do
    work="build-fuzz/corpus/$t"
    findings="build-fuzz/findings/$t"
    mkdir -p "$work" "$findings"
    seeds=()
    [ -d "fuzz/corpus/$t" ] && seeds=("fuzz/corpus/$t")
    echo "== fuzz $t (${seconds}s)"
    log="build-fuzz/findings/$t.log"
    # The seed corpus is read first, so every regression input runs on each call.
    if ! "build-fuzz/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work" "${seeds[@]}" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        failed+=("$t")
    else
        grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' \
            "$log" || true
    fi
done
if ((${#failed[@]})); then
    echo "fuzz.sh: findings in ${failed[*]} (inputs in build-fuzz/findings/)" >&2
    exit 1
fi
echo "fuzz.sh: no finding in ${targets[*]}"
