#!/usr/bin/env bash
# tarn diff and tarn overrides, each timed in one hyperfine run beside what
# it is measured against:
#
#   diff       two 200,000-entry archives differing in 1 % of their entries
#              (a third of those changed, a third removed, a third added),
#              against `tarn list` of each of the two, and against
#              `diff -rq` over the two trees extracted to /dev/shm;
#   overrides  ten archives of 20,000 entries each, every later one holding
#              a third of the base's names (half of them with other bytes),
#              against `tarn list` of each of the ten.
#
# Then the instructions of each (callgrind, whole process), which repeat
# from run to run where wall times do not.
#
#   bench/compare_bench.sh            uses build/ (builds what it needs)
#   TARN_BUILD_DIR=... TARN_BENCH_RUNS=30 bench/compare_bench.sh
set -euo pipefail
TARN_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TARN_ROOT/bench/bench_common.sh"
tarn_install_packages "${TARN_BENCH_BUILD_PACKAGES[@]}" diffutils valgrind
tarn_install_packages hyperfine || { echo "compare_bench.sh needs hyperfine" >&2; exit 1; }

runs=${TARN_BENCH_RUNS:-10}
bench_configure --bench
bench_build tarn make-bench-archive

bench_scratch tarn-compare-bench --shm

echo "== generating archives in $work" >&2
"$bin/make-bench-archive" 200000 "$work/old.big" shuffled
"$bin/make-bench-archive" 20000 "$work/base.big" shuffled
python3 - "$work" <<'EOF'
import struct, sys
work = sys.argv[1]

def read(path):
    data = open(path, 'rb').read()
    count = struct.unpack('>I', data[8:12])[0]
    at, entries = 16, {}
    for _ in range(count):
        offset, size = struct.unpack('>II', data[at:at + 8])
        end = data.index(b'\0', at + 8)
        entries[data[at + 8:end]] = data[offset:offset + size]
        at = end + 1
    return entries

def write(path, entries):
    names = sorted(entries)
    header = 16 + sum(8 + len(n) + 1 for n in names)
    index, offset = [], header
    for n in names:
        index.append(struct.pack('>II', offset, len(entries[n])) + n + b'\0')
        offset += len(entries[n])
    with open(path, 'wb') as f:
        f.write(b'BIGF' + struct.pack('<I', offset) + struct.pack('>II', len(names), header))
        f.write(b''.join(index))
        f.write(b''.join(entries[n] for n in names))

old = read(work + '/old.big')
new = dict(old)
for i, name in enumerate(sorted(old)):
    if i % 100 != 0:
        continue
    kind = (i // 100) % 3
    if kind == 0:
        new[name] = old[name] + b'changed'
    elif kind == 1:
        del new[name]
    else:
        new[name + b'.added'] = b'added'
write(work + '/new.big', new)

base = read(work + '/base.big')
names = sorted(base)
for k in range(1, 10):
    mod = {}
    for i, name in enumerate(names):
        if (i + k) % 3 == 0:
            mod[name] = base[name] if (i // 3) % 2 == 0 else base[name] + b'mod'
    serial = 0
    while len(mod) < 20000:
        mod[b'Mods\\M%d\\entry_%06d.ini' % (k, serial)] = b'Object M%d_%d\nEnd\n' % (k, serial)
        serial += 1
    write(work + '/mod%d.big' % k, mod)
EOF
mods=("$work/base.big")
for k in 1 2 3 4 5 6 7 8 9; do mods+=("$work/mod$k.big"); done

"$bin/tarn" extract "$work/old.big" "$shm/old"
"$bin/tarn" extract "$work/new.big" "$shm/new"
# The same answer from both: the names diff -rq reports are the entries
# tarn diff --brief lists.
# (Both exit 1 when something differs.)
lines=$({ "$bin/tarn" diff --brief "$work/old.big" "$work/new.big" || true; } | wc -l)
peer=$({ diff -rq "$shm/old" "$shm/new" || true; } | wc -l)
echo "tarn diff: $lines entries differ; diff -rq: $peer lines" >&2
[ "$lines" -eq "$peer" ] || { echo "tarn diff and diff -rq disagree" >&2; exit 1; }
bench_warm "$work"/*.big "$shm"

echo "== diff: timing ($runs runs each)"
hyperfine -N -i --warmup 2 --runs "$runs" --output=null --export-json "$work/diff.json" \
  "$bin/tarn diff $work/old.big $work/new.big" \
  "$bin/tarn list $work/old.big" "$bin/tarn list $work/new.big" \
  "diff -rq $shm/old $shm/new" >&2
echo "== overrides: timing ($runs runs each)"
list_commands=()
for archive in "${mods[@]}"; do list_commands+=("$bin/tarn list $archive"); done
hyperfine -N --warmup 2 --runs "$runs" --output=null --export-json "$work/overrides.json" \
  "$bin/tarn overrides ${mods[*]}" "${list_commands[@]}" >&2

python3 - "$work/diff.json" "$work/overrides.json" <<'EOF'
import json, sys
diff = json.load(open(sys.argv[1]))['results']
over = json.load(open(sys.argv[2]))['results']
ms = lambda r: r['mean'] * 1000
tarn_diff, list_old, list_new, peer = diff
both = ms(list_old) + ms(list_new)
print(f"tarn diff               {ms(tarn_diff):8.1f} ms")
print(f"tarn list of both       {both:8.1f} ms  -> diff / list = {ms(tarn_diff) / both:.2f} (goal <= 2)")
print(f"diff -rq on /dev/shm    {ms(peer):8.1f} ms  -> diff -rq / tarn diff = {ms(peer) / ms(tarn_diff):.1f}x (aim >= 5)")
overrides, lists = over[0], over[1:]
all_lists = sum(ms(r) for r in lists)
print(f"tarn overrides of ten   {ms(overrides):8.1f} ms")
print(f"tarn list of all ten    {all_lists:8.1f} ms  -> overrides / list = {ms(overrides) / all_lists:.2f} (goal <= 1.5)")
EOF

echo "== instructions (callgrind, whole process)"
d=$(bench_instructions "$bin/tarn" diff "$work/old.big" "$work/new.big")
l1=$(bench_instructions "$bin/tarn" list "$work/old.big")
l2=$(bench_instructions "$bin/tarn" list "$work/new.big")
o=$(bench_instructions "$bin/tarn" overrides "${mods[@]}")
lo=0
for archive in "${mods[@]}"; do lo=$((lo + $(bench_instructions "$bin/tarn" list "$archive"))); done
python3 -c "
d, l, o, lo = $d, $l1 + $l2, $o, $lo
print(f'tarn diff       {d:>14,} instructions; tarn list of both {l:>14,}; ratio {d / l:.2f}')
print(f'tarn overrides  {o:>14,} instructions; tarn list of ten  {lo:>14,}; ratio {o / lo:.2f}')
"
