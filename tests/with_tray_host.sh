#!/usr/bin/env bash
# Runs a test on a private Xvfb display whose notification area is trayer's.
# Exits 77 (a skip for CTest) when either is not installed.
set -u
for tool in Xvfb trayer xwininfo; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (packages xvfb, trayer, x11-utils)"
        exit 77
    fi
done
display=""
for n in $(seq 120 160); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "SKIP: no free X display number"; exit 77; }

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $tray $xvfb 2>/dev/null; wait 2>/dev/null' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
tray=$!
sleep 1
QT_QPA_PLATFORM=xcb "$@"
