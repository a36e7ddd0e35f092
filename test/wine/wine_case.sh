#!/usr/bin/env bash
# One case of the conformance run under Wine: wine_case.sh NAME (see CMakeLists.txt).
set -uo pipefail
source "$(dirname "$0")/wine_lib.sh"

# Exit codes of runs that need no property sheet: start-up paths and argument counts.
case_direct_exit_codes() {
    case_dir direct_exit_codes
    run_exe 60 wintest.exe
    check "no mode: no window, exit code" 0 "$RC"
    run_exe 60 wintest.exe 3 logo.bmp
    check "mode 3: exit code" 0 "$RC"
    run_exe 60 wintest.exe 1
    check "mode 1 without its words: exit code" 1 "$RC"
    run_exe 60 wintest.exe x
    check "mode x (TV test, 2 words): exit code" 1 "$RC"
    run_exe 60 wintest.exe 2 logo.bmp a b
    check "mode 2 with 5 words: exit code" 1 "$RC"
    printf '3df v1.1\nbroken\n' >bad.3df
    run_exe 60 wintest.exe 2 logo.bmp bad.3df
    check "mode 2 with a damaged texture: exit code" 255 "$RC"
    run_exe 60 wintest.exe 2 logo.bmp missing.3df
    check "mode 2 with a missing texture: exit code" 255 "$RC"
    finish
}

case "${1:-}" in
prefix) make_prefix ;;
shutdown) wineserver -k >/dev/null 2>&1 || true ;;
*)
    if declare -F "case_$1" >/dev/null; then
        "case_$1"
    else
        echo "unknown case: $1" >&2
        exit 2
    fi
    ;;
esac
