#!/usr/bin/env bash
# check-install.sh CHECK CMAKE BUILD_DIR SOURCE_DIR PROGDIR
#   desktop: the desktop file passes desktop-file-validate
#   layout:  `cmake --install` puts every file where the menus and the program expect it
#   starts:  the installed copy, started through bin/, comes up with a read-only folder
set -euo pipefail
check=$1 cmake=$2 build=$3 src=$4 progdir=$5

fail() { echo "FAIL: $*" >&2; exit 1; }

tmp=$(mktemp -d)
# The read-only program folder would stop rm from clearing it.
trap 'chmod -R u+w "$tmp" 2>/dev/null; rm -rf "$tmp"' EXIT

install_tree() {
    [ -x "$build/kinolite" ] || fail "$build/kinolite is not built; build before running the tests"
    "$cmake" --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" 2>&1 ||
        { cat "$tmp/install.log" >&2; fail "cmake --install failed"; }
}

# png_size FILE -> "WIDTHxHEIGHT", read from the IHDR chunk after the signature.
png_size() {
    local sig
    sig=$(od -An -tx1 -N8 "$1" | tr -d ' \n')
    [ "$sig" = 89504e470d0a1a0a ] || { echo "not-png"; return; }
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}

case $check in
desktop)
    out=$(desktop-file-validate "$src/data/kinolite.desktop" 2>&1) ||
        { echo "$out" >&2; fail "desktop-file-validate rejected the desktop file"; }
    [ -z "$out" ] || echo "$out"
    ;;

layout)
    install_tree
    p=$tmp/prefix
    { [ -f "$p/$progdir/kinolite" ] && [ -x "$p/$progdir/kinolite" ]; } || fail "no program in $progdir"
    cmp -s "$p/$progdir/Readme.txt" "$src/docs/Readme.txt" || fail "Readme.txt missing or different beside the program"
    [ -L "$p/bin/kinolite" ] || fail "bin/kinolite is not a symbolic link"
    case $(readlink "$p/bin/kinolite") in /*) fail "bin/kinolite link is absolute" ;; esac
    [ "$(readlink -f "$p/bin/kinolite")" = "$(readlink -f "$p/$progdir/kinolite")" ] ||
        fail "bin/kinolite does not lead to the program"
    cmp -s "$p/share/applications/kinolite.desktop" "$src/data/kinolite.desktop" || fail "desktop file missing"
    cmp -s "$p/share/icons/hicolor/scalable/apps/kinolite.svg" "$src/data/icons/kinolite.svg" || fail "SVG icon missing"
    for n in 16 32 48 64 128 256; do
        f=$p/share/icons/hicolor/${n}x${n}/apps/kinolite.png
        [ -f "$f" ] || fail "missing $f"
        size=$(png_size "$f")
        [ "$size" = "${n}x${n}" ] || fail "$f is $size, expected ${n}x${n}"
    done
    grep -q "/bin/kinolite\$" "$build/install_manifest.txt" || fail "the bin link is not in install_manifest.txt"
    ;;

starts)
    install_tree
    p=$tmp/prefix
    mkdir -p "$tmp/home" "$tmp/config" "$tmp/cache"
    # An installed copy cannot write its own folder (root can anyway; then this
    # only checks that the program comes up).
    chmod -R a-w "$p/$progdir"
    HOME=$tmp/home XDG_CONFIG_HOME=$tmp/config XDG_CACHE_HOME=$tmp/cache QT_QPA_PLATFORM=offscreen \
        "$p/bin/kinolite" >"$tmp/run.log" 2>&1 &
    pid=$!
    # Up once its main thread sits idle in the event loop's poll (the same wait
    # seen three times running) with no plug-in scanner child left; a crash at
    # start-up ends the wait early.
    idle_calls=" 7 271 73 "   # poll, ppoll (x86-64), ppoll (arm64)
    up=no last="" same=0
    for _ in $(seq 200); do
        kill -0 "$pid" 2>/dev/null || break
        call=$(cut -d' ' -f1-3 "/proc/$pid/syscall" 2>/dev/null || echo none)
        if [[ $idle_calls == *" ${call%% *} "* ]] && ! pgrep -P "$pid" >/dev/null; then
            [ "$call" = "$last" ] && same=$((same + 1)) || same=1
        else
            same=0
        fi
        last=$call
        if [ "$same" -ge 3 ]; then up=yes; break; fi
        sleep 0.1
    done
    if ! kill -0 "$pid" 2>/dev/null; then
        wait "$pid" && code=0 || code=$?
        cat "$tmp/run.log" >&2
        fail "the installed program exited at start-up (status $code)"
    fi
    [ "$up" = yes ] || echo "note: still starting after the wait, but alive"
    [ "$(readlink -f "/proc/$pid/exe")" = "$(readlink -f "$p/$progdir/kinolite")" ] ||
        fail "the running program is not the installed copy"
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null || true
    ;;

*)
    fail "unknown check $check"
    ;;
esac
echo "ok: $check"
