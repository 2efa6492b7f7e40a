#!/usr/bin/env bash
# tarn info against tarn list of the same 200,000-entry archive: deciding
# every entry's kind reads only its headers, and should cost at most half
# again what listing the index does. Two archives of the same names: one
# of random bytes whatever the names say (every texture and sound is then
# damaged, and says why at length), and one whose textures and sounds are
# small real ones, as an archive a game reads holds. Then the
# instructions of each (callgrind, whole process), which repeat from run
# to run where wall times do not.
#
#   bench/info_bench.sh            uses build/ (builds what it needs)
#   TARN_BUILD_DIR=... TARN_BENCH_RUNS=30 bench/info_bench.sh
set -euo pipefail
TARN_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TARN_ROOT/bench/bench_common.sh"
tarn_install_packages "${TARN_BENCH_BUILD_PACKAGES[@]}" valgrind

runs=${TARN_BENCH_RUNS:-10}
bench_configure --bench
bench_build tarn make-bench-archive

bench_scratch tarn-info-bench

# One archive, made, timed and counted.
measure() {  # MIX: random or media
  local archive="$work/$1.big"
  echo "== the archive of $1 entries"
  "$bin/make-bench-archive" 200000 "$archive" shuffled $([ "$1" = media ] && echo media)
  bench_warm "$archive"
  "$bin/tarn" info "$archive" | cut -f2 | sort | uniq -c >&2

  echo "== timing ($runs runs each, taking turns)"
  # Run after run in turn rather than all of one and then the other: this
  # machine's memory is now and then taken back by the host for seconds on
  # end, which in blocks of runs lands on one command alone. Before each run
  # the processor's caches are filled with other bytes, so that neither
  # starts with what the run before left there: tarn list run after itself
  # finds its index still cached, and tarn info run after tarn list finds
  # it too. Medians: a run now and then waits tens of milliseconds for fresh
  # pages, which swings a mean.
  python3 - "$bin/tarn" "$archive" "$runs" <<'PY'
import statistics, subprocess, sys, time
tarn, archive, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
other = bytearray(96 << 20)  # more than the caches hold

def timed(command):
    other[::64] = b"\1" * (len(other) // 64)
    start = time.perf_counter()
    subprocess.run([tarn, command, archive], stdout=subprocess.DEVNULL, check=True)
    return (time.perf_counter() - start) * 1000

times = {"info": [], "list": []}
for command in times:
    timed(command)
for _ in range(runs):
    for command in times:
        times[command].append(timed(command))
for command, t in times.items():
    print(f"tarn {command}  median {statistics.median(t):8.1f} ms  mean {statistics.mean(t):8.1f} ms"
          f"  best {min(t):8.1f} ms")
info, listing = times["info"], times["list"]
print(f"info / list: median {statistics.median(info) / statistics.median(listing):.2f},"
      f" mean {statistics.mean(info) / statistics.mean(listing):.2f},"
      f" best {min(info) / min(listing):.2f} (goal <= 1.5)")
PY

  echo "== instructions (callgrind, whole process)"
  i=$(bench_instructions "$bin/tarn" info "$archive")
  l=$(bench_instructions "$bin/tarn" list "$archive")
  python3 -c "print(f'tarn info {$i:>14,} instructions; tarn list {$l:>14,}; ratio {$i / $l:.2f}')"
}

measure random
measure media
