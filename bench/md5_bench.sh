#!/usr/bin/env bash
# MD5 of a 64 MiB file as identification takes it, built natively (g++ -O2)
# from src/library/md5.cpp with bench/md5_bench.cpp, against md5sum: whole
# processes, alternating, files warm in the page cache; prints each pair and
# the median ratio of wall times and of CPU times. The native counterpart of
# identify_bench.sh, for machines where Wine cannot run the Windows programs.
#
#   bench/md5_bench.sh [RUNS]      (default 15)
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
OUT=${TELVAR_OUT:-$TOP/out}
RUNS=${1:-15}
work="$OUT/bench/md5"
mkdir -p "$work"
g++ -std=c++17 -O2 -pthread -I"$TOP/src" "$TOP/bench/md5_bench.cpp" "$TOP/src/library/md5.cpp" -o "$work/md5_bench"
[ -f "$work/boot.bin" ] || head -c $((64 * 1048576 - 1)) /dev/urandom > "$work/boot.bin"
cat "$work/boot.bin" > /dev/null
[ "$("$work/md5_bench" "$work/boot.bin" | cut -d' ' -f1)" = "$(md5sum "$work/boot.bin" | cut -d' ' -f1)" ] ||
  { echo "MD5 differs!"; exit 1; }

# Alternating whole processes; wall and CPU (user + system, from wait4) times.
python3 - "$RUNS" "$work/md5_bench" md5sum "$work/boot.bin" <<'PY'
import os, statistics, subprocess, sys, time
runs, ours, theirs, path = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
def measure(cmd):
    start = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    _, _, usage = os.wait4(p.pid, 0)
    return time.perf_counter() - start, usage.ru_utime + usage.ru_stime
wall, cpu = [], []
for i in range(runs):
    ow, oc = measure([ours, path])
    tw, tc = measure([theirs, path])
    wall.append(ow / tw)
    cpu.append(oc / tc)
    print(f"run {i + 1:2d}: ours {ow:.3f} s (CPU {oc:.3f})   md5sum {tw:.3f} s (CPU {tc:.3f})")
print(f"median ratio over {runs} runs: wall {statistics.median(wall):.2f}, CPU {statistics.median(cpu):.2f}")
PY
