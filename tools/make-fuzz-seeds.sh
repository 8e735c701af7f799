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
writers="fdd_writer fdi_writer tfd_writer bkdsk_writer d88_writer"
for target in fdd_reader fdi_reader d88_reader $writers; do
  mkdir -p "$seeds/${target}_fuzzer"
done
# A few sectors of text; the rest of each disk is 0xE5 filler.
raw="$seeds/raw.bin"
seq 1 700 >"$raw"
for shape in "154 8 3" "160 18 2" "160 9 2" "160 8 2" "80 9 2" "154 1 0" "4 26 0"; do
  name=$(echo "$shape" | tr ' ' '_')
  # shellcheck disable=SC2086
  "$wrap" -t SEED $shape "$raw" "$seeds/fdd_reader_fuzzer/$name.FDD" "$bin/fdd_writer.dvw"
  # D88 stores every sector with a header: only the small shapes.
  case $shape in
    "154 1 0" | "4 26 0")
      # shellcheck disable=SC2086
      "$wrap" -t SEED $shape "$raw" "$seeds/d88_reader_fuzzer/$name.D88" "$bin/d88_writer.dvw"
      ;;
  esac
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

# lh5 streams made by lha, each behind the decoder fuzzer's three leading
# bytes: the expected length less one (big-endian), then 0 for an output
# area with room for a final match.
if command -v lha >/dev/null 2>&1; then
  lh5="$seeds/lh5_decoder_fuzzer"
  mkdir -p "$lh5"
  work=$(mktemp -d)
  seq 1 3000 >"$work/text"
  head -c 9000 /dev/zero >"$work/zero"
  seq 1 20000 | tr -d '\n' | head -c 60000 >"$work/digits"
  { seq 1 900; head -c 700 /dev/zero | tr '\0' 'Z'; seq 1 900; } >"$work/window"
  for name in text zero digits window; do
    (cd "$work" && lha a0q "$name.lzh" "$name" >/dev/null 2>&1) || continue
    archive="$work/$name.lzh"
    [ "$(dd if="$archive" bs=1 skip=2 count=5 2>/dev/null)" = "-lh5-" ] || continue
    # A level-0 header: its size (less two) at 0, packed size at 7, original at 11.
    header=$(od -An -tu1 -N1 "$archive" | tr -d ' ')
    packed=$(od -An -tu4 -j7 -N4 "$archive" | tr -d ' ')
    last=$(($(od -An -tu4 -j11 -N4 "$archive" | tr -d ' ') - 1))
    printf "\\$(printf %o $((last >> 8 & 255)))\\$(printf %o $((last & 255)))\\000" >"$lh5/$name"
    tail -c +$((header + 3)) "$archive" | head -c "$packed" >>"$lh5/$name"
  done
  rm -rf "$work"
fi

# Files of the formats only read here: SLF, VFL and VFZ (packed by lha), FIX,
# FIM, DIP, DCP, STDFILE and DFcnv; and the test samples of every input
# format in every shape it holds.
if [ -x "$build/tools/make-image-seeds" ] && command -v lha >/dev/null 2>&1; then
  "$build/tools/make-image-seeds" "$seeds" "$bin"
fi
# Two disks in one file.
d88="$seeds/d88_reader_fuzzer"
cat "$d88/154_1_0.D88" "$d88/4_26_0.D88" >"$d88/two_disks.D88"

# The quirks of D88 files from the wild, patched into the 4 x 26 x 128 disk
# (a 0x2B0 header, then 4 tracks of 26 sectors of 16 + 128 bytes).
le32() {
  for shift in 0 8 16 24; do
    printf "\\$(printf %o $(($1 >> shift & 255)))"
  done
}
put() {  # put FILE OFFSET: stdin over the bytes at OFFSET
  dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}
base="$d88/4_26_0.D88"
size=$(stat -c %s "$base")
# Bytes after the disk that its size field does not count.
{ cat "$base"; printf 'TRAILING'; } >"$d88/size_short_of_file.D88"
# Unused track offsets pointing at the end of the disk.
cp "$base" "$d88/unused_at_end.D88"
t=4
while [ $t -lt 164 ]; do
  le32 "$size" | put "$d88/unused_at_end.D88" $((0x20 + 4 * t))
  t=$((t + 1))
done
# Sector counts stored big-endian on track 1.
cp "$base" "$d88/big_endian_counts.D88"
s=0
while [ $s -lt 26 ]; do
  printf '\000\032' | put "$d88/big_endian_counts.D88" $((0x1150 + 144 * s + 4))
  s=$((s + 1))
done
# A sector whose N says 256 bytes over 128 stored, with an error status.
cp "$base" "$d88/short_data.D88"
printf '\001' | put "$d88/short_data.D88" $((0x2B0 + 3))
printf '\260' | put "$d88/short_data.D88" $((0x2B0 + 8))
# A 0x2A0 header with 160 track offsets.
{
  head -c 28 "$base"
  le32 $((size - 16))
  for offset in 0x2A0 0x1140 0x1FE0 0x2E80; do le32 $((offset)); done
  head -c $((156 * 4)) /dev/zero
  tail -c +$((0x2B0 + 1)) "$base"
} >"$d88/short_table.D88"

# Press1 files, built as its tests build them.
if [ -x "$build/tools/press1-seeds" ]; then
  "$build/tools/press1-seeds" "$seeds"
fi

# Hard-disk images of one and two cylinders, in both containers.
le32() {
  for shift in 0 8 16 24; do
    # shellcheck disable=SC2059
    printf "\\$(printf %03o $(($1 >> shift & 255)))"
  done
}
mkdir -p "$seeds/hdi_thd_converter_fuzzer"
cylinder=67584
for cylinders in 1 2; do
  data_size=$((cylinders * cylinder))
  {
    le32 0; le32 0; le32 4096; le32 $data_size; le32 256; le32 33; le32 8; le32 "$cylinders"
    head -c 4064 /dev/zero
    seq 1 50000 | head -c $data_size
  } >"$seeds/hdi_thd_converter_fuzzer/$cylinders.HDI"
  {
    le32 "$cylinders"
    head -c 252 /dev/zero
    seq 1 50000 | head -c $data_size
  } >"$seeds/hdi_thd_converter_fuzzer/$cylinders.THD"
done

# A MAHALITO pair as the pair driver takes it: byte 0 puts "ver 1.10  " in
# front, bytes 1 and 2 give the length of the rest of the ID file (two
# tracks: a stored and a filled sector, then one stored sector), then the
# data file.
mkdir -p "$seeds/mahalito_pair_fuzzer"
{
  printf '\001\035\000'
  printf '\001'
  printf '\002\001' && printf '\000\000\000\000\001\000\000\000' && printf '\001\345\000\000\002\001\000\001'
  printf '\001\000' && printf '\000\000\000\001\001\000\000\000'
  seq 1 100 | head -c 256
} >"$seeds/mahalito_pair_fuzzer/2tracks.bin"
