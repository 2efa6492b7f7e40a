#!/usr/bin/env bash
# The references index, `tarn lint` and `tarn refs` against `tarn grep` of a
# pattern found in every entry (so every entry is parsed), on 2,000 rules
# texts of 20 KB (40 MB): the grep bench's archive, where every entry
# defines blocks of the same names (thousands of duplicates), and one whose
# blocks are named once and referenced from other entries. In one process
# (refs-bench, no process start), then as programs, taking turns run after
# run; the best and median of each against grep's.
#
#   bench/refs_bench.sh               uses build/ (builds what it needs)
#   TARN_BUILD_DIR=... TARN_BENCH_RUNS=30 bench/refs_bench.sh
set -euo pipefail
TARN_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TARN_ROOT/bench/bench_common.sh"
tarn_install_packages "${TARN_BENCH_BUILD_PACKAGES[@]}" "${TARN_BENCH_PACKAGES[@]}"

runs=${TARN_BENCH_RUNS:-20}
bench_configure --bench
bench_build tarn make-bench-archive refs-bench

bench_scratch tarn-refs-bench
common=TurnRate  # a key in every entry

for kind in rules references; do
  archive=$work/$kind-2000.big
  "$bin/make-bench-archive" 2000 "$archive" "$kind"
  bench_warm "$archive"
  name=$([ "$kind" = rules ] && echo Unit_5 || echo U17_3)
  lint_lines=$("$bin/tarn" lint "$archive" | wc -l || true)
  refs_lines=$("$bin/tarn" refs "$name" "$archive" | wc -l || true)
  echo "== $kind: $(stat -c %s "$archive") bytes; lint: $lint_lines lines; refs $name: $refs_lines lines"
  echo "-- in one process, $runs runs each"
  "$bin/refs-bench" "$archive" "$common" "$name" "$runs"
  echo "-- as programs, $runs runs each"
  python3 - "$bin/tarn" "$archive" "$runs" "$common" "$name" <<'PY'
import statistics, subprocess, sys, time
tarn, archive, runs, common, name = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]

def timed(args):
    start = time.perf_counter()
    subprocess.run(args, stdout=subprocess.DEVNULL, check=False)
    return (time.perf_counter() - start) * 1000

cases = [("tarn grep", [tarn, "grep", common, archive], 0),
         ("tarn lint", [tarn, "lint", archive], 1.5),
         ("tarn refs", [tarn, "refs", name, archive], 1.0)]
times = {label: [] for label, _, _ in cases}
for label, args, _ in cases:
    timed(args)
for _ in range(runs):
    for label, args, _ in cases:
        times[label].append(timed(args))
g = times["tarn grep"]
for label, _, target in cases:
    t = times[label]
    line = f"{label:10} best {min(t):7.1f} ms median {statistics.median(t):7.1f} ms"
    if target:
        line += (f" | against grep: best {min(t) / min(g):.2f}x,"
                 f" median {statistics.median(t) / statistics.median(g):.2f}x (target {target}x or less)")
    print(line)
PY
done

# Archives shaped against the index, each a few MB to some tens: every row
# a key of its own (a million, about as many as the index numbers before it
# refuses an archive), 200,000 keys alike in their first and last eight
# bytes, and one row naming 200,000 blocks. Their times should stay in
# proportion to their bytes, as the others' do: each of these once cost
# the square of its count, seconds to minutes.
echo "== hostile shapes (3 runs each)"
python3 - "$work/hostile" <<'PY'
import os, sys
root = sys.argv[1]
def write(shape, name, text):
    os.makedirs(f"{root}/{shape}", exist_ok=True)
    with open(f"{root}/{shape}/{name}", "w") as f:
        f.write(text)
n = 0
for e in range(100):
    rows = []
    for _ in range(10000):
        rows.append(f"  K{n} = 1\n")
        n += 1
    write("distinct-keys", f"e{e:03d}.ini", f"Object O{e}\n" + "".join(rows) + "End\n")
for e in range(10):
    rows = "".join(f"  KEYPREFI{e * 20000 + i:08d}XSUFFIXY = 1\n" for i in range(20000))
    write("alike-keys", f"e{e}.ini", f"Object O{e}\n{rows}End\n")
write("wide-row", "defs.ini", "".join(f"Object N{i}\nEnd\n" for i in range(200000)))
write("wide-row", "use.ini", "Object User\n  Armor = " + " ".join(f"N{i}" for i in range(200000)) + "\nEnd\n")
PY
for shape in distinct-keys alike-keys wide-row; do
  archive=$work/$shape.big
  "$bin/tarn" pack "$archive" "$work/hostile/$shape" >/dev/null
  echo "-- $shape: $(stat -c %s "$archive") bytes"
  # Only the times: grep finds nothing here, so a ratio to it says nothing.
  "$bin/refs-bench" "$archive" N5 N5 3 | grep -E '^(index|tarn lint) ' | sed 's/ |.*//'
done
