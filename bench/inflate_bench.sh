#!/usr/bin/env bash
# The decoder alone, on this machine: builds bench/inflate_bench.cpp natively
# (g++ -O2, no sanitizers) with the decoder and the zip record walk, makes the
# ~100 MB zip -6 archive of unzip_bench.py if it is missing, and prints the
# CPU time of the fast path against the reference decoding (best of RUNS),
# then, for scale, the CPU time (user + system) of Info-ZIP `unzip -tq`
# (decode and CRC-32, nothing written) and `unzip -q` (the whole unpacking)
# over the same archive, alternating, median. CPU time rather than wall time
# keeps the figures steady when other work shares the cores.
#
#   bench/inflate_bench.sh [RUNS]      (default 5)
set -euo pipefail
TOP=$(cd "$(dirname "$0")/.." && pwd)
OUT=${TELVAR_OUT:-$TOP/out}
RUNS=${1:-5}
work="$OUT/bench/inflate"
mkdir -p "$work"
g++ -std=c++17 -O2 -I"$TOP/src" "$TOP/bench/inflate_bench.cpp" "$TOP/src/transfer/inflate.cpp" \
    "$TOP/src/transfer/zip_records.cpp" -o "$work/inflate_bench"
archive=$(python3 "$TOP/bench/unzip_bench.py" --make-only | tail -1)
"$work/inflate_bench" "$archive" "$RUNS"

cpu() { /usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -1 | awk '{print $1 + $2}'; }
test_times=(); unzip_times=()
for _ in $(seq "$RUNS"); do
  test_times+=("$(cpu unzip -tq "$archive")")
  rm -rf "$work/tree"
  unzip_times+=("$(cpu unzip -q "$archive" -d "$work/tree")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "unzip -tq CPU $(median "${test_times[@]}") s, unzip -q CPU $(median "${unzip_times[@]}") s (median of $RUNS)"
rm -rf "$work/tree"
