#!/usr/bin/env bash
# The order of a whole update's file operations, seen from outside with strace: before
# the patch's CVer.txt is renamed into place, every file the run wrote has been fsynced
# and every folder it created, renamed or deleted in has been fsynced after the change;
# after the run, the removal of patch.* is synced too (sync-order.awk says what exactly).
# Checked on a whole run of the console updater, and on the rerun that finishes a run
# stopped while its plain files were landing (the rerun first settles the journal).
# Skips (77) where strace is missing or cannot trace.
#   sync-order.sh PCKTOOL QUORVANE_UPDATE
set -euo pipefail
PCKTOOL=$1
UPDATER=$2
SKIP=77
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=durable-game.sh
source "$HERE/durable-game.sh"

command -v strace >/dev/null || { echo "skipped: strace is missing (scripts/setup.sh installs it)"; exit $SKIP; }
strace -o /dev/null true 2>/dev/null || { echo "skipped: strace cannot trace here"; exit $SKIP; }
# strace -y prints the real paths of descriptors: the folder is named the same way.
work=$(realpath "$(mktemp -d)")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

make_durable_game "$PCKTOOL" "$UPDATER" "$work/src" "$work/pristine"
# run GAME TRACE OUTPUT [STRACE OPTIONS...]: the updater in GAME, traced into TRACE.
run() {
  local game=$1 trace=$2 out=$3
  shift 3
  (cd "$game" && strace -f -y -s 0 -o "$trace" "$@" ./quorvane-update --yes </dev/null >"$out" 2>&1)
}
trace_set=(-e trace=%file,%desc,fsync,fdatasync,sync_file_range)
new_version() { grep -q "CurVer=1.0.6" "$1/CVer.txt" && [ ! -e "$1/patch.idx" ] && [ "$(cat "$1/added.txt")" = added ]; }
faults=0

# A whole run.
cp -a "$work/pristine" "$work/game"
run "$work/game" "$work/run.trace" "$work/run.out" "${trace_set[@]}" || fail "the run exited $?: $(cat "$work/run.out")"
new_version "$work/game" || fail "the run did not reach the new version"
echo "-- a whole run"
awk -v game="$work/game" -f "$HERE/sync-order.awk" "$work/run.trace" || faults=1

# Stopped right after the first plain file landed (the others are still temporaries
# that the journal lists), then rerun.
read -r call nth < <(awk '$2 !~ /^rename(at2?)?\(/ { next }
                          { name = $2; sub(/\(.*/, "", name); n[name]++ }
                          /\.qvnew", / { print name, n[name] + 1; exit }' "$work/run.trace")
[ -n "${nth:-}" ] || fail "the run landed no plain file through a temporary"
cp -a "$work/pristine" "$work/stopped"
status=0
run "$work/stopped" /dev/null "$work/stopped.out" -e trace="$call" -e inject="$call":signal=KILL:when="$nth" 2>/dev/null ||
  status=$?
[ "$status" -eq 137 ] || fail "the run to be stopped at $call #$nth exited $status"
find "$work/stopped" -name '*.qvnew*' | grep -q . || fail "the stopped run left no temporary behind"
run "$work/stopped" "$work/rerun.trace" "$work/rerun.out" "${trace_set[@]}" || fail "the rerun exited $?: $(cat "$work/rerun.out")"
new_version "$work/stopped" || fail "the rerun did not reach the new version"
echo "-- the rerun of a run stopped before $call #$nth"
awk -v game="$work/stopped" -f "$HERE/sync-order.awk" "$work/rerun.trace" || faults=1

[ "$faults" -eq 0 ] || fail "changes that a power cut could undo after the version has committed (above)"
echo "ok: every change was on the disk before the version committed"
