#!/usr/bin/env bash
# How light the player is beside the players a user would pick instead: plays four
# 10-second clips (720p and 1080p, MJPEG AVI and MPEG-1) to their end with the playback
# control, gst-play-1.0 (ximagesink) and mpv (x11), each in a 640x400 window on a
# private Xvfb with sound to a null sink, in alternating rounds, and prints the CPU
# time of each whole process (medians) with ratios, and compares one frame as shown
# with the full frame smoothly scaled (PSNR, pictures kept). Then runs the playlist benchmark
# for its memory and sorted-add figures under C and ja_JP.UTF-8.
#
#   bash bench/run-lightness-bench.sh [--rounds N] [--no-playlist]
#
# Installs what it needs (mpv, gst-play-1.0, ximagesink, Xvfb, xdotool, GNU time)
# with apt-get when missing. BUILD_DIR (default: build) must be configured Release.
set -euo pipefail

die() { echo "run-lightness-bench: $*" >&2; exit 1; }

repo=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
[[ $build == /* ]] || build=$PWD/$build
rounds=5
playlist=1
only=""
while [[ $# -gt 0 ]]; do
    case $1 in
        --rounds) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || die "--rounds takes a number"; rounds=$2; shift 2 ;;
        --no-playlist) playlist=0; shift ;;
        --only) [[ ${2:-} == start ]] || die "--only takes 'start'"; only=start; playlist=0; shift 2 ;;
        *) die "unknown argument '$1' (expected --rounds N, --no-playlist or --only start)" ;;
    esac
done
[[ -f $build/CMakeCache.txt ]] ||
    die "'$build' is not a configured build folder; run: cmake -S '$repo' -B '$build' -G Ninja -DCMAKE_BUILD_TYPE=Release"

# The benchmark's own set-up: the reference players and what drives them.
need=()
command -v mpv >/dev/null || need+=(mpv)
command -v gst-play-1.0 >/dev/null || need+=(gstreamer1.0-plugins-base-apps)
gst-inspect-1.0 ximagesink >/dev/null 2>&1 || need+=(gstreamer1.0-x)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xdotool >/dev/null || need+=(xdotool)
command -v parole >/dev/null || need+=(parole)
command -v dbus-daemon >/dev/null || need+=(dbus)
[[ -x /usr/bin/time ]] || need+=(time)
if [[ ${#need[@]} -gt 0 ]]; then
    echo "run-lightness-bench: installing ${need[*]}" >&2
    apt-get install -y -q "${need[@]}" >/dev/null
fi

cmake --build "$build" --target kino_player_bench kino_first_picture kinolite >/dev/null
fixtures=$build/fixtures
bash "$repo/tests/fixtures/make-fixtures.sh" "$fixtures" --bench >/dev/null

work=$(mktemp -d)
display=:$(( 90 + RANDOM % 400 ))
Xvfb "$display" -screen 0 1920x1200x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
# Parole keeps its settings through a session bus: a private one for the run.
{ read -r DBUS_SESSION_BUS_ADDRESS; read -r dbus; } < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS
cleanup() { kill "$xvfb" "$dbus" 2>/dev/null || true; rm -rf -- "$work"; }
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

clips=(big.avi big.mpg big1080.avi big1080.mpg big264.avi bigxvid.avi)
declare -A label=([big.avi]="1280x720 MJPEG AVI" [big.mpg]="1280x720 MPEG-1"
                  [big1080.avi]="1920x1080 MJPEG AVI" [big1080.mpg]="1920x1080 MPEG-1"
                  [big264.avi]="1280x720 H.264 AVI" [bigxvid.avi]="1280x720 Xvid AVI")
players=(ours gst-play mpv)
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# The size our window opens at, which gst-play's is given too (ximagesink does not
# scale: it shows the picture cut to the window).
ours_size=300x360

# start PLAYER CLIP: exec to first picture and peak memory of the program a user starts.
start() {
    local player=$1 clip=$2 out="$work/start.$1.$2"
    local cmd=()
    case $player in
        ours) cmd=(env QT_QPA_PLATFORM=xcb "$build/kinolite" "$fixtures/$clip") ;;
        gst-play)
            ( xdotool search --sync --name '^gst-play-1.0$' windowsize "${ours_size%x*}" "${ours_size#*x}" \
                  >/dev/null 2>&1 || true ) &
            cmd=(gst-play-1.0 -q --no-interactive --videosink=ximagesink --audiosink="fakesink sync=true"
                 "$fixtures/$clip") ;;
        mpv) cmd=(mpv --no-config --vo=x11 --ao=null --geometry="$ours_size" --really-quiet "$fixtures/$clip") ;;
        parole)
            ( xdotool search --sync --name '^Parole Media Player$' windowsize "${ours_size%x*}" "${ours_size#*x}" \
                  >/dev/null 2>&1 || true ) &
            cmd=(parole "$fixtures/$clip") ;;
    esac
    "$build/bench/kino_first_picture" --hold 6 -- "${cmd[@]}" >>"$out" 2>/dev/null ||
        die "$player could not be started on $clip"
    pkill -f "xdotool search --sync --name" 2>/dev/null || true
}

# in_rounds WHAT FUNCTION: FUNCTION PLAYER CLIP for every clip and player, round after
# round; each round starts with another player, so none always finds the caches warmer,
# and every other round goes the other way round, so none always follows the same one
# (a heavy player's exit still weighs on the machine when the next one starts).
in_rounds() {
    local what=$1 fn=$2 r clip i player n=${#players[@]}
    for r in $(seq "$rounds"); do
        for clip in "${clips[@]}"; do
            for (( i = 0; i < n; i++ )); do
                player=${players[$(( ((r % 2 ? i : n - 1 - i) + r) % n ))]}
                echo "run-lightness-bench: $what round $r of $rounds, $clip, $player" >&2
                "$fn" "$player" "$clip"
            done
        done
    done
}

start_section() {
    local -a players=(ours gst-play mpv parole)
    in_rounds start-up start
    echo
    echo "From exec to the clip's first picture on the screen, the anonymous resident memory"
    echo "after 6 s (RssAnon: the program's own, not library pages) and the peak resident memory"
    echo "(VmHWM) of the program a user starts; median of $rounds alternating rounds (the first"
    echo "picture against gst-play's: the median of the rounds' ratios); frames our player put on"
    echo "the screen, of the frames in the clip (one whole play)"
    echo
    printf '| %-20s | %5s | %5s | %5s | %6s | %6s | %5s | %5s | %6s | %6s | %5s | %6s | %6s | %-11s |\n' clip \
        "ours" "gst" mpv parole "vs gst" "ours" "gst" "vs gst" "ours" "gst" parole "vs par" "frames"
    printf '|%s|\n' "----------------------|-------|-------|-------|--------|--------|-------|-------|--------|--------|-------|--------|--------|-------------"
    local all=yes p
    mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
    for clip in "${clips[@]}"; do
        local -A first=() anon=() peak=()
        for p in "${players[@]}"; do
            sed -n 's/^first_picture_ms //p' "$work/start.$p.$clip" >"$work/round.$p.$clip"
            grep -v none "$work/round.$p.$clip" >"$work/first.$p.$clip" || true
            sed -n 's/^peak_rss_kb //p' "$work/start.$p.$clip" >"$work/rss.$p.$clip"
            sed -n 's/^anon_rss_kb //p' "$work/start.$p.$clip" >"$work/anon.$p.$clip"
            first[$p]=$(median "$work/first.$p.$clip"); anon[$p]=$(median "$work/anon.$p.$clip")
            peak[$p]=$(median "$work/rss.$p.$clip")
        done
        # One whole play, to the end, counting what reached the screen.
        local log="$work/frames.$clip" shown in_clip
        QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="kinolite.player.debug=true" "$build/kinolite" "$fixtures/$clip" \
            >"$log" 2>&1 &
        local pid=$!
        for _ in $(seq 300); do grep -q "source ended" "$log" && break; sleep 0.1; done
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        shown=$(sed -n 's/.*source ended: \([0-9]*\) frames shown.*/\1/p' "$log" | tail -1)
        in_clip=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
                      -of csv=p=0 "$fixtures/$clip")
        # The first pictures' ratio is taken round by round: ours and gst-play start one
        # after the other, so a machine whose speed drifts between rounds moves both. No
        # round with both pictures gives no ratio, printed as 99x: not met.
        paste "$work/round.ours.$clip" "$work/round.gst-play.$clip" |
            awk '$1 != "none" && $2 != "none" && $2 > 0 { print $1 / $2 }' >"$work/ratio.$clip"
        local paired
        paired=$(median "$work/ratio.$clip")
        read -r rf ra rp met < <(awk -v rf="${paired:-99}" -v ao="${anon[ours]}" -v ag="${anon[gst-play]}" \
            -v po="${peak[ours]}" -v pp="${peak[parole]}" -v s="${shown:-0}" -v n="$in_clip" \
            'BEGIN { ra = ao / ag; rp = po / pp
                     printf "%.2f %.2f %.2f %s\n", rf, ra, rp, (rf <= 1.1 && ra <= 1.0 && rp <= 1.0 && s == n) ? "yes" : "NO" }')
        [[ $met == yes ]] || all=no
        printf '| %-20s | %5s | %5s | %5s | %6s | %6s | %5s | %5s | %6s | %6s | %5s | %6s | %6s | %-11s |\n' \
            "${label[$clip]}" "${first[ours]}" "${first[gst-play]}" "${first[mpv]}" "${first[parole]}" "${rf}x" \
            "$(mb "${anon[ours]}")" "$(mb "${anon[gst-play]}")" "${ra}x" \
            "$(mb "${peak[ours]}")" "$(mb "${peak[gst-play]}")" "$(mb "${peak[parole]}")" "${rp}x" "${shown:-?} / $in_clip"
    done
    echo
    echo "first picture in ms, memory in MB; targets: first picture <= 1.1x gst-play (on a quiet"
    echo "machine), anonymous memory <= 1.0x gst-play, peak memory <= 1.0x Parole, every frame of"
    echo "the clip shown; all met: $all"
    for clip in "${clips[@]}"; do
        for p in "${players[@]}"; do
            echo "  $clip $p: first $(paste -sd' ' "$work/round.$p.$clip"); anon $(paste -sd' ' "$work/anon.$p.$clip");" \
                "rss $(paste -sd' ' "$work/rss.$p.$clip")"
        done
    done
    frames_section
}

# Frames in memory at once while a 1080p clip plays in a view of its size and in the
# typical one, from the player's own count of its frame memory.
frames_section() {
    echo
    echo "Frames in memory at once (most), and frames painted or put of the clip's, one play:"
    local clip view out
    for clip in big1080.avi big1080.mpg; do
        for view in "640 400" "1920 1080"; do
            # shellcheck disable=SC2086
            out=$(QT_QPA_PLATFORM=xcb "$build/bench/kino_player_bench" --child play "$fixtures/$clip" $view 2>/dev/null)
            local target=""
            [[ $view == "1920 1080" ]] && target="(target <= 4); "
            echo "  ${label[$clip]} in a ${view/ /x} view: $(sed -n 's/^frames_alive_most //p' <<<"$out") frames" \
                "${target}painted $(sed -n 's/^frames_painted //p' <<<"$out")," \
                "put $(sed -n 's/^frames_put //p' <<<"$out")"
        done
    done
}

if [[ $only == start ]]; then
    start_section
    exit 0
fi

# run PLAYER CLIP: plays the clip to its end, appends "user+sys" seconds to a file.
run() {
    local player=$1 clip=$2 out="$work/$1.$2"
    local t="$work/time"
    case $player in
        ours)
            QT_QPA_PLATFORM=xcb /usr/bin/time -o "$t" -f "%U %S" \
                "$build/bench/kino_player_bench" --child play "$fixtures/$clip" >/dev/null 2>&1 ;;
        gst-play)
            # ximagesink opens its window at the picture's size; it is brought to the
            # same size as the others once it appears.
            ( xdotool search --sync --name '^gst-play-1.0$' windowsize 640 400 >/dev/null 2>&1 || true ) &
            local sizer=$!
            /usr/bin/time -o "$t" -f "%U %S" gst-play-1.0 -q --no-interactive \
                --videosink=ximagesink --audiosink="fakesink sync=true" "$fixtures/$clip" >/dev/null 2>&1
            kill "$sizer" 2>/dev/null || true
            wait "$sizer" 2>/dev/null || true ;;
        mpv)
            /usr/bin/time -o "$t" -f "%U %S" mpv --no-config --vo=x11 --ao=null --geometry=640x400 \
                --really-quiet "$fixtures/$clip" >/dev/null 2>&1 ;;
    esac || die "$player could not play $clip"
    awk '{ printf "%.3f\n", $1 + $2 }' "$t" >>"$out"
}

in_rounds playing run

echo
echo "CPU time to play a 10-second clip to its end, whole process, user+sys seconds"
echo "(median of $rounds alternating rounds; 640x400 window on Xvfb, sound to a null sink)"
echo
printf '| %-20s | %6s | %8s | %6s | %9s | %9s | %4s |\n' clip ours gst-play mpv "vs gst" "vs mpv" met
printf '|%s|%s|%s|%s|%s|%s|%s|\n' ---------------------- -------- ---------- -------- ----------- ----------- ------
# Against mpv: 0.8x on the Motion JPEG and MPEG-1 clips, where our own decoding path
# does the work; 1.0x where the decoding is FFmpeg's in every player (H.264, Xvid).
declare -A mpv_limit=([big264.avi]=1.0 [bigxvid.avi]=1.0)
all=yes
for clip in "${clips[@]}"; do
    o=$(median "$work/ours.$clip"); g=$(median "$work/gst-play.$clip"); m=$(median "$work/mpv.$clip")
    read -r rg rm met < <(awk -v o="$o" -v g="$g" -v m="$m" -v lm="${mpv_limit[$clip]:-0.8}" \
        'BEGIN { rg = o / g; rm = o / m; printf "%.2f %.2f %s\n", rg, rm, (rg <= 1.0 && rm <= lm) ? "yes" : "NO" }')
    [[ $met == yes ]] || all=no
    printf '| %-20s | %6.3f | %8.3f | %6.3f | %9s | %9s | %4s |\n' "${label[$clip]}" "$o" "$g" "$m" "${rg}x" "${rm}x" "$met"
done
echo
echo "targets: ours <= 1.0x gst-play on every clip, <= 0.8x mpv (1.0x on H.264 and Xvid); all met: $all"
for clip in "${clips[@]}"; do
    for p in "${players[@]}"; do
        echo "  $clip $p: $(paste -sd' ' "$work/$p.$clip")"
    done
done

# Picture quality: the same frame as shown now (scaled in the pipeline) and as the
# full-size frame smoothly scaled by the toolkit; both kept for a look.
quality=$build/bench-quality
echo
echo "Picture quality, the same frame one second in, fitted to 640x400 (pictures in $quality):"
for clip in "${clips[@]}"; do
    mkdir -p "$quality/${clip%.*}"
    psnr=$(QT_QPA_PLATFORM=xcb "$build/bench/kino_player_bench" --child still "$fixtures/$clip" \
               "$quality/${clip%.*}" 2>/dev/null | sed -n 's/^psnr_db //p')
    echo "  ${label[$clip]}: PSNR against the toolkit's smooth scaling ${psnr:-?} dB"
done

start_section

if [[ $playlist -eq 1 ]]; then
    echo
    echo "Playlist memory and sorted adds (C and ja_JP.UTF-8):"
    BUILD_DIR=$build bash "$repo/bench/run-playlist-bench.sh" --only sort,memory
fi
