#!/usr/bin/env bash
# The main job on a demo game: makes a game folder with packages, a patch for it and a
# self-extracting console updater that carries the patch, runs the updater with --yes,
# and shows what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=${BIN:-build/linux}
PCKTOOL=$BIN/tools/pcktool
UPDATER=$BIN/quorvane-update
DEMO=demo
GAME=$DEMO/game
SRC=$DEMO/src

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

rm -rf "$DEMO"
mkdir -p "$GAME" "$SRC/bld/ui" "$SRC/bld/maps" "$SRC/mb/items" "$SRC/sy" "$SRC/patch" "$DEMO/build"

say "making the demo game in $GAME"
# Game-like files: text tables and binary blobs, deterministic.
for i in $(seq 1 120); do
  awk -v n="$i" 'BEGIN { for (k = 0; k < 40 + n; k++) printf "map%03d,%d,%d,tile_%d\n", n, k, (k * n) % 97, k % 13 }' \
    > "$SRC/bld/maps/map$i.csv"
done
for i in $(seq 1 80); do
  head -c $((2000 + i * 37)) /dev/zero | tr '\0' "$(printf "\\$(printf '%03o' $((65 + i % 26)))")" > "$SRC/bld/ui/icon$i.tga"
done
for i in $(seq 1 100); do
  awk -v n="$i" 'BEGIN { for (k = 0; k < 60; k++) printf "item%d\tname_%d\tprice=%d\n", n * 100 + k, k, n * k }' \
    > "$SRC/mb/items/items$i.txt"
done
for i in $(seq 1 30); do printf 'sound bank %d\n' "$i" > "$SRC/sy/bank$i.txt"; done
"$PCKTOOL" create "$SRC/bld" "$GAME/bld" >/dev/null
"$PCKTOOL" create "$SRC/mb" "$GAME/mb" >/dev/null        # mb.dat marks the game folder
"$PCKTOOL" create "$SRC/sy" "$GAME/sy" >/dev/null
printf '[Ver]\r\nCurVer=1.0.5\r\nValidVer=1.0.0\r\n' > "$GAME/CVer.txt"
printf 'Quorvane 1.0.5\r\n' > "$GAME/readme.txt"
printf 'old log\n' > "$GAME/launcher.log"

say "making the patch 1.0.6"
P=$SRC/patch
mkdir -p "$P/bld/ui" "$P/bld/maps" "$P/bld/fx" "$P/mb/items" "$P/pm/skins" "$P/docs"
printf '[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n' > "$P/CVer.txt"
printf 'Quorvane 1.0.6\r\nWhat is new: fire effects, new skins.\r\n' > "$P/readme.txt"
printf 'Patch notes for 1.0.6\n' > "$P/docs/notes.txt"
for i in $(seq 1 40); do cp "$SRC/bld/maps/map$i.csv" "$P/bld/maps/map$i.csv"; printf 'patched\n' >> "$P/bld/maps/map$i.csv"; done
for i in $(seq 1 15); do printf 'fx %d\n' "$i" > "$P/bld/fx/fire$i.fx"; done
for i in $(seq 1 60); do : > "$P/mb/items/items$i.txt"; done   # empty: delete the entry
for i in $(seq 1 10); do printf 'skin %d\n' "$i" > "$P/pm/skins/skin$i.bmp"; done
"$PCKTOOL" create "$P" "$DEMO/build/patch" >/dev/null
printf 'launcher.log\r\n' > "$DEMO/build/Delete.txt"
cp "$UPDATER" "$DEMO/build/image"
"$PCKTOOL" payload build "$DEMO/build/image" "$GAME/quorvane-update" \
  "$DEMO/build/patch.idx" "$DEMO/build/patch.nam" "$DEMO/build/patch.dat" "$DEMO/build/Delete.txt"
chmod +x "$GAME/quorvane-update"
"$PCKTOOL" payload list "$GAME/quorvane-update"

snapshot() {  # every package entry and plain file with its digest
  for base in bld mb sy pm; do
    if [ -f "$GAME/$base.idx" ]; then
      "$PCKTOOL" list "$GAME/$base" | awk -F'\t' -v b="$base" '$1 == "f" { print b ":" $5 "\t" $4 }'
    fi
  done
  (cd "$GAME" && find . -type f ! -name '*.idx' ! -name '*.nam' ! -name '*.dat' ! -name 'quorvane-update' \
     -exec md5sum {} + | awk '{ sub("^\\./", "", $2); print $2 "\t" $1 }')
}
sizes() {
  for base in bld mb sy pm; do
    if [ -f "$GAME/$base.dat" ]; then printf '%s.dat %s bytes\n' "$base" "$(wc -c < "$GAME/$base.dat")"; fi
  done
}

version() { tr -d '\r' < "$GAME/CVer.txt" | sed -n 's/^CurVer=//p'; }

# What an updater did to $GAME, against the snapshot taken before it ran.
report() {
  snapshot | sort > "$DEMO/after.txt"
  say "what changed"
  printf 'version before: %s\nversion after:  %s\n' "$VBEFORE" "$(version)"
  join -t $'\t' -a1 -a2 -e MISSING -o 0,1.2,2.2 "$DEMO/before.txt" "$DEMO/after.txt" | awk -F'\t' '
    $2 == "MISSING" { added++; next } $3 == "MISSING" { deleted++; next } $2 != $3 { replaced++ }
    END { printf "files added: %d, replaced: %d, deleted: %d\n", added, replaced, deleted }'
  printf 'package data files before and after (rebuilt when more than 40%% was dead):\n'
  sizes > "$DEMO/sizes-after.txt"
  join -a1 -a2 -e new -o 0,1.2,2.2 "$DEMO/sizes-before.txt" "$DEMO/sizes-after.txt" |
    awk '{ printf "  %-7s %8s -> %8s bytes\n", $1, $2, $3 }'
  for base in bld mb sy pm; do "$PCKTOOL" verify "$GAME/$base" | sed "s/^/  $base: /"; done
  ls "$GAME"/patch.* 2>/dev/null && echo "patch files left behind!" || echo "patch files removed after the run"
}

snapshot | sort > "$DEMO/before.txt"
sizes > "$DEMO/sizes-before.txt"
VBEFORE=$(version)
# The same game once more, for the Windows updater.
cp -r "$GAME" "$DEMO/game-win"
rm -f "$DEMO/game-win/quorvane-update"

say "running the updater in $GAME"
(cd "$GAME" && ./quorvane-update --yes)
report

# The same run with the Windows updater under Wine, when it has been built.
WINBIN=${WINBIN:-build/windows}
WINEXE=$WINBIN/ui/QuorvaneUpdate.exe
CLICK=$WINBIN/tests/updater_click_through.exe
if command -v wine >/dev/null 2>&1 && [ -f "$WINEXE" ] && [ -f "$CLICK" ]; then
  GAME=$DEMO/game-win
  say "the same patch with the Windows updater (Wine, on a virtual display when there is none)"
  "$PCKTOOL" payload build "$WINEXE" "$GAME/QuorvaneUpdate.exe" \
    "$DEMO/build/patch.idx" "$DEMO/build/patch.nam" "$DEMO/build/patch.dat" "$DEMO/build/Delete.txt" >/dev/null
  abs() { printf 'Z:%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
  bash scripts/with-display.sh bash scripts/wine-run.sh "$CLICK" \
    "$(abs "$GAME/QuorvaneUpdate.exe")" "$(abs "$GAME")" "$(abs "$DEMO")/updater-windows.png"
  rm -f "$GAME/QuorvaneUpdate.exe"
  report
  echo "screenshot of the Windows updater during its run: $DEMO/updater-windows.png"
else
  say "Windows updater not built or Wine missing: skipping its run (make windows builds it)"
fi
