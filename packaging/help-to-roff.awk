# Fills the manual page template with the Options and Commands of `propsheet --help`, so the
# page always lists what the program accepts:
#
#   propsheet --help >help.txt && awk -f help-to-roff.awk help.txt propsheet.1.in >propsheet.1
#
# In the help text a section starts with a heading line ("Options:"); an item with a line
# indented by two spaces; lines indented further continue the item's description, and their
# indent is the column where descriptions start in that section. An item's term ends there,
# or at the first run of two spaces. The template's lines "@OPTIONS@" and "@COMMANDS@" become
# the items of those sections as .TP paragraphs; every other line is copied.

# Text as roff shows it: backslashes and minus signs escaped, no control character first.
function roff(text) {
    gsub(/\\/, "\\e", text)
    gsub(/-/, "\\-", text)
    sub(/^[.']/, "\\\\\\&&", text)
    return text
}

# The item on help line i, as a .TP paragraph.
function item(i, column,    line, term, rest, gap) {
    line = help[i]
    if (column && length(line) >= column && substr(line, column - 1, 1) == " ") {
        term = substr(line, 3, column - 3)
        rest = substr(line, column)
    } else {
        line = substr(line, 3)
        gap = match(line, /  +/)
        term = gap ? substr(line, 1, gap - 1) : line
        rest = gap ? substr(line, gap + RLENGTH) : ""
    }
    sub(/ +$/, "", term)
    sub(/^ +/, "", rest)
    return ".TP\n\\fB" roff(term) "\\fR\n" (rest == "" ? "" : roff(rest) "\n")
}

# A continuation line; "name: ..." (a list of its own) starts a new line.
function continuation(line) {
    sub(/^ +/, "", line)
    return (line ~ /^[a-z]+: / ? ".br\n" : "") roff(line) "\n"
}

# The items of every section of the help text, by heading.
function convert(    i, section, column, text) {
    for (i = 1; i <= count; ++i) {
        if (help[i] ~ /^[A-Z][A-Za-z ]*:$/)
            section = help[i]
        else if (help[i] ~ /^   +[^ ]/ && !(section in column))
            column[section] = match(help[i], /[^ ]/)
    }
    for (i = 1; i <= count; ++i) {
        if (help[i] ~ /^[A-Z][A-Za-z ]*:$/)
            section = help[i]
        else if (help[i] ~ /^  [^ ]/)
            items[section] = items[section] item(i, column[section])
        else if (help[i] ~ /^   +[^ ]/ && section in items)
            items[section] = items[section] continuation(help[i])
    }
}

FNR == NR { help[++count] = $0; next }
FNR == 1 { convert() }
$0 == "@OPTIONS@" { printf "%s", items["Options:"]; next }
$0 == "@COMMANDS@" { printf "%s", items["Commands:"]; next }
{ print }
