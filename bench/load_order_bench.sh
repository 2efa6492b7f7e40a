#!/usr/bin/env bash
# Resolving a load order of ten archives of 100,000 entries each (1,000,000
# names; every later archive holds half of the base's names, half of those
# with other bytes, and 50,000 of its own): the core's resolution of the
# opened archives (load-order-bench, in one process, the opening apart),
# against `tarn overrides` of the same ten, given as a load-order file and
# as arguments; then the editor opening the file, reordering it, leaving
# an archive out and listing one's entries (bench/order_window_bench.cpp),
# and Find in Rules over it, with the shadowed copies and without
# (bench/rules_search_bench.cpp).
#
#   bench/load_order_bench.sh            uses build/ (builds what it needs)
#   TARN_BUILD_DIR=... TARN_BENCH_RUNS=10 bench/load_order_bench.sh
set -euo pipefail
TARN_ROOT=$(cd "$(dirname "$0")/.." && pwd)
source "$TARN_ROOT/bench/bench_common.sh"
tarn_install_packages "${TARN_BENCH_BUILD_PACKAGES[@]}"
tarn_install_packages hyperfine || { echo "load_order_bench.sh needs hyperfine" >&2; exit 1; }

runs=${TARN_BENCH_RUNS:-5}
bench_configure --bench
bench_build tarn make-bench-archive load-order-bench order_window_bench rules_search_bench

bench_scratch tarn-load-order-bench

echo "== generating archives in $work" >&2
"$bin/make-bench-archive" 100000 "$work/base.big" shuffled
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

base = read(work + '/base.big')
names = sorted(base)
order = ['base.big']
for k in range(1, 10):
    mod = {}
    for i, name in enumerate(names):
        if (i + k) % 2 == 0:
            mod[name] = base[name] if (i // 2 + k) % 2 == 0 else base[name] + b'mod'
    for serial in range(100000 - len(mod)):
        mod[b'Mods\\M%d\\entry_%06d.ini' % (k, serial)] = b'Object M%d_%d\nEnd\n' % (k, serial)
    write(work + '/mod%d.big' % k, mod)
    order.append('mod%d.big' % k)
open(work + '/game.order', 'w').write('# ten archives, the base first\n' + '\n'.join(order) + '\n')
EOF
mods=("$work/base.big")
for k in 1 2 3 4 5 6 7 8 9; do mods+=("$work/mod$k.big"); done
cmp <("$bin/tarn" overrides "@$work/game.order") <("$bin/tarn" overrides "${mods[@]}") ||
  { echo "tarn overrides of the order and of its archives disagree" >&2; exit 1; }
bench_warm "${mods[@]}"

echo "== the core's resolution of the opened archives"
"$bin/load-order-bench" --runs "$runs" "${mods[@]}"
echo "== tarn overrides: timing ($runs runs each)"
hyperfine -N --warmup 1 --runs "$runs" --output=null --export-json "$work/overrides.json" \
  "$bin/tarn overrides @$work/game.order" "$bin/tarn overrides ${mods[*]}" >&2
python3 - "$work/overrides.json" <<'EOF'
import json, sys
ordered, listed = json.load(open(sys.argv[1]))['results']
ms = lambda r: r['mean'] * 1000
print(f"tarn overrides @game.order  {ms(ordered):8.1f} ms")
print(f"tarn overrides ARCHIVE...   {ms(listed):8.1f} ms")
EOF
echo "== the editor: the load-order file opened, reordered and left out"
"$bin/order_window_bench" "$bin/tarn" "$work/game.order" "${mods[@]}" --runs "$runs"
echo "== Find in Rules over the order, and with its shadowed copies too"
"$bin/rules_search_bench" "$work/game.order" M3_4242 "$runs"
