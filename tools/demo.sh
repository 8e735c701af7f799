#!/bin/sh
# The program's main job on bundled inputs: lists the plug-ins, makes sample
# disks and converts them with dravik-cli, printing the log. With a display,
# the window then starts, for the sample disks to be dropped on it.
set -eu
build=${1:-build}
cli="$build/bin/dravik-cli"
wrap="$build/tools/wrap-raw"
samples="$build/samples"

"$cli" --list

# Raw sample disks from mkfs.fat and mtools, wrapped into FDD and FDI files by
# the built writers. FDD comments keep the disk's own Shift-JIS bytes
# ("サンプル" here); the log shows them as UTF-8.
rm -rf "$samples"
mkdir -p "$samples/converted"
tools/make-samples.sh "$samples"
title=$(printf '\203\124\203\223\203\166\203\213')
for image in FAT144 PC98; do
  case $image in
    FAT144) geometry="160 18 2" ;;
    PC98) geometry="154 8 3" ;;
  esac
  # shellcheck disable=SC2086
  "$wrap" -t "$title $image" $geometry "$samples/$image.IMG" "$samples/$image.FDD" \
    "$build/bin/fdd_writer.dvw"
  # shellcheck disable=SC2086
  "$wrap" $geometry "$samples/$image.IMG" "$samples/$image.FDI" "$build/bin/fdi_writer.dvw"
done
echo
echo "== sample disks in $samples"
MTOOLS_SKIP_CHECK=1 mdir -i "$samples/PC98.IMG" :: | sed -n '/^[A-Z]/p'
ls -l "$samples" | sed -n '/\.\(IMG\|FDD\|FDI\)$/p'

echo
echo "== FDD to FDI"
"$cli" -t fdi -o "$samples/converted" "$samples/FAT144.FDD" "$samples/PC98.FDD"
echo
echo "== FDI to FDD"
"$cli" -t fdd -o "$samples/converted" "$samples/FAT144.FDI" "$samples/PC98.FDI"

echo
echo "== raw image to BKDSK, and the files of the PC-98 disk"
"$cli" -t bkdsk -o "$samples/converted" "$samples/FAT144.IMG"
"$cli" -t file -o "$samples/converted" "$samples/converted/PC98.FDI"
ls -l "$samples/converted/PC98"

# A plain FDI holds the raw sectors after its 4096-byte header.
echo
for image in FAT144 PC98; do
  if tail -c +4097 "$samples/converted/$image.FDI" | cmp -s - "$samples/$image.IMG"; then
    echo "converted/$image.FDI holds the sectors of $image.IMG unchanged"
  else
    echo "converted/$image.FDI differs from $image.IMG" >&2
    exit 1
  fi
done

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo
  echo "== starting the window; drop the files of $samples on it"
  exec "$build/bin/Dravik"
fi
