#!/usr/bin/env bash
# A game on a small disk with room for the carried patch but not for the release: the
# run says so (the megabytes needed and free) before it changes anything, and once space
# is freed the same updater completes. Needs root (to mount a tmpfs of a few megabytes); skips otherwise.
#   disk-full.sh PCKTOOL QUORVANE_UPDATE
set -euo pipefail
PCKTOOL=$1
UPDATER=$2
SKIP=77

[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root to mount a tmpfs"; exit $SKIP; }
work=$(mktemp -d)
disk="$work/disk"
mkdir -p "$disk"
cleanup() { umount "$disk" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
mount -t tmpfs -o size=24m tmpfs "$disk" 2>/dev/null || { echo "skipped: cannot mount a tmpfs here"; exit $SKIP; }

random() { head -c "$1" /dev/urandom; }
# The game: mb.dat marks it, bld holds 40 entries.
game="$disk/game"
mkdir -p "$work/tree/ui" "$work/patch/bld/ui" "$game"
for i in $(seq 1 40); do random 20000 >"$work/tree/ui/f$i.tga"; done
"$PCKTOOL" create "$work/tree" "$game/bld" >/dev/null
echo marker >"$game/mb.dat"
printf '[Ver]\r\nCurVer=1.0.5\r\n' >"$game/CVer.txt"
# The patch: every entry of bld replaced, and a new plain file.
for i in $(seq 1 40); do random 21000 >"$work/patch/bld/ui/f$i.tga"; done
printf '[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n' >"$work/patch/CVer.txt"
echo new >"$work/patch/new.txt"
"$PCKTOOL" create "$work/patch" "$work/patch-pck" >/dev/null
(cd "$work" && cp patch-pck.idx patch.idx && cp patch-pck.nam patch.nam && cp patch-pck.dat patch.dat)
"$PCKTOOL" payload build "$UPDATER" "$game/quorvane-update" "$work/patch.idx" "$work/patch.nam" "$work/patch.dat" >/dev/null
chmod +x "$game/quorvane-update"
"$PCKTOOL" list "$game/bld" >"$work/before.txt"
cp "$game/CVer.txt" "$work/CVer.before"
dat_size=$(stat -c %s "$game/bld.dat")

# Leave room for the released patch (and the margin kept free) but not for the release
# into bld: the run must see that before it changes anything.
patch_kb=$(( ($(stat -c %s "$work/patch.idx") + $(stat -c %s "$work/patch.nam") + $(stat -c %s "$work/patch.dat")) / 1024 ))
free_kb=$(df -k --output=avail "$disk" | tail -1)
head -c $(( (free_kb - patch_kb - 1400) * 1024 )) /dev/zero >"$disk/filler" 2>/dev/null || true

status=0
trace="$work/trace.txt"
if command -v strace >/dev/null; then
  (cd "$game" && strace -f -qq -y -o "$trace" \
     -e trace=openat,creat,write,pwrite64,truncate,ftruncate,rename,renameat,renameat2,unlink,unlinkat,mkdir,mkdirat \
     ./quorvane-update --yes </dev/null >"$work/out1.txt" 2>&1) || status=$?
else
  (cd "$game" && ./quorvane-update --yes </dev/null >"$work/out1.txt" 2>&1) || status=$?
fi
if [ "$status" -ne 1 ]; then echo "FAIL: the run on a full disk exited $status"; cat "$work/out1.txt"; exit 1; fi
# "更新出错,请退出重试!": the updater's own failure status; "磁盘空间不足": told before the release
grep -q "更新出错" "$work/out1.txt" || { echo "FAIL: no failure message"; cat "$work/out1.txt"; exit 1; }
grep -q "磁盘空间不足: 需要 [0-9]* MB, 只有 [0-9]* MB 可用" "$work/out1.txt" \
  || { echo "FAIL: the needed and free space are not told"; cat "$work/out1.txt"; exit 1; }
grep -q "the update needs [0-9]* MB, [0-9]* MB are free" "$work/out1.txt" \
  || { echo "FAIL: the reason is not named"; cat "$work/out1.txt"; exit 1; }
# Nothing of the game was written, created, renamed or removed: only the carried patch
# files were released (and the single-instance lock taken outside the game).
if [ -f "$trace" ]; then
  # (-y names each descriptor's file: a write shows as write(5</…/game/bld.dat>, …).)
  changes=$(grep -E 'O_CREAT|O_TRUNC|creat\(|truncate\(|rename|unlink|mkdir|write(64)?\([0-9]+<[^>]*/game/' "$trace" \
            | grep -v ' = -1 ' | grep -vE '(patch\.(idx|nam|dat)|Delete\.txt)[">]|\.lock"' || true)
  [ -z "$changes" ] || { echo "FAIL: the refused run changed the game:"; echo "$changes"; exit 1; }
fi
"$PCKTOOL" verify "$game/bld" >/dev/null || { echo "FAIL: bld does not verify after the full disk"; exit 1; }
"$PCKTOOL" list "$game/bld" | cmp -s - "$work/before.txt" || { echo "FAIL: bld changed"; exit 1; }
cmp -s "$game/CVer.txt" "$work/CVer.before" || { echo "FAIL: the version file changed"; exit 1; }
[ -f "$game/mb.dat" ] || { echo "FAIL: mb.dat is gone"; exit 1; }
[ "$(stat -c %s "$game/bld.dat")" = "$dat_size" ] || { echo "FAIL: bld.dat grew"; exit 1; }

rm -f "$disk/filler"
status=0
(cd "$game" && ./quorvane-update --yes </dev/null >"$work/out2.txt" 2>&1) || status=$?
if [ "$status" -ne 0 ]; then echo "FAIL: the rerun exited $status"; cat "$work/out2.txt"; exit 1; fi
"$PCKTOOL" verify "$game/bld" >/dev/null
for i in $(seq 1 40); do
  "$PCKTOOL" cat "$game/bld" "ui/f$i.tga" | cmp -s - "$work/patch/bld/ui/f$i.tga" || { echo "FAIL: ui/f$i.tga"; exit 1; }
done
grep -q "1.0.6" "$game/CVer.txt" && [ "$(cat "$game/new.txt")" = new ] || { echo "FAIL: the rerun did not finish"; exit 1; }
[ ! -e "$game/pck.journal" ] || { echo "FAIL: a journal is left"; exit 1; }
echo "ok: the disk too small was told before the first change and the rerun completed"
