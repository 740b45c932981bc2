#!/usr/bin/env bash
# Installs everything the two builds and their tests need, idempotently.
# Safe to run on every `make test`: each step checks first and does nothing when done.
#   - Debian packages: compilers (clang with libFuzzer for the fuzz harnesses), mingw-w64,
#     Wine, Xvfb, libraries and their mingw builds, fonts
#   - the zh_CN.UTF-8 locale (Wine takes code page 936 from it)
#   - LZO 2 and zstd for mingw, built from Debian's source packages into a cache outside the tree
#   - a Wine prefix for the Windows tests
set -euo pipefail

CACHE=${QV_CACHE:-/var/cache/quorvane-build}
MINGW_PREFIX="$CACHE/mingw-lzo"
WINEPREFIX_DIR="$CACHE/wineprefix"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

log() { printf '[setup] %s\n' "$*" >&2; }

PACKAGES=(
  g++ cmake make pkg-config ninja-build
  clang libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  zlib1g-dev liblzo2-dev libgcrypt20-dev libzstd-dev
  libz-mingw-w64-dev libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  wine wine64 xvfb xauth x11-utils imagemagick
  locales fonts-wqy-microhei strace
  osslsigncode openssl
  dpkg-dev
  zstd xdelta3 bsdiff time
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Windows build links statically and uses POSIX threads; keep the posix flavour selected.
for tool in x86_64-w64-mingw32-g++ x86_64-w64-mingw32-gcc; do
  if [ -e "/usr/bin/$tool-posix" ] && [ "$(readlink -f "/usr/bin/$tool")" != "/usr/bin/$tool-posix" ]; then
    $SUDO update-alternatives --set "$tool" "/usr/bin/$tool-posix" >/dev/null 2>&1 || true
  fi
done

# zh_CN.UTF-8 gives Wine the Chinese ANSI code page (936); en_US.UTF-8 a Western one (1252),
# under which the Windows tests run a second time.
for loc in zh_CN en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8\$"; then
    log "generating $loc.UTF-8 locale"
    grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$loc.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
done

# Debian's source packages, from which the mingw builds of LZO and zstd are made.
ensure_deb_src() {
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    log "adding deb-src entries for the configured suites"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        | $SUDO tee /etc/apt/sources.list.d/quorvane-src.sources >/dev/null
    else
      grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
        | $SUDO tee /etc/apt/sources.list.d/quorvane-src.list >/dev/null
    fi
    $SUDO apt-get update -qq
  fi
}

# LZO 2 for mingw: Debian ships no mingw build, so build it from Debian's source package.
if [ ! -f "$MINGW_PREFIX/lib/liblzo2.a" ]; then
  ensure_deb_src
  work="$CACHE/lzo-src"
  rm -rf "$work"; mkdir -p "$work"
  log "fetching Debian's lzo2 source package"
  (cd "$work" && apt-get source -qq --download-only lzo2 >/dev/null && dpkg-source -x --no-check ./lzo2_*.dsc src >/dev/null)
  log "building LZO for x86_64-w64-mingw32"
  (cd "$work/src" && ./configure -q --host=x86_64-w64-mingw32 --prefix="$MINGW_PREFIX" \
       --disable-shared --enable-static CFLAGS="-O2" >/dev/null \
     && make -s -j"$(nproc)" >/dev/null 2>&1 && make -s install >/dev/null)
  rm -rf "$work"
fi

# zstd for mingw (the binary deltas of patches), the same way: only the static library
# and its headers, into the same prefix. The newest source version is tried first, then
# the older ones the archive lists, since a security suite's file can lag behind its index.
# Legacy frame formats and the dictionary builder are left out: nothing here needs them.
if [ ! -f "$MINGW_PREFIX/lib/libzstd.a" ] || [ ! -f "$MINGW_PREFIX/include/zstd.h" ]; then
  ensure_deb_src
  work="$CACHE/zstd-src"
  rm -rf "$work"; mkdir -p "$work"
  log "fetching Debian's libzstd source package"
  fetched=""
  for version in "" $(apt-cache showsrc libzstd 2>/dev/null | sed -n 's/^Version: //p'); do
    rm -rf "${work:?}"/*
    if (cd "$work" && apt-get source -qq --download-only "libzstd${version:+=$version}" >/dev/null 2>&1); then
      fetched=yes
      break
    fi
  done
  [ -n "$fetched" ] || { log "cannot fetch the libzstd source package"; exit 1; }
  (cd "$work" && dpkg-source -x --no-check ./libzstd_*.dsc src >/dev/null)
  log "building zstd for x86_64-w64-mingw32"
  make -s -C "$work/src/lib" -j"$(nproc)" libzstd.a CC=x86_64-w64-mingw32-gcc AR=x86_64-w64-mingw32-ar \
       TARGET_SYSTEM=Windows_NT ZSTD_LEGACY_SUPPORT=0 ZSTD_LIB_DICTBUILDER=0 >/dev/null 2>&1
  make -s -C "$work/src/lib" install-static install-includes PREFIX="$MINGW_PREFIX" >/dev/null
  rm -rf "$work"
fi

# A Wine prefix of our own, created once; wineboot takes a while the first time.
if [ ! -f "$WINEPREFIX_DIR/system.reg" ]; then
  log "creating Wine prefix in $WINEPREFIX_DIR"
  mkdir -p "$WINEPREFIX_DIR"
  WINEPREFIX="$WINEPREFIX_DIR" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=zh_CN.UTF-8 \
    wineboot --init >/dev/null 2>&1 || true
  WINEPREFIX="$WINEPREFIX_DIR" wineserver -w 2>/dev/null || true
fi
# The artwork's display font, unpacked where only the artwork script looks for it.
if [ ! -f "$CACHE/fonts/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc" ]; then
  log "unpacking fonts-wqy-zenhei for the artwork"
  work="$CACHE/fonts-deb"
  rm -rf "$work"; mkdir -p "$work"
  (cd "$work" && { apt-get download -qq fonts-wqy-zenhei >/dev/null 2>&1 \
                    || { $SUDO apt-get update -qq && apt-get download -qq fonts-wqy-zenhei >/dev/null 2>&1; }; } \
     && dpkg-deb -x ./fonts-wqy-zenhei_*.deb "$CACHE/fonts")
  rm -rf "$work"
fi

# A Chinese Windows has SimSun ("宋体"), the dialog's font. Wine draws the embedded bitmaps
# of WenQuanYi Zen Hei with strokes missing at dialog sizes; the outline font Micro Hei
# stands in for it instead.
if ! grep -aq '"SimSun"="WenQuanYi Micro Hei"' "$WINEPREFIX_DIR/system.reg" 2>/dev/null; then
  log "mapping SimSun to WenQuanYi Micro Hei in the Wine prefix"
  reg="$CACHE/fonts.reg"
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
    for face in 宋体 新宋体 SimSun NSimSun; do printf '"%s"="WenQuanYi Micro Hei"\r\n' "$face"; done
  } | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } > "$reg"
  WINEPREFIX="$WINEPREFIX_DIR" WINEDEBUG=-all LC_ALL=zh_CN.UTF-8 wine regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1 || true
  WINEPREFIX="$WINEPREFIX_DIR" wineserver -w 2>/dev/null || true
  rm -f "$reg"
fi
log "ready (cache: $CACHE)"
