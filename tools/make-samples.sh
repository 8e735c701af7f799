#!/bin/sh
# Makes two raw sample disks with independent tools, each holding a few
# files: a 1.44M MS-DOS disk (160 tracks x 18 x 512 bytes) and a PC-98 1.25M
# disk (154 tracks x 8 x 1024 bytes).
# usage: make-samples.sh FOLDER   (writes FOLDER/FAT144.IMG and FOLDER/PC98.IMG)
set -eu
dir=$1
mkdir -p "$dir"
files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT INT TERM

printf 'Dravik sample disk\r\n' >"$files/README.TXT"
seq 1 12000 >"$files/NUMBERS.TXT"
awk 'BEGIN { for (i = 0; i < 3000; i++) printf "%08X %s\n", i * 2654435761 % 4294967296, "sample" }' \
  >"$files/TABLE.DAT"

rm -f "$dir/FAT144.IMG" "$dir/PC98.IMG"
mkfs.fat -C -i 19980401 -n FAT144 "$dir/FAT144.IMG" 1440 >/dev/null
mkfs.fat -C -i 19980401 -F 12 -S 1024 -s 1 -f 2 -r 192 -R 1 -M 0xFE -g 2/8 -n PC98 \
  "$dir/PC98.IMG" 1232 >/dev/null
for image in FAT144 PC98; do
  MTOOLS_SKIP_CHECK=1 mcopy -i "$dir/$image.IMG" "$files"/* ::
done
