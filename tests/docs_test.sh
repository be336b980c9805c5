#!/bin/sh
# The documents hold together: every relative link of README.md and doc/*.md,
# and every doc/ file the manual page names, is a file of the tree; every
# recipe the batch test reads has its marker, followed by its commands; and
# the README's first command lines are the two commands .ci/run runs from it
# (build and convert the sample; build and run the tests), with the files
# they name present.
# Usage: docs_test.sh SOURCE_DIR
set -u
cd "$1" || exit 1
status=0
fail() { echo "$*"; status=1; }

# Links: [text](target) and ![alt](target), without a scheme, an anchor
# alone or a mail address; a target is relative to its document's folder.
for doc in README.md doc/*.md; do
  dir=$(dirname "$doc")
  for target in $(grep -o '](\([^)]*\))' "$doc" | sed 's/^](\(.*\))$/\1/' | sort -u); do
    case $target in *://* | mailto:* | '#'*) continue ;; esac
    [ -e "$dir/${target%%#*}" ] || fail "$doc: no file for the link $target"
  done
done
for path in $(grep -o 'doc/[A-Za-z0-9_.-]*[A-Za-z0-9_]' doc/aifconv.1); do
  [ -e "$path" ] || fail "doc/aifconv.1: names $path, which does not exist"
done

# The recipe names, as the batch test lists them.
names=$(sed -n 's/^for r in \(.*\); do recipe "\$r"; done$/\1/p' tests/batch_test.sh)
[ -n "$names" ] || fail "tests/batch_test.sh: no list of recipes found"
for r in $names; do
  found=$(awk -v m="<!-- recipe: $r -->" '$0 == m { n++; getline; if ($0 ~ /^    [^ ]/) ok++ }
                                         END { print n + 0, ok + 0 }' README.md doc/archives.md)
  [ "$found" = "1 1" ] || fail "recipe $r: $found (markers, followed by commands) in README.md and doc/archives.md, expected 1 1"
done

# The README's first two indented lines, as .ci/run reads them.
first=$(grep -m 1 '^    [^ ]' README.md | sed 's/^    //')
second=$(grep -m 2 '^    [^ ]' README.md | tail -n 1 | sed 's/^    //')
case $first in
  "cmake -S . -B build && cmake --build build -j2 && build/aifconv "*" tone.wav") ;;
  *) fail "the README's first command does not build and convert a sample: $first" ;;
esac
[ "$second" = "cmake -S . -B build && cmake --build build -j2 && ctest --test-dir build --output-on-failure -j2" ] ||
  fail "the README's second command does not build and run the tests: $second"
sample=${first#*build/aifconv }
sample=${sample% tone.wav}
[ -f "$sample" ] || fail "the README's first command converts $sample, which does not exist"
exit $status
