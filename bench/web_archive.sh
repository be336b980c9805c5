#!/usr/bin/env bash
# Whole archives of 100-300 KB files through the page in headless Chromium
# and Firefox, each way of keeping the WAVs, against the mirror recipe with
# xargs on the same tree in the same run (bench/web_archive_bench.mjs says
# how; AIFCONV_BENCH_WAYS chooses the ways).
#
#   bench/web_archive.sh BUILD_DIR WEB_BUILD_DIR [SIZES...]
#
# BUILD_DIR holds aifconv; WEB_BUILD_DIR holds aifconv.html. SIZES default
# to 200 2000 10000. The work files (the tree, the recipe's output, the
# browsers' profiles with the page's files, the ZIPs) go to a new directory under the
# current one: the file system to measure, not a tmpfs.
set -euo pipefail
build=${1:?usage: bench/web_archive.sh BUILD_DIR WEB_BUILD_DIR [SIZES...]}
web=${2:?usage: bench/web_archive.sh BUILD_DIR WEB_BUILD_DIR [SIZES...]}
shift 2
[ $# -gt 0 ] || set -- 200 2000 10000
work=$(mktemp -d "$PWD/aifconv-web-archive.XXXXXX")
[ -n "${AIFCONV_BENCH_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
node "$(dirname "$0")/web_archive_bench.mjs" "$web/aifconv.html" "$build/aifconv" "$work" "$@"
