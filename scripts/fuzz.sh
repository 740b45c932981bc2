#!/usr/bin/env bash
# Runs the libFuzzer harnesses of build/fuzz.
#   scripts/fuzz.sh [--runs N] [--jobs J] SECONDS [HARNESS...]   a campaign (`make fuzz`)
#   scripts/fuzz.sh --smoke SECONDS [HARNESS...]                 a short run that keeps nothing
#   scripts/fuzz.sh --replay [HARNESS...]                        every kept input once (`make test`)
# A campaign runs every harness for SECONDS seconds (or N executions, whichever comes
# first), J of them at once (default 1: the other core stays free), starting from its
# kept corpus (fuzz/corpus/NAME), its seeds (build/fuzz/seeds/NAME) and what earlier
# campaigns found (build/fuzz/corpus/NAME, where new inputs go; `make fuzz-merge` takes
# them into the kept corpus). A smoke run starts from the kept corpus and the seeds and
# keeps nothing.
# A crash, a hang, a leak or a failed check is saved in build/fuzz/artifacts/NAME/; each
# run's log is build/fuzz/logs/NAME.log. Either ends with a table: executions, their
# rate, coverage (libFuzzer's cov and ft), the corpus size and the findings per harness.
# Exit status 1 when any harness found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=build/fuzz
ALL=(pck_reader block_decoder payload version_parser version_check obsolete_files des_slice
     patch_check obsolete_plan pe_cert delta)
# Inputs past these lengths only make a run slower: a version file or a Delete.txt is
# a few lines, and the fuzzer would spend its time on longer texts.
declare -A MAX_LEN=([version_parser]=256 [obsolete_files]=512 [obsolete_plan]=512 [version_check]=2048)

mode=campaign
runs=-1
jobs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) mode=smoke; shift ;;
    --replay) mode=replay; shift ;;
    --runs) runs=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    *) break ;;
  esac
done
seconds=0
if [ $mode != replay ]; then
  seconds=${1:-60}
  [ $# -gt 0 ] && shift
fi
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=("${ALL[@]}")

for h in "${harnesses[@]}"; do
  if [ ! -x "$BUILD/fuzz/fuzz_$h" ]; then
    echo "[fuzz] $BUILD/fuzz/fuzz_$h is missing: run make fuzz-build" >&2
    exit 2
  fi
done
mkdir -p "$BUILD/logs"

# Replay: every kept input of every harness once, as a regression test of what the
# fuzzers found. A hang counts (5 s an input).
if [ $mode = replay ]; then
  failed=()
  for h in "${harnesses[@]}"; do
    log=$BUILD/logs/$h.replay.log
    inputs=(fuzz/corpus/"$h"/*)
    [ -e "${inputs[0]}" ] || { echo "[fuzz] $h: no kept corpus in fuzz/corpus/$h" >&2; failed+=("$h"); continue; }
    mkdir -p "$BUILD/artifacts/$h"
    start=$(date +%s%N)
    if "$BUILD/fuzz/fuzz_$h" -runs=0 -timeout=5 -rss_limit_mb=2048 -artifact_prefix="$BUILD/artifacts/$h/" \
        "fuzz/corpus/$h" >"$log" 2>&1; then
      printf '[fuzz] %-15s %5d kept inputs  ok  (%d ms)\n' "$h" "${#inputs[@]}" $((($(date +%s%N) - start) / 1000000))
    else
      printf '[fuzz] %-15s FAILED on its kept inputs, log %s\n' "$h" "$log"
      grep -E 'ERROR|check failed|runtime error|SUMMARY|Test unit written' "$log" | head -n 8 | sed 's/^/    /'
      failed+=("$h")
    fi
  done
  if [ ${#failed[@]} -gt 0 ]; then
    echo "[fuzz] kept inputs fail in: ${failed[*]}" >&2
    exit 1
  fi
  exit 0
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/qv-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# One harness; writes its row of the table to $scratch/NAME.row.
run_one() {
  local h=$1 bin=$BUILD/fuzz/fuzz_$h log=$BUILD/logs/$h.log
  local art=$BUILD/artifacts/$h
  mkdir -p "$BUILD/corpus/$h" "$art" "fuzz/corpus/$h"
  local corpus
  if [ $mode = smoke ]; then
    mkdir -p "$scratch/new-$h"
    corpus=("$scratch/new-$h" "fuzz/corpus/$h" "$BUILD/seeds/$h")
  else
    corpus=("$BUILD/corpus/$h" "fuzz/corpus/$h" "$BUILD/seeds/$h")
  fi
  local opts=(-max_total_time="$seconds" -runs="$runs" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
              -artifact_prefix="$art/")
  [ -f "fuzz/dict/$h.dict" ] && opts+=("-dict=fuzz/dict/$h.dict")
  [ -n "${MAX_LEN[$h]:-}" ] && opts+=("-max_len=${MAX_LEN[$h]}")
  local before after rc
  before=$(find "$art" -type f | wc -l)
  set +e
  "$bin" "${opts[@]}" "${corpus[@]}" >"$log" 2>&1
  rc=$?
  set -e
  after=$(find "$art" -type f | wc -l)
  local execs rate cov ft size
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  size=$(grep -o 'corp: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  printf '%s %s %s %s %s %s %s %s\n' "$h" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${size:-?}" \
    "$((after - before))" "$rc" >"$scratch/$h.row"
}

if [ $mode = smoke ]; then
  echo "[fuzz] smoke run, ${seconds} s per harness"
else
  echo "[fuzz] campaign: ${seconds} s$([ "$runs" -ge 0 ] && echo " or $runs executions") per harness, $jobs at a time"
fi
running=0
for h in "${harnesses[@]}"; do
  run_one "$h" &
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=()
printf '\n| harness | executions | exec/s | cov | ft | corpus | findings |\n|---|---:|---:|---:|---:|---:|---:|\n'
for h in "${harnesses[@]}"; do
  read -r name execs rate cov ft size found rc <"$scratch/$h.row"
  printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$execs" "$rate" "$cov" "$ft" "$size" "$found"
  if [ "$rc" != 0 ] || [ "$found" != 0 ]; then failed+=("$h"); fi
done
for h in "${failed[@]}"; do
  log=$BUILD/logs/$h.log
  echo "[fuzz] $h: fault found, log $log"
  grep -E 'ERROR|check failed|runtime error|SUMMARY|Test unit written' "$log" | head -n 8 | sed 's/^/    /'
  # The first frames of the stack in the project's own code.
  grep -E '^ *#[0-9]+ .* in .*\.(cpp|h):[0-9]+' "$log" | grep -v -E 'fuzzer::|/usr/' | head -n 10 | sed 's/^/    /' || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "[fuzz] faults found by: ${failed[*]} (inputs in $BUILD/artifacts/)" >&2
  exit 1
fi
