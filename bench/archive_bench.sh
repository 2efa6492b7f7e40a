#!/usr/bin/env bash
# `tarn list` of a generated 200,000-entry BIG archive, records in shuffled
# order, timed in one hyperfine run beside list-floor (a plain loop that
# prints the same lines in file order, without sorting: the floor) and
# `unzip -Z1` of a stored zip holding the same names and bytes; then the
# instructions per entry of `tarn list` (callgrind, whole process, 200,000
# against 10,000 entries), on these names and on names filed under a few
# long folder prefixes as real archives are, page faults of both listings, and the peak memory
# of `tarn list` at 1,000,000 entries next to that archive's index region.
#
#   bench/archive_bench.sh            uses build/ (builds what it needs)
#   TARN_BUILD_DIR=... TARN_BENCH_RUNS=30 bench/archive_bench.sh
set -euo pipefail
TARN_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TARN_ROOT/bench/bench_common.sh"
tarn_install_packages "${TARN_BENCH_BUILD_PACKAGES[@]}" unzip valgrind time
tarn_install_packages hyperfine || echo "hyperfine not available: timing with a shell loop" >&2

count=${TARN_BENCH_ENTRIES:-200000}
small=10000
runs=${TARN_BENCH_RUNS:-20}

bench_configure --bench
bench_build tarn make-bench-archive list-floor

bench_scratch tarn-bench
big=$work/entries-$count.big
zip=$work/entries-$count.zip
little=$work/entries-$small.big
million=$work/entries-1000000.big

echo "== generating $count and $small entries in $work" >&2
# Shuffled: an archive already in name order skips the sort.
"$bin/make-bench-archive" "$count" "$big" shuffled
"$bin/make-bench-archive" "$small" "$little" shuffled
"$bin/make-bench-archive" 1000000 "$million" shuffled
"$bin/make-bench-archive" "$count" "$work/prefixed-$count.big" shuffled prefixed
"$bin/make-bench-archive" "$small" "$work/prefixed-$small.big" shuffled prefixed
# The zip holds exactly the archive's names and bytes, stored, in index order.
python3 - "$big" "$zip" <<'EOF'
import struct, sys, zipfile
source, target = sys.argv[1], sys.argv[2]
data = open(source, 'rb').read()
count = struct.unpack('>I', data[8:12])[0]
at = 16
with zipfile.ZipFile(target, 'w', zipfile.ZIP_STORED) as z:
    for _ in range(count):
        offset, size = struct.unpack('>II', data[at:at + 8])
        end = data.index(b'\0', at + 8)
        info = zipfile.ZipInfo(data[at + 8:end].decode('ascii'), date_time=(2024, 1, 1, 0, 0, 0))
        z.writestr(info, data[offset:offset + size])
        at = end + 1
EOF

# Both list the same names (tarn prints OFFSET, SIZE, NAME; unzip the name).
if ! cmp -s <("$bin/tarn" list "$big" | cut -f3) <(unzip -Z1 "$zip" | LC_ALL=C sort); then
  echo "tarn list and unzip -Z1 disagree on the names" >&2
  exit 1
fi
# The floor prints the same lines, in file order and with repeats.
if ! cmp -s <("$bin/tarn" list "$big" | LC_ALL=C sort) <("$bin/list-floor" "$big" | LC_ALL=C sort); then
  echo "tarn list and list-floor disagree on the lines" >&2
  exit 1
fi
bench_warm "$big" "$zip" "$little" "$million"

echo "== timing ($runs runs each)"
if command -v hyperfine >/dev/null; then
  hyperfine -N --warmup 3 --runs "$runs" --output=null --export-json "$work/times.json" \
    "$bin/tarn list $big" "$bin/list-floor $big" "unzip -Z1 $zip" >&2
  python3 - "$work/times.json" <<'EOF'
import json, sys
results = json.load(open(sys.argv[1]))['results']
tarn, floor, unzip = results
def line(name, r):
    print(f"{name:14} wall {r['mean'] * 1000:7.1f} ms (min {r['min'] * 1000:6.1f})"
          f"   cpu {(r['user'] + r['system']) * 1000:7.1f} ms (user {r['user'] * 1000:.1f}, sys {r['system'] * 1000:.1f})")
line('tarn list', tarn)
line('list-floor', floor)
line('unzip -Z1', unzip)
print(f"ratio tarn/floor: wall mean {tarn['mean'] / floor['mean']:.2f}x, wall min {tarn['min'] / floor['min']:.2f}x"
      f" (target 1.5x or less)")
print(f"ratio unzip/tarn: wall mean {unzip['mean'] / tarn['mean']:.2f}x, wall min {unzip['min'] / tarn['min']:.2f}x,"
      f" cpu {(unzip['user'] + unzip['system']) / (tarn['user'] + tarn['system']):.2f}x")
EOF
else
  time_ms() {  # best of $runs, in milliseconds
    local best=
    for _ in $(seq "$runs"); do
      local start=$(date +%s%N)
      "$@" >/dev/null
      local took=$((($(date +%s%N) - start) / 1000))
      if [ -z "$best" ] || [ "$took" -lt "$best" ]; then best=$took; fi
    done
    echo "$best"
  }
  t=$(time_ms "$bin/tarn" list "$big")
  u=$(time_ms unzip -Z1 "$zip")
  python3 -c "print(f'tarn list best {$t/1000:.1f} ms, unzip -Z1 best {$u/1000:.1f} ms, ratio {$u/$t:.2f}x')"
fi

echo "== instructions (callgrind, whole process)"
instructions() {
  valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$bin/tarn" list "$1" >/dev/null 2>"$work/valgrind.log"
  sed -n 's/^summary: \([0-9]*\).*/\1/p' "$work/callgrind.out"
}
per_entry() {  # LABEL BIG SMALL
  local i_big i_small
  i_big=$(instructions "$2")
  i_small=$(instructions "$3")
  python3 -c "
big, small = $i_big, $i_small
print(f'$1: {$count} entries: {big:,} instructions; {$small} entries: {small:,}')
print(f'$1: per entry: {(big - small) / ($count - $small):.0f} instructions (target 500 or fewer)')"
}
per_entry 'spread names' "$big" "$little"
per_entry 'long prefixes' "$work/prefixed-$count.big" "$work/prefixed-$small.big"

echo "== page faults ($count entries)"
faults() {
  /usr/bin/time -v "$@" 2>"$work/time.log" >/dev/null
  sed -n 's/.*Minor (reclaiming a frame) page faults: //p' "$work/time.log"
}
echo "tarn list: $(faults "$bin/tarn" list "$big"); list-floor: $(faults "$bin/list-floor" "$big")"

echo "== memory (1,000,000 entries)"
/usr/bin/time -v "$bin/tarn" list "$million" 2>"$work/time.log" >/dev/null
rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.log")
python3 - "$million" "$rss" <<'EOF'
import os, struct, sys
path, rss = sys.argv[1], int(sys.argv[2])
with open(path, 'rb') as f:
    header = f.read(16)
index = struct.unpack('>I', header[12:16])[0] - 16
print(f"peak RSS of tarn list: {rss / 1024:.1f} MiB; index region: {index / 1048576:.1f} MiB"
      f" ({rss * 1024 / index:.2f}x, target 2x or less); archive: {os.path.getsize(path) / 1048576:.1f} MiB")
EOF
