#!/bin/sh
# Runs every fuzz target of a fuzz build for a bounded time each.
# usage: run-fuzzers.sh BUILD_DIR SECONDS [FILTER]
set -eu
build=$1
seconds=$2
filter=${3:-}
corpus_root=${build}/corpus
status=0
# Generated seeds, read beside each target's own corpus.
tools/make-fuzz-seeds.sh "$build"
for fuzzer in "$build"/fuzz/*_fuzzer; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  case "$name" in *"$filter"*) ;; *) continue ;; esac
  mkdir -p "$corpus_root/$name"
  seeds=""
  [ -d "$build/seeds/$name" ] && seeds="$build/seeds/$name"
  echo "== $name: ${seconds}s"
  # shellcheck disable=SC2086
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
       -print_final_stats=1 -artifact_prefix="$corpus_root/$name-" \
       "$corpus_root/$name" $seeds 2>"$corpus_root/$name.log"; then
    echo "!! $name found a fault; see $corpus_root/$name.log"
    tail -n 40 "$corpus_root/$name.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|cov:' "$corpus_root/$name.log" | tail -n 2
  fi
done
exit $status
