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

# joined KIND: the events of a kind on one line, separated by spaces.
joined() {
    events "$1" | tr '\n' ' ' | sed 's/ $//'
}

# Mode 0: keys change the TV record, D broadcasts the scan, Shift is read with GetKeyState
# (so the keys must arrive as real input), Enter saves the settings as texts, Esc ends with the
# closing broadcast and exit code 0; one trace text per key.
case_tv_test() {
    case_dir tv_test
    copy_data
    local key='SOFTWARE\Kavix\WineTv' defaults='SOFTWARE\Kavix\WineTvDefault'
    drive <<EOF
start $WINTEST 0 nologo.bmp data $key $defaults
window
pump 300
key 0x25 press
key 0x26 press
key 0x44 press
pump 200
key 0x10 down
pump 100
key 0x54 press
pump 100
key 0x54 press
pump 100
key 0x10 up
pump 100
key 0x54 press
pump 200
board state state.txt
key 0x0D press
pump 300
key 0x1B press
exit 20000
EOF
    check "driver" 0 "$RC"
    check "exit code" "exit 0" "$(echo "$OUT" | grep '^exit ')"
    check "windows" "WinGlideClass|Kavix TV Adjustment WinTestBoardScreen|Board screen" \
        "$(joined window)"
    check "trace texts" 'left\n up\n ddd\n ttt\n ttt\n ttt\n return\n esc\n' \
        "$(joined debugstring)"
    check "broadcasts" \
        "KVXPS Test TV Underscan Overscan|1|0 KVXPS Test TV Application Closed|1|0" \
        "$(joined broadcast)"
    check "board TV record before Enter" "tv 0 0 1 0 -1 1 0 1 0 0" "$(state_line tv)"
    check "saved XSHIFT" "-1" "$(reg_value "$key" SST_TV_XSHIFT_KVX)"
    check "saved YSHIFT" "1" "$(reg_value "$key" SST_TV_YSHIFT_KVX)"
    check "saved SCAN" "1" "$(reg_value "$key" SST_TV_SCAN_KVX)"
    check "saved TUNING (Shift seen by GetKeyState)" "1" "$(reg_value "$key" SST_TV_TUNING_KVX)"
    finish
}

# Mode 2: the texture fills the board's screen (its window shows the front buffer through the
# gamma tables) until Esc, which broadcasts the gamma test's closing message and exits 0.
case_glide_test() {
    case_dir glide_test
    copy_data
    drive <<EOF
start $WINTEST 2 nologo.bmp data\\sample256.3df
window
pump 500
board state state.txt
board screen screen.png
key 0x1B press
exit 20000
EOF
    check "driver" 0 "$RC"
    check "exit code" "exit 0" "$(echo "$OUT" | grep '^exit ')"
    check "broadcasts" "KVXPS Test Gamma Application Closed|0|0" "$(joined broadcast)"
    check "board open while running" "open 1" "$(state_line open)"
    check_match "frames shown" '^frames [1-9][0-9]*$' "$(state_line frames)"
    check "screen picture written" 1 "$([ -s screen.png ] && echo 1)"
    finish
}

# The board held by one program: a second one shows the busy box (caption "Error", as
# MessageBoxA gives a box without a caption) and ends with exit code 1; the first one goes on.
case_board_busy() {
    case_dir board_busy
    copy_data
    drive <<EOF
start $WINTEST 2 nologo.bmp data\\sample256.3df
window
pump 300
start $WINTEST 2 nologo.bmp data\\sample256.3df
window
pump 1000
answer
exit 20000
use 1
pump 200
board state state.txt
key 0x1B press
exit 20000
EOF
    check "driver" 0 "$RC"
    check "exit codes (second, then first)" "exit 1 exit 0" \
        "$(echo "$OUT" | grep '^exit ' | tr '\n' ' ' | sed 's/ $//')"
    check_match "busy box" '^Error\|.+' "$(events messagebox)"
    check "one box" 1 "$(events messagebox | wc -l)"
    check "first program still has the board" "open 1" "$(state_line open)"
    finish
}

# The board refusing resizes while it is open: the resize failure box, then the closing
# broadcast and exit code 0.
case_resize_refused() {
    case_dir resize_refused
    copy_data
    drive <<EOF
env WINTEST_REFUSE_RESIZE=open
start $WINTEST 2 nologo.bmp data\\sample256.3df
window
pump 300
resize 300 200
pump 1000
answer
exit 20000
EOF
    check "driver" 0 "$RC"
    check "exit code" "exit 0" "$(echo "$OUT" | grep '^exit ')"
    check "box" 'Allocation Failure|Resize failed due to lack of sufficient buffer memory.\n' \
        "$(events messagebox)"
    check "broadcasts" "KVXPS Test Gamma Application Closed|0|0" "$(joined broadcast)"
    finish
}

# The property sheet going away ends a running test at once with exit code 0, without a
# closing broadcast; closing the test window broadcasts the mode's closing message (TV: wParam
# 0) and exits 0.
case_sheet_and_close() {
    case_dir sheet_and_close
    copy_data
    drive <<EOF
start $WINTEST 2 nologo.bmp data\\sample256.3df
window
pump 300
send KVXPS Property Sheet Closed 0 0
exit 20000
start $WINTEST 0 nologo.bmp data SOFTWARE\\Kavix\\WineClose SOFTWARE\\Kavix\\WineCloseDefault
window
pump 300
close
exit 20000
EOF
    check "driver" 0 "$RC"
    check "exit codes" "exit 0 exit 0" "$(echo "$OUT" | grep '^exit ' | tr '\n' ' ' | sed 's/ $//')"
    check "broadcasts" "KVXPS Property Sheet Closed|0|0 KVXPS Test TV Application Closed|0|0" \
        "$(joined broadcast)"
    finish
}

# The command-line tail reaches WinMain byte for byte after the program name and the blanks
# that follow it (the C runtime skips those): runs of spaces separate words, a tab does not.
case_command_line() {
    case_dir command_line
    copy_data
    drive <<EOF
start $WINTEST 2   nologo.bmp    data\\sample256.3df   
window
pump 300
key 0x1B press
exit 20000
start $WINTEST 2	nologo.bmp data\\sample256.3df
exit 20000
start $WINTEST    1
exit 20000
EOF
    check "driver" 0 "$RC"
    check "exit codes" "exit 0 exit 1 exit 1" \
        "$(echo "$OUT" | grep '^exit ' | tr '\n' ' ' | sed 's/ $//')"
    finish
}

# The test window fitted to the logo (256 x 128): the size that AdjustWindowRect gives on
# Wine's own metrics, plus one; the title kept.
case_window_fit() {
    case_dir window_fit
    copy_data
    drive <<EOF
start $WINTEST 2 data\\kvxlogo.bmp data\\sample256.3df
window
pump 300
fit 256 128
picture window.png
key 0x1B press
exit 20000
EOF
    check "driver" 0 "$RC"
    local fit
    fit=$(echo "$OUT" | grep '^fit ')
    check_match "fitted size" '^fit expected=([0-9]+x[0-9]+) actual=\1$' "$fit"
    check "exit code" "exit 0" "$(echo "$OUT" | grep '^exit ')"
    finish
}

# sheet MODE SCRIPT...: propsheet.exe runs the mode with the script lines given; its output in
# OUT, its exit code in RC.
sheet() {
    local mode=$1
    shift
    printf '%s\n' "$@" >sheet-script.txt
    timeout -k 5 120 wine "$WINE_BIN_DIR/propsheet.exe" --data "$(win_path "$PWD/data")" \
        "$mode" sheet-script.txt >sheet-out.txt 2>&1
    RC=$?
    OUT=$(tr -d '\r' <sheet-out.txt)
    echo "$OUT"
}

# The property sheet stand-in drives the TV test under Wine as on Linux: its factory values
# go in, the keys, the scan broadcast, the TV record of each key, Enter saves, Esc ends.
case_propsheet_tv() {
    case_dir propsheet_tv
    copy_data
    sheet tv 'keys right right d' \
        'expect broadcast "KVXPS Test TV Underscan Overscan" wparam=1' \
        'expect tv enable=1 output=0 scan=1 format=0 xshift=2' \
        'key enter' 'key esc' \
        'expect broadcast "KVXPS Test TV Application Closed" wparam=1 lparam=0' 'expect exit 0'
    check "propsheet exit code" 0 "$RC"
    check "saved XSHIFT" 2 "$(reg_value 'SOFTWARE\Kavix\Board' SST_TV_XSHIFT_KVX)"
    check "saved SCAN" 1 "$(reg_value 'SOFTWARE\Kavix\Board' SST_TV_SCAN_KVX)"
    check "factory BRIGHTNESS kept" 66 "$(reg_value 'SOFTWARE\Kavix\Board' SST_TV_BRIGHTNESS_KVX)"
    finish
}

# The Glide test through the property sheet: board picture, close from the sheet.
case_propsheet_glide() {
    case_dir propsheet_glide
    copy_data
    sheet glide 'wait 300' 'screenshot board board.png' 'frames' 'close' 'expect exit 0'
    check "propsheet exit code" 0 "$RC"
    check "board picture" 1 "$([ -s board.png ] && echo 1)"
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
