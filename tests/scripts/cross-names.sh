#!/usr/bin/env bash
# Chinese names from a Linux build machine: pcktool on Linux stores the code page 936
# bytes of 说明.txt, 旧.txt and 界面/按钮.tga (entries, name tables and Delete.txt), makes
# the very bytes that pcktool.exe makes under Wine from the same two folders (the delta
# of 数据.bin included), pcktool.exe applies that patch to a copy of the old game under
# Wine, and a name that code page 936 lacks is refused without writing anything.
#   cross-names.sh PCKTOOL PCKTOOL_EXE
# Skips (77) when one of the two tools is not built.
set -euo pipefail
PCKTOOL=$1
PCKTOOL_EXE=$2
HERE=$(cd "$(dirname "$0")/../.." && pwd)
[ -x "$PCKTOOL" ] && [ -f "$PCKTOOL_EXE" ] || { echo "skipped: needs $PCKTOOL and $PCKTOOL_EXE"; exit 77; }
export LC_ALL=C.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
gbk() { printf '%s' "$1" | iconv -f UTF-8 -t CP936 | xxd -p; }
holds() { xxd -p "$1" | tr -d '\n' | grep -q "$(gbk "$2")" || fail "$1 lacks the code page 936 bytes of $2"; }

# OLD: a package bld with 界面/按钮.tga and a plain 旧.txt; NEW: bld changed, 旧.txt gone,
# 说明.txt and a new folder 文档/说明.txt added.
mkdir -p "$work/tree/界面" "$work/old" "$work/new/文档"
echo one >"$work/tree/界面/按钮.tga"
touch -d '2024-05-01 12:00:00' "$work/tree/界面/按钮.tga"
"$PCKTOOL" create "$work/tree" "$work/old/bld" >/dev/null
holds "$work/old/bld.nam" 界面
holds "$work/old/bld.nam" 按钮.tga
"$PCKTOOL" list "$work/old/bld" | grep -q $'\t界面/按钮.tga$' || fail "list does not show 界面/按钮.tga in the terminal's characters"
printf '[Ver]\r\nCurVer=1.0.5\r\n' >"$work/old/CVer.txt"
echo old >"$work/old/旧.txt"
# A changed file that goes as a delta: 40 kB that do not compress, a line put in.
LC_ALL=C awk 'BEGIN { srand(7); for (i = 0; i < 40000; i++) printf "%c", 1 + int(rand() * 255) }' >"$work/old/数据.bin"
echo two >"$work/tree/界面/按钮.tga"
touch -d '2024-06-01 12:00:00' "$work/tree/界面/按钮.tga"
"$PCKTOOL" create "$work/tree" "$work/new/bld" >/dev/null
printf '[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n' >"$work/new/CVer.txt"
echo notes >"$work/new/说明.txt"
echo docs >"$work/new/文档/说明.txt"
{ head -c 20000 "$work/old/数据.bin"; echo "new data"; tail -c +20001 "$work/old/数据.bin"; } >"$work/new/数据.bin"
touch -d '2024-06-02 12:00:00' "$work/new/说明.txt" "$work/new/文档/说明.txt" "$work/new/CVer.txt" "$work/new/数据.bin"

"$PCKTOOL" diff "$work/old" "$work/new" "$work/linux" >/dev/null
holds "$work/linux/patch.nam" 说明.txt
holds "$work/linux/patch.nam" 文档
holds "$work/linux/Delete.txt" 旧.txt

( cd "$work" && bash "$HERE/scripts/wine-run.sh" "$PCKTOOL_EXE" diff old new windows >/dev/null 2>"$work/wine.err" ) \
  || { cat "$work/wine.err"; fail "pcktool.exe diff under Wine"; }
for f in patch.idx patch.nam patch.dat Delete.txt; do
  cmp "$work/linux/$f" "$work/windows/$f" || fail "$f differs between Linux and Windows"
done
"$PCKTOOL" list "$work/linux/patch" | grep -q $'\t~delta/数据.bin/' || fail "diff carried 数据.bin whole"

# pcktool.exe applies the patch, delta and all, to a copy of the old game.
cp -r "$work/old" "$work/copy"
( cd "$work" && bash "$HERE/scripts/wine-run.sh" "$PCKTOOL_EXE" apply linux/patch copy >/dev/null 2>"$work/wine.err" ) \
  || { cat "$work/wine.err"; fail "pcktool.exe apply under Wine"; }
cmp "$work/copy/数据.bin" "$work/new/数据.bin" || fail "the delta of 数据.bin did not give the new file under Wine"
cmp "$work/copy/文档/说明.txt" "$work/new/文档/说明.txt" || fail "apply under Wine did not write 文档/说明.txt"
"$PCKTOOL" extract "$work/copy/bld" "$work/copy-bld" >/dev/null
cmp "$work/copy-bld/界面/按钮.tga" "$work/tree/界面/按钮.tga" || fail "apply under Wine left the old 界面/按钮.tga"

# A name outside code page 936: exit 1, one line naming the folder and file, no output.
touch "$work/new/😀.txt"
set +e
"$PCKTOOL" diff "$work/old" "$work/new" "$work/refused" >/dev/null 2>"$work/refused.err"
code=$?
set -e
[ "$code" -eq 1 ] || fail "diff over a name outside code page 936 exited $code"
grep -q "new/?.txt: the name holds a character that code page 936 lacks" "$work/refused.err" \
  || fail "unexpected message: $(cat "$work/refused.err")"
[ ! -e "$work/refused" ] || [ -z "$(ls -A "$work/refused")" ] || fail "diff wrote output for a refused name"
echo "ok: Linux and Windows make the same patch with code page 936 names"
