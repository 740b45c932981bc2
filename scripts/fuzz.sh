#!/usr/bin/env bash
# Runs the libFuzzer harnesses of build/fuzz (`make fuzz`, `make fuzz-smoke`).
#   scripts/fuzz.sh [--smoke] SECONDS [HARNESS...]
# Each harness runs SECONDS seconds, one after the other, starting from its seeds
# (build/fuzz/seeds/NAME) and its kept corpus (build/fuzz/corpus/NAME), with its
# dictionary from fuzz/dict. A normal run adds the inputs it finds to the kept corpus;
# a smoke run (part of `make test`) keeps nothing. A crash, a hang or a failed check is
# saved in build/fuzz/artifacts/NAME/ and shown; each run's log is build/fuzz/logs/NAME.log.
# Exit status 1 when any harness found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=build/fuzz
ALL=(pck_reader block_decoder payload version_parser version_check obsolete_files des_slice)

smoke=0
if [ "${1:-}" = "--smoke" ]; then smoke=1; shift; fi
seconds=${1:-60}
[ $# -gt 0 ] && shift
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=("${ALL[@]}")

# The harnesses write their files into a scratch folder per run; tmpfs makes the
# package and payload code's flushes to the disk free.
scratch_base=/dev/shm
[ -d /dev/shm ] && [ -w /dev/shm ] || scratch_base=${TMPDIR:-/tmp}

failed=()
for h in "${harnesses[@]}"; do
  bin=$BUILD/fuzz/fuzz_$h
  if [ ! -x "$bin" ]; then
    echo "[fuzz] $bin is missing: run make fuzz-build" >&2
    exit 2
  fi
  mkdir -p "$BUILD/corpus/$h" "$BUILD/artifacts/$h" "$BUILD/logs"
  scratch=$(mktemp -d "$scratch_base/qv-fuzz-run.XXXXXX")
  if [ $smoke = 1 ]; then
    # The first folder receives the new inputs; it goes with the scratch folder.
    mkdir -p "$scratch/new"
    corpus=("$scratch/new" "$BUILD/seeds/$h" "$BUILD/corpus/$h")
  else
    corpus=("$BUILD/corpus/$h" "$BUILD/seeds/$h")
  fi
  dict=()
  [ -f "fuzz/dict/$h.dict" ] && dict=("-dict=fuzz/dict/$h.dict")
  log=$BUILD/logs/$h.log
  set +e
  QV_FUZZ_SCRATCH=$scratch "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$h/" "${dict[@]}" "${corpus[@]}" >"$log" 2>&1
  rc=$?
  set -e
  rm -rf "$scratch"

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  if [ $rc -eq 0 ]; then
    printf '[fuzz] %-15s ok     %4ss  %9s runs  %6s/s  coverage %s\n' "$h" "$seconds" "${execs:-?}" "${rate:-?}" "${cov:-?}"
  else
    printf '[fuzz] %-15s FAILED (exit %s), log %s\n' "$h" "$rc" "$log"
    grep -E 'ERROR|check failed|runtime error|SUMMARY|Test unit written' "$log" | head -n 8 | sed 's/^/    /'
    # The first frames of the stack in the project's own code.
    grep -E '^ *#[0-9]+ .* in .*\.(cpp|h):[0-9]+' "$log" | grep -v -E 'fuzzer::|/usr/' | head -n 10 | sed 's/^/    /' || true
    failed+=("$h")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "[fuzz] faults found by: ${failed[*]} (inputs in $BUILD/artifacts/)" >&2
  exit 1
fi
