#!/usr/bin/env bash
# Fails when a file under src/<layer> includes a header of a layer above its own.
# The layers, bottom up; a layer may include its own headers and those of lower
# layers, never those of a layer beside it or above it:
#   platform (files, settings, text, desktop services)
#   search   (file search)
#   controls, player (the drop-down and the playback control, side by side)
#   region   (the cut window)
#   app      (the windows and the program)
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A rank=([platform]=0 [search]=1 [controls]=2 [player]=2 [region]=3 [app]=4)

status=0
# Every line of src/ that includes a header by its layer's folder.
while IFS=: read -r file line text; do
    from=${file#src/}
    from=${from%%/*}
    [[ $text =~ include[[:space:]]*[\"\<]([a-z]+)/ ]] || continue
    to=${BASH_REMATCH[1]}
    [[ -n ${rank[$from]+x} && -n ${rank[$to]+x} ]] || continue
    if [[ $from != "$to" ]] && ((rank[$to] >= rank[$from])); then
        echo "$file:$line: layer '$from' includes a header of layer '$to': $text" >&2
        status=1
    fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<][a-z]+/' src --include='*.h' --include='*.cpp' || true)

if ((status == 0)); then
    echo "== Layers: no file includes a layer above its own"
fi
exit $status
