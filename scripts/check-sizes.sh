#!/usr/bin/env bash
# Keeps every piece short enough to read at once: no C or C++ source file of more than 800
# lines (the window-system header windows.h excepted: it is one long list of declarations),
# and no function of more than 80 lines, not counting the lines of tables written inside it
# (brace initialisers).
#
#   scripts/check-sizes.sh [file...]      (default: every tracked .c, .cpp and .h file)
#
# Exits non-zero and names each file or function that is too long.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -eq 0 ]; then
    mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
else
    files=("$@")
fi

exec python3 - "${files[@]}" <<'EOF'
import re
import sys

MAX_FILE_LINES = 800
MAX_FUNCTION_LINES = 80
LONG_FILES_ALLOWED = {"win32/include/windows.h"}
CONTROL = {"if", "for", "while", "switch", "catch", "do", "else", "try"}


def code_only(text):
    """The text with comments and string and character literals blanked, lines kept."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == '"' and re.search(r'R$', text[max(0, i - 1):i]):
            m = re.match(r'"([^(\s]*)\(', text[i:])
            end = text.find(")" + (m.group(1) if m else "") + '"', i)
            j = n if end < 0 else end + len(m.group(1) if m else "") + 2
            out.append('"' + re.sub(r"[^\n]", " ", text[i + 1:j - 1]) + '"')
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def kind_of(head):
    """What a brace opens, judged by the text since the last ; { or }."""
    h = " ".join(head.split())
    if not h or h.endswith(("=", ",", "(", "[", "return")) or re.search(r"=\s*\w*$", h):
        return "table"
    if re.search(r"\b(namespace|extern)\b", h) or re.match(r"^(template\s*<.*>\s*)?(class|struct|union|enum)\b", h):
        return "scope"
    m = re.search(r"\)\s*(const|noexcept|override|final|mutable|volatile|&|&&|\s|->\s*[\w:<>,*&\s]+)*$", h)
    if m:
        depth, k = 0, m.start()
        while k >= 0:  # the ( that matches the last )
            depth += h[k] == ")"
            depth -= h[k] == "("
            if depth == 0:
                break
            k -= 1
        word = re.search(r"(\w+)\s*$", h[:max(k, 0)])
        if word and word.group(1) in CONTROL:
            return "block"
        return "function"
    if re.search(r"\b(do|else|try)$", h):
        return "block"
    if re.search(r"\]\s*(\(.*\))?\s*(mutable)?\s*(->.*)?$", h):
        return "function"  # a lambda
    if re.search(r"[\w>\]]$", h):
        return "table"  # Type name{...} or name[]{...}
    return "block"


def check(path):
    faults = []
    text = open(path, encoding="utf-8", errors="replace").read()
    lines = text.count("\n") + (0 if text.endswith("\n") else 1)
    if lines > MAX_FILE_LINES and path not in LONG_FILES_ALLOWED:
        faults.append(f"{path}: {lines} lines (at most {MAX_FILE_LINES})")
    code = code_only(text)
    stack = []  # (kind, line, head, table lines inside)
    head_start, line = 0, 1
    for i, c in enumerate(code):
        if c == "\n":
            line += 1
        elif c == "{":
            head = code[head_start:i]
            head = re.sub(r"^\s*#.*$", "", head, flags=re.M)
            kind = kind_of(head)
            if kind == "function" and any(k == "function" for k, *_ in stack):
                kind = "block"  # a lambda or local class inside a function counts with it
            stack.append([kind, line, head, 0])
            head_start = i + 1
        elif c == "}":
            if stack:
                kind, start, head, tables = stack.pop()
                if kind == "table" and stack and stack[-1][0] != "table":
                    for frame in stack:
                        if frame[0] == "function":
                            frame[3] += line - start + 1
                if kind == "function" and line - start + 1 - tables > MAX_FUNCTION_LINES:
                    name = " ".join(head.split())[-70:]
                    faults.append(f"{path}:{start}: function of {line - start + 1 - tables} "
                                  f"lines (at most {MAX_FUNCTION_LINES}): {name}")
            head_start = i + 1
        elif c == ";":
            head_start = i + 1
    return faults


faults = []
for path in sys.argv[1:]:
    faults += check(path)
for f in faults:
    print("check-sizes: " + f, file=sys.stderr)
sys.exit(1 if faults else 0)
EOF
