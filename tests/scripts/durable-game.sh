# A game and its console updater for the durability checks (sourced by sync-order.sh
# and power-cut.sh). The patch touches every kind of change a run makes: new nested
# plain folders, plain files replaced and added, package entries replaced, added and
# removed (one of them in a folder of its own), a new package, a replacement that
# leaves `mb` over the tidy threshold (so it is compacted and swapped in), and a
# Delete.txt of files in subfolders, a whole folder, a pattern and a package, through
# which a package is rebuilt, a plain file becomes a folder and a plain folder a package;
# and deltas of a package entry and of a plain file.
#   make_durable_game PCKTOOL UPDATER WORK GAME
# builds the old game in GAME (with GAME/quorvane-update carrying the patch), using WORK
# for the trees the packages are made from.

# Deterministic bytes that compress like game data: `seeded N SEED`.
seeded() { head -c "$1" < <(yes "quorvane $2 $(printf '%08d' "$2")" | nl -ba) ; }
# Deterministic bytes that do not compress: `noise N SEED`.
noise() { LC_ALL=C awk -v n="$1" -v s="$2" 'BEGIN { srand(s); for (i = 0; i < n; i++) printf "%c", 1 + int(rand() * 255) }'; }

make_durable_game() {
  local pcktool=$1 updater=$2 work=$3 game=$4
  local old="$work/old" new="$work/new"
  mkdir -p "$game" "$old"/bld/ui "$old"/bld/snd "$old"/mb/map "$old"/mb/ui "$old"/sy/cfg "$old"/cj/c \
    "$old"/LaunchSkin/skin
  seeded 30000 1 >"$old/bld/ui/x.tga"
  echo "old art" >"$old/bld/ui/old.tga"
  noise 20000 2 >"$old/bld/snd/s.wav"
  seeded 90000 3 >"$old/mb/map/m1.bin"
  echo a >"$old/mb/ui/a.txt"
  echo b >"$old/mb/ui/b.txt"
  echo "[sys]" >"$old/sy/cfg/sys.ini"
  echo "[old]" >"$old/sy/cfg/unused.ini"
  echo "old cj" >"$old/cj/c/c.txt"
  seeded 3000 8 >"$old/LaunchSkin/skin/bg.bmp"
  for p in bld mb sy cj LaunchSkin; do "$pcktool" create "$old/$p" "$game/$p" >/dev/null; done
  echo "a stale index" >"$game/sy.idx.new"
  echo "old version data" >"$game/Ver.dat"
  echo "a file that becomes a folder" >"$game/maps"
  mkdir -p "$game/RESOURCE/plain"
  echo "a plain folder that becomes a package" >"$game/RESOURCE/plain/r.txt"
  printf '[Ver]\r\nCurVer=1.0.5\r\n' >"$game/CVer.txt"
  echo "old readme" >"$game/readme.txt"
  noise 30000 10 >"$game/notes.bin"
  echo log >"$game/a.log"
  mkdir -p "$game/docs" "$game/data/sub" "$game/olddir/sub/deeper"
  echo obsolete >"$game/docs/old.txt"
  echo kept >"$game/docs/keep.txt"
  echo obsolete >"$game/data/sub/old.bin"
  echo kept >"$game/data/sub/keep.bin"
  echo gone >"$game/olddir/a.txt"
  echo gone >"$game/olddir/sub/deeper/b.txt"

  # The patch: plain files at the root and in new nested folders, entries of the three
  # packages, and a package the game does not have yet.
  mkdir -p "$new"/docs/sub/deep "$new"/newdir/a/b "$new"/bld/ui "$new"/bld/fx/new "$new"/mb/map "$new"/mb/ui \
    "$new"/sy/cfg "$new"/pm/start "$new"/maps "$new"/LaunchSkin/skin "$new"/RESOURCE/res "$new"/data/sub
  printf '[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n' >"$new/CVer.txt"
  echo "new readme" >"$new/readme.txt"
  echo added >"$new/added.txt"
  echo deep >"$new/docs/sub/deep/n.txt"
  seeded 5000 4 >"$new/newdir/a/b/new.bin"
  seeded 31000 5 >"$new/bld/ui/x.tga"
  echo "new art" >"$new/bld/ui/new.tga"
  : >"$new/bld/ui/old.tga"                    # an empty file removes the entry
  seeded 7000 6 >"$new/bld/fx/new/z.bin"
  seeded 95000 7 >"$new/mb/map/m1.bin"        # most of mb.dat becomes dead space
  : >"$new/mb/ui/b.txt"
  : >"$new/sy/cfg/unused.ini"
  echo "a new package" >"$new/pm/start/p.txt"
  echo "now in a folder" >"$new/maps/m.txt"
  seeded 3100 9 >"$new/LaunchSkin/skin/bg.bmp"
  echo "now in a package" >"$new/RESOURCE/res/r.txt"
  echo "replaced in a subfolder" >"$new/data/sub/keep.bin"
  # Two changed files as deltas of the game's own, made by diff from a pair of small
  # games that hold just them: bld's snd/s.wav and the plain notes.bin.
  local dold="$work/delta-old" dnew="$work/delta-new"
  mkdir -p "$dold/bld/snd" "$dnew/bld/snd" "$dold/g" "$dnew/g"
  cp "$old/bld/snd/s.wav" "$dold/bld/snd/s.wav"
  { head -c 9000 "$dold/bld/snd/s.wav"; echo "a new cue"; tail -c +9001 "$dold/bld/snd/s.wav"; } >"$dnew/bld/snd/s.wav"
  cp "$game/notes.bin" "$dold/g/notes.bin"
  { head -c 20000 "$dold/g/notes.bin"; echo "new notes"; tail -c +20101 "$dold/g/notes.bin"; } >"$dnew/g/notes.bin"
  "$pcktool" create "$dold/bld" "$dold/g/bld" >/dev/null
  "$pcktool" create "$dnew/bld" "$dnew/g/bld" >/dev/null
  printf '[Ver]\r\nCurVer=1.0.5\r\n' >"$dold/g/CVer.txt"
  cp "$new/CVer.txt" "$dnew/g/CVer.txt"
  "$pcktool" diff "$dold/g" "$dnew/g" "$work/delta-patch" >/dev/null
  "$pcktool" extract "$work/delta-patch/patch" "$work/delta-files" >/dev/null
  [ "$(find "$work/delta-files/~delta" -type f | wc -l)" -eq 2 ] || { echo "diff made no deltas for the durable game"; exit 1; }
  cp -r "$work/delta-files/~delta" "$new/"
  "$pcktool" create "$new" "$work/patch" >/dev/null
  printf '%s\r\n' docs/old.txt data/sub/old.bin olddir '*.log' 'cj.*' maps RESOURCE LaunchSkin.idx LaunchSkin.nam \
    LaunchSkin.dat >"$work/Delete.txt"
  "$pcktool" payload build "$updater" "$game/quorvane-update" "$work/patch.idx" "$work/patch.nam" \
    "$work/patch.dat" "$work/Delete.txt" >/dev/null
  chmod +x "$game/quorvane-update"
}
