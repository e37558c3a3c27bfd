#!/bin/sh
# with-openbox.sh PROGRAM [ARGS...]
# Runs PROGRAM on the current X display with the openbox window manager running, so
# windows get frames as on a desktop. The manager takes a moment to come up: the
# program waits for it itself (KINO_WM tells it one is coming).
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
KINO_WM=openbox "$@"
rc=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit $rc
