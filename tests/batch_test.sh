#!/usr/bin/env bash
# The batch recipes of the README and doc/archives.md, run exactly as printed
# (each found by its "<!-- recipe: NAME -->" marker) on generated archive trees:
# every output must be byte for byte what a single run of the converter gives,
# a refused file must have no output and be listed with the converter's own
# messages, and the source tree must be unchanged. The GNU parallel recipe is
# also stopped halfway (SIGINT, as Ctrl-C sends it, then SIGTERM) and resumed:
# after the stop no output is partial, after the resume all are there, and
# the files finished before the stop were not converted again. The recipes
# for several machines run through parallel's --ssh with tests/fake_ssh.sh,
# which runs the "remote" command here, so the transfer and return run too.
#
# Usage: batch_test.sh SOURCE_DIR AIFCONV MAKE_BATCH_TREE WORK_DIR
# Exits 77 (skipped) when GNU parallel or rsync is not installed.
set -u
docs=("$1/README.md" "$1/doc/archives.md") work=$4
aifconv=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
make_tree=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$3" ] || { echo "$3 is not built: skipped"; exit 77; }
for tool in parallel rsync perl; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
done

# The last run left its source trees read-only.
[ ! -d "$work" ] || chmod -R u+w "$work"
rm -rf "$work"
mkdir -p "$work/bin" "$work/home"
ln -s "$aifconv" "$work/bin/aifconv"
# Nothing from the tester's home or settings: parallel keeps its files in
# the test's own home, and no PARALLEL options come in from outside.
export PATH="$work/bin:$PATH" HOME="$work/home"
unset PARALLEL PARALLEL_HOME
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The recipe NAME: the indented block after its marker.
recipe() {
  awk -v name="$1" '$0 == "<!-- recipe: " name " -->" { on = 1; next }
                    on && /^    / { print substr($0, 5); next }
                    on { exit }' "${docs[@]}" >"$work/$1.sh"
  [ -s "$work/$1.sh" ] || { echo "no recipe $1 in ${docs[*]}"; exit 1; }
}
for r in beside mirror-xargs mirror-parallel shared-ssh transfer-ssh; do recipe "$r"; done

# Every file and folder under a tree with its type, mode and size, and every
# file's content digest: equal snapshots mean the tree was left as it was.
snapshot() {
  (cd "$1" && find . -printf '%y %m %s %p\0' | sort -z && find . -type f -print0 | sort -z | xargs -0 sha256sum)
}

# A source tree (archive/ under DIR) of COUNT plain files and the odd ones,
# made read-only, and what a single run of the converter gives for each
# sound file F: DIR/ref/wav/F.wav when it converts, DIR/ref/refused/F (its
# entry in a refusal list) when it is refused. DIR/list: the sound files,
# sorted as the recipes sort them; not the Mac's AppleDouble files (._F)
# nor anything in a __MACOSX folder, which the recipes must leave out.
make_case() {
  local dir=$1 count=$2 f status
  mkdir -p "$dir"
  "$make_tree" "$dir/archive" "$count" || exit 1
  (cd "$dir/archive" && find . -type d -printf '../ref/wav/%P\0../ref/refused/%P\0' | xargs -0 mkdir -p)
  (cd "$dir/archive" && find . -type f \( -iname '*.aif' -o -iname '*.aiff' -o -iname '*.aifc' \) -printf '%P\0' |
     grep -zEv '(^|/)(__MACOSX/|\._[^/]*$)' | LC_ALL=C sort -z) >"$dir/list"
  cd "$dir"
  while IFS= read -r -d '' f; do
    aifconv "archive/$f" "ref/wav/$f.wav" 2>ref/err
    status=$?
    case $status in
      0) ;;
      1) { printf '%s\n' "archive/$f"; sed 's/^/    /' ref/err; } >"ref/refused/$f" ;;
      *) echo "cannot run the converter ($status)"; exit 1 ;;
    esac
  done <list
  cd - >/dev/null
  find "$dir/ref/wav" -type d -empty -delete
  chmod -R a-w "$dir/archive"
  snapshot "$dir/archive" >"$dir/source.snapshot"
}

# Compares the files under OUT with those under REF, in one pass: "all"
# wants the same files with the same bytes; "part" wants each file of OUT to
# be in REF with the same bytes (any may be missing). Prints what differs.
compare_trees() {
  perl -MFile::Find -e '
    my ($ref, $out, $mode) = @ARGV; my $bad = 0;
    sub files { my ($root) = @_; my %f;
      find({ wanted => sub { $f{substr($File::Find::name, length($root) + 1)} = 1 if -f $_ }, no_chdir => 1 }, $root);
      return \%f; }
    sub bytes { local $/; open my $h, "<", $_[0] or return undef; binmode $h; my $b = <$h>; return $b // ""; }
    my ($r, $o) = (files($ref), files($out));
    for my $n (sort keys %$o) {
      if (!$r->{$n}) { print "not a converted file: $n\n"; $bad = 1 }
      elsif (bytes("$out/$n") ne bytes("$ref/$n")) { print "not what a single run gives: $n\n"; $bad = 1 } }
    if ($mode eq "all") { for my $n (sort keys %$r) { if (!$o->{$n}) { print "missing: $n\n"; $bad = 1 } } }
    print scalar(keys %$o), "\n"; exit $bad;' "$@"
}

# True when TEXT_FILE holds the content of each file under DIR exactly once,
# in any order, and nothing else.
holds_each_once() {
  perl -MFile::Find -e 'local $/; open my $r, "<", $ARGV[0] or die; my $all = <$r>; my $total = 0; my $bad = 0;
    find({ wanted => sub { return unless -f $_; open my $b, "<", $_ or die; my $x = <$b>; $total += length $x;
      my $n = () = $all =~ /\Q$x\E/g; if ($n != 1) { print "found $n times: $x"; $bad = 1 } }, no_chdir => 1 }, $ARGV[1]);
    if (!$bad && $total != length $all) { print "other text besides:\n$all"; $bad = 1 } exit $bad;' "$1" "$2"
}

# The outputs under OUT, named after the inputs (F.wav for archive/F), and
# the refusal list LIST, against the single runs of the case in DIR.
check_outputs() {
  local dir=$1 out=$2 list=$3 what=$4
  compare_trees "$dir/ref/wav" "$out" all >"$dir/compare" || { fail "$what: outputs"; cat "$dir/compare"; }
  [ -n "$(find "$dir/ref/refused" -type f -print -quit)" ] || fail "$what: the case has no refused file"
  holds_each_once "$list" "$dir/ref/refused" || fail "$what: the refusal list is not one entry per refused file"
  snapshot "$dir/archive" | cmp -s - "$dir/source.snapshot" || fail "$what: the source tree changed"
}

# True when FILE holds TEXT.
contains() { perl -e 'local $/; open my $f, "<", $ARGV[0] or die; exit(index(<$f>, $ARGV[1]) < 0)' "$1" "$2"; }

# How many of the case's files the converter refuses.
refused_count() { find "$1/ref/refused" -type f -printf x | wc -c; }

# Runs a recipe in DIR (its standard error in DIR/NAME.err); prints its status.
run_recipe() {
  (cd "$1" && bash "$work/$2.sh" 2>"$1/$2.err"; echo $?)
}

echo "== generating the trees and the single runs ($SECONDS s)"
make_case "$work/big" 300   # mirror with xargs
make_case "$work/small" 12  # beside, and GNU parallel (a few seconds of its own per hundred jobs)
make_case "$work/tiny" 0    # several machines: the odd names and refused files alone

echo "== beside the input (xargs), on a writable copy ($SECONDS s)"
# Expected: the source, and beside each .aifc and .aiff file (the recipe's
# selection) what a single run gives.
beside=$work/beside
mkdir -p "$beside/expected"
cp -a "$work/small/archive" "$beside/archive" && chmod -R u+w "$beside/archive"
cp -a "$work/small/archive/." "$beside/expected" && chmod -R u+w "$beside/expected"
(cd "$work/small/ref/wav" && find . -type f \( -name '*.aifc.wav' -o -name '*.aiff.wav' \) -print0 |
   xargs -0 cp --parents -t "$beside/expected")
status=$(run_recipe "$beside" beside)
[ "$status" = 123 ] || fail "beside: xargs status $status, not 123"
compare_trees "$beside/expected" "$beside/archive" all >"$beside/compare" || { fail "beside: outputs"; cat "$beside/compare"; }
while IFS= read -r -d '' f; do
  case $f in *.aifc | *.aiff) contains "$beside/beside.err" "failed: archive/$f"$'\n' ||
    fail "beside: $f not named as failed" ;; esac
done < <(cd "$work/small/ref/refused" && find . -type f -printf '%P\0')
! grep -q '/\._' "$beside/beside.err" || fail "beside: a Mac's ._ file was converted"

echo "== mirror tree (xargs) ($SECONDS s)"
status=$(run_recipe "$work/big" mirror-xargs)
[ "$status" = 0 ] || fail "mirror-xargs: status $status"
check_outputs "$work/big" "$work/big/wav" "$work/big/refused.txt" mirror-xargs

echo "== mirror tree (GNU parallel) ($SECONDS s)"
status=$(run_recipe "$work/small" mirror-parallel)
[ "$status" = "$(refused_count "$work/small")" ] || fail "mirror-parallel: status $status, not the number refused"
check_outputs "$work/small" "$work/small/wav" "$work/small/refused.txt" mirror-parallel
grep -q '%' "$work/small/mirror-parallel.err" || fail "mirror-parallel: no progress bar"

# The inode and modification time of each output whose job the job log
# records as finished (job N converts the N-th file of the sorted list), or
# of those listed in FILE (a previous result).
finished_outputs() {
  local dir=$1 seqs files paths=() i
  if [ $# -gt 1 ]; then seqs=$(cut -d' ' -f1 "$2"); else
    seqs=$(awk -F'\t' 'NR > 1 && $7 == 0 { print $1 }' "$dir/wav.joblog" | sort -n); fi
  mapfile -d '' files <"$dir/list"
  for i in $seqs; do paths+=("$dir/wav/${files[i - 1]}.wav"); done
  [ ${#paths[@]} -eq 0 ] || stat -c '%i %y' "${paths[@]}" | paste -d' ' <(echo "$seqs") -
}

# Stopped halfway by SIGNAL, then the same command again.
stop_and_resume() {
  local sig=$1 dir=$work/small what="stopped by SIG$1" total ppid="" jobs=0
  rm -rf "$dir/wav" "$dir/wav.joblog" "$dir/refused.txt"
  total=$(tr -cd '\0' <"$dir/list" | wc -c)
  # At most one job start every 20 ms (an option given through PARALLEL, so
  # that the recipe runs as printed): a fast machine must not finish the
  # few dozen jobs before the test has seen a third of them done.
  (cd "$dir" && PARALLEL="--delay 0.02" exec bash "$work/mirror-parallel.sh" 2>/dev/null) &
  local shell=$!
  # parallel is a child of the recipe's shell; stop it once a third of the
  # jobs are done.
  for _ in $(seq 3000); do
    [ -n "$ppid" ] || ppid=$(ps -o pid=,comm= --ppid "$shell" | awk '$2 == "parallel" { print $1 }')
    [ -f "$dir/wav.joblog" ] && jobs=$(($(wc -l <"$dir/wav.joblog") - 1))
    [ -n "$ppid" ] && [ "$jobs" -ge $((total / 3)) ] && break
    sleep 0.01
  done
  [ -n "$ppid" ] || { fail "$what: parallel not found"; wait "$shell"; return; }
  kill -"$sig" "$ppid"
  wait "$shell"
  # Nothing may go on writing after the stop: no process left in the folder.
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/cwd" 2>/dev/null)" = "$dir" ] && fail "$what: process ${p#/proc/} still running"
  done
  local done_before
  compare_trees "$dir/ref/wav" "$dir/wav" part >"$dir/compare" || { fail "$what: after the stop"; cat "$dir/compare"; }
  done_before=$(tail -n 1 "$dir/compare")
  [ "$done_before" -gt 0 ] && [ "$done_before" -lt $((total - $(refused_count "$dir"))) ] ||
    fail "$what: $done_before of $total done at the stop, not a part"
  finished_outputs "$dir" >"$dir/before-resume"
  [ -s "$dir/before-resume" ] || fail "$what: no job finished before the stop"
  status=$(run_recipe "$dir" mirror-parallel)
  [ "$status" = "$(refused_count "$dir")" ] || fail "$what: status $status after the resume"
  check_outputs "$dir" "$dir/wav" "$dir/refused.txt" "$what, resumed"
  # The outputs of the jobs finished before the stop are the same files, not
  # written again, and the job log has one success per file.
  finished_outputs "$dir" "$dir/before-resume" >"$dir/after-resume"
  cmp -s "$dir/before-resume" "$dir/after-resume" || fail "$what: files done before the stop were converted again"
  [ -z "$(awk -F'\t' 'NR > 1 && $7 == 0 { print $1 }' "$dir/wav.joblog" | sort | uniq -d)" ] ||
    fail "$what: a job succeeded twice"
  echo "$what: $done_before of $total outputs done at the stop"
}
echo "== GNU parallel stopped and resumed ($SECONDS s)"
stop_and_resume INT
stop_and_resume TERM

# The recipes for several machines: parallel's --ssh (through the PARALLEL
# variable, so that the recipe runs as printed) names the stand-in.
export PARALLEL="--ssh $here/fake_ssh.sh" FAKE_SSH_HOME="$work/hosts"
for r in shared-ssh transfer-ssh; do
  echo "== $r ($SECONDS s)"
  dir=$work/tiny
  rm -rf "$dir/wav" "$dir/wav.joblog" "$dir/refused.txt" "$work/hosts"
  status=$(run_recipe "$dir" "$r")
  [ "$status" = "$(refused_count "$dir")" ] || { fail "$r: status $status"; head -n 20 "$dir/$r.err"; }
  check_outputs "$dir" "$dir/wav" "$dir/refused.txt" "$r"
  for host in alpha beta; do
    awk -F'\t' -v h="$host" '$2 == h' "$dir/wav.joblog" | grep -q . || fail "$r: no job ran on $host"
  done
  if [ "$r" = transfer-ssh ]; then
    # The files went to the remote homes and were cleaned up there.
    [ -z "$(find "$work/hosts" -type f -name '*.aif*' | head -n 1)" ] || fail "$r: files left on a remote"
  fi
done

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "all batch recipes passed"
