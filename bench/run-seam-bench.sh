#!/usr/bin/env bash
# The silence at the seam between two tracks in continuous play: ours beside mpv
# (--gapless-audio=yes) and gst-play (--gapless). Each plays two WAVE files, then two
# Motion JPEG AVIs with PCM sound, both pairs one 440 Hz tone cut in two, into a
# PulseAudio null sink started here; the sink's monitor is recorded and the longest
# silence between the tone's first and last sample is the gap. Prints one table:
# pair | ours | mpv | gst-play (medians, ms) | target | met?
#
#   bash bench/run-seam-bench.sh [--rounds N]
#
# Installs what it needs (PulseAudio and its tools, mpv, gst-play-1.0) with apt-get when
# missing. BUILD_DIR (default: build) must be configured, preferably Release.
set -euo pipefail

die() { echo "run-seam-bench: $*" >&2; exit 1; }

repo=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
[[ $build == /* ]] || build=$PWD/$build
rounds=3
while [[ $# -gt 0 ]]; do
    case $1 in
        --rounds) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || die "--rounds takes a number"; rounds=$2; shift 2 ;;
        *) die "unknown argument '$1' (expected --rounds N)" ;;
    esac
done
[[ -f $build/CMakeCache.txt ]] ||
    die "'$build' is not a configured build folder; run: cmake -S '$repo' -B '$build' -G Ninja -DCMAKE_BUILD_TYPE=Release"

need=()
command -v pulseaudio >/dev/null || need+=(pulseaudio)
command -v parec >/dev/null || need+=(pulseaudio-utils)
command -v mpv >/dev/null || need+=(mpv)
command -v gst-play-1.0 >/dev/null || need+=(gstreamer1.0-plugins-base-apps)
gst-inspect-1.0 pulsesink >/dev/null 2>&1 || need+=(gstreamer1.0-pulseaudio)
if [[ ${#need[@]} -gt 0 ]]; then
    echo "run-seam-bench: installing ${need[*]}" >&2
    apt-get install -y -q "${need[@]}" >/dev/null
fi
cmake --build "$build" --target kinolite kino_seam_gap >/dev/null

work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run HOME=$work/home
mkdir -m 700 -p "$XDG_RUNTIME_DIR" "$HOME"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=file:"$work/pulse.log" \
    --load="module-native-protocol-unix" --load="module-null-sink sink_name=seam rate=48000 channels=2" \
    >/dev/null 2>&1 &
pulse=$!
cleanup() { kill "$pulse" 2>/dev/null || true; wait "$pulse" 2>/dev/null || true; rm -rf -- "$work"; }
trap cleanup EXIT
for _ in $(seq 100); do [[ -S $XDG_RUNTIME_DIR/pulse/native ]] && break; sleep 0.05; done
[[ -S $XDG_RUNTIME_DIR/pulse/native ]] || die "PulseAudio did not start (see its log)"

# One tone at half of full scale, cut in two at a sample: played without a gap, the
# seam cannot be heard or found.
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
tone="aevalsrc=0.5*sin(2*PI*440*t)|0.5*sin(2*PI*440*t):s=48000:d=6"
ff -f lavfi -i "$tone,atrim=end_sample=144000" -c:a pcm_s16le "$work/a.wav"
ff -f lavfi -i "$tone,atrim=start_sample=144000,asetpts=N/SR/TB" -c:a pcm_s16le "$work/b.wav"
for part in a b; do
    ff -f lavfi -i testsrc=size=320x240:rate=25:duration=3 -i "$work/$part.wav" \
        -c:v mjpeg -q:v 5 -c:a pcm_s16le -shortest "$work/$part.avi"
done

# gap PLAYER KIND: plays the pair once, recording the sink, and prints the gap in ms.
gap() {
    local player=$1 kind=$2 rec=$work/rec.raw
    local files=("$work/a.$kind" "$work/b.$kind")
    parec -d seam.monitor --raw --format=s16le --rate=48000 --channels=2 --latency-msec=5 >"$rec" &
    local recorder=$!
    sleep 0.3
    case $player in
        ours) timeout 9 env QT_QPA_PLATFORM=offscreen "$build/kinolite" "${files[@]}" >/dev/null 2>&1 || true ;;
        mpv) timeout 12 mpv --no-config --really-quiet --vo=null --ao=pulse --gapless-audio=yes "${files[@]}" \
                 >/dev/null 2>&1 || true ;;
        gst-play) timeout 9 gst-play-1.0 -q --no-interactive --gapless --videosink=fakesink --audiosink=pulsesink \
                      "${files[@]}" >/dev/null 2>&1 || true ;;
    esac
    sleep 0.3
    kill "$recorder"; wait "$recorder" 2>/dev/null || true
    # Both tracks are 3 s: a tone much shorter than 6 s means the second never played.
    "$build/bench/kino_seam_gap" "$rec" 48000 2 |
        awk '/^gap_ms/ { gap = $2 } /^tone_ms/ { tone = $2 } END { print (tone != "" && tone < 5900) ? "none" : gap }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "none"; else print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

players=(ours mpv gst-play)
declare -A results
for r in $(seq "$rounds"); do
    for kind in wav avi; do
        for (( i = 0; i < ${#players[@]}; i++ )); do
            player=${players[$(( (i + r) % ${#players[@]} ))]}
            echo "run-seam-bench: round $r of $rounds, $kind, $player" >&2
            results[$player.$kind]+="$(gap "$player" "$kind") "
        done
    done
done

echo "Silence at the seam of two tracks in continuous play, ms (median of $rounds; 'none': the second track was not heard)"
echo "| pair | ours | mpv --gapless-audio=yes | gst-play --gapless | target | met? |"
echo "|---|---|---|---|---|---|"
declare -A label=([wav]="2 x 3 s WAVE" [avi]="2 x 3 s MJPEG AVI + PCM") target=([wav]=5 [avi]=10)
for kind in wav avi; do
    row=()
    for player in "${players[@]}"; do
        row+=("$(tr ' ' '\n' <<<"${results[$player.$kind]}" | { grep -v -e '^$' -e none || true; } | median)")
    done
    met=$(awk -v v="${row[0]}" -v t="${target[$kind]}" 'BEGIN { print (v != "none" && v <= t) ? "yes" : "NO" }')
    echo "| ${label[$kind]} | ${row[0]} | ${row[1]} | ${row[2]} | <= ${target[$kind]} | $met |"
done
echo "Each round: ${results[*]}" | tr -s ' ' >&2
