#!/usr/bin/env bash
# Plays a wide corpus of files (every kind the player must play, as made by
# tests/formats/make-corpus.sh --wide) with the player's engine, each to its end and
# again from three quarters of its length, and prints a table: plays to its end, the
# length shown against ffprobe's, the seek, and the first picture against ffmpeg's
# decode of it (PSNR). Exits non-zero when a row is not all yes.
#
#   bash scripts/coverage.sh [--no-huge] [--out DIR]
#
# --no-huge leaves out the AVI of more than 4 GB (it takes a minute to make and half
# a minute to play). The corpus is kept in DIR (default build/coverage) for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."

huge=--huge
out=$PWD/build/coverage
while [[ $# -gt 0 ]]; do
    case $1 in
        --no-huge) huge=""; shift ;;
        --out) out=$2; shift 2 ;;
        -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "coverage: unknown argument '$1'" >&2; exit 2 ;;
    esac
done

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target kino_play_probe >/dev/null
probe=$PWD/build/tests/formats/kino_play_probe
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"

echo "== Making the corpus in $out"
# shellcheck disable=SC2086
bash tests/formats/make-corpus.sh "$out" --wide $huge

field() { # field KEY LINE
    local v=${2#*"$1"=}
    echo "${v%% *}"
}

# The first picture against ffmpeg's: PSNR in dB ("inf" when equal); 25 dB and over
# counts as the same picture (decoders scale subsampled colour differently at sharp
# edges; a picture upside down or with red for blue is below 15).
psnr() { # psnr OURS.png REFERENCE.png
    ffmpeg -nostdin -hide_banner -i "$1" -i "$2" \
        -lavfi "[0:v]format=rgb24[a];[1:v]format=rgb24[b];[a][b]psnr" -f null - 2>&1 |
        sed -n 's/.*average:\([0-9.inf]*\).*/\1/p' | tail -1
}

failed=0
printf '| %-30s | %-6s | %-22s | %-5s | %-18s |\n' file "plays" "length (ours / ffprobe)" seek "first picture"
printf '|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..32})" "--------" "$(printf -- '-%.0s' {1..25})" "-------" \
    "--------------------"
while IFS=$'\t' read -r name length width height; do
    file=$out/$name
    got=$out/$name.shown.png
    rm -f -- "$got"
    line=$("$probe" "$file" "$got" 2>/dev/null || true)
    ours=$(field length_ms "$line")
    reached=$(field reached_ms "$line")
    slack=$(( length / 20 > 150 ? length / 20 : 150 ))
    plays=no
    if [[ $(field end "$line") == yes && ${reached:--1} -ge $(( length - slack - 100 )) ]]; then plays=yes; fi
    lengthOk=no
    if [[ -n $ours && $ours -ge 0 && ${ours#-} -ge $(( length - slack )) && $ours -le $(( length + slack )) ]]; then
        lengthOk=yes
    fi
    seek=$(field seek "$line")
    picture="-"
    pictureOk=yes
    if [[ $width -gt 0 ]]; then
        db=$( [[ -s $got ]] && psnr "$got" "$file.ref.png" || echo none)
        pictureOk=no
        if [[ $db == inf ]] || awk -v d="$db" 'BEGIN { exit !(d + 0 >= 25) }' 2>/dev/null && [[ $db != none ]]; then
            pictureOk=yes
        fi
        picture="$pictureOk ($db dB)"
    fi
    printf '| %-30s | %-6s | %-22s | %-5s | %-18s |\n' "$name" "$plays" \
        "$lengthOk ($ours / $length ms)" "${seek:-no}" "$picture"
    if [[ $plays != yes || $lengthOk != yes || $seek != yes || $pictureOk != yes ]]; then
        failed=1
        echo "    $line" >&2
    fi
done < "$out/corpus.tsv"
exit $failed
