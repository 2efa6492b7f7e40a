#!/usr/bin/env bash
# `tarn extract` against `unzip -q -o` of a stored zip of the same files, and
# `tarn pack` against `zip -0 -q -r` of the same folder, each pair in the
# same run: on 10,000 files of the demo's sizes (a few MB in all), then on a
# few 50 MB files. Last, the peak memory of `tarn pack` of 1 GB of input.
#
# Creating 10,000 files costs the same for both tools and, on a busy disk,
# dwarfs everything else; run with TMPDIR=/dev/shm to compare the tools
# rather than the disk (the 1 GB step then needs about 2.5 GB of memory).
#
#   bench/extract_pack_bench.sh       uses build/ (builds what it needs)
#   TMPDIR=/dev/shm TARN_BUILD_DIR=... TARN_BENCH_RUNS=20 TARN_BENCH_LARGE_FILES=4 bench/extract_pack_bench.sh
#   TARN_BENCH_SMALL_FILES=256 ... (how many small files; 10,000 by default)
set -euo pipefail
TARN_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TARN_ROOT/bench/bench_common.sh"
tarn_install_packages cmake ninja-build g++ python3 zip unzip time hyperfine

runs=${TARN_BENCH_RUNS:-10}
small_files=${TARN_BENCH_SMALL_FILES:-10000}
large=${TARN_BENCH_LARGE_FILES:-4}

bench_configure
bench_build tarn

bench_scratch tarn-bench
cd "$work"

# 10,000 files in nested folders, sizes drawn like the demo archive's
# entries (mostly a few hundred bytes to a few KB of rules text, some
# larger ones), from a fixed seed so every run packs the same bytes.
python3 - small "$small_files" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(10)
folders = ['Data/INI/Object/%s' % s for s in ('Infantry', 'Vehicles', 'Aircraft', 'Structures')] + \
          ['Data/INI', 'Data/Scripts', 'Art/Textures', 'Art/W3D', 'Maps/M%02d' % 1, 'Audio/Speech']
for i in range(int(sys.argv[2])):
    folder = os.path.join(root, rng.choice(folders), 'G%02d' % (i % 37))
    os.makedirs(folder, exist_ok=True)
    size = int(rng.lognormvariate(6.5, 1.0)) if rng.random() < 0.99 else rng.randrange(4000, 20000)
    with open(os.path.join(folder, 'entry%05d.ini' % i), 'wb') as f:
        f.write(rng.randbytes(size))
PY
mkdir -p large
for i in $(seq 1 "$large"); do head -c $((50 << 20)) /dev/urandom > "large/part$i.bin"; done

# One pair: tarn against zip's tools on the folder `tree`.
compare() {
  local tree=$1
  echo "== $tree: $(find "$tree" -type f | wc -l) files, $(du -sh --apparent-size "$tree" | cut -f1)"
  "$bin/tarn" pack "$tree.big" "$tree"
  rm -f "$tree.zip" && zip -0 -q -r "$tree.zip" "$tree"
  # Both give back the same files.
  rm -rf x y && "$bin/tarn" extract "$tree.big" x && unzip -q -o "$tree.zip" -d y && diff -r x "y/$tree" >/dev/null
  cat "$tree.big" "$tree.zip" >/dev/null
  hyperfine -N --warmup 2 --runs "$runs" --style basic --export-json "extract-$tree.json" \
    --prepare "rm -rf $work/x" "$bin/tarn extract $tree.big x" "unzip -q -o $tree.zip -d x" | grep -E "Time|±" || true
  hyperfine -N --warmup 2 --runs "$runs" --style basic --export-json "pack-$tree.json" \
    --prepare "rm -f $work/out.zip $work/out.big" "$bin/tarn pack out.big $tree" "zip -0 -q -r out.zip $tree" | grep -E "Time|±" || true
  python3 - "extract-$tree.json" "pack-$tree.json" <<'PY'
import json, sys
for path, what, other in ((sys.argv[1], 'extract', 'unzip -q -o'), (sys.argv[2], 'pack', 'zip -0 -q -r')):
    runs = json.load(open(path))['results']
    tarn, theirs = runs[0]['median'], runs[1]['median']
    # On a shared machine the wall time includes waiting for a core; the
    # processor time (user + system) of each tool is the steadier figure.
    cpu = [r['user'] + r['system'] for r in runs]
    print('%-8s tarn %8.1f ms   %-12s %8.1f ms   ratio %.2fx   (processor time %.0f ms against %.0f ms: %.2fx)'
          % (what, tarn * 1e3, other, theirs * 1e3, theirs / tarn, cpu[0] * 1e3, cpu[1] * 1e3, cpu[1] / cpu[0]))
PY
}
compare small
compare large

# Peak memory of packing 1 GB: twenty 50 MB files (hard links of the ones
# above, so no more disk is used than the timing run needed).
mkdir -p gigabyte
for i in $(seq 1 20); do ln "large/part$(( (i - 1) % large + 1 )).bin" "gigabyte/part$i.bin"; done
/usr/bin/time -f "%M" -o peak.txt "$bin/tarn" pack gigabyte.big gigabyte
echo "== pack of $(du -shl --apparent-size gigabyte | cut -f1) input: peak memory $(( $(cat peak.txt) / 1024 )) MB (aim: below 50 MB)"
# And of repacking that archive as an input (bytes from a mapping).
/usr/bin/time -f "%M" -o peak.txt "$bin/tarn" pack again.big gigabyte.big
echo "== pack of a 1 GB archive input: peak memory $(( $(cat peak.txt) / 1024 )) MB"
rm -f again.big
/usr/bin/time -f "%M" -o peak.txt "$bin/tarn" extract gigabyte.big out-gb
echo "== extract of a 1 GB archive: peak memory $(( $(cat peak.txt) / 1024 )) MB"
