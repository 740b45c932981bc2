#!/usr/bin/env bash
# Takes what fuzz campaigns found into the kept corpus (`make fuzz-merge`).
#   scripts/fuzz-merge.sh [--minimise] [HARNESS...]
# For each harness, libFuzzer's -merge=1 adds to fuzz/corpus/NAME every input of the
# campaign's corpus (build/fuzz/corpus/NAME) and of the seeds (build/fuzz/seeds/NAME) that
# reaches code the kept corpus does not. Coverage is counted by edges, not by how often
# each runs (-use_counters=0): that keeps the corpus to a fifth of the inputs. With --minimise the kept corpus is made anew
# as the smallest set that keeps all that coverage; the inputs named finding-* (faults
# the fuzzers found, kept once fixed) always stay.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=build/fuzz
ALL=(pck_reader block_decoder payload version_parser version_check obsolete_files des_slice
     patch_check obsolete_plan pe_cert delta)
minimise=0
if [ "${1:-}" = "--minimise" ]; then minimise=1; shift; fi
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=("${ALL[@]}")
mkdir -p "$BUILD/logs"

for h in "${harnesses[@]}"; do
  bin=$BUILD/fuzz/fuzz_$h
  [ -x "$bin" ] || { echo "[fuzz-merge] $bin is missing: run make fuzz-build" >&2; exit 2; }
  kept=fuzz/corpus/$h
  mkdir -p "$kept" "$BUILD/corpus/$h" "$BUILD/seeds/$h"
  count_before=$(find "$kept" -type f | wc -l)
  log=$BUILD/logs/$h.merge.log
  if [ $minimise = 1 ]; then
    fresh=$(mktemp -d "${TMPDIR:-/tmp}/qv-merge.XXXXXX")
    "$bin" -merge=1 -use_counters=0 -timeout=10 -rss_limit_mb=2048 "$fresh" "$kept" "$BUILD/corpus/$h" "$BUILD/seeds/$h" >"$log" 2>&1
    find "$kept" -type f ! -name 'finding-*' -delete
    cp "$fresh"/* "$kept"/ 2>/dev/null || true
    rm -rf "$fresh"
  else
    "$bin" -merge=1 -use_counters=0 -timeout=10 -rss_limit_mb=2048 "$kept" "$BUILD/corpus/$h" "$BUILD/seeds/$h" >"$log" 2>&1
  fi
  count_after=$(find "$kept" -type f | wc -l)
  printf '[fuzz-merge] %-15s %4d -> %4d inputs, %s\n' "$h" "$count_before" "$count_after" "$(du -sh "$kept" | cut -f1)"
done
