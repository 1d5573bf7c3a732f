#!/usr/bin/env bash
# Checks Varnel as a system gets it, from a finished build: the menu entry, the AppStream data
# and the manual page are valid; the program installed into a temporary prefix starts
# offscreen and finds its own files in its private folder; the Debian package is built
# hardened and stripped, passes lintian, pedantic tags included, and only recommends
# LibreOffice.
#
#   packaging/check.sh [BUILD_FOLDER]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Set to 1 once the program has its command line, so that losing it fails this check.
expect_command_line=1

fail() {
    echo "Packaging check failed: $*" >&2
    exit 1
}

echo "Packaging: desktop entry, AppStream data, manual page"
desktop-file-validate packaging/app.varnel.Varnel.desktop
report=$(appstreamcli validate --no-net packaging/app.varnel.Varnel.metainfo.xml) ||
    fail "appstreamcli: $report"
report=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l packaging/varnel.1 2>&1 >/dev/null)
[ -z "$report" ] || fail "the manual page: $report"

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
private=$(realpath "$prefix/libexec/varnel")
icon=$(sed -n 's/^Icon=//p' "$prefix/share/applications/app.varnel.Varnel.desktop")
[ -f "$prefix/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon named $icon"

echo "Packaging: the installed program starts offscreen and finds $private"
log=$work/startup.log
: >"$log"
QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES=varnel.startup.info=true \
    QT_MESSAGE_PATTERN='%{category}: %{message}' "$prefix/bin/varnel" 2>"$log" &
pid=$!
for _ in $(seq 300); do
    if grep -q '^varnel.startup: spreadsheet backend:' "$log" || ! kill -0 "$pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
running=no
kill "$pid" 2>/dev/null && running=yes
wait "$pid" 2>/dev/null || true
[ "$running" = yes ] || fail "the installed program ended by itself: $(cat "$log")"
expect_line() {
    grep -qxF "varnel.startup: $1" "$log" || fail "no \"$1\" in what it said: $(cat "$log")"
}
expect_line "pointer: $private/HAND-M.CUR loaded"
expect_line "drag icon: $private/drag.ico present"
if [ -e "$build/bin/libvarnel_office.so" ]; then
    expect_line "spreadsheet backend: $private/libvarnel_office.so present"
    missing=$(ldd "$private/libvarnel_office.so" | grep 'not found' || true)
    [ -z "$missing" ] || fail "the installed backend lacks libraries: $missing"
fi

# Without a display the window cannot start, so only a program with a command line answers.
without_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20)
if "${without_display[@]}" "$prefix/bin/varnel" --version >/dev/null 2>&1; then
    echo "Packaging: varnel check in the installed program"
    printf 'apple\ncherry\nbanana\n' >"$work/unsorted.txt"
    printf 'apple\nBanana\ncherry\n' >"$work/sorted.txt"
    status=0
    found=$(cd "$work" && "${without_display[@]}" "$prefix/bin/varnel" check unsorted.txt sorted.txt) ||
        status=$?
    [ "$status" = 1 ] && [ "$found" = 'unsorted.txt:2: "cherry" sorts after "banana" on line 3' ] ||
        fail "varnel check said \"$found\" with status $status"
elif [ "$expect_command_line" = 1 ]; then
    fail "the installed program has no command line (varnel --version failed)"
else
    echo "Packaging: no command line in this build yet; varnel check skipped"
fi

echo "Packaging: the Debian package and lintian"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb=$(echo "$work"/deb/varnel_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
if grep -Eq 'libreoffice|uno' <<<"$depends"; then
    fail "the package must only recommend LibreOffice, yet it depends on: $depends"
fi
# The window's program needs Qt's GUI libraries, which a server install lacks.
for library in libqt6core6 libqt6gui6 libqt6widgets6; do
    grep -q "$library" <<<"$depends" || fail "the package does not depend on $library: $depends"
done
# Every tag but the informational ones fails, the pedantic ones included.
# Hardened as Debian builds its own (lintian only mentions a missing bind-now), and without
# the compilers' notes.
dpkg-deb -x "$deb" "$work/unpacked"
for binary in usr/bin/varnel usr/libexec/varnel/varnel-window; do
    file=$work/unpacked/$binary
    # Read whole first: grep -q leaving early would break the pipe, which pipefail counts.
    grep -q 'BIND_NOW' <<<"$(readelf -d "$file")" || fail "$binary is not linked with -z now"
    grep -q 'GNU_RELRO' <<<"$(readelf -lW "$file")" || fail "$binary is not linked with -z relro"
    ! grep -q '\.comment' <<<"$(readelf -SW "$file")" || fail "$binary keeps its .comment section"
    grep -q '__stack_chk_fail@' <<<"$(nm -D "$file")" ||
        fail "$binary is built without the stack protector"
done
# Whether a fortified call is emitted depends on the code; the flag itself is what counts.
if [ -f "$build/compile_commands.json" ]; then
    unfortified=$(python3 - "$build/compile_commands.json" <<'PYTHON'
import json, sys
for entry in json.load(open(sys.argv[1])):
    if "/tests/" not in entry["file"] and "/bench/" not in entry["file"] \
            and "_FORTIFY_SOURCE=2" not in entry.get("command", ""):
        print(entry["file"])
PYTHON
)
    [ -z "$unfortified" ] || fail "built without _FORTIFY_SOURCE: $unfortified"
fi
# The tags come on standard output; standard error has lintian's own remarks (running as root).
report=$(lintian --pedantic --fail-on error,warning,pedantic "$deb" 2>"$work/lintian.err") ||
    fail "lintian: $report $(cat "$work/lintian.err")"
[ -z "$report" ] || fail "lintian: $report"
