#!/usr/bin/env bash
# Whole runs of aifconv against the copy floor, on the machine at hand.
#
#   bench/floor.sh BUILD_DIR [RUNS] [WORK_DIR]
#
# BUILD_DIR holds bin aifconv and bench/make_inputs (cmake -DAIFCONV_BENCH=ON).
# WORK_DIR (default: a new directory under the current one) must be on the
# file system to measure (ext4 here), not a tmpfs.
#
# Protocol: the page cache is warm; every timed run writes a new file (the
# previous output is removed before each run, outside the timing: a file
# truncated and rewritten is flushed at its close, which would time the disk);
# runs are paired, the floor then the converter, and the figure is the median
# of the ratios of the pairs, since absolute times drift on shared machines.
#
# With AIFCONV_DECODER_PATH=N set, the converter timed is bench/aifconv_path
# with decoder path N (0 scalar, 1 the first vector path the CPU has: AVX2 on
# x86-64), as on a CPU whose fastest decoder is that one.
#
# Floors: sowt against cp of its input (the output is the same size); ima4
# and SDX2 against cp of a file of their output's size; 600 small files
# (xargs -P2) against the same loop running cp on the same inputs.
set -euo pipefail
build=${1:?usage: bench/floor.sh BUILD_DIR [RUNS] [WORK_DIR]}
runs=${2:-11}
work=${3:-$(mktemp -d "$PWD/aifconv-bench.XXXXXX")}
aifconv=("$build/aifconv")
[ -z "${AIFCONV_DECODER_PATH:-}" ] || aifconv=("$build/bench/aifconv_path" "$AIFCONV_DECODER_PATH")
mkdir -p "$work/small" "$work/out"
trap 'rm -rf "$work"' EXIT

"$build/bench/make_inputs" "$work"
# "input output" pairs, one run each.
for f in "$work"/small/*.aifc; do echo "$f $work/out/$(basename "$f").wav"; done > "$work/small.list"

# Seconds taken by the command in "$@", to the microsecond.
seconds() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" > /dev/null
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000 ))e-6
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

small_cp() { xargs -P2 -n2 cp < "$work/small.list"; }
small_conv() { xargs -P2 -n2 "${aifconv[@]}" < "$work/small.list"; }

# pair NAME FLOOR_COMMAND... -- CONVERT_COMMAND...: paired runs, one line.
pair() {
  local name=$1; shift
  local floor=() conv=()
  while [ "$1" != -- ]; do floor+=("$1"); shift; done
  shift
  conv=("$@")
  "${conv[@]}" > /dev/null  # warm the page cache and check that it converts
  : > "$work/ratios"; : > "$work/floor.t"; : > "$work/conv.t"
  for _ in $(seq "$runs"); do
    rm -rf "$work/floor.out" "$work/out.wav" "$work/out"; mkdir "$work/out"; sync -f "$work"
    local f c
    f=$(seconds "${floor[@]}")
    rm -rf "$work/out"; mkdir "$work/out"; sync -f "$work"
    c=$(seconds "${conv[@]}")
    echo "$f" >> "$work/floor.t"; echo "$c" >> "$work/conv.t"
    awk -v f="$f" -v c="$c" 'BEGIN { printf "%.4f\n", c / f }' >> "$work/ratios"
  done
  printf '%-22s %10.4f %10.4f %8.2f\n' "$name" "$(median < "$work/floor.t")" \
    "$(median < "$work/conv.t")" "$(median < "$work/ratios")"
}

# A file of each output's size, for the floor of ima4 and SDX2.
"${aifconv[@]}" "$work/ima4.aifc" "$work/ima4.wav"
"${aifconv[@]}" "$work/sdx2.aifc" "$work/sdx2.wav"

printf '%-22s %10s %10s %8s\n' "work ($runs pairs)" "floor s" "aifconv s" "ratio"
pair "sowt 256 MiB" cp "$work/sowt.aifc" "$work/floor.out" -- "${aifconv[@]}" "$work/sowt.aifc" "$work/out.wav"
pair "ima4 68 -> 256 MiB" cp "$work/ima4.wav" "$work/floor.out" -- "${aifconv[@]}" "$work/ima4.aifc" "$work/out.wav"
pair "SDX2 128 -> 256 MiB" cp "$work/sdx2.wav" "$work/floor.out" -- "${aifconv[@]}" "$work/sdx2.aifc" "$work/out.wav"
pair "600 small, xargs -P2" small_cp -- small_conv

# Peak resident memory of whole runs, small and large.
rss() { /usr/bin/time -f %M "${aifconv[@]}" "$1" "$work/out.wav" 2>&1 >/dev/null | tail -1; rm -f "$work/out.wav"; }
echo "peak RSS KiB: small sowt $(rss "$(head -1 "$work/small.list" | cut -d' ' -f1)"), sowt 256 MiB $(rss "$work/sowt.aifc")," \
  "ima4 $(rss "$work/ima4.aifc"), SDX2 $(rss "$work/sdx2.aifc")"
