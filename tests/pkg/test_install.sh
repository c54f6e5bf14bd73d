#!/usr/bin/env bash
# Installs the build into a staging root (DESTDIR) and checks the installed tree: the two
# programs, the desktop entry, the icons, the AppStream metainfo, the man pages and the Python
# module, and that the installed programs run.
# Usage: test_install.sh BUILD_DIR
set -u
if [[ $# -ne 1 || ! -d "$1" ]]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 1
fi
build="$(realpath "$1")"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$stage/install.log" 2>&1; then
    cat "$stage/install.log" >&2
    echo "FAIL: cmake --install" >&2
    exit 1
fi
root="$stage/usr"
id=io.github.sonabi.Sonabi

# -- Programs
for program in sonabi sonabi-analyze; do
    [[ -x "$root/bin/$program" ]] || fail "bin/$program missing or not executable"
done

# -- Desktop entry
desktop="$root/share/applications/$id.desktop"
if [[ -f "$desktop" ]]; then
    if command -v desktop-file-validate >/dev/null; then
        desktop-file-validate "$desktop" || fail "desktop-file-validate $id.desktop"
    else
        echo "note: desktop-file-validate not installed, desktop entry checked by hand only"
    fi
    grep -qx 'Name=Sonabi' "$desktop" || fail "desktop Name is not Sonabi"
    grep -qx 'Exec=sonabi %f' "$desktop" || fail "desktop Exec is not 'sonabi %f'"
    grep -qx 'Categories=Audio;AudioVideo;Music;' "$desktop" || fail "desktop Categories"
    mime=$(sed -n 's/^MimeType=//p' "$desktop")
    for type in audio/wav audio/x-wav; do
        [[ ";$mime" == *";$type;"* ]] || fail "desktop MimeType lacks $type"
    done
    grep -qx "Icon=$id" "$desktop" || fail "desktop Icon is not $id"
else
    fail "share/applications/$id.desktop missing"
fi

# -- Icons: the SVG and every PNG size, each PNG as large as its folder says
icons="$root/share/icons/hicolor"
[[ -s "$icons/scalable/apps/$id.svg" ]] || fail "scalable icon missing"
grep -q '<svg' "$icons/scalable/apps/$id.svg" 2>/dev/null || fail "scalable icon is not an SVG"
for size in 16 24 32 48 64 128 256; do
    png="$icons/${size}x${size}/apps/$id.png"
    if [[ ! -f "$png" ]]; then
        fail "icon ${size}x${size} missing"
        continue
    fi
    # PNG signature, then the IHDR chunk: width and height as big-endian 32-bit integers.
    signature=$(od -An -tx1 -N8 "$png" | tr -d ' \n')
    width=$((16#$(od -An -tx1 -j16 -N4 "$png" | tr -d ' \n')))
    height=$((16#$(od -An -tx1 -j20 -N4 "$png" | tr -d ' \n')))
    [[ "$signature" == 89504e470d0a1a0a ]] || fail "icon ${size}x${size} is not a PNG"
    [[ "$width" == "$size" && "$height" == "$size" ]] ||
        fail "icon ${size}x${size} is ${width}x${height}"
done

# -- AppStream metainfo
metainfo="$root/share/metainfo/$id.metainfo.xml"
if [[ -f "$metainfo" ]]; then
    if command -v appstreamcli >/dev/null; then
        appstreamcli validate --no-net "$metainfo" >"$stage/appstream.log" 2>&1 ||
            { cat "$stage/appstream.log" >&2; fail "appstreamcli validate"; }
    else
        echo "note: appstreamcli not installed, metainfo not validated"
    fi
    grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id is not $id"
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
        fail "metainfo does not launch $id.desktop"
    grep -q '@[A-Z_]*@' "$metainfo" && fail "metainfo has unreplaced @VARIABLES@"
else
    fail "share/metainfo/$id.metainfo.xml missing"
fi

# -- Man pages: present, render cleanly, and name every option --help lists
man1="$root/share/man/man1"
for page in sonabi sonabi-analyze; do
    if [[ ! -f "$man1/$page.1" ]]; then
        fail "man1/$page.1 missing"
        continue
    fi
    grep -q '@[A-Z_]*@' "$man1/$page.1" && fail "$page.1 has unreplaced @VARIABLES@"
    if command -v groff >/dev/null; then
        warnings=$(groff -man -Tutf8 -ww -z "$man1/$page.1" 2>&1)
        [[ -z "$warnings" ]] || fail "groff warnings in $page.1: $warnings"
    fi
done
if [[ -f "$man1/sonabi-analyze.1" && -x "$root/bin/sonabi-analyze" ]]; then
    for option in $("$root/bin/sonabi-analyze" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -qF -- "${option//-/\\-}" "$man1/sonabi-analyze.1" ||
            fail "sonabi-analyze.1 does not describe $option"
    done
fi

# -- The installed programs run
if [[ -x "$root/bin/sonabi-analyze" ]]; then
    version=$(grep -m1 '^CMAKE_PROJECT_VERSION:' "$build/CMakeCache.txt" | cut -d= -f2)
    expect_version="sonabi-analyze $(cut -d. -f1,2 <<<"$version")"
    got=$("$root/bin/sonabi-analyze" --version)
    [[ "$got" == "$expect_version" ]] || fail "--version printed '$got', not '$expect_version'"
    # 0.1 s of 16-bit mono silence at 44100 Hz.
    wav="$stage/silence.wav"
    printf 'RIFF\x2c\x45\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x44\xac\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00data\x08\x45\x00\x00' >"$wav"
    head -c 17672 /dev/zero >>"$wav"
    info=$("$root/bin/sonabi-analyze" --info "$wav")
    [[ "$info" == *'"ok":true,"channels":1,"rate":44100,"bits":16'*'"frames":8836'* ]] ||
        fail "sonabi-analyze --info printed: $info"
fi
if [[ -x "$root/bin/sonabi" ]]; then
    # Starts, takes nothing but a file path, and runs until stopped.
    QT_QPA_PLATFORM=offscreen timeout 3 "$root/bin/sonabi" --no-such-option \
        >"$stage/sonabi.out" 2>"$stage/sonabi.err"
    status=$?
    [[ $status -eq 124 ]] || fail "sonabi ended with status $status before it was stopped"
    grep -q '^sonabi: ignored "--no-such-option"' "$stage/sonabi.err" ||
        fail "sonabi did not report the ignored option: $(cat "$stage/sonabi.err")"
fi

# -- The Python module, when built: where Debian's python3 looks for each prefix, and importable
if [[ -d "$build/python/sonabi" ]]; then
    site="$root/lib/python3/dist-packages"
    [[ -f "$site/sonabi/__init__.py" ]] || fail "lib/python3/dist-packages/sonabi missing"
    got=$(cd "$stage" && PYTHONPATH="$site" /usr/bin/python3 -c \
        'import sonabi; print(sonabi.__file__.startswith("'"$site"'"), sonabi.note(440.0))')
    [[ "$got" == "True ('A4', 0)" ]] || fail "the installed module printed: $got"
    minor=$(/usr/bin/python3 -c 'import sys; print(sys.version_info[1])')
    local_stage="$stage/local"
    DESTDIR="$local_stage" cmake --install "$build" --prefix /usr/local >/dev/null 2>&1
    [[ -f "$local_stage/usr/local/lib/python3.$minor/dist-packages/sonabi/__init__.py" ]] ||
        fail "under /usr/local the module is not in lib/python3.$minor/dist-packages"
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "installed tree OK"
