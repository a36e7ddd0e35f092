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

# The board's screen window is hidden when grGlideShutdown returns, and a program that exits
# right after the shutdown ends.
case_screen_cycle() {
    case_dir screen_cycle
    local out
    out=$(run_exe 120 screen_cycle.exe 20 | tr -d "\r")
    check "rounds" "hidden when the shutdown returned: 20 of 20" "$out"
    run_exe 60 screen_cycle.exe 0
    check "exit right after the shutdown: exit code" 0 "$RC"
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
        "$(joined debug)"
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

# sheet [OPTION...] MODE SCRIPT...: propsheet.exe runs the test MODE (tv, gamma or glide) with
# the options given before it (--key K, --default-key K, --command-line T, --no-answer) and
# the script lines after it; its output (errors included) in OUT, its exit code in RC.
sheet() {
    local opts=()
    while [[ "${1:-}" == --* ]]; do
        case "$1" in
        --key | --default-key | --command-line | --timeout) opts+=("$1" "$2") && shift ;;
        *) opts+=("$1") ;;
        esac
        shift
    done
    local mode=$1
    shift
    printf '%s\n' "$@" >sheet-script.txt
    timeout -k 5 120 wine "$WINE_BIN_DIR/propsheet.exe" --data "$(win_path "$PWD/data")" \
        "${opts[@]}" "$mode" sheet-script.txt >sheet-out.txt 2>&1
    RC=$?
    OUT=$(tr -d '\r' <sheet-out.txt)
    echo "$OUT"
}

# heard PREFIX: the events of the sheet's last run (program's and sheet's) that start with
# PREFIX, without the process tag and without a window event's facts, one a line.
heard() {
    echo "$OUT" | sed -nE 's/^(wintest|propsheet)\[[0-9]+\] //p' |
        sed -E 's/^(window .*") rect=-?[0-9].*/\1/' |
        PREFIX="$1" awk 'index($0, ENVIRON["PREFIX"]) == 1'
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
    sheet glide 'wait-frames 2' 'screenshot board board.png' 'frames' 'close' 'expect exit 0'
    check "propsheet exit code" 0 "$RC"
    check "board picture" 1 "$([ -s board.png ] && echo 1)"
    finish
}

# all PREFIX: the events of the last sheet run that start with PREFIX, on one line, separated
# by "|".
all() {
    heard "$1" | paste -sd'|' -
}

CHANGED='broadcast "KVXPS Glide Gamma Correction Changed"'
GLIDE_ENABLE='broadcast "KVXPS Glide Gamma Correction Enable"'
SHEET_ENABLE='broadcast "KVXPS Property Sheet Gamma Correction Enable"'
GAMMA_CLOSED='broadcast "KVXPS Test Gamma Application Closed"'

# check_saved_gamma KEY R G B COLOUR ENABLE: the five texts that Enter saves in mode 1.
check_saved_gamma() {
    check "saved SST_RGAMMA" "$2" "$(reg_value "$1" SST_RGAMMA)"
    check "saved SST_GGAMMA" "$3" "$(reg_value "$1" SST_GGAMMA)"
    check "saved SST_BGAMMA" "$4" "$(reg_value "$1" SST_BGAMMA)"
    check "saved =CurrGammaColor" "$5" "$(reg_value "$1" =CurrGammaColor)"
    check "saved =CurrGammaEnable" "$6" "$(reg_value "$1" =CurrGammaEnable)"
}

# Mode 1, correction on: every step goes to the board (the stepped channel alone, the others
# 0.0; A all three) and is broadcast with the tenths packed in wParam and the channel in
# lParam; Shift steps up; Enter saves the five texts; Esc broadcasts the closing message.
case_gamma_keys() {
    case_dir gamma_keys
    copy_data
    local key='SOFTWARE\Kavix\WineGammaKeys'
    sheet --key "$key" gamma \
        'expect window KVXMyWindow "Kavix Gamma Correction Adjustment"' \
        'key shift+r' "expect $CHANGED wparam=18 lparam=0" \
        'keys g g' "expect $CHANGED wparam=3858 lparam=1" \
        'key shift+b' "expect $CHANGED wparam=1183506 lparam=2" \
        'key shift+a' "expect $CHANGED wparam=1249299 lparam=3" \
        'key enter' 'wait-frames 3' 'key esc' "expect $GAMMA_CLOSED wparam=0 lparam=0" 'expect exit 0'
    check "propsheet exit code" 0 "$RC"
    # The order in which the windows are found varies.
    local title='"Kavix Gamma Correction Adjustment"' screen='"Board screen"'
    check "windows" "window KVXMyWindow $title|window WinGlideClass $title|$(
        )window WinTestBoardScreen $screen" \
        "$(heard window | sort | paste -sd'|' -)"
    check "board gamma calls" "gamma 1.80 0.00 0.00|gamma 0.00 1.60 0.00|gamma 0.00 1.50 0.00|$(
        )gamma 0.00 0.00 1.80|gamma 1.90 1.60 1.90" "$(all gamma)"
    check "broadcasts" "$CHANGED wparam=18 lparam=0|$CHANGED wparam=4114 lparam=1|$(
        )$CHANGED wparam=3858 lparam=1|$CHANGED wparam=1183506 lparam=2|$(
        )$CHANGED wparam=1249299 lparam=3|$GAMMA_CLOSED wparam=0 lparam=0" "$(all broadcast)"
    check_saved_gamma "$key" 1.9 1.6 1.9 RGB 1
    if [ "$WINE_ARCH_BITS" = 32 ]; then
        # The 32-bit program's HKEY_LOCAL_MACHINE\SOFTWARE is the 64-bit Wow6432Node.
        check "32-bit view under Wow6432Node" 1.9 \
            "$(reg_value 'SOFTWARE\Wow6432Node\Kavix\WineGammaKeys' SST_RGAMMA 64)"
        check "nothing in the 64-bit view" "" "$(reg_value "$key" SST_RGAMMA 64)"
    fi
    finish
}

# The enable handshake answered by the sheet inside the program's broadcast: correction goes
# on, steps and the sheet's changes reach the board; 1 sets the default curve; D switches
# correction off (default curve, enable broadcast with wParam 0), after which steps are
# ignored and the sheet's values are kept but not shown; Enter saves them.
case_gamma_enable() {
    case_dir gamma_enable
    copy_data
    local key='SOFTWARE\Kavix\WineGammaEnable'
    reg_set "$key" =CurrGammaEnable 0
    sheet --key "$key" gamma \
        'expect window KVXMyWindow' \
        'key r' "expect-no $CHANGED 500ms" \
        'key e' "expect $SHEET_ENABLE wparam=1" \
        'key r' "expect $CHANGED wparam=16 lparam=0" \
        'gamma 1.9 1.8 1.7' 'expect gamma 1.90 1.80 1.70' \
        'key 1' 'expect broadcast "KVXPS Glide Gamma Correction Default" wparam=0 lparam=0' \
        'key d' "expect $GLIDE_ENABLE wparam=0 lparam=0" \
        'key r' 'gamma 2.0 2.1 2.2' 'expect-no gamma 700ms' \
        'key enter' 'wait-frames 3' 'key esc' 'expect exit 0'
    check "propsheet exit code" 0 "$RC"
    check "board gamma calls" \
        'gamma 1.60 0.00 0.00|gamma 1.90 1.80 1.70|gamma 1.70 1.70 1.70|gamma 1.70 1.70 1.70' \
        "$(all gamma)"
    check "one step broadcast (the steps while off are ignored)" 1 "$(heard "$CHANGED" | wc -l)"
    # The broadcast reaches the sheet's window before the one that records it, so the answer,
    # sent from inside the request, is recorded first.
    check "the sheet answered inside the request" \
        "$SHEET_ENABLE wparam=1 lparam=0|$GLIDE_ENABLE wparam=1 lparam=0" \
        "$(heard broadcast | grep -F 'Correction Enable' | head -2 | paste -sd'|' -)"
    # A broadcast names no sender on Windows: the sheet's messages are its own events.
    check "the sheet's messages are the sheet's" "3 0" "$(
        echo "$OUT" | grep -c '^propsheet\[[0-9]*\] broadcast "KVXPS Property Sheet') $(
        echo "$OUT" | grep -c '^wintest\[[0-9]*\] broadcast "KVXPS Property Sheet')"
    check_saved_gamma "$key" 2.0 2.1 2.2 RGB 0
    finish
}

# The enable request unanswered (propsheet "answer off"): correction stays off, steps and the
# sheet's changes do not reach the board, Enter saves correction off; once the sheet answers,
# a step starts from the sheet's value and packs the tenths the keys last computed (0 for
# channels never stepped).
case_gamma_unanswered() {
    case_dir gamma_unanswered
    copy_data
    local key='SOFTWARE\Kavix\WineGammaUnanswered'
    reg_set "$key" =CurrGammaEnable 0
    sheet --key "$key" gamma \
        'expect window KVXMyWindow' 'answer off' \
        'key e' "expect $GLIDE_ENABLE wparam=1" "expect-no $SHEET_ENABLE" \
        'keys r g b a' "expect-no $CHANGED 700ms" \
        'gamma 1.9 1.8 1.7' 'expect-no gamma 500ms' \
        'key enter' 'wait-frames 3' \
        'answer on' 'key e' "expect $SHEET_ENABLE wparam=1" \
        'key r' 'expect gamma 1.80 0.00 0.00' "expect $CHANGED wparam=18 lparam=0" \
        'key esc' 'expect exit 0'
    check "propsheet exit code" 0 "$RC"
    check "board gamma calls" 'gamma 1.80 0.00 0.00' "$(all gamma)"
    check_saved_gamma "$key" 1.9 1.8 1.7 Red 0
    finish
}

# The sheet's gamma change shows on the board's screen (its window draws the front buffer
# through the gamma tables).
case_gamma_screen() {
    case_dir gamma_screen
    copy_data
    sheet --key 'SOFTWARE\Kavix\WineGammaScreen' gamma \
        'expect window KVXMyWindow' 'wait-frames 2' 'screenshot board before.png' \
        'gamma 3.0 3.0 3.0' 'expect gamma 3.00 3.00 3.00' 'wait-frames 2' \
        'screenshot board after.png' 'key esc' 'expect exit 0'
    check "propsheet exit code" 0 "$RC"
    check "pictures written" 1 "$([ -s before.png ] && [ -s after.png ] && echo 1)"
    check "the new curve shows" 1 "$(cmp -s before.png after.png || echo 1)"
    finish
}

# The ways out of mode 1 other than Esc after Enter: Esc alone saves nothing; the sheet closing
# ends the program with 0 without a broadcast; the test window closed broadcasts the gamma
# closing message and exits 0; a command line of other than four words ends it with 1.
case_gamma_endings() {
    case_dir gamma_endings
    copy_data
    local key='SOFTWARE\Kavix\WineGammaEndings'
    sheet --key "$key" gamma 'expect window KVXMyWindow' \
        'key shift+r' "expect $CHANGED wparam=18" 'key esc' 'expect exit 0'
    check "Esc: exit code" 0 "$RC"
    check "Esc: broadcasts" "$CHANGED wparam=18 lparam=0|$GAMMA_CLOSED wparam=0 lparam=0" \
        "$(all broadcast)"
    sheet --key "$key" gamma 'expect window KVXMyWindow' \
        'key shift+r' "expect $CHANGED wparam=18" 'close' 'expect exit 0'
    check "sheet closed: exit code" 0 "$RC"
    check "sheet closed: no closing broadcast" "" "$(heard "$GAMMA_CLOSED")"
    sheet --key "$key" gamma 'expect window KVXMyWindow' \
        'key shift+r' "expect $CHANGED wparam=18" 'window-close' \
        "expect $GAMMA_CLOSED wparam=0 lparam=0" 'expect exit 0'
    check "window closed: exit code" 0 "$RC"
    check "nothing saved (the sheet's factory values)" "1.7 1.7 RGB" \
        "$(reg_value "$key" SST_RGAMMA) $(reg_value "$key" SST_GGAMMA) $(
            reg_value "$key" =CurrGammaColor)"
    sheet --command-line '1 x.bmp data' gamma 'expect exit 1'
    check "three words: exit code" 1 "$RC"
    sheet --command-line "1 x.bmp data $key extra" gamma 'expect exit 1'
    check "five words: exit code" 1 "$RC"
    check "five words: no broadcast, no gamma window" "" \
        "$(heard broadcast)$(heard 'window KVXMyWindow')"
    finish
}

# png_width FILE: the width written in a PNG file's header.
png_width() {
    od -An -tu1 -j16 -N4 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'
}

TV_CLOSED='broadcast "KVXPS Test TV Application Closed"'
TV_SCAN='broadcast "KVXPS Test TV Underscan Overscan"'

# Mode 0 through the sheet as the Linux end-to-end run has it: keys, the trace texts, the scan
# broadcasts, Enter saving all ten texts in the current key (the default key is only read);
# then the limits: steps at a bound change nothing (the beep leaves no trace on Windows) and
# Esc saves nothing.
case_tv_sheet() {
    case_dir tv_sheet
    copy_data
    local key='SOFTWARE\Kavix\WineTvSheet' defaults='SOFTWARE\Kavix\WineTvSheetDefault'
    sheet --key "$key" --default-key "$defaults" tv \
        'expect window WinGlideClass "Kavix TV Adjustment"' \
        'keys right right right up shift+b t d' "expect $TV_SCAN wparam=1 lparam=0" \
        'keys d f s' "expect $TV_SCAN wparam=0 lparam=0" 'expect debug "sss\n"' \
        'key enter' 'expect debug "return\n"' \
        'key esc' "expect $TV_CLOSED wparam=1 lparam=0" 'expect exit 0'
    check "propsheet exit code" 0 "$RC"
    check "right traced three times" 3 "$(heard 'debug "right\n"' | wc -l)"
    check "saved texts" "3 1 69 6 0 0 1 0 1 0" "$(for v in XSHIFT YSHIFT BRIGHTNESS TUNING SCAN \
        FFILTER SHARPNESS OUTPUT ENABLE FORMAT; do reg_value "$key" "SST_TV_${v}_KVX"; done |
        paste -sd' ' -)"
    check "the default key is only read" 66 "$(reg_value "$defaults" SST_TV_BRIGHTNESS_KVX)"

    local limits='SOFTWARE\Kavix\WineTvLimits'
    reg_set "$limits" SST_TV_XSHIFT_KVX 128
    reg_set "$limits" SST_TV_TUNING_KVX 0
    sheet --key "$limits" --default-key "$defaults" tv \
        'key right' 'expect debug "right\n"' 'key t' 'expect debug "ttt\n"' \
        'key esc' 'expect exit 0'
    check "limits: exit code" 0 "$RC"
    check "limits: XSHIFT kept" 128 "$(reg_value "$limits" SST_TV_XSHIFT_KVX)"
    check "limits: TUNING kept" 0 "$(reg_value "$limits" SST_TV_TUNING_KVX)"
    check "Esc saves nothing" "" "$(reg_value "$limits" SST_TV_SCAN_KVX)"
    finish
}

# Keys sent as soon as a program's window is made, before it is shown, go in as real input
# once it is: GetKeyState sees Shift held for the key after it.
case_late_window() {
    case_dir late_window
    drive <<EOF
start $(win_path "$WINE_BIN_DIR/late_window.exe")
window
key 0x10 down
key 0x42 press
key 0x10 up
exit 20000
EOF
    check "B after Shift: exit code" "exit 0" "$(echo "$OUT" | grep '^exit ')"
    finish
}

# The other ways out of mode 0: the window closed (broadcast with wParam 0), the sheet closed
# (no broadcast), neither saving; a command line of four words ends with 1.
case_tv_endings() {
    case_dir tv_endings
    copy_data
    local key='SOFTWARE\Kavix\WineTvEndings' defaults='SOFTWARE\Kavix\WineTvEndingsDefault'
    sheet --key "$key" --default-key "$defaults" tv \
        'keys left left' 'expect debug "left\n"' 'window-close' \
        "expect $TV_CLOSED wparam=0 lparam=0" 'expect exit 0'
    check "window closed: exit code" 0 "$RC"
    sheet --key "$key" --default-key "$defaults" tv \
        'keys right d' "expect $TV_SCAN wparam=1" 'close' 'expect exit 0'
    check "sheet closed: exit code" 0 "$RC"
    check "sheet closed: no closing broadcast" "" "$(heard "$TV_CLOSED")"
    check "nothing saved" "" "$(reg_value "$key" SST_TV_XSHIFT_KVX)"
    sheet --command-line '0 x.bmp data only-one-key' tv 'expect exit 1'
    check "four words: exit code" 1 "$RC"
    check "four words: no broadcast" "" "$(heard broadcast)"
    finish
}

# The TV record reaches the board with each key; Space sends it with the output off, then on;
# the board's TV view is 640 pixels wide; Esc sends no record.
case_tv_board() {
    case_dir tv_board
    copy_data
    local key='SOFTWARE\Kavix\WineTvBoard'
    reg_set "$key" SST_TV_ENABLE_KVX 0
    sheet --key "$key" --default-key 'SOFTWARE\Kavix\WineTvBoardDefault' tv \
        'key right' \
        'expect tv enable=0 output=0 scan=0 format=0 xshift=1 yshift=0 brightness=66 tuning=7' \
        'key space' 'expect tv enable=0 * xshift=1 *' 'expect tv enable=1 * xshift=1 *' \
        'screenshot tv tv.png' 'frames' 'key esc' 'expect exit 0'
    check "propsheet exit code" 0 "$RC"
    check "TV records" 3 "$(heard 'tv ' | wc -l)"
    check "TV view width" 640 "$(png_width tv.png)"
    check_match "frame count" '^frames [0-9]+' "$(echo "$OUT" | grep '^frames ')"
    finish
}

# propsheet itself: a failed expectation stops the program, names the script line and ends
# with 3.
case_propsheet_failure() {
    case_dir propsheet_failure
    copy_data
    sheet --key 'SOFTWARE\Kavix\WineFailure' tv '# nothing comes' 'expect broadcast "never" 300ms'
    check "propsheet exit code" 3 "$RC"
    check_match "the reason and the line" \
        'sheet-script.txt:2: expected "broadcast "never"" within 300 ms' \
        "$OUT"
    finish
}

# Mode 2 through the sheet: keys other than Esc do nothing; Esc and the window closed
# broadcast the gamma closing message; the sheet closing ends it without one.
case_glide_sheet() {
    case_dir glide_sheet
    copy_data
    sheet glide 'expect window WinGlideClass "Kavix Glide Test"' 'keys a enter shift' 'key esc' \
        "expect $GAMMA_CLOSED wparam=0" 'expect exit 0'
    check "Esc: exit code" 0 "$RC"
    check "Esc: one broadcast" "$GAMMA_CLOSED wparam=0 lparam=0" "$(all broadcast)"
    sheet glide 'expect window WinGlideClass' 'window-close' "expect $GAMMA_CLOSED wparam=0" \
        'expect exit 0'
    check "window closed: exit code" 0 "$RC"
    sheet glide 'expect window WinGlideClass' 'close' 'expect exit 0'
    check "sheet closed: exit code" 0 "$RC"
    check "sheet closed: no closing broadcast" "" "$(heard "$GAMMA_CLOSED")"
    finish
}

# propsheet as an instrument under Wine: a message with every bit of both parameters, frame
# waits, window facts, a second program whose events carry its own pid, one JSON object a
# line, and a script that ends while the test still runs.
case_propsheet_instrument() {
    case_dir propsheet_instrument
    copy_data
    local key='SOFTWARE\Kavix\WineInstrument' sent='broadcast "KVXPS Property Sheet Gamma Correction Changed"'
    sheet --key "$key" gamma 'frames' 'wait-frames 10' 'windows' 'expect window KVXMyWindow' \
        "send \"KVXPS Property Sheet Gamma Correction Changed\" 0xFF131211 0xFFFFFFFF" \
        'expect gamma 1.70 1.80 1.90' 'start glide' 'expect @2 messagebox "Error" *' \
        'expect @2 exit 1' 'key esc' 'expect @1 exit 0'
    check "propsheet exit code" 0 "$RC"
    check "sent with all 32 bits" "$sent wparam=4279439889 lparam=-1" "$(heard "$sent")"
    check_match "window facts" \
        'window-facts [0-9]+ WinGlideClass "Kavix Gamma Correction Adjustment" rect=[-0-9,]+ client=[0-9]+x[0-9]+ visible=1 style=0x' \
        "$OUT"
    local second
    second=$(echo "$OUT" | sed -nE 's/^propsheet\[[0-9]+\] started wintest\[([0-9]+)\].*/\1/p' | sed -n 2p)
    check "the second program's box carries its pid" 1 \
        "$(echo "$OUT" | grep -cF "wintest[$second] messagebox \"Error\"")"
    check "the second program's exit carries its pid" 1 \
        "$(echo "$OUT" | grep -cF "wintest[$second] exit 1")"
    sheet --json --key "$key" glide 'frames' 'echo x' 'sheet' 'key esc' 'expect exit 0'
    check "json: exit code" 0 "$RC"
    check "json: the started line, frames, echo and sheet are objects" 4 \
        "$(echo "$OUT" | grep -cE '^\{.*"kind":"(started|frames|echo|sheet)".*"time_us":[0-9]+\}$')"
    check "json: no plain event line" "" "$(echo "$OUT" | grep -E '^(wintest|propsheet)\[')"
    sheet --timeout 1000 --key "$key" tv 'expect window WinGlideClass'
    check "script ended first: exit code" 4 "$RC"
    check "script ended first: the sheet closed" 'broadcast "KVXPS Property Sheet Closed" wparam=0 lparam=0' \
        "$(heard 'broadcast "KVXPS Property Sheet Closed"')"
    check_match "script ended first: said so" "ended while the test still ran" "$OUT"
    sheet --fresh glide 'key esc'
    check "--fresh refused on Windows" 2 "$RC"
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
