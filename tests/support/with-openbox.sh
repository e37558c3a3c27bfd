#!/bin/sh
# with-openbox.sh PROGRAM [ARGS...]
# Runs PROGRAM on the current X display with the openbox window manager running, so
# windows get frames as on a desktop. The manager takes a moment to come up: the
# program waits for it itself (KINO_WM tells it one is coming). The manager keeps its
# log in a folder of its own and reads only the system's configuration, so the user's
# settings neither change the frames nor collect its files.
home=$(mktemp -d)
XDG_CONFIG_HOME=$home XDG_CACHE_HOME=$home openbox --sm-disable >/dev/null 2>&1 &
wm=$!
KINO_WM=openbox "$@"
rc=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
rm -rf "$home"
exit $rc
