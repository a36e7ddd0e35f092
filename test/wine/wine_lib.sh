# Helpers of the conformance run under Wine, sourced by wine_case.sh.
#
# Environment (set by CTest, see CMakeLists.txt): WINEPREFIX, WINE_WORK_DIR, WINE_BIN_DIR,
# WINE_SOURCE_DIR, WINE_ARCH_BITS.

export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers in a fresh prefix, no desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# The desktop has no display: Wine's null graphics driver (set in the prefix) draws nowhere.
unset DISPLAY WAYLAND_DISPLAY

WINE_FAILURES=0
WINE_CHECKS=0

# check WHAT EXPECTED ACTUAL: one comparison, printed either way.
check() {
    WINE_CHECKS=$((WINE_CHECKS + 1))
    if [ "$2" == "$3" ]; then
        echo "ok   $1: $3"
    else
        echo "FAIL $1: expected [$2], got [$3]"
        WINE_FAILURES=$((WINE_FAILURES + 1))
    fi
}

# check_match WHAT REGEX TEXT
check_match() {
    WINE_CHECKS=$((WINE_CHECKS + 1))
    if [[ "$3" =~ $2 ]]; then
        echo "ok   $1"
    else
        echo "FAIL $1: [$3] does not match [$2]"
        WINE_FAILURES=$((WINE_FAILURES + 1))
    fi
}

# finish: the case's result as its exit code.
finish() {
    echo "$((WINE_CHECKS - WINE_FAILURES)) passed, $WINE_FAILURES failed"
    [ "$WINE_FAILURES" -eq 0 ]
}

# case_dir NAME: a fresh working folder for one case; becomes the current directory.
case_dir() {
    local dir="$WINE_WORK_DIR/$1"
    rm -rf "$dir" && mkdir -p "$dir" && cd "$dir" || exit 1
}

# run_exe SECONDS EXE ARGS...: runs a Windows program of the build; its exit code in RC.
run_exe() {
    local seconds=$1 exe=$2
    shift 2
    timeout -k 5 "$seconds" wine "$WINE_BIN_DIR/$exe" "$@"
    RC=$?
}

# make_prefix: a fresh prefix with the null graphics driver, checked to run this build.
make_prefix() {
    wineserver -k >/dev/null 2>&1
    rm -rf "$WINEPREFIX" "$WINE_WORK_DIR"
    mkdir -p "$WINE_WORK_DIR"
    wineboot --init || { echo "wineboot failed"; return 1; }
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null ||
        { echo "cannot select the null graphics driver"; return 1; }
    # The driver is chosen when the desktop starts: let this server end before the cases.
    wineserver -w
    # A 32-bit program under a Wine without its 32-bit half exits 0 and prints nothing, so
    # check that the build really runs: mode 1 without its words ends with exit code 1.
    run_exe 60 wintest.exe 1
    if [ "$RC" -ne 1 ]; then
        echo "wintest.exe ($WINE_ARCH_BITS-bit) does not run under this Wine (exit code $RC)."
        [ "$WINE_ARCH_BITS" = 32 ] &&
            echo "32-bit programs need: dpkg --add-architecture i386 && apt-get update &&" \
                 "apt-get install wine32:i386, then a new prefix."
        return 1
    fi
    echo "prefix ready: $WINEPREFIX ($(wine --version))"
}

# win_path PATH: a host path as the programs under Wine name it (drive Z: is the root).
win_path() {
    echo "Z:$1" | tr / '\\'
}

# drive: runs wine_driver.exe on the script read from standard input; its output in OUT (and
# printed), its exit code in RC.
drive() {
    cat >driver-script.txt
    timeout -k 5 120 wine "$WINE_BIN_DIR/wine_driver.exe" driver-script.txt >driver-out.txt \
        2>driver-stderr.txt
    RC=$?
    OUT=$(tr -d '\r' <driver-out.txt) # the driver writes Windows line ends
    echo "$OUT"
}

# events KIND: the driver's events of that kind, without "event KIND PID ", one a line.
events() {
    echo "$OUT" | grep "^event $1 " | sed -E "s/^event $1 [0-9]+ //"
}

# reg_value KEY NAME [BITS]: a value of HKEY_LOCAL_MACHINE\KEY as the build's programs see it
# (a 32-bit program's view lies under Wow6432Node), or in the view of BITS, read back through
# Wine's own reg.exe; empty when there is none.
reg_value() {
    wine reg query "HKLM\\$1" /v "$2" /reg:"${3:-$WINE_ARCH_BITS}" 2>/dev/null |
        tr -d '\r' | awk -v name="$2" '$1 == name { $1 = ""; $2 = ""; sub(/^  /, ""); print }'
}

# reg_set KEY NAME TEXT: stores a text value under HKEY_LOCAL_MACHINE\KEY in the build's view.
reg_set() {
    wine reg add "HKLM\\$1" /v "$2" /d "$3" /f /reg:"$WINE_ARCH_BITS" >/dev/null 2>&1
}

# state_line FIELD: the line of the board's state file state.txt that starts with FIELD.
state_line() {
    tr -d '\r' <state.txt | grep "^$1"
}

# copy_data: the bundled data files (textures and bitmaps, the gamma test's TESTGAMA.3DF
# among them) into the current folder's data/.
copy_data() {
    mkdir -p data && cp "$WINE_SOURCE_DIR"/data/*.3[dD][fF] "$WINE_SOURCE_DIR"/data/*.bmp data/
}

WINTEST=$(win_path "$WINE_BIN_DIR/wintest.exe")
