#!/bin/sh
# Runs every fuzz target of a fuzz build for a bounded time each, one after
# the other, and keeps what the run learnt.
# usage: run-fuzzers.sh BUILD_DIR SECONDS [FILTER]
#
# Each target starts from three folders: its working corpus in BUILD_DIR
# (what earlier runs on this machine found), the kept corpus of the
# repository, fuzz/corpus/<target>/ (what earlier runs anywhere found), and
# the seeds made afresh by make-fuzz-seeds.sh (valid files of every format
# and shape). After the run the inputs that add coverage to the seeds and
# the kept corpus, and are small enough to keep, are merged into the kept
# corpus, each with a line in fuzz/corpus/<target>.txt saying how it was
# made; so the next run, here or on another machine, starts where this one
# stopped. Every run appends a line with its target, seconds, executions
# and result to BUILD_DIR/corpus/runs.log and to the kept
# fuzz/corpus/runs.log.
set -eu
build=$1
seconds=$2
filter=${3:-}
corpus_root=${build}/corpus
kept_root=fuzz/corpus
# A kept input larger than this stays in the working corpus only.
keep_max_bytes=${FUZZ_KEEP_MAX_BYTES:-65536}
status=0
# UBSan reports count as findings, not as warnings to run past.
UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export UBSAN_OPTIONS
# The seeds take minutes to make: made again only when a tool or plug-in
# that makes them is newer.
if [ ! -f "$build/seeds/.made" ] ||
   [ -n "$(find "$build/tools" "$build/bin" -type f -newer "$build/seeds/.made" | head -n 1)" ]; then
  tools/make-fuzz-seeds.sh "$build"
  touch "$build/seeds/.made"
fi
mkdir -p "$corpus_root" "$kept_root"
for fuzzer in "$build"/fuzz/*_fuzzer; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  case "$name" in *"$filter"*) ;; *) continue ;; esac
  work="$corpus_root/$name"
  kept="$kept_root/$name"
  seeds="$build/seeds/$name"
  mkdir -p "$work" "$kept" "$seeds"
  # Formats of a megabyte or more must not be cut by libFuzzer's default
  # length limit, or no mutation of them is ever a whole file.
  longest=$(find "$seeds" "$kept" "$work" -type f -printf '%s\n' | sort -n | tail -n 1)
  max_len=$(( ${longest:-0} > 4096 ? ${longest:-0} : 4096 ))
  echo "== $name: ${seconds}s"
  log="$corpus_root/$name.log"
  started=$(date +%s)
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
       -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$corpus_root/$name-" \
       "$work" "$kept" "$seeds" 2>"$log"; then
    echo "!! $name found a fault; see $log"
    tail -n 40 "$log"
    result=fault
    status=1
  else
    grep -E 'stat::number_of_executed_units|cov:' "$log" | tail -n 2
    result=clean
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  # The kept log adds up the hours every target has had, here and elsewhere:
  # the time the run took, less than asked when it stopped on a fault.
  took=$(( $(date +%s) - started ))
  echo "$(date -u +%Y-%m-%dT%H:%MZ) $name ${took}s ${runs:-?} runs $result" |
    tee -a "$corpus_root/runs.log" >>"$kept_root/runs.log"

  # Merge: the seeds and the kept corpus go into a fresh folder first, so
  # that only what adds to them is taken from the working corpus.
  merged=$(mktemp -d)
  cp "$seeds"/. "$merged"/ -R 2>/dev/null || true
  cp "$kept"/. "$merged"/ -R 2>/dev/null || true
  # On a busy machine a merge can take longer than the run itself; it is
  # cut after a fifth of the run's time (a minute at least), and the
  # working corpus keeps its finds for the next merge.
  if timeout "$(( seconds / 5 > 60 ? seconds / 5 : 60 ))" "$fuzzer" -merge=1 -max_len="$max_len" \
       -timeout=20 -rss_limit_mb=4096 "$merged" "$work" >"$log.merge" 2>&1; then
    added=0
    for input in "$merged"/*; do
      [ -f "$input" ] || continue
      file=$(basename "$input")
      [ -e "$seeds/$file" ] || [ -e "$kept/$file" ] && continue
      [ "$(stat -c %s "$input")" -le "$keep_max_bytes" ] || continue
      cp "$input" "$kept/$file"
      echo "$file grown by libFuzzer from the seeds and the kept corpus (make fuzz, ${seconds}s, $(date -u +%Y-%m-%d))" \
        >>"$kept_root/$name.txt"
      added=$((added + 1))
    done
    echo "   kept corpus: $added added, $(find "$kept" -type f | wc -l) in all"
  else
    echo "   merge failed or cut; see $log.merge"
  fi
  rm -rf "$merged"
done
exit $status
