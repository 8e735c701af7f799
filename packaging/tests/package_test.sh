#!/bin/sh
# Makes the Debian package from a build folder, unpacks it into a scratch
# root with dpkg -x and runs the program from there, as an installed Dravik
# runs: the plug-in list, conversions of a raw disk and of an image inside a
# ZIP archive, and the window with a program folder it may not write to,
# whose settings and temporary files must go to the user's folders instead.
# usage: package_test.sh BUILD_FOLDER SOURCE_FOLDER
set -eu
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
gui_pid=
cleanup() {
  [ -n "$gui_pid" ] && kill "$gui_pid" 2>/dev/null
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
chmod 755 "$work"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "--- $*"; }

step "cpack"
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
set -- "$work"/package/dravik_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "no single dravik_*.deb made: $*"
deb=$1
echo "$(basename "$deb"): $(wc -c <"$deb") bytes"

step "control fields"
dpkg-deb -f "$deb" Package Version Architecture Depends
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *libarchive13*) ;; *) fail "Depends lacks libarchive13: $depends" ;; esac
gui=false
[ -x "$build/bin/Dravik" ] && gui=true
if $gui; then
  for p in libqt6widgets6 qt6-qpa-plugins; do
    case "$depends" in *"$p"*) ;; *) fail "Depends lacks $p: $depends" ;; esac
  done
fi

step "file list"
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./||' >"$work/contents"
expect_file() { grep -qx "$1" "$work/contents" || fail "package lacks $1"; }
# The program folder holds what build/bin holds: executables, plug-ins and
# archive libraries, and nothing else.
(cd "$build/bin" && for f in *.dvr *.dvw *.so dravik-cli Dravik; do
  [ -f "$f" ] && echo "usr/lib/dravik/$f"
done) | sort >"$work/expected-program"
grep '^usr/lib/dravik/.' "$work/contents" | sort >"$work/packaged-program"
diff "$work/expected-program" "$work/packaged-program" || fail "program folder differs from build/bin"
expect_file usr/bin/dravik-cli
expect_file usr/share/mime/packages/dravik.xml
expect_file usr/share/man/man1/dravik-cli.1.gz
expect_file usr/share/doc/dravik/copyright
expect_file usr/share/doc/dravik/changelog.gz
if $gui; then
  expect_file usr/bin/Dravik
  expect_file usr/share/applications/dravik.desktop
  expect_file usr/share/icons/hicolor/scalable/apps/dravik.svg
  expect_file usr/share/man/man1/Dravik.1.gz
fi

step "dpkg -x"
root=$work/root
dpkg -x "$deb" "$root"
cli=$root/usr/bin/dravik-cli
[ -L "$cli" ] || fail "usr/bin/dravik-cli is no link"

step "dravik-cli --list"
"$cli" --list >"$work/list.txt" 2>"$work/list.err" || { cat "$work/list.err"; fail "--list failed"; }
cat "$work/list.txt"
[ -s "$work/list.err" ] && { cat "$work/list.err"; fail "--list complained"; }
for f in $(sed -n 's|^usr/lib/dravik/\(.*\.dv[rw]\)$|\1|p' "$work/packaged-program"); do
  grep -q "^  $f " "$work/list.txt" || fail "--list does not show $f"
done

step "conversions"
mkdir -p "$work/in" "$work/out" "$work/back" "$work/files"
"$source/tools/make-samples.sh" "$work/in"
# A raw 1.44M disk to FDI, and the FDI back to a raw BKDSK image.
"$cli" -t fdi -o "$work/out" "$work/in/FAT144.IMG"
"$cli" -q -t bkdsk -o "$work/back" "$work/out/FAT144.FDI"
cmp "$work/in/FAT144.IMG" "$work/back/FAT144.HD4" || fail "FDI round trip changed the disk"
# The FDI inside a ZIP archive, its files extracted: the archive library is
# found in the installed program folder.
(cd "$work/out" && zip -q "$work/in/DISKS.ZIP" FAT144.FDI)
"$cli" -t file -o "$work/files" "$work/in/DISKS.ZIP"
MTOOLS_SKIP_CHECK=1 mcopy -n -i "$work/in/FAT144.IMG" ::NUMBERS.TXT "$work/NUMBERS.TXT"
cmp "$work/NUMBERS.TXT" "$work/files/FAT144/NUMBERS.TXT" || fail "file extracted from the ZIP differs"

if $gui; then
  step "window, with a program folder it cannot write to"
  home=$work/home
  drop=$work/drop
  # Qt makes a runtime folder under TMPDIR when XDG_RUNTIME_DIR is not set,
  # as a session would set it: give it one, so that TMPDIR holds only ours.
  mkdir -p "$home" "$drop" "$work/tmp" "$work/runtime"
  chmod 700 "$work/runtime"
  cp "$work/in/DISKS.ZIP" "$drop/"
  # Root may write anywhere: run the window as nobody then.
  if [ "$(id -u)" = 0 ]; then
    chown -R 65534:65534 "$home" "$drop" "$work/tmp" "$work/runtime"
    as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"
  else
    chmod -R a-w "$root/usr/lib/dravik"
    as_user=
  fi
  env HOME="$home" XDG_CONFIG_HOME="$home/.config" TMPDIR="$work/tmp" \
    XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen \
    $as_user "$root/usr/bin/Dravik" "$drop/DISKS.ZIP" >"$work/window.log" 2>&1 &
  gui_pid=$!
  # The first output, BKDSK, is chosen when there are no settings yet.
  waited=0
  until [ -f "$drop/FAT144.HD4" ]; do
    kill -0 "$gui_pid" 2>/dev/null || { cat "$work/window.log"; fail "the window ended early"; }
    # Only a bound for a hung window, far above any real conversion.
    [ $waited -ge 3000 ] && { cat "$work/window.log"; fail "no conversion in 300 s"; }
    sleep 0.1
    waited=$((waited + 1))
  done
  kill -TERM "$gui_pid"
  status=0
  wait "$gui_pid" || status=$?
  gui_pid=
  [ $status -eq 0 ] || { cat "$work/window.log"; fail "the window ended with status $status"; }
  cmp "$work/in/FAT144.IMG" "$drop/FAT144.HD4" || fail "the window's conversion differs"
  [ -f "$home/.config/dravik/Dravik.cfg" ] || fail "no settings in ~/.config/dravik"
  ls -A "$root/usr/lib/dravik" | grep -v -e '\.dv[rw]$' -e '\.so$' -e '^Dravik$' -e '^dravik-cli$' &&
    fail "the window wrote into the program folder"
  [ -z "$(ls -A "$work/tmp")" ] || { ls -lA "$work/tmp"; fail "temporary files left"; }
fi
echo "package test passed"
