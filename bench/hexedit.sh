#!/usr/bin/env bash
# Hex editor benchmark: opens 1 GB and 8 GB sparse files (and a 512 MB dense one), then searches for a pattern
# at the end and inserts one byte near the start. Okteta cannot be driven headless here, so the floors are
# `cp --sparse=always` (the copy any working-copy editor makes on open) and `grep -c -F` (search; it skips the holes of binary files).
# Ours and the floors run alternately in the same run; medians and ratios are printed.
#   bench/hexedit.sh            (ROUNDS=5 by default; BUILD=build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
rounds=${ROUNDS:-5}
cmake --build "$build" --target hexedit_bench >/dev/null
work=$(mktemp -d /dev/shm/hexbench.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work   # the working copy goes beside the data, on the same (memory) file system

make_file() {  # name size dense?
  local f=$work/$1
  if [ "$3" = dense ]; then
    head -c "$2" /dev/urandom | tr -d 'TN' > "$f"   # no accidental needle
  else
    truncate -s "$2" "$f"
    head -c 1M /dev/urandom | tr -d 'TN' | dd of="$f" conv=notrunc status=none
  fi
  local size; size=$(stat -c %s "$f")
  printf 'TARNWICK-NEEDLE' | dd of="$f" bs=1 seek=$((size - 100)) conv=notrunc status=none
  echo "$f"
}

python3 - "$build/bin/hexedit_bench" "$rounds" \
  "1G-sparse" "$(make_file sparse1g.bin 1G sparse)" \
  "8G-sparse" "$(make_file sparse8g.bin 8G sparse)" \
  "512M-dense" "$(make_file dense512m.bin 512M dense)" <<'PY'
import os, statistics, subprocess, sys, time
bench, rounds, args = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
cases = list(zip(args[0::2], args[1::2]))

def timed(cmd):
    t = time.perf_counter()
    subprocess.run(cmd, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return (time.perf_counter() - t) * 1000

print(f"{'file':<11} {'measure':<22} {'ours ms':>9} {'floor ms':>9} {'ratio':>7}")
for name, path in cases:
    ours = {"open": [], "search": [], "insert": [], "rss": []}
    cp, grep = [], []
    for _ in range(rounds):
        out = subprocess.run([bench, path, "TARNWICK-NEEDLE"], capture_output=True, text=True,
                             env=dict(os.environ, QT_QPA_PLATFORM="offscreen")).stdout
        vals = dict(kv.split("=") for kv in out.split())
        assert int(vals["found"]) == os.path.getsize(path) - 100, out
        ours["open"].append(float(vals["open_ms"]))
        ours["search"].append(float(vals["search_ms"]))
        ours["insert"].append(float(vals["insert_ms"]))
        ours["rss"].append(int(vals["rss_kb"]))
        copy = path + ".copy"
        cp.append(timed(["cp", "--sparse=always", path, copy]))
        os.unlink(copy)
        grep.append(timed(["grep", "-c", "-F", "TARNWICK-NEEDLE", path]))
    m = statistics.median
    print(f"{name:<11} {'open + first rows':<22} {m(ours['open']):>9.1f} {m(cp):>9.1f} {m(ours['open'])/m(cp):>7.2f}  (floor: cp --sparse)")
    print(f"{name:<11} {'search at end':<22} {m(ours['search']):>9.1f} {m(grep):>9.1f} {m(ours['search'])/m(grep):>7.2f}  (floor: grep -c; speed vs grep {m(grep)/m(ours['search']):.2f})")
    print(f"{name:<11} {'insert 1 byte at 100*':<22} {m(ours['insert']):>9.1f} {'-':>9} {'-':>7}")
    print(f"{name:<11} {'peak RSS MB':<22} {m(ours['rss'])/1024:>9.1f}")
print("* the first change of a large file also makes the working copy (holes stay holes)")
PY
