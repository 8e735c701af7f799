#!/bin/sh
# A collection of 1,000 generated 1.25M images (raw dumps, read by the TFD
# reader) in 20 folders, converted to FDD by one `dravik-cli -r -j 2` call
# and by 20 calls of one folder each (the baselines, with -j 1 and -j 2);
# all must write the same files. Prints the wall times and their ratios.
# usage: bench/collection.sh [PROGRAM_FOLDER]   (default build/bin)
set -eu
bin=$(cd "${1:-build/bin}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/coll" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20)
for f in range(20):
    folder = os.path.join(root, "set%02d" % f)
    os.makedirs(folder)
    for i in range(50):
        # Each image its own: a seed block repeated, as sectors of a used disk.
        block = rng.randbytes(4096)
        with open(os.path.join(folder, "G%03d.HDM" % i), "wb") as out:
            out.write(block * (1261568 // 4096))
PY

now() { date +%s.%N; }
t0=$(now)
"$bin/dravik-cli" -q -r -j 2 -o "$work/one" -t FDD "$work/coll"
t1=$(now)
for folder in "$work"/coll/set*; do
  name=$(basename "$folder")
  mkdir -p "$work/each/$name"
  "$bin/dravik-cli" -q -o "$work/each/$name" -t FDD "$folder"/*.HDM
done
t2=$(now)
for folder in "$work"/coll/set*; do
  name=$(basename "$folder")
  mkdir -p "$work/each2/$name"
  "$bin/dravik-cli" -q -j 2 -o "$work/each2/$name" -t FDD "$folder"/*.HDM
done
t3=$(now)
diff -r "$work/one" "$work/each" >/dev/null
diff -r "$work/one" "$work/each2" >/dev/null
count=$(find "$work/one" -name '*.FDD' | wc -l)
echo "outputs: $count in each tree, identical"
python3 -c "
a, b, c = $t1 - $t0, $t2 - $t1, $t3 - $t2
print('one call, -r -j 2 : %.2f s' % a)
print('20 calls, -j 1    : %.2f s  (%.2f x the one call)' % (b, b / a))
print('20 calls, -j 2    : %.2f s  (%.2f x the one call)' % (c, c / a))"
