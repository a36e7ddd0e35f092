#!/usr/bin/env bash
# Runs the shell examples of README.md, tools/propsheet/README.md and docs/*.md on the built
# tree (build/), each in a fresh prefix, and fails when one fails or runs past its bound.
#
# An example is a code block (indented by four spaces, or fenced) whose first command starts
# like a shell command (build/..., scripts/..., bash, cmake, ctest, xvfb-run, wine, ...).
# Each one carries a marker, an HTML comment on a line of its own before the block:
#
#   <!-- doctest -->                    runs headless; must end with 0 within 120 s
#   <!-- doctest: xvfb -->              the same under an Xvfb of its own (1280 x 1024)
#   <!-- doctest: xvfb escape -->       each command on its own under Xvfb: once the board's
#                                       monitor shows, Escape is typed into it, and the
#                                       command must then end with 0
#   <!-- doctest: exit=N bound=S -->    another exit code, another bound in seconds
#   <!-- doctest: skip: <why> -->       not run here, for the reason given
#
# An example without a marker fails the run, so that none goes unchecked. Examples run from
# the top of the tree with bash -e, standard input empty, WINTEST_PREFIX and HOME fresh folders
# and WINTEST_DISPLAY=headless (unless under Xvfb, where the default display applies); files
# an example leaves in the tree are removed after it.
#
# Usage: scripts/doctest.sh [--list] [file.md ...]
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

list_only=0
if [ "${1:-}" = "--list" ]; then
    list_only=1
    shift
fi
if [ $# -gt 0 ]; then
    docs=("$@")
else
    docs=(README.md tools/propsheet/README.md docs/*.md)
fi

work=$(mktemp -d /tmp/wintest-doctest-XXXXXX)
trap 'rm -rf "$work"' EXIT

# ---- extraction: one file per code block, and an index line "n<TAB>where<TAB>marker" --------
for doc in "${docs[@]}"; do
    awk -v doc="$doc" -v dir="$work" -v tag="${doc//[^A-Za-z0-9]/_}" '
        function start(kind) {
            id = sprintf("%s/%s.%04d", dir, tag, NR)
            out = id ".sh"
            printf "" > out
            printf "%s\t%s:%d\t%s\n", id, doc, NR, (marked ? marker : "UNMARKED") >> (dir "/index")
            marked = 0
            mode = kind
        }
        function finish() { close(out); mode = "" }
        {
            line = $0
            if (mode == "fence") {
                if (line ~ /^```/) { finish(); blank = 0; next }
                print line >> out; next
            }
            if (mode == "indent") {
                if (substr(line, 1, depth) == pad || line ~ /^[ \t]*$/) {
                    print substr(line, depth + 1) >> out; next
                }
                finish()
            }
            if (line ~ /^[ \t]*<!-- *doctest/) {
                marker = line
                sub(/^[ \t]*<!-- *doctest:? */, "", marker); sub(/ *-->[ \t]*$/, "", marker)
                if (marker == "") marker = "run"
                marked = 1; marker_line = NR; blank = 1; next
            }
            if (line ~ /^```/) { start("fence"); next }
            if (line ~ /^    +[^ ]/ && blank) {
                # A block indented by four spaces more than its text (two of a list item and
                # four more also count): the indentation of its first line is cut off.
                match(line, /^ +/); depth = RLENGTH; pad = substr(line, 1, depth)
                start("indent"); print substr(line, depth + 1) >> out; next
            }
            if (line !~ /^[ \t]*$/ && marked) {
                printf "%s:%d: a doctest marker with no code block after it\n", doc, marker_line > "/dev/stderr"
                bad = 1; marked = 0
            }
            blank = line ~ /^[ \t]*$/
        }
        END { if (mode != "") finish(); exit bad }
    ' "$doc" || exit 2
done
[ -f "$work/index" ] || { echo "doctest: no code blocks in ${docs[*]}"; exit 2; }

# The first command of a block: its first line that is neither blank nor a comment, without
# leading VAR=value assignments.
first_command() {
    grep -v -E '^[[:space:]]*(#|$)' "$1" | head -1 | sed -E 's/^([A-Za-z_][A-Za-z0-9_]*=[^ ]* +)*//'
}

is_shell_example() {
    first_command "$1" | grep -q -E \
        '^(build/|scripts/|\./|bash |sh |cmake |ctest |xvfb-run |wine |apt-get |git |sudo |cd |export )'
}

# Runs one command under the Xvfb this script was started in (see run_under_xvfb): waits for
# the board's monitor, types Escape into it and returns the command's exit code.
escape_runner="$work/escape-runner.sh"
cat >"$escape_runner" <<'EOF'
set -u
bash -e -c "$1" </dev/null &
pid=$!
window=$(xdotool search --sync --onlyvisible --name '^Board screen$' 2>/dev/null | head -1)
if [ -z "$window" ]; then
    echo "doctest: the board's monitor never showed" >&2
    kill "$pid" 2>/dev/null
    wait "$pid"
    exit 1
fi
# A window that is not mapped yet cannot take the focus: again until it has it.
until [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ]; do
    xdotool windowfocus "$window" 2>/dev/null
    kill -0 "$pid" 2>/dev/null || break
done
xdotool key Escape
wait "$pid"
EOF

# Runs example $1 with the marker's words; its output goes to $2. Returns 0 when it behaved.
run_example() {
    local script=$1 log=$2 words=$3 xvfb=0 escape=0 expect=0 bound=120 word
    for word in $words; do
        case $word in
        run) ;;
        xvfb) xvfb=1 ;;
        escape) escape=1 ;;
        exit=*) expect=${word#exit=} ;;
        bound=*) bound=${word#bound=} ;;
        *) echo "doctest: unknown marker word '$word'" >"$log"; return 1 ;;
        esac
    done
    local prefix rc=0
    prefix=$(mktemp -d "$work/prefix-XXXXXX")
    mkdir "$prefix/home"
    local env=(env HOME="$prefix/home" WINTEST_PREFIX="$prefix" WINTEST_DISPLAY=headless)
    [ $xvfb -eq 1 ] && env=(env -u WINTEST_DISPLAY HOME="$prefix/home" WINTEST_PREFIX="$prefix")
    if [ $escape -eq 1 ]; then
        # Each command (continuation lines joined, comments dropped) on its own.
        local command
        while IFS= read -r command; do
            echo "\$ $command" >>"$log"
            timeout --kill-after=5 "$bound" "${env[@]}" bash -c \
                'xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash "$0" "$1"' \
                "$escape_runner" "$command" >>"$log" 2>&1 </dev/null
            rc=$?
            [ $rc -eq "$expect" ] || break
        done < <(sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$script" | grep -v -E '^[[:space:]]*(#|$)')
    elif [ $xvfb -eq 1 ]; then
        timeout --kill-after=5 "$bound" "${env[@]}" \
            xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -e -o pipefail "$script" \
            >"$log" 2>&1 </dev/null
        rc=$?
    else
        timeout --kill-after=5 "$bound" "${env[@]}" bash -e -o pipefail "$script" >"$log" 2>&1 \
            </dev/null
        rc=$?
    fi
    rm -rf "$prefix"
    [ $rc -eq 124 ] && echo "doctest: still running after ${bound} s: stopped" >>"$log"
    [ $rc -eq "$expect" ] || { echo "doctest: exit $rc, expected $expect" >>"$log"; return 1; }
}

# Files an example leaves in the tree (a screenshot named without a folder) are removed after
# it: those untracked and not ignored that were not there before.
untracked() {
    git ls-files --others --exclude-standard 2>/dev/null | sort
}

# ---- running --------------------------------------------------------------------------------
passed=0 failed=0 skipped=0
while IFS=$'\t' read -r id where marker; do
    script="$id.sh"
    if ! is_shell_example "$script"; then
        [ "$marker" = UNMARKED ] && continue # output, a file's text, a usage listing
    fi
    if [ "$marker" = UNMARKED ]; then
        echo "FAIL $where: a shell example without a doctest marker"
        failed=$((failed + 1))
        continue
    fi
    if [[ $marker == skip:* ]]; then
        echo "skip $where:${marker#skip:}"
        skipped=$((skipped + 1))
        continue
    fi
    if [ $list_only -eq 1 ]; then
        echo "run  $where [$marker]: $(first_command "$script")"
        continue
    fi
    start=$(date +%s)
    untracked >"$work/before"
    run_example "$script" "$id.log" "$marker"
    behaved=$?
    untracked | comm -13 "$work/before" - | while IFS= read -r left; do rm -f -- "$left"; done
    if [ $behaved -eq 0 ]; then
        echo "ok   $where [$marker] ($(($(date +%s) - start)) s)"
        passed=$((passed + 1))
    else
        echo "FAIL $where [$marker]: $(first_command "$script")"
        sed 's/^/    | /' "$id.log" | tail -40
        failed=$((failed + 1))
    fi
done <"$work/index"

echo "doctest: $passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
