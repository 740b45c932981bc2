#!/usr/bin/env bash
# Power cuts during a whole update. The game lives on an ext4 image attached to a loop
# device and mounted with noauto_da_alloc (no flush behind a rename or a truncate that
# the program did not ask for) and commit=600 (no journal commit but the ones an fsync
# forces). The kernel's periodic write-back is switched off for the sweep, so what
# reaches the image file is exactly what the run synced. For each kill point the run is
# stopped with SIGKILL right before that call (strace's syscall injection); the image
# file is then copied without any sync, which is the disk as a power cut there leaves
# it, and the copy is mounted (its journal replayed) and judged as a stopped run is:
# once the journal is settled every package verifies and mb.dat is there; CVer.txt says
# the old version, or the new one and the game is already there; and a rerun of the
# updater ends where an uninterrupted run ends. An unsynced canary file beside the
# game proves at each point that nothing was written back behind the program's back.
#
# Between two syncs nothing reaches the disk, so the kill points are the run's calls
# that write to it (fsync, fdatasync, sync_file_range) on the game, and the end of the
# run before anything else syncs. A last run that skips one fsync of package data must
# be found broken: the check of the checks.
#   power-cut.sh PCKTOOL QUORVANE_UPDATE
#   POWERCUT_CALLS="fsync rename unlink"   calls to stop before (default the syncs)
#   POWERCUT_STRIDE=N                                every Nth kill point only
#   POWERCUT_KEEP=1                                  keep the states and the trace
# Needs root, loop devices, strace and ext4; skips (77) otherwise.
set -euo pipefail
PCKTOOL=$1
UPDATER=$2
CALLS=${POWERCUT_CALLS:-fsync fdatasync sync_file_range}
STRIDE=${POWERCUT_STRIDE:-1}
SKIP=77
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=durable-game.sh
source "$HERE/durable-game.sh"

skip() { echo "skipped: $*"; exit $SKIP; }
[ "$(id -u)" -eq 0 ] || skip "needs root for loop devices, mounts and /proc/sys/vm"
for tool in strace losetup mkfs.ext4 e2fsck; do command -v "$tool" >/dev/null || skip "$tool is missing"; done
grep -qw ext4 /proc/filesystems || skip "the kernel has no ext4"
[ -w /proc/sys/vm/dirty_writeback_centisecs ] || skip "cannot switch off the kernel's write-back"

work=$(realpath "$(mktemp -d)")
mnt="$work/mnt"
game="$mnt/game"
img="$work/img"  # the image files, in memory: the loop device's flushes cost nothing there
mkdir -p "$mnt" "$img"
saved_writeback=$(cat /proc/sys/vm/dirty_writeback_centisecs)
saved_expire=$(cat /proc/sys/vm/dirty_expire_centisecs)
loop=""
detach() {
  if mountpoint -q "$mnt"; then umount "$mnt"; fi
  if [ -n "$loop" ]; then losetup -d "$loop"; fi
  loop=""
}
cleanup() {
  detach 2>/dev/null || true
  umount "$img" 2>/dev/null || true
  echo "$saved_writeback" >/proc/sys/vm/dirty_writeback_centisecs
  echo "$saved_expire" >/proc/sys/vm/dirty_expire_centisecs
  if [ -n "${POWERCUT_KEEP:-}" ]; then echo "states and traces kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mount -t tmpfs -o size=1g tmpfs "$img" || skip "cannot mount a tmpfs for the images"
attach() {  # attach IMAGE: mounts it on $mnt
  loop=$(losetup -f --show "$1") || skip "no free loop device"
  mount -t ext4 -o noauto_da_alloc,commit=600 "$loop" "$mnt" || skip "cannot mount an ext4 image here"
}

# The updater's scratch and the folder's journal: not part of what the game holds.
is_scratch() {
  case "${1##*/}" in
    quorvane-update | patch.idx | patch.nam | patch.dat | Delete.txt | tmp.idx | tmp.nam | tmp.dat | pck.journal | \
      pck.journal.new | *.qvnew* | '~qvnew'*.tmp | *.idx.new) return 0 ;;
  esac
  return 1
}
# What the game holds: folders, each package by its listing (sizes, stamps, digests)
# and whether every entry decodes to its digest, plain files by digest.
snapshot() {
  local f base
  : >"$work/plain"
  while read -r f; do
    is_scratch "$f" && continue
    if [ -d "$game/$f" ]; then
      echo "d $f"
    elif [[ $f == *.idx && -f $game/${f%.idx}.nam && -f $game/${f%.idx}.dat ]]; then
      base="$game/${f%.idx}"
      echo "p $f"
      "$PCKTOOL" list "$base" 2>&1 || true
      "$PCKTOOL" verify "$base" --threads 0 >/dev/null 2>&1 && echo "  verified" || echo "  DAMAGED"
    elif ! [[ ($f == *.nam || $f == *.dat) && -f $game/${f%.*}.idx ]]; then
      printf '%s\0' "$f" >>"$work/plain"
    fi
  done < <(cd "$game" && find . -mindepth 1 | LC_ALL=C sort)
  (cd "$game" && xargs -0 -r md5sum <"$work/plain")
}
version() { sed -n 's/^CurVer=\([0-9.]*\).*/\1/p' "$game/CVer.txt" 2>/dev/null | head -1; }
# A stopped run's journal, settled as the next run (or any pcktool command) settles it.
settle() { [ ! -e "$game/pck.journal" ] || "$PCKTOOL" info "$game/mb" >/dev/null 2>&1 || true; }
# The tidy pass pauses before each package it rebuilds, for the player to read the
# window; strace answers those sleeps at once.
sleeps=nanosleep,clock_nanosleep
nosleep=(-e inject=$sleeps:retval=0)
updater() { (cd "$game" && strace -f -o /dev/null -e trace=$sleeps "${nosleep[@]}" ./quorvane-update --yes </dev/null >"$work/updater.out" 2>&1); }

# The pristine image: the game and its updater (stripped: the image is copied at every
# point), written out by the unmount.
strip -o "$work/quorvane-update" "$UPDATER" 2>/dev/null || cp "$UPDATER" "$work/quorvane-update"
truncate -s 96M "$img/pristine.img"
mkfs.ext4 -q -F -b 4096 -E lazy_itable_init=0,lazy_journal_init=0 "$img/pristine.img"
attach "$img/pristine.img"
make_durable_game "$PCKTOOL" "$work/quorvane-update" "$work/src" "$game"
snapshot >"$work/old.state"
detach

# The uninterrupted run, traced: where every rerun must end, and the kill points.
cp --sparse=always "$img/pristine.img" "$img/run.img"
attach "$img/run.img"
(cd "$game" && strace -f -y -s 0 -o "$work/run.trace" -e trace=%file,%desc,fsync,fdatasync,sync_file_range,$sleeps \
  "${nosleep[@]}" ./quorvane-update --yes </dev/null >"$work/updater.out" 2>&1) ||
  { cat "$work/updater.out"; echo "FAIL: the run failed"; exit 1; }
[ "$(version)" = 1.0.6 ] || { echo "FAIL: the run did not reach 1.0.6"; exit 1; }
snapshot >"$work/new.state"
detach
grep -q DAMAGED "$work/new.state" && { echo "FAIL: the uninterrupted run damaged a package"; exit 1; }
# "CALL N PATH": the N-th call of CALL by the run's main thread (the count strace's
# injection keeps), for each call of CALLS that concerns the game (relative paths are
# in it: the run works in the game folder).
awk -v calls=" $CALLS " -v game="$game" '
  NR == 1 { main = $1 }
  $1 != main || !match($2, /^[a-z0-9_]+\(/) { next }
  { call = substr($2, 1, RLENGTH - 1); n[call]++ }
  index(calls, " " call " ") && (index($0, game) || ($0 !~ /"\// && $0 !~ /<\//)) {
    what = $0; sub(/^[0-9]+ +/, "", what); sub(/ += .*/, "", what)
    print call, n[call], what
  }' "$work/run.trace" | awk -v stride="$STRIDE" '(NR - 1) % stride == 0' >"$work/points"
[ -s "$work/points" ] || { echo "FAIL: no kill point found in the trace"; exit 1; }

echo 0 >/proc/sys/vm/dirty_writeback_centisecs
echo 360000 >/proc/sys/vm/dirty_expire_centisecs

old=0 new=0 next=0 broken=0 held=0 points=0 patch_left=0 fsck_bad=0
problem() { echo "BROKEN at $where: $*"; bad=1; }
cut_at() {  # cut_at CALLS [INJECTION]: a run under strace -e inject=INJECTION, then the cut
  cp --sparse=always "$img/pristine.img" "$img/run.img"
  attach "$img/run.img"
  head -c 65536 /dev/urandom >"$mnt/canary"
  (cd "$game" && strace -f -o /dev/null -e trace="$1,$sleeps" "${nosleep[@]}" ${2:+-e inject="$2"} \
    ./quorvane-update --yes </dev/null >"$work/updater.out" 2>&1) 2>/dev/null || true
  # The power cut: the image file as the loop device left it, nothing synced since.
  cp --sparse=always "$img/run.img" "$img/cut.img"
  detach
  attach "$img/cut.img"
  [ "$(stat -c %s "$mnt/canary" 2>/dev/null || echo 0)" -lt 65536 ] && held=$((held + 1))
  points=$((points + 1))
}
judge() {
  bad=0
  local ver status=0
  ver=$(version)
  settle
  [ ! -e "$game/pck.journal" ] || problem "the journal could not be settled"
  [ -e "$game/mb.dat" ] || problem "mb.dat is missing"
  snapshot >"$work/cut.state"
  grep -q DAMAGED "$work/cut.state" &&
    problem "damaged: $(awk '/^p / { p = $2 } / DAMAGED$/ { printf "%s ", p }' "$work/cut.state")"
  if [ -e "$game/patch.idx" ] && [ "$ver" = 1.0.6 ]; then patch_left=$((patch_left + 1)); fi
  # The rerun (told Yes also when the game says it is at the new version already) ends
  # where the uninterrupted run ended, with nothing of its own left over.
  updater || status=$?
  snapshot >"$work/rerun.state"
  [ "$status" -eq 0 ] || problem "the rerun failed ($status): $(tail -2 "$work/updater.out")"
  cmp -s "$work/rerun.state" "$work/new.state" || problem "after the rerun the game is not the new one:
$(diff "$work/new.state" "$work/rerun.state" | head -20)"
  leftovers=$(cd "$game" && find . -mindepth 1 ! -name quorvane-update | while read -r f; do
    if is_scratch "$f"; then echo "$f"; fi
  done)
  [ -z "$leftovers" ] || problem "the rerun left $leftovers"
  case "$ver" in
    1.0.6)
      cmp -s "$work/cut.state" "$work/new.state" || problem "CVer.txt says 1.0.6 but the game is not the new one:
$(diff "$work/new.state" "$work/cut.state" | head -20)"
      [ "$bad" = 1 ] || new=$((new + 1))
      ;;
    1.0.5)
      if [ "$bad" = 0 ]; then
        if cmp -s "$work/cut.state" "$work/old.state"; then old=$((old + 1)); else next=$((next + 1)); fi
      fi
      ;;
    *) problem "CVer.txt says '$ver'" ;;
  esac
  detach
  e2fsck -fn "$img/cut.img" >/dev/null 2>&1 || fsck_bad=$((fsck_bad + 1))
  [ "$bad" = 0 ] || broken=$((broken + 1))
}

total=$(wc -l <"$work/points")
echo "power cuts before each of $total calls ($CALLS) of the run on the game, and after its end"
while read -r call nth what; do
  where="$call #$nth ($what)"
  cut_at "$call" "$call:signal=KILL:when=$nth"
  judge
done <"$work/points"
where="the end of the run"
cut_at fsync
judge

# The check of the checks: a run whose last fsync of the new package's data is answered
# without being made, cut at its end, must be found broken.
sabotage=$(awk '$2 ~ /^fsync\(/ { n++ } $2 ~ /^fsync\(/ && /\/pm\.dat>/ { k = n } END { print k }' "$work/run.trace")
counts="$old $new $next $broken $held $points $patch_left $fsck_bad"
where="the run without the sync of pm.dat's data (fsync #$sabotage)"
cut_at fsync "fsync:retval=0:when=$sabotage"
judge >"$work/sabotage.out"
[ "$bad" = 1 ] || { echo "FAIL: a run that skipped the sync of pm.dat's data was not found broken"; exit 1; }
read -r old new next broken held points patch_left fsck_bad <<<"$counts"

echo "kill points: $points; old version, game unchanged: $old; old version, the next run finished: $next;" \
     "new version: $new (patch files left behind: $patch_left); broken: $broken"
echo "write-back held back (canary unsynced) at $held of $points points; e2fsck complaints: $fsck_bad"
[ "$held" -eq "$points" ] || { echo "FAIL: data reached the disk without a sync: the cuts above model no power cut"; exit 1; }
[ "$broken" -eq 0 ] && [ "$fsck_bad" -eq 0 ] || { echo "FAIL: a power cut broke the game"; exit 1; }
echo "ok: every power cut left the old version or the new one, and the rerun finished"
