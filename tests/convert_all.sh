#!/bin/sh
# Converts every input file named in LIST (one path a line) with one build of
# the converter, and records what a user would see, so that the records of two
# builds (two hosts) can be compared with diff -r:
#   OUTDIR/NNNN-NAME.status  exit status
#   OUTDIR/NNNN-NAME.out     standard output (always empty)
#   OUTDIR/NNNN-NAME.err     standard error, line ends as LF and system error
#                            wording replaced (see below)
#   OUTDIR/NNNN-NAME.wav     the output file, when one is left
# Usage: convert_all.sh OUTDIR LIST PROGRAM [WORDS...]
# PROGRAM WORDS... in.aifc out.wav is run in a scratch folder for each input:
# WORDS let an emulator run the program (wine64 aifconv.exe, qemu-s390x-static
# aifconv). The file names are relative, so that messages are alike on every host.
#
# Standard error of a Windows program is a text stream and its lines end in
# CR LF; they compare as LF. The text of a system error is the platform's own,
# so "<path>: <system error>" compares by its path part alone; the converter's
# own messages after a path are kept whole.
set -eu
[ $# -ge 3 ] || { echo "usage: $0 OUTDIR LIST PROGRAM [WORDS...]" >&2; exit 2; }
outdir=$1
list=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
[ -r "$list" ] || { echo "$0: cannot read $list" >&2; exit 2; }
mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# convert_shard SHARD PROGRAM [WORDS...]: converts the inputs whose line
# number is SHARD modulo 2, in a folder of its own, so that two shards can
# run at once.
convert_shard() {
  shard=$1
  shift
  mkdir "$scratch/$shard" && cd "$scratch/$shard" || return 1
  n=0
  while IFS= read -r input; do
    [ -n "$input" ] || continue
    n=$((n + 1))
    [ $((n % 2)) -eq "$shard" ] || continue
    record=$outdir/$(printf '%04d' "$n")-${input##*/}
    rm -f out.wav
    cp "$input" in.aifc || return 1
    status=0
    "$@" in.aifc out.wav >"$record.out" 2>"$record.err" || status=$?
    echo "$status" >"$record.status"
    if [ -e out.wav ]; then mv out.wav "$record.wav"; fi
  done <"$list"
}

(convert_shard 0 "$@") &
shard0=$!
(convert_shard 1 "$@") || { wait "$shard0"; exit 1; }
wait "$shard0" || exit 1
count=$(grep -c . "$list" || true)
[ "$count" -gt 0 ] || { echo "$0: no input in $list" >&2; exit 1; }
sed -i -E -e 's/\r$//' \
  -e '/^(in\.aifc|out\.wav): (bad sound file, can.t load|unexpected end of file|input and output are the same file)$/!s/^(in\.aifc|out\.wav|memory): .*/\1: <system error>/' \
  "$outdir"/*.err
echo "$count files converted by $*"
