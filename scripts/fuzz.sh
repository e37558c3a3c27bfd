#!/usr/bin/env bash
# Opens damaged copies of the test media with the playback control, each in a child
# process of its own, and counts per kind how many the player answered (clean), how
# many brought it down (crash) and how many left it without an answer (hang).
#
#   bash scripts/fuzz.sh [COUNT] [--seed N] [--jobs N] [--out DIR]
#                        [--fixtures DIR] [--harness FILE]
#   bash scripts/fuzz.sh --targets [SECONDS]
#
# COUNT inputs in all (default 60), spread over the four kinds (AVI, MPEG, WAVE,
# MIDI) and three ways of damaging them: random bit flips (zzuf), truncation, and
# edits of bytes in the header. The same seed makes the same inputs, so a failure
# can be repeated. Inputs that crash or hang are kept in OUT/failures with their
# logs. Exits non-zero when any input crashed or hung.
#
# Without --harness the player is built first (build/, Release) and the fixtures
# made there; with it (as the test run does) both are taken as given.
#
# --targets builds the libFuzzer targets (the JPEG picture reader and cutter, the MIDI
# check, the AVI header reader, the MPEG program stream scan) with clang in build-fuzz/
# and runs each for SECONDS (default 60), from seeds made with ffmpeg; it prints each
# target's run count and exits non-zero on a finding, kept in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ ${1:-} == --targets ]]; then
    seconds=${2:-60}
    [[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "fuzz: --targets takes a number of seconds" >&2; exit 2; }
    bash scripts/install-deps.sh
    dir=$PWD/build-fuzz
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKINO_FUZZ=ON >/dev/null
    cmake --build "$dir" >/dev/null
    seeds=$dir/seeds
    mkdir -p "$seeds/jpeg" "$seeds/midi" "$seeds/aviheader" "$seeds/mpegspan" "$dir/findings"
    ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
    # A leading byte picks the caps and size; the rest is the picture.
    for fmt in yuvj420p yuvj422p yuvj444p gray; do
        ff -f lavfi -i testsrc2=size=48x32 -frames:v 1 -pix_fmt "$fmt" "$dir/seed.jpg"
        { printf '\x00'; cat "$dir/seed.jpg"; } > "$seeds/jpeg/$fmt.jpg"
        { printf '\x09'; cat "$dir/seed.jpg" "$dir/seed.jpg"; } > "$seeds/jpeg/$fmt-pair.jpg"
    done
    printf 'MThd\0\0\0\6\0\1\0\2\1\340MTrk\0\0\0\4\0\377\57\0MTrk\0\0\0\14\0\220\74\144\140\200\74\100\0\377\57\0' \
        > "$seeds/midi/song.mid"
    for codec in mjpeg rawvideo mpeg4; do
        ff -f lavfi -i testsrc2=size=48x32:duration=0.2 -c:v "$codec" "$dir/seed.avi"
        size=$(od -An -tu4 -j16 -N4 "$dir/seed.avi" | tr -d ' ')
        tail -c +21 "$dir/seed.avi" | head -c "$size" > "$seeds/aviheader/$codec.hdrl"
    done
    for format in mpeg vob; do
        ff -f lavfi -i testsrc2=size=48x32:duration=0.3 -f lavfi -i sine=duration=0.3 -c:a mp2 -f "$format" \
            "$seeds/mpegspan/seed.$format"
    done
    status=0
    for target in jpeg midi aviheader mpegspan; do
        mkdir -p "$dir/corpus/$target"
        log=$dir/fuzz_$target.log
        if "$dir/tests/fuzz/targets/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$dir/findings/$target-" \
            "$dir/corpus/$target" "$seeds/$target" > "$log" 2>&1; then
            verdict=clean
        else
            verdict=FINDING
            status=1
        fi
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
        printf '%-10s %10s runs in %ss  %s\n' "$target" "${runs:-?}" "$seconds" "$verdict"
    done
    exit $status
fi

count=60
seed=1
jobs=$(nproc 2>/dev/null || echo 2)
out=""
fixtures=""
harness=""
while [[ $# -gt 0 ]]; do
    case $1 in
        --seed) seed=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --fixtures) fixtures=$2; shift 2 ;;
        --harness) harness=$2; shift 2 ;;
        -h|--help) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *)
            [[ $1 =~ ^[0-9]+$ ]] || { echo "fuzz: unknown argument '$1'" >&2; exit 2; }
            count=$1; shift ;;
    esac
done
[[ $seed =~ ^[0-9]+$ && $jobs =~ ^[1-9][0-9]*$ ]] || { echo "fuzz: --seed and --jobs take numbers" >&2; exit 2; }

if [[ -z $harness ]]; then
    bash scripts/install-deps.sh
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build --target kino_fuzz_open >/dev/null
    harness=$PWD/build/tests/fuzz/kino_fuzz_open
    fixtures=${fixtures:-$PWD/build/fixtures}
    bash tests/fixtures/make-fixtures.sh "$fixtures"
fi
[[ -x $harness ]] || { echo "fuzz: no harness at '$harness'" >&2; exit 2; }
fixtures=${fixtures:-$PWD/build/fixtures}
command -v zzuf >/dev/null || { echo "fuzz: zzuf is missing (apt-get install zzuf)" >&2; exit 2; }
out=${out:-$PWD/build/fuzz-run}
rm -rf -- "$out"
mkdir -p -- "$out/inputs" "$out/logs" "$out/failures"
export QT_QPA_PLATFORM=offscreen

kinds=(avi mpg wav mid)
declare -A source=([avi]=clip.avi [mpg]=clip.mpg [wav]=tone.wav [mid]=song.mid)
for k in "${kinds[@]}"; do
    [[ -s $fixtures/${source[$k]} ]] || { echo "fuzz: fixture ${source[$k]} missing in $fixtures" >&2; exit 2; }
done

# A number from 0 to N-1 drawn from the input's own seed.
draw() { # draw SEED N
    awk -v s="$1" -v n="$2" 'BEGIN { srand(s); print int(rand() * n) }'
}

# make_input INDEX: writes inputs/INDEX.EXT, damaged one of three ways.
make_input() {
    local i=$1 kind=${kinds[$(( $1 % 4 ))]} way=$(( ($1 / 4) % 3 ))
    local s=$(( seed * 100000 + i ))
    local from=$fixtures/${source[$kind]} to=$out/inputs/$i.$kind
    local size
    size=$(stat -c %s -- "$from")
    case $way in
        0)  # bit flips over the whole file, 0.1 % to 4 % of the bits
            local ratio
            ratio=$(awk -v s="$s" 'BEGIN { srand(s); printf "%.4f", 0.001 + rand() * 0.039 }')
            zzuf -s "$s" -r "$ratio" < "$from" > "$to" ;;
        1)  # cut anywhere
            head -c "$(( 1 + $(draw "$s" $(( size - 1 ))) ))" -- "$from" > "$to" ;;
        2)  # one to eight bytes of the first 512 (the headers) set at random
            cp -- "$from" "$to"
            local n edits
            n=$(( 1 + $(draw "$s" 8) ))
            edits=$(awk -v s="$s" -v n="$n" -v lim=$(( size < 512 ? size : 512 )) \
                'BEGIN { srand(s); for (j = 0; j < n; j++) printf "%d %d\n", int(rand() * lim), int(rand() * 256) }')
            while read -r at value; do
                printf "$(printf '\\%03o' "$value")" | dd of="$to" bs=1 seek="$at" conv=notrunc status=none
            done <<< "$edits" ;;
    esac
    printf '%s\n' "$to"
}

# run_input FILE: prints "KIND VERDICT".
run_input() {
    local file=$1 name kind rc=0
    name=$(basename -- "$file")
    kind=${name##*.}
    timeout -k 5 30 "$harness" "$file" > "$out/logs/$name.log" 2>&1 || rc=$?
    local verdict=clean
    case $rc in
        0) ;;
        3|124|137) verdict=hang ;;
        *) verdict=crash ;;
    esac
    if [[ $verdict != clean ]]; then
        cp -- "$file" "$out/failures/"
        cp -- "$out/logs/$name.log" "$out/failures/$name.log"
        echo "fuzz: $verdict (exit $rc): $out/failures/$name" >&2
    fi
    echo "$kind $verdict"
}

inputs=()
for (( i = 0; i < count; i++ )); do
    inputs+=("$(make_input "$i")")
done

results=$out/results.txt
: > "$results"
running=0
for f in "${inputs[@]}"; do
    run_input "$f" >> "$results" &
    running=$(( running + 1 ))
    if (( running >= jobs )); then
        wait -n || true
        running=$(( running - 1 ))
    fi
done
wait || true

awk -v seed="$seed" '
    { n[$1]++; v[$1, $2]++; all[$2]++; total++ }
    END {
        printf "%-6s %7s %7s %7s %7s   (seed %s)\n", "kind", "inputs", "clean", "crash", "hang", seed
        split("avi mpg wav mid", order, " ")
        for (i = 1; i <= 4; i++) {
            k = order[i]
            printf "%-6s %7d %7d %7d %7d\n", toupper(k), n[k], v[k, "clean"], v[k, "crash"], v[k, "hang"]
        }
        printf "%-6s %7d %7d %7d %7d\n", "all", total, all["clean"], all["crash"], all["hang"]
        printf "%d passed, %d failed\n", all["clean"], all["crash"] + all["hang"]
        exit (all["crash"] + all["hang"] > 0)
    }' "$results"
