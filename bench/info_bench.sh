#!/usr/bin/env bash
# tarn info against tarn list of the same 200,000-entry archive (the
# benchmark archive's mix of rules texts, textures, sounds and other
# bytes): deciding every entry's kind reads only its headers, and should
# cost at most half again what listing the index does. Then the
# instructions of each (callgrind, whole process), which repeat from run
# to run where wall times do not.
#
#   bench/info_bench.sh            uses build/ (builds what it needs)
#   TARN_BUILD_DIR=... TARN_BENCH_RUNS=30 bench/info_bench.sh
set -euo pipefail
TARN_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TARN_ROOT/bench/bench_common.sh"
tarn_install_packages "${TARN_BENCH_BUILD_PACKAGES[@]}" valgrind
tarn_install_packages hyperfine || { echo "info_bench.sh needs hyperfine" >&2; exit 1; }

runs=${TARN_BENCH_RUNS:-10}
bench_configure --bench
bench_build tarn make-bench-archive

bench_scratch tarn-info-bench
"$bin/make-bench-archive" 200000 "$work/a.big" shuffled
bench_warm "$work/a.big"
"$bin/tarn" info "$work/a.big" | cut -f2 | sort | uniq -c >&2

echo "== timing ($runs runs each)"
hyperfine -N --warmup 2 --runs "$runs" --output=null --export-json "$work/info.json" \
  "$bin/tarn info $work/a.big" "$bin/tarn list $work/a.big" >&2
# Medians: on a machine whose memory the host takes back, a run now and
# then waits tens of milliseconds for fresh pages, which swings a mean.
python3 - "$work/info.json" <<'PY'
import json, sys
info, listing = json.load(open(sys.argv[1]))['results']
for label, r in (("tarn info", info), ("tarn list", listing)):
    print(f"{label}  median {r['median'] * 1000:8.1f} ms  mean {r['mean'] * 1000:8.1f} ms")
print(f"info / list: median {info['median'] / listing['median']:.2f},"
      f" mean {info['mean'] / listing['mean']:.2f} (goal <= 1.5)")
PY

echo "== instructions (callgrind, whole process)"
i=$(bench_instructions "$bin/tarn" info "$work/a.big")
l=$(bench_instructions "$bin/tarn" list "$work/a.big")
python3 -c "print(f'tarn info {$i:>14,} instructions; tarn list {$l:>14,}; ratio {$i / $l:.2f}')"
