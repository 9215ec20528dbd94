#!/usr/bin/env bash
# The desktop program as installed: no-display start, the launcher, `cmake --install` and the Debian package.
set -euo pipefail
: "${PARCELIX:?}" "${PARCELIX_SRC:?}"
build="$(dirname "$PARCELIX")"
[ -f "$build/cmake_install.cmake" ] || { echo "no build tree next to $PARCELIX"; exit 77; }
grep -q 'PARCELIX_GUI:BOOL=ON' "$build/CMakeCache.txt" || { echo "built without the window"; exit 77; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Without a display the window says so in one line, shows the usage and exits 2.
set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$PARCELIX" >"$tmp/out" 2>"$tmp/err"
status=$?
env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:4711 "$PARCELIX" >/dev/null 2>"$tmp/err2"
status2=$?
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$PARCELIX" --open "$tmp/x.jar" >/dev/null 2>"$tmp/err4"
status4=$?
set -e
[ "$status" -eq 2 ] || fail "exit status $status without a display"
[ "$status4" -eq 2 ] && grep -q 'no display' "$tmp/err4" || fail "--open without a display: $status4 $(head -n1 "$tmp/err4")"
[ "$status2" -eq 2 ] || fail "exit status $status2 with a display that is not there"
head -n1 "$tmp/err" | grep -q 'no display' || fail "first line: $(head -n1 "$tmp/err")"
grep -q '/rename' "$tmp/err" || fail "no usage after the message"
[ ! -s "$tmp/out" ] || fail "unexpected output on stdout"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$PARCELIX_SRC/app/gui/parcelix.desktop" || fail "launcher does not validate"
fi
grep -q '^MimeType=.*application/java-archive;' "$PARCELIX_SRC/app/gui/parcelix.desktop" || fail "no JAR MIME type"
grep -q '^Exec=parcelix --open %F$' "$PARCELIX_SRC/app/gui/parcelix.desktop" || fail "the launcher does not pass the files it opens"
python3 -c 'import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); assert r.tag.endswith("svg"), r.tag' \
  "$PARCELIX_SRC/app/gui/parcelix.svg" || fail "icon is not an SVG document"

# cmake --install under a fresh prefix.
prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/parcelix share/applications/parcelix.desktop share/icons/hicolor/scalable/apps/parcelix.svg \
         share/parcelix/help/index.htm share/parcelix/help/rename.htm share/parcelix/help/makejad.htm \
         share/parcelix/help/options.htm share/parcelix/help/manifest_editor.htm lib/parcelix/parcelix-window.so; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
[ -x "$prefix/bin/parcelix" ] || fail "program not executable"
"$prefix/bin/parcelix" --help | grep -q '/jadgen' || fail "installed program does not run"
# The command line does not load Qt; the installed program finds its window module
# (the module's own no-display message proves it was loaded).
if command -v ldd >/dev/null; then
  ! ldd "$prefix/bin/parcelix" | grep -qi 'libQt6' || fail "the command-line program links Qt"
fi
first_line() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" 2>&1 >/dev/null | head -n1 || true; }
first_line "$prefix/bin/parcelix" | grep -q 'no display' || fail "installed program does not find its window module"
mv "$prefix/lib/parcelix/parcelix-window.so" "$tmp/away.so"
set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/parcelix" >/dev/null 2>"$tmp/err3"
status3=$?
set -e
[ "$status3" -eq 2 ] || fail "exit status $status3 without the window module"
grep -q 'window cannot be opened: parcelix-window.so is not installed' "$tmp/err3" || fail "no word of the missing module: $(head -n1 "$tmp/err3")"

# The Debian package: contents, dependencies, and the program runs from it.
if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null && [ -f "$build/CPackConfig.cmake" ]; then
  (cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >/dev/null) || fail "cpack failed"
  deb="$(ls "$tmp"/pkg/*.deb | head -n1)"
  [ -f "$deb" ] || fail "no .deb made"
  dpkg-deb -c "$deb" >"$tmp/contents"
  for f in ./usr/bin/parcelix ./usr/lib/parcelix/parcelix-window.so ./usr/share/applications/parcelix.desktop \
           ./usr/share/icons/hicolor/scalable/apps/parcelix.svg ./usr/share/parcelix/help/index.htm; do
    grep -q " $f\$" "$tmp/contents" || fail "not in the package: $f"
  done
  [ "$(dpkg-deb -f "$deb" Package)" = parcelix ] || fail "package name"
  dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "no Qt dependency: $(dpkg-deb -f "$deb" Depends)"
  dpkg-deb -x "$deb" "$tmp/root"
  "$tmp/root/usr/bin/parcelix" --help | grep -q '/rename' || fail "packaged program does not run"
  first_line "$tmp/root/usr/bin/parcelix" | grep -q 'no display' || fail "packaged program does not find its window module"
fi
echo "ok"
