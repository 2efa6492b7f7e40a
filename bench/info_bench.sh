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
source "$TARN_ROOT/scripts/deps.sh"
tarn_install_packages cmake ninja-build g++ libbenchmark-dev libinih-dev libgtest-dev python3 valgrind
tarn_install_packages hyperfine || { echo "info_bench.sh needs hyperfine" >&2; exit 1; }

build=${TARN_BUILD_DIR:-$TARN_ROOT/build}
bin=$build/bin
runs=${TARN_BENCH_RUNS:-10}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$TARN_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target tarn make-bench-archive >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/tarn-info-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$bin/make-bench-archive" 200000 "$work/a.big" shuffled
cat "$work/a.big" >/dev/null  # warm the page cache
"$bin/tarn" info "$work/a.big" | cut -f2 | sort | uniq -c >&2

echo "== timing ($runs runs each)"
hyperfine -N --warmup 2 --runs "$runs" --output=null --export-json "$work/info.json" \
  "$bin/tarn info $work/a.big" "$bin/tarn list $work/a.big" >&2
python3 - "$work/info.json" <<'PY'
import json, sys
info, listing = (r['mean'] * 1000 for r in json.load(open(sys.argv[1]))['results'])
print(f"tarn info  {info:8.1f} ms")
print(f"tarn list  {listing:8.1f} ms  -> info / list = {info / listing:.2f} (goal <= 1.5)")
PY

echo "== instructions (callgrind, whole process)"
count() {
  { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null || true; } |
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}
i=$(count "$bin/tarn" info "$work/a.big")
l=$(count "$bin/tarn" list "$work/a.big")
python3 -c "print(f'tarn info {$i:>14,} instructions; tarn list {$l:>14,}; ratio {$i / $l:.2f}')"
