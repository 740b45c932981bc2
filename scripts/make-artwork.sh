#!/usr/bin/env bash
# Draws the updater's skin: the shaped dialog background, the two buttons (normal and
# hot), the program icon and a preview of the assembled window.
#
#   bash scripts/make-artwork.sh OUTDIR
#
# Needs only ImageMagick's `convert` and the WenQuanYi fonts. Output is byte-for-byte
# reproducible: every random texture has a fixed seed, ImageMagick runs on one thread,
# PNGs carry no time chunks and the BMPs are written here with a fixed 54-byte header.
#
# Magenta (#FF00FF) is the cut-out colour: every pixel outside the window outline and
# outside the rounded button faces is exactly magenta, and no pixel inside is.
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
OUT=$1
mkdir -p "$OUT"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

export MAGICK_THREAD_LIMIT=1   # seeded noise must not depend on thread scheduling
export MAGICK_TEMPORARY_PATH=$T
# Zen Hei is unpacked by scripts/setup.sh into the build cache rather than installed:
# installed, it would become Wine's fallback font, whose small sizes Wine draws badly.
CACHE=${QV_CACHE:-/var/cache/quorvane-build}
FONT_BOLD=$CACHE/fonts/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
[ -r "$FONT_BOLD" ] || FONT_BOLD=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
FONT_TEXT=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
for f in "$FONT_BOLD" "$FONT_TEXT"; do
  [ -r "$f" ] || { echo "missing font $f (run scripts/setup.sh)" >&2; exit 1; }
done
IM() { convert -limit thread 1 "$@"; }
PNGOPT=(-strip -define png:exclude-chunks=date,time)

W=588 H=455
MAGENTA='#FF00FF'
# crest (emblem medallion) centre and radius; it rises above the panel's top edge
CX=294 CY=48 CR=47

# ---------------------------------------------------------------- helpers

# star CX CY ROUTER RINNER POINTS ROTATION_DEG -> "x,y x,y ..." for -draw polygon
star() {
  awk -v cx="$1" -v cy="$2" -v R="$3" -v r="$4" -v n="$5" -v rot="$6" 'BEGIN {
    pi = atan2(0, -1)
    for (i = 0; i < 2 * n; i++) {
      a = (rot - 90) * pi / 180 + i * pi / n
      rad = (i % 2 == 0) ? R : r
      printf "%.2f,%.2f ", cx + rad * cos(a), cy + rad * sin(a)
    }
  }'
}

# paint IMG MASK OUT: IMG with the grey MASK (white = keep) as its alpha
paint() { IM "$1" \( "$2" -alpha off -colorspace gray \) -compose CopyOpacity -composite "$3"; }

# erode IN RADIUS OUT: shrink a white-on-black mask; outside the image counts as black
erode() {
  IM "$1" -bordercolor black -border 12 -morphology Erode "Disk:$2" -shave 12 "$3"
}

# le16/le32 N: little-endian bytes
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $((($1 >> 16) & 65535)); }

# bmp32 IN OUT: 32 bits per pixel, BI_RGB (uncompressed), BITMAPINFOHEADER, bottom-up
# rows, 4th byte 255. No timestamps or colour profile in it.
bmp32() {
  local w h
  read -r w h < <(IM "$1" -format '%w %h\n' info:)
  local size=$((w * h * 4))
  {
    printf 'BM'; le32 $((54 + size)); le32 0; le32 54
    le32 40; le32 "$w"; le32 "$h"; le16 1; le16 32; le32 0; le32 "$size"
    le32 2835; le32 2835; le32 0; le32 0
    IM "$1" -alpha off -alpha opaque -flip -depth 8 bgra:-
  } > "$2"
}

# ---------------------------------------------------------------- window outline

# A panel with bevelled corners, the round crest rising above the top edge, and a
# small bevelled tab below the bottom edge. Drawn without anti-aliasing: a hard mask.
IM -size ${W}x${H} xc:black +antialias -fill white \
  -draw "polygon 20,14 567,14 583,30 583,424 567,440 20,440 4,424 4,30" \
  -draw "polygon 232,14 240,8 348,8 356,14" \
  -draw "circle $CX,$CY $CX,$((CY - CR))" \
  -draw "polygon 244,440 256,452 332,452 344,440" \
  "$T/m0.miff"
for k in 2 4 6 10 11; do erode "$T/m0.miff" "$k.3" "$T/m$k.miff"; done

# ---------------------------------------------------------------- backdrop

# night-sky gradient, violet glow behind crest and title, seeded clouds and fine grain
IM -size ${W}x${H} gradient:'#141d44'-'#0a0918' \
  \( -size 700x420 radial-gradient:'#553896'-'#0a0918' -resize 588x300! \
     -background '#0a0918' -gravity north -extent ${W}x${H} \) \
  -gravity northwest -compose screen -composite \
  \( -size 294x228 -seed 1187 plasma:gray50-gray50 -colorspace gray -resize ${W}x${H}! \
     -blur 0x5 -auto-level -level 25%,75% \) -compose softlight -composite \
  \( -size ${W}x${H} xc:gray50 -seed 29 +noise Gaussian -colorspace gray \
     -evaluate multiply 0.25 -evaluate add 37.5% \) -compose softlight -composite \
  "$T/sky.miff"

# stars: sparse seeded dots, thinning out towards the mountains
IM -size ${W}x${H} xc:black -seed 4242 +noise Random -colorspace gray \
  -threshold 99.75% -blur 0x0.45 -level 0,40% \
  \( -size ${W}x${H} gradient:white-black -level 0,65% \) -compose multiply -composite \
  -evaluate multiply 0.75 "$T/stars.miff"
IM "$T/sky.miff" "$T/stars.miff" -compose screen -composite "$T/bg1.miff"

# two mountain ranges with a band of mist between them
IM -size ${W}x${H} xc:none -fill '#231a46' -draw "polygon 0,455 0,332 40,314 78,324 120,296 150,308 190,282 228,304 262,292 300,270 336,296 372,284 404,304 446,276 486,300 520,290 560,310 588,302 588,455" \
  -channel A -blur 0x1.2 +channel "$T/far.miff"
IM -size ${W}x${H} xc:none -fill '#0c0a1c' -draw "polygon 0,455 0,362 36,352 70,338 104,354 150,332 196,358 240,344 286,364 330,346 372,360 420,336 462,354 508,340 548,358 588,346 588,455" \
  -channel A -blur 0x0.8 +channel "$T/near.miff"
IM -size ${W}x${H} xc:black \
  \( -size ${W}x60 gradient:black-'#3a2f68' \) -geometry +0+300 -composite \
  \( -size ${W}x50 gradient:'#3a2f68'-black \) -geometry +0+360 -composite "$T/mist.miff"
IM "$T/bg1.miff" "$T/far.miff" -compose over -composite \
  "$T/mist.miff" -compose screen -composite \
  "$T/near.miff" -compose over -composite "$T/bg2.miff"

# ---------------------------------------------------------------- beds for what the program draws

# The program draws: version line at (25,25) and status line at (240,200), white text;
# progress bar at (118,270) 354x16; buttons at (133,390) and (357,390), 99x33.
# Version plate and status band: dark, fading out at their ends.
IM -size 230x26 xc:'#04030a' \
  \( -size 150x26 xc:white \( -size 26x80 gradient:white-black -rotate -90 \) +append \) \
  -alpha off -compose CopyOpacity -composite -channel A -evaluate multiply 0.72 \
  -bordercolor none -border 3 -blur 0x1.5 +channel -shave 3 "$T/vplate.miff"
IM -size 500x32 xc:'#04030a' \
  \( \( -size 32x90 gradient:white-black -rotate 90 \) -size 320x32 xc:white \
     \( -size 32x90 gradient:white-black -rotate -90 \) +append \) \
  -alpha off -compose CopyOpacity -composite -channel A -evaluate multiply 0.66 +channel \
  "$T/sband.miff"
# gold hairlines above and below the status band, fading out sideways
IM \( -size 1x250 gradient:'#d8b36a'-'#d8b36a00' -rotate 90 \) \
   \( -size 1x250 gradient:'#d8b36a'-'#d8b36a00' -rotate -90 \) +append "$T/hl.miff"

IM -size ${W}x${H} xc:none \
  -fill '#04030ad8' -draw "roundrectangle 110,262 479,293 5,5" \
  -fill '#04030ae6' -draw "roundrectangle 126,383 238,429 7,7" \
  -draw "roundrectangle 350,383 462,429 7,7" \
  -fill none -strokewidth 1 \
  -stroke '#c9a45a' -draw "roundrectangle 110,262 479,293 5,5" \
  -stroke '#2e2210' -draw "roundrectangle 113,265 476,290 3,3" \
  -stroke '#b18a43' -draw "roundrectangle 126,383 238,429 7,7" \
  -draw "roundrectangle 350,383 462,429 7,7" \
  -stroke '#241a0c' -draw "roundrectangle 129,386 235,426 5,5" \
  -draw "roundrectangle 353,386 459,426 5,5" \
  "$T/beds.miff"

ORN=""
for p in "101,277" "488,277"; do
  x=${p%,*} y=${p#*,}
  ORN+="polygon $((x - 5)),$y $x,$((y - 5)) $((x + 5)),$y $x,$((y + 5)) "
done
IM "$T/bg2.miff" \
  "$T/vplate.miff" -geometry +14+19 -compose over -composite \
  "$T/sband.miff" -geometry +44+192 -composite \
  "$T/hl.miff" -geometry +44+191 -composite \
  "$T/hl.miff" -geometry +44+224 -composite \
  "$T/beds.miff" -geometry +0+0 -composite \
  -fill '#d9b466' -stroke '#4a3010' -strokewidth 1 -draw "$ORN" \
  "$T/bg3.miff"

# ---------------------------------------------------------------- emblem

# emblem SIZE OUT: the crest medallion, drawn on a 200x200 tile, transparent outside
# its disc (radius 97 of 100); an eight-pointed gold star with a glowing core
emblem() {
  local STAR8 STAR4
  STAR8=$(star 100 100 72 27 8 0)
  STAR4=$(star 100 100 84 12 4 22.5)
  IM -size 200x200 xc:none \
    \( -size 200x200 radial-gradient:'#4566d0'-'#0e0822' \
       \( -size 200x200 xc:black -fill white -draw "circle 100,100 100,3" \) \
       -alpha off -compose CopyOpacity -composite \) -compose over -composite \
    -fill none -stroke '#3a2408' -strokewidth 4 -draw "circle 100,100 100,5" \
    -stroke '#e6c26e' -strokewidth 6 -draw "circle 100,100 100,9" \
    -stroke '#fff0b8' -strokewidth 1.5 -draw "arc 9,9 191,191 200,340" \
    -stroke '#4a3010' -strokewidth 2 -draw "circle 100,100 100,14" \
    \( -size 200x200 xc:none -fill '#8fd0ff' -draw "polygon $STAR8" -blur 0x10 \) \
    -compose screen -composite -compose over \
    -stroke none -fill '#8a6a2a' -draw "polygon $STAR4" \
    \( -size 200x200 gradient:'#fff3c0'-'#b0802c' \
       \( -size 200x200 xc:black -fill white -draw "polygon $STAR8" \) \
       -alpha off -compose CopyOpacity -composite \) -compose over -composite \
    -fill none -stroke '#4a3010' -strokewidth 1.5 -draw "polygon $STAR8" \
    \( -size 200x200 xc:none -fill '#dff6ff' -draw "circle 100,100 100,82" -blur 0x7 \) \
    -compose screen -composite -compose over \
    -fill '#f6fdff' -stroke '#2a6aa0' -strokewidth 2.5 -draw "circle 100,100 100,88" \
    -resize "$1x$1" "$2"
}
ES=$((2 * CR + 2))                       # drawn slightly larger than the crest mask
emblem $ES "$T/emblem.miff"

IM -size ${W}x${H} xc:none -fill '#7a5ad0' -draw "circle $CX,$CY $CX,$((CY - CR - 6))" \
  -blur 0x16 -channel A -evaluate multiply 0.7 +channel "$T/glow.miff"
IM "$T/bg3.miff" "$T/glow.miff" -compose screen -composite "$T/bg4.miff"

# ---------------------------------------------------------------- title

IM -size ${W}x80 xc:black -font "$FONT_BOLD" -pointsize 46 -kerning 7 -fill white \
  -gravity north -annotate +0+6 'QUORVANE' "$T/tmask.miff"
IM "$T/tmask.miff" -morphology Dilate Disk:1.5 "$T/tmask_o.miff"
IM -size ${W}x80 xc:'#1a0c02' "$T/tdark.miff"
paint "$T/tdark.miff" "$T/tmask_o.miff" "$T/toutline.miff"
IM -size ${W}x20 xc:'#fff7d6' -size ${W}x36 gradient:'#ffe7a0'-'#bf8830' \
  -size ${W}x24 xc:'#8a5a1a' -append "$T/tgrad.miff"
paint "$T/tgrad.miff" "$T/tmask.miff" "$T/tgold.miff"
IM "$T/tmask.miff" -blur 0x4 -level 0,60% "$T/tshadow_m.miff"
IM -size ${W}x80 xc:black "$T/black.miff"
paint "$T/black.miff" "$T/tshadow_m.miff" "$T/tshadow.miff"
IM "$T/tmask.miff" -blur 0x12 -evaluate multiply 0.55 "$T/tglow_m.miff"
IM -size ${W}x80 xc:'#ffa640' "$T/amber.miff"
paint "$T/amber.miff" "$T/tglow_m.miff" "$T/tglow.miff"
IM "$T/tglow.miff" "$T/tshadow.miff" -geometry +2+3 -compose over -composite \
  "$T/toutline.miff" -geometry +0+0 -composite "$T/tgold.miff" -composite "$T/title.miff"

# subtitle 更新程序 between thin rules with diamond ends
IM -size ${W}x30 xc:none -font "$FONT_BOLD" -pointsize 19 -kerning 6 -gravity center \
  -fill '#00000090' -annotate +1+2 '更新程序' -fill '#ecdcab' -annotate +0+0 '更新程序' \
  -fill none -stroke '#b8924a' -strokewidth 1 -draw "line 190,15 244,15" -draw "line 344,15 398,15" \
  -stroke '#4a3010' -fill '#d9b466' -draw "polygon 180,15 185,10 190,15 185,20" \
  -draw "polygon 398,15 403,10 408,15 403,20" \
  "$T/sub.miff"

IM "$T/bg4.miff" "$T/title.miff" -geometry +0+98 -compose over -composite \
  "$T/sub.miff" -geometry +0+156 -composite "$T/art.miff"

# ---------------------------------------------------------------- frame, crest, cut-out

IM -size ${W}x${H} xc:'#3a2208' "$T/c_bronze.miff"
IM -size ${W}x${H} gradient:'#f6dc8c'-'#8e6022' "$T/c_gold.miff"
IM -size ${W}x${H} xc:'#0e0716' "$T/c_dark.miff"
IM -size ${W}x${H} xc:'#c9a45a' "$T/c_line.miff"
IM "$T/m10.miff" "$T/m11.miff" -compose minus_src -composite -evaluate multiply 0.5 "$T/inner.miff"
paint "$T/c_gold.miff" "$T/m2.miff" "$T/f_gold.miff"
paint "$T/c_dark.miff" "$T/m4.miff" "$T/f_dark.miff"
paint "$T/art.miff" "$T/m6.miff" "$T/f_art.miff"
paint "$T/c_line.miff" "$T/inner.miff" "$T/f_line.miff"
IM "$T/c_bronze.miff" "$T/f_gold.miff" -compose over -composite "$T/f_dark.miff" -composite \
  "$T/f_art.miff" -composite "$T/f_line.miff" -composite \
  "$T/emblem.miff" -geometry +$((CX - ES / 2))+$((CY - ES / 2)) -composite "$T/framed.miff"

# magenta wherever the hard mask is black; nothing is blended with it
IM -size ${W}x${H} xc:"$MAGENTA" "$T/framed.miff" "$T/m0.miff" -compose over -composite \
  -alpha off -depth 8 "$T/bg.miff"
bmp32 "$T/bg.miff" "$OUT/bg.bmp"

# ---------------------------------------------------------------- buttons

BW=99 BH=33
IM -size ${BW}x${BH} xc:black +antialias -fill white -draw "roundrectangle 0,0 98,32 7,7" "$T/bm0.miff"
erode "$T/bm0.miff" 1 "$T/bm1.miff"
erode "$T/bm0.miff" 2.3 "$T/bm2.miff"

button() { # button CAPTION HOT(0|1) OUT
  local cap=$1 hot=$2 top bot rim capcol glow hl
  if [ "$hot" = 1 ]; then
    top='#6446b4' bot='#22164c' rim='#fff4c4' capcol='#fffbea' glow='#ffc860' hl='#ffffff50'
  else
    top='#33265e' bot='#110a26' rim='#c9a058' capcol='#e8d39c' glow='#000000' hl='#ffffff26'
  fi
  IM -size ${BW}x${BH} xc:'#2a1806' "$T/b_edge.miff"
  IM -size ${BW}x${BH} gradient:"$rim"-'#6a4416' "$T/b_rim.miff"
  IM -size ${BW}x${BH} gradient:"$top"-"$bot" \
    \( -size ${BW}x13 gradient:"$hl"-'#ffffff00' -background none -extent ${BW}x${BH} \) \
    -compose over -composite "$T/b_face.miff"
  if [ "$hot" = 1 ]; then
    IM "$T/b_face.miff" \( -size 160x70 radial-gradient:'#6a4a30'-black -resize ${BW}x${BH}! \) \
      -compose screen -composite "$T/b_face.miff"
  fi
  paint "$T/b_rim.miff" "$T/bm1.miff" "$T/b_rim_p.miff"
  paint "$T/b_face.miff" "$T/bm2.miff" "$T/b_face_p.miff"
  IM "$T/b_edge.miff" "$T/b_rim_p.miff" -compose over -composite "$T/b_face_p.miff" -composite \
    \( -size ${BW}x${BH} xc:black -font "$FONT_BOLD" -pointsize 17 -kerning 5 -gravity center \
       -fill "$glow" -stroke "$glow" -strokewidth 2 -annotate +0+0 "$cap" -blur 0x3.5 \) \
    -compose screen -composite -stroke none \
    -compose over -font "$FONT_BOLD" -pointsize 17 -kerning 5 -gravity center \
    -fill '#000000b0' -annotate +1+2 "$cap" -fill "$capcol" -annotate +0+0 "$cap" \
    "$T/b_art.miff"
  IM -size ${BW}x${BH} xc:"$MAGENTA" "$T/b_art.miff" "$T/bm0.miff" -compose over -composite \
    -alpha off -depth 8 "$T/b.miff"
  bmp32 "$T/b.miff" "$3"
}
button '更新' 0 "$OUT/update.bmp"
button '更新' 1 "$OUT/update_hot.bmp"
button '退出' 0 "$OUT/exit.bmp"
button '退出' 1 "$OUT/exit_hot.bmp"

# ---------------------------------------------------------------- icon

emblem 96 "$T/ibig.miff"
for s in 16 32 48; do
  IM "$T/ibig.miff" -filter Lanczos -resize ${s}x${s} -unsharp 0x0.6 "$T/i$s.miff"
done
IM "$T/i16.miff" "$T/i32.miff" "$T/i48.miff" -strip "$OUT/quorvane.ico"

# ---------------------------------------------------------------- preview

IM -size ${W}x${H} pattern:checkerboard \
  \( "$T/bg.miff" -alpha set -fuzz 0 -transparent "$MAGENTA" \) -compose over -composite \
  \( "$OUT/exit.bmp" -alpha set -fuzz 0 -transparent "$MAGENTA" \) -geometry +357+390 -composite \
  \( "$OUT/update.bmp" -alpha set -fuzz 0 -transparent "$MAGENTA" \) -geometry +133+390 -composite \
  -font "$FONT_TEXT" -pointsize 14 -fill white -gravity northwest \
  -annotate +25+25 '当前版本：1.0.5' -annotate +240+200 '文件更新进度：3/10' \
  -alpha off "${PNGOPT[@]}" "PNG24:$OUT/preview.png"

echo "artwork written to $OUT"
