#!/usr/bin/env bash
# Makes a small demo game folder under demo/, packs one of its folders into a game
# package with pcktool and shows what the tool can do with it.
set -euo pipefail
cd "$(dirname "$0")/.."
PCKTOOL=${PCKTOOL:-build/linux/tools/pcktool}
DEMO=demo

rm -rf "$DEMO"
mkdir -p "$DEMO/game" "$DEMO/src/data/maps" "$DEMO/src/data/text"
printf '[Ver]\nCurVer=1.0.2\n' > "$DEMO/game/CVer.txt"
: > "$DEMO/game/mb.dat"
for i in $(seq 1 40); do
  printf 'map %d\n' "$i" | awk '{for(k=0;k<200;k++) print $0, k}' > "$DEMO/src/data/maps/map$i.txt"
done
for i in $(seq 1 20); do
  head -c $((i * 1500)) /dev/urandom > "$DEMO/src/data/text/blob$i.bin"
done
printf 'hello from the demo\n' > "$DEMO/src/data/readme.txt"

step() { printf '\n\033[1m$ %s\033[0m\n' "$*"; "$@"; }
step "$PCKTOOL" create "$DEMO/src/data" "$DEMO/game/mb"
step "$PCKTOOL" info "$DEMO/game/mb"
printf '\n$ %s list %s | head\n' "$PCKTOOL" "$DEMO/game/mb"
"$PCKTOOL" list "$DEMO/game/mb" | head
step "$PCKTOOL" cat "$DEMO/game/mb" readme.txt
printf 'a newer readme\n' > "$DEMO/readme.new"
step "$PCKTOOL" replace "$DEMO/game/mb" readme.txt "$DEMO/readme.new"
step "$PCKTOOL" delete "$DEMO/game/mb" text
step "$PCKTOOL" info "$DEMO/game/mb"
step "$PCKTOOL" compact "$DEMO/game/mb" "$DEMO/game/tmp"
step "$PCKTOOL" info "$DEMO/game/tmp"
step "$PCKTOOL" verify "$DEMO/game/tmp"
echo
echo "demo folder: $DEMO/"
