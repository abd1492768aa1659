#!/usr/bin/env bash
# The Debian package of this build: built by scripts/package, its control data, lintian without
# errors, the desktop entry valid, and the program unpacked into a temporary root answering --version.
set -euo pipefail
SOURCE=$1 BUILD=$2 VERSION=$3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FALLO: $*" >&2; exit 1; }

deb=$("$SOURCE/scripts/package" --build-dir "$BUILD" --out "$WORK/out")
[ "$(basename "$deb")" = "zafrel_${VERSION}_$(dpkg --print-architecture).deb" ] || fail "nombre: $deb"

info=$(dpkg-deb -I "$deb")
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
for library in libc6 libcurl4 libqt6core6 libssl3 ca-certificates; do
  grep -q "\b$library\b" <<<"$depends" || fail "Depends sin $library: $depends"
done

# Errors only: warnings and notes are Debian's advice (a proprietary package's own licence, say).
lintian --fail-on error --tag-display-limit 0 "$deb" >"$WORK/lintian.txt" 2>&1 || { cat "$WORK/lintian.txt" >&2; fail "lintian"; }

dpkg-deb -x "$deb" "$WORK/root"
for file in usr/bin/zafrel usr/lib/zafrel/libzafrel_core.so usr/share/man/man1/zafrel.1.gz usr/share/doc/zafrel/copyright \
            usr/share/doc/zafrel/changelog.gz; do
  [ -f "$WORK/root/$file" ] || fail "falta $file"
done
if [ -f "$BUILD/src/ui/libzafrel_ui.a" ]; then
  for file in usr/lib/zafrel/libzafrel_window.so usr/share/applications/zafrel.desktop usr/share/icons/hicolor/scalable/apps/zafrel.svg \
              usr/share/doc/zafrel/LICENSE.iconos.md; do
    [ -f "$WORK/root/$file" ] || fail "falta $file"
  done
  for size in 16 22 24 32 48 64 128 256; do
    [ -f "$WORK/root/usr/share/icons/hicolor/${size}x${size}/apps/zafrel.png" ] || fail "falta el icono PNG de $size"
  done
  # Every symbol the window's library needs is there once the program's library is loaded. A
  # sanitizer build's libraries need the sanitizer's runtime loaded first, which python lacks.
  PRELOAD=$(ldd "$WORK/root/usr/lib/zafrel/libzafrel_core.so" | awk '/libasan/ {print $3}')
  LD_PRELOAD=$PRELOAD ASAN_OPTIONS=detect_leaks=0 python3 -c 'import ctypes, sys; ctypes.CDLL(sys.argv[1]); ctypes.CDLL(sys.argv[2])' \
    "$WORK/root/usr/lib/zafrel/libzafrel_core.so" "$WORK/root/usr/lib/zafrel/libzafrel_window.so" || fail "la ventana no carga"
  grep -qx "Exec=zafrel %F" "$WORK/root/usr/share/applications/zafrel.desktop" || fail "el lanzador no recibe archivos"
  desktop-file-validate "$WORK/root/usr/share/applications/zafrel.desktop" >"$WORK/desktop.txt" 2>&1 || true
  [ ! -s "$WORK/desktop.txt" ] || { cat "$WORK/desktop.txt" >&2; fail "desktop-file-validate"; }
fi
zcat "$WORK/root/usr/share/man/man1/zafrel.1.gz" | grep -q "^.TH ZAFREL 1 .*zafrel $VERSION" || fail "manual sin versión"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$WORK/root/usr/bin/zafrel" --version)
[ "$out" = "zafrel $VERSION" ] || fail "--version: $out"
# The program's library is found from where the program is installed.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$WORK" XDG_CONFIG_HOME="$WORK/config" \
      XDG_DATA_HOME="$WORK/data" "$WORK/root/usr/bin/zafrel" --pendientes) || fail "--pendientes: $out"
[ "$out" = "No hay archivos pendientes." ] || fail "--pendientes: $out"
echo "1 passed, 0 failed"
