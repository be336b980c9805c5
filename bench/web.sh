#!/usr/bin/env bash
# The page against the native converter: a 256 MiB ima4 output (the ima4
# input of bench/make_inputs) converted through the page's worker in headless
# Chromium, against native runs and against the browser's floor (the worker's
# reads and Blobs, converting nothing) in the same run (bench/web_bench.mjs).
#
#   bench/web.sh BENCH_BUILD_DIR WEB_BUILD_DIR [RUNS] [SCALE]
#
# BENCH_BUILD_DIR holds aifconv and bench/make_inputs (cmake -DAIFCONV_BENCH=ON);
# WEB_BUILD_DIR holds aifconv.html. SCALE (default 1) multiplies the input:
# 4 gives a 1 GiB output. The work files go to a new directory under the
# current one (the file system to measure, not a tmpfs).
set -euo pipefail
build=${1:?usage: bench/web.sh BENCH_BUILD_DIR WEB_BUILD_DIR [RUNS] [SCALE]}
web=${2:?usage: bench/web.sh BENCH_BUILD_DIR WEB_BUILD_DIR [RUNS] [SCALE]}
runs=${3:-5}
scale=${4:-1}
work=$(mktemp -d "$PWD/aifconv-web-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/small"
"$build/bench/make_inputs" "$work" "$scale"
rm -rf "$work/small" "$work/sowt.aifc" "$work/sdx2.aifc"
node "$(dirname "$0")/web_bench.mjs" "$web/aifconv.html" "$build/aifconv" "$work/ima4.aifc" "$runs" "$work"
