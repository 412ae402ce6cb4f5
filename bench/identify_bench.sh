#!/usr/bin/env bash
# Identification speed: `telvar-cli identify` of an image whose boot file is
# 64 MiB (less one byte, the largest that is hashed), against `md5sum` over
# the same bytes. Whole processes, alternating
# runs, files warm in the page cache; prints each pair and the median ratio.
#
#   bench/identify_bench.sh [RUNS]      (default 15; builds first)
#   TELVAR_CLI=other/telvar-cli.exe bench/identify_bench.sh    (times another build)
source "$(dirname "$0")/../scripts/lib.sh"
RUNS=${1:-15}
build_windows >/dev/null
export WINEPREFIX="$OUT/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p >/dev/null 2>&1 &
wineboot >/dev/null 2>&1 </dev/null || true
trap 'wineserver -k 2>/dev/null' EXIT

work="$OUT/bench/identify"
rm -rf "$work" && mkdir -p "$work/tree"
# 64 MiB less one byte: the largest boot file that is hashed at all.
head -c $((64 * 1048576 - 1)) /dev/urandom > "$work/tree/SXPE_100.01"
printf 'BOOT2 = cdrom0:\\SXPE_100.01;1\r\nVER = 1.00\r\n' > "$work/tree/SYSTEM.CNF"
xorriso -as mkisofs -quiet -o "$work/disc.iso" "$work/tree" 2>/dev/null
cat "$work/disc.iso" "$work/tree/SXPE_100.01" > /dev/null  # warm the cache

cli=${TELVAR_CLI:-$OUT/bin/telvar-cli.exe}  # TELVAR_CLI: another build to time
wine "$cli" identify "$work/disc.iso" > /dev/null  # first start of the program

now() { date +%s.%N; }
ratios=()
for i in $(seq "$RUNS"); do
  t0=$(now); wine "$cli" identify "$work/disc.iso" > "$work/out.txt"; t1=$(now)
  md5sum "$work/tree/SXPE_100.01" > "$work/md5.txt"; t2=$(now)
  ours=$(echo "$t1 - $t0" | bc -l); theirs=$(echo "$t2 - $t1" | bc -l)
  ratios+=("$(echo "$ours / $theirs" | bc -l)")
  printf 'run %2d: telvar-cli %.3f s   md5sum %.3f s   ratio %.2f\n' "$i" "$ours" "$theirs" "${ratios[-1]}"
done
cut -f4 "$work/out.txt" | grep -qx "$(cut -d' ' -f1 "$work/md5.txt")" || { echo "MD5 differs!"; exit 1; }
printf '%s\n' "${ratios[@]}" | sort -g | awk '{a[NR]=$1} END {printf "median ratio over %d runs: %.2f\n", NR, a[int((NR+1)/2)]}'
