#!/usr/bin/env bash
# A whole archive of small files through the mirror-tree recipes of doc/archives.md,
# against the copy floor, on the machine at hand.
#
#   bench/batch.sh BUILD_DIR [FILES] [RUNS] [WORK_DIR]
#
# BUILD_DIR is a build with the tests (it holds aifconv and
# tests/make_batch_tree). FILES (default 20000) small files of the three
# encodings, mono and stereo, a few hundred bytes to a few kilobytes each,
# in nested folders, with the test tree's odd names and refused files.
# WORK_DIR (default: a new directory under the current one) must be on the
# file system to measure (ext4 here), not a tmpfs.
#
# Protocol, as bench/floor.sh: the page cache is warm; every timed run writes
# into a new tree (the previous one and the job log are removed outside the
# timing); runs are in rounds (the floor, then the xargs recipe, then the GNU
# parallel recipe) and each figure is the median over the rounds of the
# ratio to the floor of the same round. The floor: the same tree copied as a
# mirror by `xargs -P` running one `cp` per file, after the same one-pass
# `mkdir` of the folders: a tool run once per file pays a process start per
# file, and that is the least it can cost. The recipes run exactly as the
# document prints them (read from it by their markers). A last row runs GNU
# parallel as the recipe does but with `true` for each file: its own cost.
# BATCH_XARGS_ONLY=1 leaves out the two GNU parallel rows (the slow ones).
set -euo pipefail
build=$(cd "${1:?usage: bench/batch.sh BUILD_DIR [FILES] [RUNS] [WORK_DIR]}" && pwd)
files=${2:-20000}
runs=${3:-3}
work=${4:-$(mktemp -d "$PWD/aifconv-batch.XXXXXX")}
doc=$(cd "$(dirname "$0")/.." && pwd)/doc/archives.md
mkdir -p "$work/bin"
trap 'rm -rf "$work"' EXIT
ln -sf "$build/aifconv" "$work/bin/aifconv"
export PATH="$work/bin:$PATH" PARALLEL_HOME="$work/parallel-home"
unset PARALLEL

for r in mirror-xargs mirror-parallel; do
  awk -v name="$r" '$0 == "<!-- recipe: " name " -->" { on = 1; next }
                    on && /^    / { print substr($0, 5); next }
                    on { exit }' "$doc" >"$work/$r.sh"
  [ -s "$work/$r.sh" ] || { echo "no recipe $r in $doc"; exit 1; }
done
# What GNU parallel costs by itself: the recipe's own options and input, one
# empty job (`true`) per file.
cat >"$work/parallel-alone.sh" <<'EOF'
find archive -name __MACOSX -prune -o -type f \( -iname '*.aif' -o -iname '*.aif[cf]' \) ! -name '._*' -printf '%P\0' | LC_ALL=C sort -z |
  parallel -0 --will-cite --bar --joblog wav.joblog --resume-failed true
EOF
cat >"$work/floor.sh" <<'EOF'
find archive -name __MACOSX -prune -o -type d -printf 'copy/%P\0' | xargs -0 mkdir -p
find archive -name __MACOSX -prune -o -type f \( -iname '*.aif' -o -iname '*.aif[cf]' \) ! -name '._*' -printf '%p\0copy/%P\0' |
  xargs -0 -n 2 -P "$(nproc)" cp
EOF

"$build/tests/make_batch_tree" "$work/archive" "$files"
cd "$work"
n=$(find archive -name __MACOSX -prune -o -type f \( -iname '*.aif' -o -iname '*.aif[cf]' \) ! -name '._*' -printf x | wc -c)
echo "$n files, $(du -sk archive | cut -f1) KiB, $(nproc) processors"

# Seconds taken by a script, to the millisecond.
seconds() {
  local t0 t1
  t0=$(date +%s%N)
  bash "$1" >/dev/null 2>&1 || true  # refused files make both recipes exit non-zero
  t1=$(date +%s%N)
  echo "$(( (t1 - t0) / 1000000 ))e-3"
}
clean() { rm -rf copy wav wav.joblog refused.txt; sync -f .; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

clean; bash mirror-xargs.sh 2>/dev/null || true  # warm the cache; check that it converts
[ "$(find wav -type f -printf x | wc -c)" -gt 0 ] || { echo "the xargs recipe converted nothing"; exit 1; }
: >floor.t; : >xargs.t; : >parallel.t; : >alone.t; : >xargs.r; : >parallel.r; : >alone.r
for i in $(seq "$runs"); do
  clean; f=$(seconds floor.sh)
  clean; x=$(seconds mirror-xargs.sh)
  p=nan a=nan
  if [ -z "${BATCH_XARGS_ONLY:-}" ]; then
    clean; p=$(seconds mirror-parallel.sh)
    clean; a=$(seconds parallel-alone.sh)
  fi
  echo "round $i: floor $f s, xargs recipe $x s, GNU parallel recipe $p s, GNU parallel alone $a s"
  echo "$f" >>floor.t; echo "$x" >>xargs.t; echo "$p" >>parallel.t; echo "$a" >>alone.t
  awk -v f="$f" -v c="$a" 'BEGIN { printf "%.3f\n", c / f }' >>alone.r
  awk -v f="$f" -v c="$x" 'BEGIN { printf "%.3f\n", c / f }' >>xargs.r
  awk -v f="$f" -v c="$p" 'BEGIN { printf "%.3f\n", c / f }' >>parallel.r
done
clean

printf '%-28s %10s %12s %8s\n' "work ($n files, $runs rounds)" "median s" "files per s" "ratio"
row() { printf '%-28s %10.2f %12.0f %8s\n' "$1" "$(median <"$2")" "$(awk -v n="$n" -v t="$(median <"$2")" 'BEGIN { print n / t }')" "$3"; }
row "floor: cp per file, xargs" floor.t "1.00"
row "mirror recipe, xargs" xargs.t "$(median <xargs.r)"
if [ -z "${BATCH_XARGS_ONLY:-}" ]; then
  row "mirror recipe, GNU parallel" parallel.t "$(median <parallel.r)"
  row "GNU parallel alone (true)" alone.t "$(median <alone.r)"
fi
