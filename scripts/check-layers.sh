#!/usr/bin/env bash
# Fails when a file under src/<layer> includes a header of a layer above its own.
# The layers, bottom up; a layer may include its own headers and those of lower
# layers, never those of a layer beside it or above it:
#   platform (files, settings, text, desktop services)
#   search   (file search)
#   controls, player (the drop-down and the playback control, side by side)
#   region   (the cut window)
#   app      (the windows and the program)
# Inside player, bottom up: elements (GStreamer only: no Qt header), engine (no widget
# of the player, and of Qt nothing but Qt Core), then the widgets. GStreamer stays
# inside player: no file outside it includes a GStreamer header, nor an engine or
# elements header (but the framework's start and stop, MediaFramework.h, and the
# start-up trace, StartupTrace.h), nor a player header that brings one in.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A rank=([platform]=0 [search]=1 [controls]=2 [player]=2 [region]=3 [app]=4)

status=0
fail() {
    echo "$*" >&2
    status=1
}

# Every line of src/ that includes a header by its layer's folder.
while IFS=: read -r file line text; do
    from=${file#src/}
    from=${from%%/*}
    [[ $text =~ include[[:space:]]*[\"\<]([a-z]+)/ ]] || continue
    to=${BASH_REMATCH[1]}
    [[ -n ${rank[$from]+x} && -n ${rank[$to]+x} ]] || continue
    if [[ $from != "$to" ]] && ((rank[$to] >= rank[$from])); then
        fail "$file:$line: layer '$from' includes a header of layer '$to': $text"
    fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<][a-z]+/' src --include='*.h' --include='*.cpp' || true)

# Inside player.
includes() { # includes FILE: its "player/..." includes and its <gst/...> ones
    grep -hoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<](player/[A-Za-z/]+\.h|gst/[^>]+)[">]' "$1" 2>/dev/null |
        sed -E 's/.*["<]([^">]+)[">]/\1/' || true
}
for file in src/player/elements/*.h src/player/elements/*.cpp; do
    if qt=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"); then
        fail "$file: a GStreamer element includes Qt: $qt"
    fi
    for inc in $(includes "$file"); do
        [[ $inc == player/elements/* || $inc == gst/* ]] || fail "$file: a GStreamer element includes $inc, above it"
    done
done
# Qt's headers, to tell which module a header named without its module belongs to.
qt_root=$(find /usr/include /usr/local/include -maxdepth 3 -type d -name QtCore -path '*qt6*' 2>/dev/null | head -n 1)
qt_root=${qt_root%/QtCore}
for file in src/player/engine/*.h src/player/engine/*.cpp; do
    for inc in $(includes "$file"); do
        [[ $inc == player/elements/* || $inc == player/engine/* || $inc == gst/* ]] ||
            fail "$file: the engine includes $inc, a widget of the player"
    done
    # Qt Core only, however a header is spelled: <QtGui/QImage>, <QImage>, <qimage.h>,
    # "QtWidgets", # include <QtWidgets/qwidget.h>.
    while IFS=: read -r line inc; do
        inc=${inc#*[\"<]}
        inc=${inc%%[\">]*}
        if [[ $inc =~ ^Qt[A-Za-z0-9]*/ ]]; then
            [[ $inc == QtCore/* ]] || fail "$file:$line: the engine uses Qt Core only: $inc"
        elif [[ $inc =~ ^Q[A-Za-z0-9]+$ || $inc =~ ^q[a-z0-9_]+\.h$ ]]; then
            if [[ -z $qt_root ]]; then
                fail "$file:$line: Qt's headers are not found, so $inc cannot be told Qt Core's"
            elif [[ ! -e $qt_root/QtCore/$inc ]]; then
                fail "$file:$line: the engine uses Qt Core only: $inc is not one of its headers"
            fi
        fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<][^">]+[">]' "$file" | cut -d: -f1,2- |
        sed -E 's/^([0-9]+):.*include[[:space:]]*/\1:/')
done

# Outside player: what a header brings in counts, as far as it reaches.
gst_path() { # gst_path HEADER [SEEN...]: prints how HEADER reaches a GStreamer header, if it does
    local header=$1 inc chain
    shift
    [[ " $* " == *" $header "* ]] && return 1
    for inc in $(includes "src/$header"); do
        if [[ $inc == gst/* ]]; then
            echo "$header -> $inc"
            return 0
        fi
        if chain=$(gst_path "$inc" "$header" "$@"); then
            echo "$header -> $chain"
            return 0
        fi
    done
    return 1
}
while IFS= read -r file; do
    for inc in $(includes "$file"); do
        case $inc in
            gst/*) fail "$file: includes $inc; GStreamer stays inside the player" ;;
            player/engine/MediaFramework.h | player/engine/StartupTrace.h) ;;
            player/engine/* | player/elements/*) fail "$file: includes $inc; the engine stays inside the player" ;;
            player/*)
                if chain=$(gst_path "$inc"); then
                    fail "$file: includes $inc, which brings in GStreamer: $chain"
                fi ;;
        esac
    done
done < <(find src -path src/player -prune -o \( -name '*.h' -o -name '*.cpp' \) -print)

if ((status == 0)); then
    echo "== Layers: no file includes a layer above its own; GStreamer stays inside the player"
fi
exit $status
