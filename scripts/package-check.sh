#!/usr/bin/env bash
# The packages as users get them. Builds the .deb from build/ (cpack), checks its fields and
# runs lintian on it (no errors), unpacks it into a fresh root (dpkg -x) and runs the three
# tests through the unpacked propsheet; then builds the Windows .zip from build-mingw64/,
# unpacks it into a fresh folder and runs the three tests through its propsheet.exe under
# Wine. Needs dpkg-dev (dpkg-shlibdeps), file, lintian and unzip, installed when missing.
# Reuses the builds that scripts/test.sh and scripts/wine-check.sh made (builds only
# what is missing). Both runs start from a folder whose path holds a blank, as users' folders
# often do. Exits non-zero on the first failure.
#
#   package-check.sh [deb|zip]...      both when none is named
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD

parts=("$@")
((${#parts[@]})) || parts=(deb zip)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
missing=()
for p in dpkg-dev lintian unzip file; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "package-check: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

jobs=$(nproc)
((jobs > 2)) && jobs=2

# fail MESSAGE: ends the check.
fail() {
    echo "package-check: $*" >&2
    exit 1
}

# fresh_folder BUILD-DIR NAME: an empty folder "<build>/package-check/with blank/NAME".
fresh_folder() {
    local dir="$source/$1/package-check/with blank/$2"
    rm -rf "$dir" && mkdir -p "$dir"
    echo "$dir"
}

check_deb() {
    echo "== package (deb)"
    [ -f build/build.ninja ] || cmake --preset default >/dev/null
    cmake --build --preset default -j"$jobs" --target wintest propsheet texconv datagen logogen \
        manual_pages
    rm -f build/wintest_*.deb
    (cd build && cpack -G DEB >/dev/null) || fail "cpack -G DEB failed"
    local deb
    deb=$(ls build/wintest_*.deb)
    echo "$deb"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    for lib in libsdl2 libpng libstdc++; do
        [[ "$depends" == *"$lib"* ]] || fail "the package does not depend on $lib"
    done

    echo "== lintian"
    lintian --fail-on error "$deb" || fail "lintian reports errors"

    local root
    root=$(fresh_folder build deb)/root
    dpkg -x "$deb" "$root"
    for tool in propsheet texconv datagen logogen; do
        "$root/usr/bin/$tool" --version | grep -q "^$tool (WinTest) " ||
            fail "$tool --version"
    done
    TMPDIR=$(dirname "$root") bash scripts/installed-run.sh "$root/usr/bin/propsheet" ||
        fail "the tests through the unpacked .deb"
}

# wine_prefix DIR: a Wine prefix with the null graphics driver (made once, then reused).
wine_prefix() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    wineboot --init >/dev/null 2>&1 || fail "wineboot failed"
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null ||
        fail "cannot select Wine's null graphics driver"
    wineserver -w
}

check_zip() {
    echo "== package (zip)"
    command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null ||
        fail "MinGW-w64 and Wine are missing: bash scripts/wine-check.sh installs them"
    [ -f build-mingw64/build.ninja ] || cmake --preset mingw64 >/dev/null
    cmake --build --preset mingw64 -j"$jobs" --target wintest wt_board propsheet
    rm -f build-mingw64/wintest-*.zip
    (cd build-mingw64 && cpack -G ZIP >/dev/null) || fail "cpack -G ZIP failed"
    local zip
    zip=$(ls build-mingw64/wintest-*.zip)
    echo "$zip"
    local folder
    folder=$(fresh_folder build-mingw64 zip)
    unzip -q "$zip" -d "$folder"
    folder=$(echo "$folder"/wintest-*)
    for file in wintest.exe glide2x.dll propsheet.exe README.txt data/kvxlogo.bmp \
        data/testtv.3df data/TESTGAMA.3DF data/sample256.3df; do
        [ -f "$folder/$file" ] || fail "the zip has no $file"
    done
    # Only system DLLs: the C and C++ runtimes are linked in.
    local dlls
    dlls=$(x86_64-w64-mingw32-objdump -p "$folder"/*.exe "$folder"/*.dll |
        sed -n 's/^\s*DLL Name: //p' | sort -u | tr '\n' ' ')
    echo "imports: $dlls"
    [[ "${dlls,,}" =~ (libstdc|libgcc|libwinpthread) ]] && fail "a MinGW runtime DLL is needed"

    wine_prefix "$source/build-mingw64/package-check/wine-prefix"
    local rc=0
    TMPDIR=$(dirname "$folder") bash scripts/installed-run.sh --wine "$folder/propsheet.exe" ||
        rc=$?
    wineserver -k >/dev/null 2>&1 || true
    ((rc == 0)) || fail "the tests through the unpacked zip under Wine"
}

start=$SECONDS
for part in "${parts[@]}"; do
    case "$part" in
    deb) check_deb ;;
    zip) check_zip ;;
    *) fail "unknown part $part (deb, zip)" ;;
    esac
done
echo "package-check: passed in $((SECONDS - start)) s"
