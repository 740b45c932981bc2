#!/usr/bin/env bash
# Runs a Windows executable under Wine in the project's prefix, with the Chinese
# locale so that the ANSI code page is 936 as on a Chinese Windows; QV_WINE_LOCALE
# names another (en_US.UTF-8 gives code page 1252, a Western Windows).
CACHE=${QV_CACHE:-/var/cache/quorvane-build}
export WINEPREFIX=${WINEPREFIX:-$CACHE/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export LC_ALL=${QV_WINE_LOCALE:-zh_CN.UTF-8}
exec wine "$@"
