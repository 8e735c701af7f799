#!/bin/sh
# The file types of dravik.xml as the desktop sees them: the shared MIME
# database is built from them beside the system's own types, and GIO names
# the type of sample files, by extension (any case) and by content alone.
# The desktop entry must list every type.
# usage: mime_test.sh SOURCE_FOLDER BUILD_FOLDER
set -eu
source=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
xml=$source/packaging/dravik.xml
desktop=$build/packaging/dravik.desktop
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

mkdir -p "$work/share/mime/packages" "$work/files"
cp /usr/share/mime/packages/freedesktop.org.xml "$xml" "$work/share/mime/packages/"
XDG_DATA_DIRS="$work/share" update-mime-database "$work/share/mime" >"$work/update.log" 2>&1 || true
if [ -s "$work/update.log" ]; then
  cat "$work/update.log"
  fail "update-mime-database complained"
fi

type_of() {
  XDG_DATA_HOME="$work/share" XDG_DATA_DIRS="$work/share" \
    gio info -a standard::content-type "$1" | sed -n 's/^ *standard::content-type: //p'
}

# expect TYPE NAME PRINTF-FORMAT [SIZE]: a file NAME whose start is the
# printf text (padded with zero bytes to SIZE, default 4096) must be TYPE.
expect() {
  type=$1 name=$2 start=$3 size=${4:-4096}
  file="$work/files/$name"
  head -c "$size" /dev/zero >"$file"
  # shellcheck disable=SC2059
  printf "$start" | dd of="$file" conv=notrunc status=none
  got=$(type_of "$file")
  [ "$got" = "$type" ] || fail "$name: $got, expected $type"
}

# expect_not TYPE NAME PRINTF-FORMAT: the same, but the type must not be TYPE.
expect_not() {
  file="$work/files/$2"
  head -c 4096 /dev/zero >"$file"
  # shellcheck disable=SC2059
  printf "$3" | dd of="$file" conv=notrunc status=none
  [ "$(type_of "$file")" != "$1" ] || fail "$2 is taken for $1"
}

p=application/x-pc98
# By extension, whatever the case.
expect $p-fdd-disk-image GAME.FDD ''
expect $p-fdi-disk-image game.fdi ''
for ext in TFD HDM HD9 HD5 HD4 hdb H01 DD6 dd9 DDB; do
  expect $p-raw-disk-image "GAME.$ext" ''
done
expect $p-slf-disk-image GAME.SLF ''
expect $p-vfl-disk-image GAME.VFL ''
expect $p-vfz-disk-image GAME.Vfz ''
expect $p-mahalito-disk-image GAME.2HD ''
expect $p-mahalito-disk-image GAME.2dd ''
expect $p-dip-disk-image GAME.DIP ''
expect application/x-nfd-disk-image GAME.NFD ''
expect $p-hdi-disk-image GAME.HDI ''
expect $p-fim-disk-image GAME.FIM ''
expect $p-dcp-disk-image GAME.DCP ''
expect $p-dcp-disk-image game.dcu ''
expect $p-fix-disk-image GAME.FIX ''
expect $p-thd-disk-image game.thd ''
expect application/x-d88-disk-image GAME.D88 ''
for ext in d98 88D 98d; do
  expect application/x-d88-disk-image "GAME.$ext" ''
done
# By content alone.
expect $p-fdd-disk-image fdd 'VFD1.00'
expect $p-fdi-disk-image fdi2 'FDI2'
expect $p-fdi-disk-image fdi '\0\0\0\0\220\0\0\0\0\20\0\0\0\0\23\0\0\4\0\0\10\0\0\0\2\0\0\0\115\0\0\0'
expect $p-slf-disk-image slf 'MZ%48sFDFILEVER200' 4096
expect $p-vfl-disk-image vfl 'VOL_FILE0010'
expect $p-vfz-disk-image vfz 'VFZ_FILE0010'
expect $p-press1-disk-image press1 'FICT%9sP'
expect $p-mahalito-disk-image mahalito110 'ver 1.10  \115'
expect $p-mahalito-disk-image mahalito2dd '2DD ver1.0\120'
expect $p-mahalito-disk-image mahalito120 'ver 1.20  \0\115'
expect application/x-nfd-disk-image nfd0 'T98FDDIMAGE.R0'
expect application/x-nfd-disk-image nfd1 'T98FDDIMAGE.R1'
expect $p-dip-disk-image dip '\1\10\0\23\101\0\1\0\0\0\0\0\0\0\0\0DISK'
expect $p-stdfile-disk-image stdfile 'STDA'
expect $p-dfcnv-disk-image dfcnv '##DFcnv##'
# Near misses are not taken: an MS-DOS program without the SLF mark, a
# Press1 file of another kind, a hard-disk image's header (HDI: 8 heads),
# and the data half of a MAHALITO pair (the HDI header is HDI's).
expect_not $p-slf-disk-image exe 'MZ'
expect_not $p-press1-disk-image press1x 'FICT%9sQ'
expect_not $p-fdi-disk-image hdi '\0\0\0\0\0\0\0\0\0\20\0\0\0\0\10\0\0\1\0\0\41\0\0\0\10\0\0\0\1\0\0\0'
expect $p-hdi-disk-image hdi '\0\0\0\0\0\0\0\0\0\20\0\0\0\0\10\0\0\1\0\0\41\0\0\0\10\0\0\0\1\0\0\0'
expect_not $p-mahalito-disk-image GAME.DAT ''
expect_not application/x-nfd-disk-image nfd2 'T98FDDIMAGE.R2'
expect_not $p-dfcnv-disk-image dfcnvx '##DFcnv#'
expect_not $p-dip-disk-image dipx '\1\10\0\24\101\0\1\0\0\0\0\0\0\0\0\0'
# The archives keep the system's types, which the desktop entry lists.
printf 'PK\003\004' >"$work/files/GAME.ZIP"
[ "$(type_of "$work/files/GAME.ZIP")" = application/zip ] || fail "GAME.ZIP is not application/zip"
printf '\0\0-lh5-' >"$work/files/GAME.LZH"
[ "$(type_of "$work/files/GAME.LZH")" = application/x-lha ] || fail "GAME.LZH is not application/x-lha"

# Every reader has its file type, so that the desktop offers Dravik for
# every kind of image it reads.
for folder in "$source"/plugins/in/*/; do
  reader=$(basename "$folder")
  grep -q "<!-- read by plugins/in/$reader -->" "$xml" ||
    fail "plugins/in/$reader has no file type: add a <mime-type> for it to packaging/dravik.xml (README, Adding a plug-in)"
done

# Every type of the XML, and the archives', is in the desktop entry.
if [ -f "$desktop" ]; then
  listed=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n' | sed '/^$/d' | sort)
  defined=$( (sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$xml"
    echo application/x-lha; echo application/x-lzh-compressed; echo application/zip) | sort)
  [ "$listed" = "$defined" ] || fail "MimeType= of dravik.desktop is not the XML's types and the archives'"
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
  fi
fi

[ $failures -eq 0 ] || exit 1
echo "mime test passed"
