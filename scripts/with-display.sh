#!/usr/bin/env bash
# Runs a command with an X display for Wine's windows: the display there is, or a
# virtual one (Xvfb) started for the command and stopped after it.
#   scripts/with-display.sh ctest --preset windows
set -u
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$@"
fi
CACHE=${QV_CACHE:-/var/cache/quorvane-build}
export WINEPREFIX=${WINEPREFIX:-$CACHE/wineprefix}

# A Wine session that began without a display keeps drawing nowhere: end it, so that
# the session the command starts opens its windows on the virtual display.
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1

xvfb_pid=""
for n in $(seq 91 130); do
  [ -e "/tmp/.X$n-lock" ] && continue
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    xdpyinfo -display ":$n" >/dev/null 2>&1 && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if xdpyinfo -display ":$n" >/dev/null 2>&1; then
    export DISPLAY=":$n"
    break
  fi
  kill "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
done
if [ -z "$xvfb_pid" ]; then
  echo "with-display: could not start a virtual X display (Xvfb)" >&2
  exit 1
fi

"$@"
rc=$?
wineserver -k >/dev/null 2>&1
kill "$xvfb_pid" 2>/dev/null
wait "$xvfb_pid" 2>/dev/null
exit $rc
