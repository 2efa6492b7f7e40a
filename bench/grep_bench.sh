#!/usr/bin/env bash
# `tarn grep` against `rg -F` (ripgrep, with its defaults: every core) on
# the same rules texts: an archive of 2,000 generated entries of 20 KB
# (40 MB), and the same entries extracted to /dev/shm. Three searches: a
# pattern found in few entries (most are never parsed), one found in every
# entry (every entry parsed), and that one with -i. The two programs take
# turns, run after run, so both meet the same machine; the best and the
# median of each are compared. Then Find in Rules against `tarn grep` on the
# 200,000-entry bench archive, when the editor is built.
#
#   bench/grep_bench.sh               uses build/ (builds what it needs)
#   TARN_BUILD_DIR=... TARN_BENCH_RUNS=30 bench/grep_bench.sh
set -euo pipefail
TARN_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TARN_ROOT/bench/bench_common.sh"
tarn_install_packages "${TARN_BENCH_BUILD_PACKAGES[@]}" "${TARN_BENCH_PACKAGES[@]}"

runs=${TARN_BENCH_RUNS:-20}
bench_configure --bench
targets=(tarn make-bench-archive)
ninja -C "$build" -t targets all 2>/dev/null | grep -q '^rules_search_bench:' && targets+=(rules_search_bench)
bench_build "${targets[@]}"

bench_scratch tarn-grep-bench --shm
archive=$work/rules-2000.big
"$bin/make-bench-archive" 2000 "$archive" rules
"$bin/tarn" extract "$archive" "$shm/entries"
rare=Unit_40    # a block name in a few dozen entries
common=TurnRate  # a key in every entry

# Both find the pattern in the same entries.
for pattern in "$rare" "$common"; do
  ours=$("$bin/tarn" grep "$pattern" "$archive" | cut -f1 | uniq | tr '\\' '/')
  theirs=$(cd "$shm/entries" && rg -F -l "$pattern" . | sed 's|^\./||' | LC_ALL=C sort)
  if [ "$ours" != "$theirs" ]; then
    echo "tarn grep and rg -F disagree on the entries holding $pattern" >&2
    exit 1
  fi
  echo "$pattern: in $(wc -l <<<"$ours") of 2000 entries, $("$bin/tarn" grep "$pattern" "$archive" | wc -l) rows"
done
bench_warm "$archive" "$shm/entries"

echo "== timing: best and median of $runs runs each, taking turns"
python3 - "$bin/tarn" "$archive" "$shm/entries" "$runs" "$rare" "$common" <<'PY'
import statistics, subprocess, sys, time
tarn, archive, folder, runs, rare, common = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5], sys.argv[6]

def timed(args, cwd=None):
    start = time.perf_counter()
    subprocess.run(args, cwd=cwd, stdout=subprocess.DEVNULL, check=False)
    return (time.perf_counter() - start) * 1000

cases = [
    ("found in few entries", [tarn, "grep", rare, archive], ["rg", "-F", rare, "."], 1.0),
    ("found in every entry", [tarn, "grep", common, archive], ["rg", "-F", common, "."], 0.7),
    ("found in every entry, -i", [tarn, "grep", "-i", common.lower(), archive], ["rg", "-F", "-i", common.lower(), "."], 0.7),
]
for name, ours, theirs, target in cases:
    timed(ours); timed(theirs, folder)
    t, r = [], []
    for _ in range(runs):
        t.append(timed(ours))
        r.append(timed(theirs, folder))
    best = min(r) / min(t)
    median = statistics.median(r) / statistics.median(t)
    print(f"{name:26} tarn grep best {min(t):6.1f} ms median {statistics.median(t):6.1f} ms"
          f" | rg -F best {min(r):6.1f} ms median {statistics.median(r):6.1f} ms"
          f" | speed vs rg: best {best:.2f}x, median {median:.2f}x (target {target}x or more)")
PY

if [ -x "$bin/rules_search_bench" ]; then
  echo "== Find in Rules against tarn grep -i, 200,000 entries"
  big=$work/entries-200000.big
  "$bin/make-bench-archive" 200000 "$big" shuffled
  bench_warm "$big"
  # Random payloads: a three-letter text turns up in a handful of entries.
  "$bin/rules_search_bench" "$big" ZQX "$runs" 2>/dev/null
fi
