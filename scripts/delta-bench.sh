#!/usr/bin/env bash
# The delta benchmark of `make bench`: patch sizes of `pcktool diff --delta` against the
# whole-file patch and against general binary-delta tools on the same changed files, on
# the game-like data of bench/MakeGameData.cpp (about 1 % and 5 % of an 81 MB game
# changed), with diff's time and the release's time and peak memory.
#   scripts/delta-bench.sh [BUILD]     BUILD: the Release build folder (default build/bench)
# DELTA_BENCH_LEVELS: the --delta-level values to show, the default's first ("19 15 9").
# Needs zstd, xdelta3, bsdiff and GNU time (scripts/setup.sh installs them). The table is
# printed and kept in BUILD/delta-bench/results.md.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=${1:-build/bench}
PCKTOOL=$BIN/tools/pcktool
GEN=$BIN/bench/qv_make_game_data
WORK=$BIN/delta-bench
LEVELS=${DELTA_BENCH_LEVELS:-"19 15 9"}
TIME=/usr/bin/time

for tool in zstd xdelta3 bsdiff; do
  command -v "$tool" >/dev/null || { echo "delta-bench: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -x "$TIME" ] || { echo "delta-bench: GNU time ($TIME) is missing" >&2; exit 1; }

rm -rf "$WORK"
mkdir -p "$WORK/out" "$WORK/tmp"
echo "== delta benchmark: making the game data in $WORK"
"$GEN" "$WORK/data" | sed 's/^/   /'
for v in old new1 new5; do
  for p in bld mb; do "$PCKTOOL" create "$WORK/data/$v/pack/$p" "$WORK/data/$v/game/$p" >/dev/null; done
done

# Runs a command under GNU time, its output in tmp/log; sets SECS (wall) and PEAK (peak
# resident set, MiB). `timed` stops the benchmark when the command fails, `try` returns 1.
try() {
  "$TIME" -f '%e %M' -o "$WORK/tmp/time" "$@" >"$WORK/tmp/log" 2>&1 || return 1
  read -r SECS kib <"$WORK/tmp/time"
  PEAK=$((kib / 1024))
}
timed() { try "$@" || { cat "$WORK/tmp/log" >&2; echo "delta-bench: failed: $*" >&2; exit 1; }; }
patch_size() { cat "$1"/patch.idx "$1"/patch.nam "$1"/patch.dat "$1"/Delete.txt 2>/dev/null | wc -c; }
fmt() { echo "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# Whether GAME now holds exactly NEW's content: every package entry's size and MD5 (and
# every entry decodes to its MD5), every plain file byte for byte.
same_game() {
  local game=$1 new=$2 p
  for p in bld mb; do
    "$PCKTOOL" verify "$game/$p" >/dev/null || return 1
    cmp -s <("$PCKTOOL" list "$game/$p" | cut -f1,2,4,5) <("$PCKTOOL" list "$new/$p" | cut -f1,2,4,5) || return 1
  done
  for f in CVer.txt Quorvane.bin config.ini; do cmp -s "$game/$f" "$new/$f" || return 1; done
}

declare -A SIZE TIMES NOTE APPLIED CHECK
OLD=$WORK/data/old
for v in new1 new5; do
  NEW=$WORK/data/$v
  echo "== $v: pcktool diff"
  timed "$PCKTOOL" diff "$OLD/game" "$NEW/game" "$WORK/out/$v-whole" --no-delta
  SIZE[$v,whole]=$(patch_size "$WORK/out/$v-whole"); TIMES[$v,whole]="$SECS s, $PEAK MiB"
  for level in $LEVELS; do
    timed "$PCKTOOL" diff "$OLD/game" "$NEW/game" "$WORK/out/$v-delta$level" --delta-level "$level"
    SIZE[$v,d$level]=$(patch_size "$WORK/out/$v-delta$level"); TIMES[$v,d$level]="$SECS s, $PEAK MiB"
    NOTE[$v,d$level]=$(grep -o 'deltas: .*' "$WORK/tmp/log" || true)
    echo "   level $level: ${NOTE[$v,d$level]}"
  done

  echo "== $v: the general tools on each changed file"
  for t in zstd xdelta3 bsdiff; do SIZE[$v,$t]=0; TIMES[$v,$t]=0; done
  while read -r f; do
    a=$OLD/$f b=$NEW/$f o=$WORK/tmp/delta
    for t in zstd xdelta3 bsdiff; do
      case $t in
        zstd) timed zstd -q -f -19 --long=31 --patch-from="$a" "$b" -o "$o" ;;
        xdelta3) timed xdelta3 -9 -S lzma -e -f -s "$a" "$b" "$o" ;;
        bsdiff) timed bsdiff "$a" "$b" "$o" ;;
      esac
      SIZE[$v,$t]=$((SIZE[$v,$t] + $(wc -c <"$o")))
      TIMES[$v,$t]=$(awk -v a="${TIMES[$v,$t]}" -v b="$SECS" 'BEGIN { print a + b }')
    done
  done <"$WORK/data/changed-$v.txt"
  for t in zstd xdelta3 bsdiff; do TIMES[$v,$t]="${TIMES[$v,$t]} s"; done
  echo "   $(($(wc -l <"$WORK/data/changed-$v.txt"))) files"

  # Each delta of the default level's patch, decoded apart from pcktool: a delta of the
  # base as a prefix (version 1) with zstd's own tool against the old file, the header's
  # 52 bytes off, must give the new file; a difference (version 2) is counted. A changed
  # file without a delta (one too small for a delta to pay) must be in the patch whole.
  first=${LEVELS%% *}
  rm -rf "$WORK/extract"
  "$PCKTOOL" extract "$WORK/out/$v-delta$first/patch" "$WORK/extract" >/dev/null
  decoded=0 differences=0 whole=0
  while read -r f; do
    case $f in pack/*) rel=${f#pack/} ;; game/*) rel=${f#game/} ;; esac
    d=$(find "$WORK/extract/~delta/$rel" -type f 2>/dev/null | head -1 || true)
    if [ -z "$d" ]; then
      cmp -s "$WORK/extract/$rel" "$NEW/$f" || { echo "delta-bench: $f is not in the patch" >&2; exit 1; }
      whole=$((whole + 1))
      continue
    fi
    if [ "$(od -An -tu4 -j8 -N4 "$d" | tr -d ' ')" = 2 ]; then
      differences=$((differences + 1))
      continue
    fi
    tail -c +53 "$d" | zstd -d -q --long=31 --patch-from="$OLD/$f" -o "$WORK/tmp/decoded" -f
    cmp -s "$WORK/tmp/decoded" "$NEW/$f" || { echo "delta-bench: the delta of $f does not give $v's file" >&2; exit 1; }
    decoded=$((decoded + 1))
  done <"$WORK/data/changed-$v.txt"
  echo "   level-$first patch: $decoded deltas decoded by zstd to $v's files, $differences differences, $whole files whole"

  # The release: the delta patch into a copy of the old game.
  echo "== $v: pcktool apply"
  rm -rf "$WORK/game"
  cp -r "$OLD/game" "$WORK/game"
  timed "$PCKTOOL" apply "$WORK/out/$v-delta$first/patch" "$WORK/game"
  APPLIED[$v]=delta$first
  if same_game "$WORK/game" "$NEW/game"; then CHECK[$v]=equal; else CHECK[$v]=DIFFERENT; fi
  TIMES[$v,apply]="$SECS s, $PEAK MiB"
  echo "   ${APPLIED[$v]} patch applied: ${TIMES[$v,apply]}, result ${CHECK[$v]} to $v"
done

best() { local v=$1 m=${SIZE[$1,zstd]}; for t in xdelta3 bsdiff; do [ "${SIZE[$v,$t]}" -lt "$m" ] && m=${SIZE[$v,$t]}; done; echo "$m"; }
{
  echo
  echo "| | 1 %: bytes | time, peak | 5 %: bytes | time, peak |"
  echo "|---|---|---|---|---|"
  row() {  # label key
    printf '| %s |' "$1"
    for v in new1 new5; do printf ' %s | %s |' "$(fmt "${SIZE[$v,$2]}")" "${TIMES[$v,$2]}"; done
    echo
  }
  row "patch, whole files (\`pcktool diff --no-delta\`)" whole
  for level in $LEVELS; do row "patch, \`pcktool diff --delta-level $level\`" "d$level"; done
  row "sum of \`zstd -19 --long=31 --patch-from\`" zstd
  row "sum of \`xdelta3 -9 -S lzma\`" xdelta3
  row "sum of \`bsdiff\`" bsdiff
  for level in $LEVELS; do
    printf '| level %s: delta patch / best tool |' "$level"
    for v in new1 new5; do printf ' %s × | |' "$(ratio "${SIZE[$v,d$level]}" "$(best $v)")"; done
    echo
    printf '| level %s: whole patch / delta patch |' "$level"
    for v in new1 new5; do printf ' %s × | |' "$(ratio "${SIZE[$v,whole]}" "${SIZE[$v,d$level]}")"; done
    echo
  done
  printf '| release (`pcktool apply`) |'
  for v in new1 new5; do printf ' %s patch, result %s | %s |' "${APPLIED[$v]}" "${CHECK[$v]}" "${TIMES[$v,apply]}"; done
  echo
} | tee "$WORK/results.md"
for v in new1 new5; do [ "${CHECK[$v]}" = equal ] || { echo "delta-bench: the release of $v differs" >&2; exit 1; }; done
