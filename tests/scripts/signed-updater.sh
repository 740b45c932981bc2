#!/usr/bin/env bash
# The publisher's pipeline with code signing, end to end: pcktool diff (a delta among
# its files), pcktool payload build on the Windows updater image, osslsigncode sign with a throw-away certificate, osslsigncode
# verify. The signed updater lists, extracts and installs its patch under Wine; one
# flipped byte of the patch breaks the signature; a build onto a signed image drops the
# signature with a note and gives an updater that can be signed and works.
#   signed-updater.sh PCKTOOL.exe QuorvaneUpdate.exe updater_click_through.exe
# Runs in the Windows test tree (the tools under Wine, on the display that `make test`
# provides); skips (77) when osslsigncode, openssl or a display is missing.
set -euo pipefail
PCKTOOL=$1
IMAGE=$2
CLICK=$3
SKIP=77
ROOT=$(cd "$(dirname "$0")/../.." && pwd)

for tool in osslsigncode openssl wine; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (scripts/setup.sh installs it)"; exit $SKIP; }
done
[ -n "${DISPLAY:-}" ] || { echo "skipped: no display (make test starts a virtual one)"; exit $SKIP; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
wine_run() { bash "$ROOT/scripts/wine-run.sh" "$@"; }
# pcktool.exe under Wine, its output without the carriage returns of Windows lines.
pck() { wine_run "$PCKTOOL" "$@" | tr -d '\r'; }
W() { printf 'Z:%s' "$1"; }  # an absolute path as Wine's programs see it
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }
u16() { od -An -tu2 -j "$2" -N2 "$1" | tr -d ' '; }
# Data directory 4 of the PE optional header: "OFFSET SIZE" of the certificate table.
security_directory() {
  local pe magic entry
  pe=$(u32 "$1" 60)
  magic=$(u16 "$1" $((pe + 24)))
  entry=$((pe + 24 + (magic == 267 ? 96 : 112) + 32))
  echo "$(u32 "$1" "$entry") $(u32 "$1" $((entry + 4)))"
}
size() { stat -c %s "$1"; }
sign() { osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "Quorvane update" -in "$1" -out "$2" >/dev/null; }
verify() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.txt" 2>&1; }

# A throw-away code-signing certificate.
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=test -days 2 \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || fail "openssl could not make a certificate"

# The game 1.0.5 (the package mb marks its folder) and the new game 1.0.6, of which
# pcktool diff makes the patch: a replaced entry of bld, a new entry, a new plain file,
# and data.bin (40 kB that do not compress, a line put in), which goes as a delta.
mkdir -p "$work/tree/ui" "$work/tree-mb" "$work/game" "$work/new"
printf 'old button\n' >"$work/tree/ui/button.tga"
printf 'old map\n' >"$work/tree/ui/map.tga"
printf 'items\n' >"$work/tree-mb/items.txt"
pck create "$(W "$work/tree")" "$(W "$work/game/bld")" >/dev/null
pck create "$(W "$work/tree-mb")" "$(W "$work/game/mb")" >/dev/null
printf '[Ver]\r\nCurVer=1.0.5\r\n' >"$work/game/CVer.txt"
LC_ALL=C awk 'BEGIN { srand(3); for (i = 0; i < 40000; i++) printf "%c", 1 + int(rand() * 255) }' >"$work/game/data.bin"
cp "$work"/game/mb.* "$work/new/"
printf '[Ver]\r\nCurVer=1.0.6\r\nValidVer=1.0.5\r\n' >"$work/new/CVer.txt"
printf 'new button\n' >"$work/tree/ui/button.tga"
printf 'new effect\n' >"$work/tree/ui/fire.fx"
pck create "$(W "$work/tree")" "$(W "$work/new/bld")" >/dev/null
printf 'patch notes\n' >"$work/new/notes.txt"
{ head -c 20000 "$work/game/data.bin"; echo "new data"; tail -c +20001 "$work/game/data.bin"; } >"$work/new/data.bin"
pck diff "$(W "$work/game")" "$(W "$work/new")" "$(W "$work/diff")" >"$work/diff.txt" || fail "pcktool diff"
grep -q "deltas: 1 files" "$work/diff.txt" || { cat "$work/diff.txt"; fail "diff made no delta of data.bin"; }
for ext in idx nam dat; do cp "$work/diff/patch.$ext" "$work/patch.$ext"; done
PATCH=("$(W "$work/patch.idx")" "$(W "$work/patch.nam")" "$(W "$work/patch.dat")")

# Runs an updater in a fresh copy of the game through its window and checks the result.
install() {
  local game=$work/run-$2
  rm -rf "$game"
  cp -r "$work/game" "$game"
  cp "$1" "$game/QuorvaneUpdate.exe"
  wine_run "$CLICK" "$(W "$game/QuorvaneUpdate.exe")" "$(W "$game")" "$(W "$work/$2.png")" \
    >"$work/$2.txt" 2>&1 || { cat "$work/$2.txt"; fail "$2: the updater's run did not complete"; }
  tr -d '\r' <"$game/CVer.txt" | grep -qx 'CurVer=1.0.6' || fail "$2: the version is not 1.0.6"
  cmp -s "$game/notes.txt" "$work/new/notes.txt" || fail "$2: notes.txt was not installed"
  cmp -s "$game/data.bin" "$work/new/data.bin" || fail "$2: the delta of data.bin did not give the new file"
  [ "$(pck cat "$(W "$game/bld")" ui/button.tga)" = "new button" ] || fail "$2: bld's button.tga was not replaced"
  [ "$(pck cat "$(W "$game/bld")" ui/fire.fx)" = "new effect" ] || fail "$2: bld has no fire.fx"
}

# 1. Build and sign. The output is a multiple of 8 bytes, so the signer appends its
#    table right after the trailer and changes nothing before it but the header fields.
pck payload build "$(W "$IMAGE")" "$(W "$work/updater.exe")" "${PATCH[@]}" >/dev/null 2>"$work/build.err" ||
  { cat "$work/build.err"; fail "payload build"; }
[ ! -s "$work/build.err" ] || { cat "$work/build.err"; fail "a note for an unsigned image"; }
unsigned=$(size "$work/updater.exe")
[ $((unsigned % 8)) -eq 0 ] || fail "the updater is $unsigned bytes, not a multiple of 8"
sign "$work/updater.exe" "$work/signed.exe" || fail "osslsigncode sign"
read -r table table_size <<<"$(security_directory "$work/signed.exe")"
[ "$table" -eq "$unsigned" ] || fail "the certificate table starts at $table, not at $unsigned"
[ $((table + table_size)) -eq "$(size "$work/signed.exe")" ] || fail "the table does not end the file"
cmp -s -i 4096 -n $((unsigned - 4096)) "$work/updater.exe" "$work/signed.exe" || fail "signing changed the payload"
verify "$work/signed.exe" || { cat "$work/verify.txt"; fail "osslsigncode verify of the signed updater"; }

# 2. pcktool reads the signed updater as it reads the unsigned one.
pck payload list "$(W "$work/updater.exe")" >"$work/list-unsigned.txt"
pck payload list "$(W "$work/signed.exe")" >"$work/list-signed.txt" || fail "payload list of the signed updater"
cmp -s "$work/list-unsigned.txt" "$work/list-signed.txt" || fail "the signed updater lists differently"
pck payload extract "$(W "$work/signed.exe")" "$(W "$work/out")" >/dev/null || fail "payload extract"
for ext in idx nam dat; do cmp -s "$work/out/patch.$ext" "$work/patch.$ext" || fail "patch.$ext extracted wrong"; done

# 3. The signed updater installs its patch.
install "$work/signed.exe" signed

# 4. The signature covers the patch: one flipped byte of it fails the verification.
cp "$work/signed.exe" "$work/flipped.exe"
at=$((unsigned - 200))
byte=$(od -An -tu1 -j "$at" -N1 "$work/flipped.exe" | tr -d ' ')
printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of="$work/flipped.exe" bs=1 seek="$at" conv=notrunc status=none
if verify "$work/flipped.exe"; then fail "osslsigncode verify passed a changed patch"; fi

# 5. A vendor-signed image: the build drops the signature, says so, and the result is
#    signed anew and works.
sign "$IMAGE" "$work/vendor.exe" || fail "osslsigncode sign of the image"
pck payload build "$(W "$work/vendor.exe")" "$(W "$work/rebuilt.exe")" "${PATCH[@]}" >/dev/null 2>"$work/build.err" ||
  { cat "$work/build.err"; fail "payload build onto the signed image"; }
grep -q "signature was removed, since appending the patch invalidates it" "$work/build.err" ||
  { cat "$work/build.err"; fail "no note about the removed signature"; }
[ "$(security_directory "$work/rebuilt.exe")" = "0 0" ] || fail "the rebuilt updater keeps a security directory"
# Byte for byte the updater built on the unsigned image, but for the checksum, zeroed.
checksum=$(($(u32 "$work/rebuilt.exe" 60) + 24 + 64))
[ "$(u32 "$work/rebuilt.exe" "$checksum")" = 0 ] || fail "the rebuilt updater keeps a checksum"
cmp -s -n "$checksum" "$work/rebuilt.exe" "$work/updater.exe" &&
  cmp -s -i $((checksum + 4)) "$work/rebuilt.exe" "$work/updater.exe" ||
  fail "the rebuilt updater differs from one built on the unsigned image"
sign "$work/rebuilt.exe" "$work/resigned.exe" || fail "osslsigncode sign of the rebuilt updater"
verify "$work/resigned.exe" || { cat "$work/verify.txt"; fail "osslsigncode verify of the rebuilt updater"; }
install "$work/resigned.exe" resigned
echo "signed updater: built, signed, verified, listed, extracted and installed"
