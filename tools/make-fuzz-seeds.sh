#!/bin/sh
# Seeds for the fuzz targets that cannot get far from nothing: an FDD file is
# at least 50172 bytes, and the writers need a sensible ID table. Made by the
# built writers from a small generated dump, into BUILD/seeds/<target>/.
# usage: make-fuzz-seeds.sh BUILD
set -eu
build=$1
wrap="$build/tools/wrap-raw"
bin="$build/bin"
[ -x "$wrap" ] || exit 0
seeds="$build/seeds"
rm -rf "$seeds"
writers="fdd_writer fdi_writer tfd_writer bkdsk_writer"
for target in fdd_reader fdi_reader $writers; do
  mkdir -p "$seeds/${target}_fuzzer"
done
# A few sectors of text; the rest of each disk is 0xE5 filler.
raw="$seeds/raw.bin"
seq 1 700 >"$raw"
for shape in "154 8 3" "160 18 2" "160 9 2" "160 8 2" "80 9 2" "154 1 0" "4 26 0"; do
  name=$(echo "$shape" | tr ' ' '_')
  # shellcheck disable=SC2086
  "$wrap" -t SEED $shape "$raw" "$seeds/fdd_reader_fuzzer/$name.FDD" "$bin/fdd_writer.dvw"
  # A plain FDI stores every sector: only the small shapes.
  case $shape in
    "154 8 3" | "160 18 2" | "160 9 2" | "160 8 2") ;;
    *)
      # shellcheck disable=SC2086
      "$wrap" $shape "$raw" "$seeds/fdi_reader_fuzzer/$name.FDI" "$bin/fdi_writer.dvw"
      ;;
  esac
  for writer in $writers; do
    # shellcheck disable=SC2086
    "$wrap" -t SEED --record $shape "$raw" "$seeds/${writer}_fuzzer/$name.rec"
  done
done
rm -f "$raw"
