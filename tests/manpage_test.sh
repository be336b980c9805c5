#!/bin/sh
# The manual page renders with no warning from groff (all warnings on) nor
# from man, and documents every message the converter can print.
set -u
page=$1
shift  # the rest: source directories
out=$(groff -ww -man -Tutf8 -z "$page" 2>&1) || { echo "groff failed"; exit 1; }
[ -z "$out" ] || { echo "groff warnings:"; echo "$out"; exit 1; }
if command -v man >/dev/null 2>&1; then
  out=$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null)
  [ -z "$out" ] || { echo "man warnings:"; echo "$out"; exit 1; }
fi
# Each fixed message text of the sources (the part before any format
# directive) must appear in the rendered page.
text=$(groff -man -Tascii -P-cbou -rLL=400n -rHY=0 "$page" 2>/dev/null | tr -s ' \n' ' ')
missing=0
for m in "bad sound file, can't load" "to add support for your file" "input and output are the same file" \
         "unexpected end of file" "only AIFC handled" "warning: unhandled chunk" \
         "the size information of your file is bad" "error with COMM chunk, bad size" \
         "error with FVER chunk, bad size" "only 2726318400 handled" "more than one SSND" \
         "no COMM chunk found" "no SSND chunk found" "warning: your file is shorter than expected" \
         "warning - bad size in SSND, the output file will probably be wrong" \
         "warning: SSND holds" "that COMM declares are converted" \
         "error - for SDX2 files, I don't know what to do" "only 1 or 2 channels handled" \
         "only 16 bits handled" "only 1 <= freq < 1e7 handled" "only ima4, sowt and SDX2 handled" \
         "will be truncated to" "only up to 4294967259 bytes of sound data handled" "memory: system error" \
         "nb of channels =" "bits per sample =" "compression scheme =" "data size =" "version =" \
         "unsupported type" "usage:"; do
  # The perror-style line is printed from its prefix alone.
  [ "$m" = "memory: system error" ] && src='"memory"' || src=$m
  grep -rqF -- "$src" "$@" || { echo "not a message of the sources any more: $m"; missing=1; }
  case $text in *"$m"*) ;; *) echo "not in the manual page: $m"; missing=1 ;; esac
done
exit $missing
