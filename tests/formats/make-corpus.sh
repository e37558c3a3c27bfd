#!/usr/bin/env bash
# Makes files of every kind the player must play, as people's folders hold them: AVI
# with the codecs of cameras, screen recorders and old encoders, uncompressed AVI in
# every depth and row order, MPEG program and transport streams, and WAVE in PCM,
# float, the ADPCM kinds, GSM, MPEG audio and the extensible header.
#
#   bash make-corpus.sh OUTDIR [--wide] [--huge]
#
# Without --wide: the small set the test run plays (short, small pictures). --wide:
# every file, longer and larger, for scripts/coverage.sh. --huge (with --wide): also an
# AVI larger than 4 GB (OpenDML index).
#
# OUTDIR/corpus.tsv lists each file with what ffprobe says of it (name, length in ms,
# width, height); NAME.ref.png beside a video file is ffmpeg's decode of its first
# frame. Files already made are kept unless this script changed.
set -euo pipefail

die() { echo "make-corpus: $*" >&2; exit 1; }

[[ $# -ge 1 ]] || die "usage: $0 OUTDIR [--wide] [--huge]"
outdir=$1; shift
wide=0
huge=0
for arg in "$@"; do
    case $arg in
        --wide) wide=1 ;;
        --huge) huge=1 ;;
        *) die "unknown option '$arg'" ;;
    esac
done
for tool in ffmpeg ffprobe perl sha256sum gst-launch-1.0 mpeg2enc mplex; do
    command -v "$tool" >/dev/null 2>&1 || die "required tool '$tool' not found"
done

mkdir -p -- "$outdir"
outdir=$(cd -- "$outdir" && pwd)
if command -v flock >/dev/null 2>&1; then
    exec 9>"$outdir/.lock"
    flock 9
fi
version="2-$wide-$huge-$(sha256sum < "${BASH_SOURCE[0]}" | cut -d' ' -f1)"
if [[ ! -f $outdir/.version || $(<"$outdir/.version") != "$version" ]]; then
    find "$outdir" -mindepth 1 -maxdepth 1 ! -name .lock -exec rm -rf -- {} +
fi
rm -f -- "$outdir"/.tmp.* 2>/dev/null || true

if ((wide)); then
    secs=3 size=320x240 odd=321x241 ext=3
else
    secs=1 size=160x120 odd=161x121 ext=1
fi

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# A picture of any size (testsrc2 makes even sizes only; odd ones are scaled to).
picture() {
    local wh=${1:-$size}
    local w=${wh%x*} h=${wh#*x}
    echo "-f lavfi -i testsrc2=size=$((w + w % 2))x$((h + h % 2)):rate=${2:-25}:duration=$secs,scale=$w:$h"
}
tone() { echo "-f lavfi -i sine=frequency=440:sample_rate=${1:-44100}:duration=$secs"; }

names=()
# make NAME ARGS...: ffmpeg with ARGS writes NAME (its format taken from the name or
# given in ARGS).
make() {
    local name=$1; shift
    names+=("$name")
    [[ -s $outdir/$name ]] && return 0
    local tmp="$outdir/.tmp.$$.$name"
    ff "$@" "$tmp" || die "ffmpeg failed to make '$name'"
    mv -f -- "$tmp" "$outdir/$name"
}
# derive NAME FUNCTION ARGS...: FUNCTION writes NAME from ARGS into $tmp.
derive() {
    local name=$1 fn=$2; shift 2
    names+=("$name")
    [[ -s $outdir/$name ]] && return 0
    tmp="$outdir/.tmp.$$.$name"
    "$fn" "$@" || die "could not make '$name'"
    mv -f -- "$tmp" "$outdir/$name"
}
wide_only() { ((wide)); }

# Motion JPEG as cameras write it: no Huffman tables in the pictures (the standard
# ones are meant). Each picture's DHT segments are taken out, then the stream is put
# back into an AVI as it is.
strip_huffman() { # SOURCE.avi
    local raw="$outdir/.tmp.$$.raw.mjpeg"
    ff -i "$outdir/$1" -c:v copy -an -f mjpeg "$raw"
    perl -0777 -e '
        local $/; my $d = <STDIN>; my $out = ""; my $i = 0; my $n = length $d;
        while ($i < $n) {
            if (substr($d, $i, 2) eq "\xFF\xC4" && $i + 4 <= $n) {
                my $len = unpack("n", substr($d, $i + 2, 2));
                $i += 2 + $len; next;
            }
            if (substr($d, $i, 2) eq "\xFF\xDA" && $i + 4 <= $n) {
                # the coded data runs to the next marker that is not stuffing or a restart
                my $len = unpack("n", substr($d, $i + 2, 2));
                my $j = $i + 2 + $len;
                while ($j + 1 < $n) {
                    my $m = ord(substr($d, $j + 1, 1));
                    last if ord(substr($d, $j, 1)) == 0xFF && $m != 0 && !($m >= 0xD0 && $m <= 0xD7);
                    $j++;
                }
                $out .= substr($d, $i, $j - $i); $i = $j; next;
            }
            $out .= substr($d, $i, 1); $i++;
        }
        print $out;' < "$raw" > "$raw.stripped"
    ff -f mjpeg -r 25 -i "$raw.stripped" -c:v copy -f avi "$tmp"
    rm -f -- "$raw" "$raw.stripped"
    ! grep -q $'\xFF\xC4' "$tmp"
}

# The same AVI cut short: its index at the end is gone.
cut_short() { # SOURCE.avi
    local size
    size=$(stat -c %s -- "$outdir/$1")
    head -c $((size * 7 / 10)) -- "$outdir/$1" > "$tmp"
}

# --- AVI ---
make avi_xvid_mp3.avi $(picture) $(tone) -c:v mpeg4 -vtag XVID -q:v 4 -c:a libmp3lame -b:a 96k
make avi_xvid.avi $(picture) -c:v mpeg4 -vtag XVID -q:v 4
make avi_divx5.avi $(picture) -c:v mpeg4 -vtag DX50 -q:v 4
make avi_fmp4.avi $(picture) -c:v mpeg4 -vtag FMP4 -q:v 4
make avi_div3.avi $(picture) -c:v msmpeg4 -q:v 4
wide_only && make avi_div3_mp3.avi $(picture) $(tone) -c:v msmpeg4 -q:v 4 -c:a libmp3lame -b:a 96k
wide_only && make avi_mp42.avi $(picture) -c:v msmpeg4v2 -q:v 4
make avi_h264_aac.avi $(picture) $(tone) -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 96k
wide_only && make avi_h264.avi $(picture) -c:v libx264 -preset veryfast -pix_fmt yuv420p
make avi_mjpeg422.avi $(picture) $(tone) -c:v mjpeg -huffman default -pix_fmt yuvj422p -q:v 4 -c:a pcm_s16le
make avi_mjpeg444.avi $(picture) -c:v mjpeg -pix_fmt yuvj444p -q:v 4
make avi_mjpeg_grey.avi $(picture) -c:v mjpeg -pix_fmt gray -q:v 4
make avi_mjpeg_odd.avi $(picture "$odd") -c:v mjpeg -pix_fmt yuvj420p -q:v 4
wide_only && make avi_mjpeg1080.avi $(picture 1920x1080) -c:v mjpeg -pix_fmt yuvj420p -q:v 4
derive avi_mjpeg_nodht.avi strip_huffman avi_mjpeg422.avi
# Motion JPEG in video levels, each picture marked CS=ITU601, as GStreamer's encoder writes it.
gst_mjpeg() {
    gst-launch-1.0 -q -e videotestsrc num-buffers=$((secs * 30)) ! "video/x-raw,width=${size%x*},height=${size#*x}" \
        ! videoconvert ! avenc_mjpeg ! avimux ! filesink location="$tmp" >/dev/null
}
derive avi_mjpeg_gst.avi gst_mjpeg
wide_only && make avi_dv.avi $(picture 720x576) $(tone 48000) -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le
make avi_huffyuv.avi $(picture) -c:v huffyuv -pix_fmt yuv422p
wide_only && make avi_cinepak.avi $(picture) -c:v cinepak
derive avi_noindex.avi cut_short avi_xvid_mp3.avi

# Uncompressed: every depth, top-down (a negative height, as ffmpeg writes it) and
# bottom-up (as Windows writes it), with widths that pad each row to 4 bytes.
raw() { # NAME PIX_FMT FLIPPED [SIZE]
    local palette=""
    [[ $2 == pal8 ]] && palette="-vf split[a][b];[a]palettegen=max_colors=200[p];[b][p]paletteuse"
    # shellcheck disable=SC2086
    make "$1" $(picture "${4:-$odd}") $palette -c:v rawvideo -pix_fmt "$2" -flipped_raw_rgb "$3"
}
raw avi_rgb24_bottomup.avi bgr24 1
raw avi_rgb24_topdown.avi bgr24 0
raw avi_rgb32_bottomup.avi bgra 1
wide_only && raw avi_rgb32_topdown.avi bgra 0
raw avi_rgb555_bottomup.avi rgb555le 1
wide_only && raw avi_rgb555_topdown.avi rgb555le 0
raw avi_pal8_bottomup.avi pal8 1
raw avi_pal8_topdown.avi pal8 0
wide_only && raw avi_rgb24_even.avi bgr24 1 "$size"

# 16-bit 5-6-5 needs BI_BITFIELDS, which ffmpeg does not write: its 5-5-5 file is made
# into one, the pixels turned into 5-6-5 and the three masks put after the header.
bitfields565() { # SOURCE.avi (5-5-5, bottom-up)
    perl -e '
        use strict; local $/; open(my $f, "<:raw", $ARGV[0]) or die; my $d = <$f>;
        my $masks = pack("V3", 0xF800, 0x07E0, 0x001F);
        # strf: size 40 becomes 52, compression 3; the chunk and its lists grow by 12
        my $s = index($d, "strf"); die unless $s > 0;
        substr($d, $s + 4, 4) = pack("V", 52);
        substr($d, $s + 8 + 16, 4) = pack("V", 3);
        substr($d, $s + 8 + 40, 0) = $masks;
        for my $tag ("hdrl", "strl") {
            my $i = -1;
            while (($i = index($d, "LIST", $i + 1)) >= 0) {
                next unless substr($d, $i + 8, 4) eq $tag;
                substr($d, $i + 4, 4) = pack("V", unpack("V", substr($d, $i + 4, 4)) + 12);
                last;
            }
        }
        substr($d, 4, 4) = pack("V", unpack("V", substr($d, 4, 4)) + 12);
        # pixels: each 00db chunk from 5-5-5 to 5-6-5
        my $m = index($d, "movi");
        my $i = $m + 4;
        while ($i + 8 <= length $d) {
            my $id = substr($d, $i, 4); my $len = unpack("V", substr($d, $i + 4, 4));
            last if $id eq "idx1";
            if ($id eq "00db" || $id eq "00dc") {
                my @p = unpack("v*", substr($d, $i + 8, $len));
                @p = map { (($_ & 0x7FE0) << 1) | ($_ & 0x1F) | (($_ & 0x200) >> 4) } @p;
                substr($d, $i + 8, $len) = pack("v*", @p);
            }
            $i += 8 + $len + ($len & 1);
        }
        # idx1 offsets are relative to movi and stay; print the file
        print $d;' "$outdir/$1" > "$tmp"
}
derive avi_rgb565_bottomup.avi bitfields565 avi_rgb555_bottomup.avi

if ((wide && huge)); then
    # More than 4 GB: 1080p uncompressed, so the OpenDML index is needed.
    make avi_opendml.avi -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=28" -c:v rawvideo -pix_fmt bgr24
fi

# --- MPEG ---
make mpg_mpeg1_mp2.mpg $(picture 352x240) $(tone) -c:v mpeg1video -b:v 1000k -c:a mp2 -b:a 128k -f mpeg
make mpg_mpeg2_ac3.mpg $(picture 720x480) $(tone 48000) -c:v mpeg2video -b:v 3000k -c:a ac3 -b:a 192k -f vob
wide_only && make mpg_mpeg2_interlaced.mpg $(picture 720x576) $(tone 48000) -c:v mpeg2video -b:v 4000k \
    -flags +ilme+ildct -top 1 -c:a mp2 -f vob
make mpg_transport.mpg $(picture 352x288) $(tone 48000) -c:v mpeg2video -b:v 2000k -c:a mp2 -f mpegts
wide_only && make mpg_vcd.mpg $(picture 352x288) $(tone) -target pal-vcd
# Program streams by GStreamer's muxer (large first packets, which the demuxer's scan
# for the first time stamp misses), and by the DVD multiplexer of mjpegtools, with MPEG
# sound and with DVD LPCM sound (pictures stamped once a group).
gst_psmux() {
    local frames=$((secs * 25))
    gst-launch-1.0 -q -e mpegpsmux name=m ! filesink location="$tmp" \
        videotestsrc num-buffers=$frames ! "video/x-raw,width=352,height=288,framerate=25/1" ! videoconvert \
        ! video/x-raw,format=I420 ! mpeg2enc format=0 ! mpegvideoparse ! m. \
        audiotestsrc num-buffers=$frames samplesperbuffer=1920 ! audio/x-raw,rate=48000,channels=2 \
        ! avenc_mp2 ! mpegaudioparse ! m. >/dev/null
}
mplex_dvd() { # SOUND-FILE-EXTENSION FFMPEG-SOUND-ARGS...
    local sound="$tmp.$1" video="$tmp.m2v"; shift
    ff $(picture 352x288) -pix_fmt yuv420p -f yuv4mpegpipe - | mpeg2enc -v 0 -f 8 -o "$video"
    ff $(tone 48000) -ac 2 "$@" "$sound"
    mplex -v 0 -f 8 -o "$tmp" "$video" "$sound"
    rm -f -- "$video" "$sound"
}
derive mpg_gst_psmux.mpg gst_psmux
derive mpg_mplex_dvd.mpg mplex_dvd mp2 -c:a mp2 -b:a 192k -f mp2
derive mpg_mplex_lpcm.mpg mplex_dvd lpcm -f s16be

# --- WAVE ---
# An odd number of 8-bit mono samples: the data chunk is followed by a pad byte.
make wav_pcm8_odd.wav -f lavfi -i "sine=frequency=440:sample_rate=11025:duration=$secs" -c:a pcm_u8
wide_only && make wav_pcm16.wav $(tone) -c:a pcm_s16le -ac 2
make wav_pcm24.wav $(tone) -c:a pcm_s24le
wide_only && make wav_pcm32.wav $(tone) -c:a pcm_s32le
make wav_float.wav $(tone) -c:a pcm_f32le
make wav_mulaw.wav $(tone 8000) -c:a pcm_mulaw
wide_only && make wav_alaw.wav $(tone 8000) -c:a pcm_alaw
wide_only && make wav_51.wav $(tone 48000) -ac 6 -c:a pcm_s16le
wide_only && make wav_96k32.wav $(tone 96000) -c:a pcm_s32le -ac 2
wide_only && make wav_extensible_float.wav $(tone 48000) -ac 6 -c:a pcm_f32le

# ADPCM with the block sizes encoders use: 256 bytes a channel up to 11 kHz, 512 at
# 22 kHz, 1024 at 44 kHz.
adpcm() { # CODEC RATE CHANNELS
    local block=$((256 * $3 * ($2 > 11025 ? $2 / 22050 * 2 : 1)))
    make "wav_${1#adpcm_}_${2}_${3}ch.wav" $(tone "$2") -ac "$3" -c:a "$1" -block_size "$block"
}
adpcm adpcm_ima_wav 8000 1
wide_only && adpcm adpcm_ima_wav 22050 1
adpcm adpcm_ima_wav 44100 1
wide_only && adpcm adpcm_ima_wav 8000 2
wide_only && adpcm adpcm_ima_wav 22050 2
adpcm adpcm_ima_wav 44100 2
wide_only && adpcm adpcm_ms 8000 1
adpcm adpcm_ms 11025 1
adpcm adpcm_ms 22050 1
wide_only && adpcm adpcm_ms 44100 1
adpcm adpcm_ms 22050 2
wide_only && adpcm adpcm_ms 44100 2
make wav_gsm.wav $(tone 8000) -c:a libgsm_ms
make wav_mp3.wav $(tone) -c:a libmp3lame -b:a 128k
make wav_mp2.wav $(tone) -c:a mp2 -b:a 128k
# MPEG sound whose header's figures are wrong (the length is still the sound's).
declare -A length_of
lie() { # SOURCE PERL-EDIT
    perl -0777 -pe "$2" < "$outdir/$1" > "$tmp"
}
for edit in "fact_max:s/fact\\x04\\0\\0\\0\\K..../\\xFF\\xFF\\xFF\\xFF/s" \
            "fact_1:s/fact\\x04\\0\\0\\0\\K..../\\x01\\0\\0\\0/s" \
            "byterate_1:s/fmt .{12}\\K..../\\x01\\0\\0\\0/s"; do
    derive "wav_mp3_${edit%%:*}.wav" lie wav_mp3.wav "${edit#*:}"
    length_of[wav_mp3_${edit%%:*}.wav]=$(ffprobe -v error -show_entries format=duration -of csv=p=0 -- \
        "$outdir/wav_mp3.wav" | awk '{ printf "%d", $1 * 1000 + 0.5 }')
done

# --- what ffprobe and ffmpeg say of each ---
list="$outdir/.tmp.$$.tsv"
: > "$list"
for name in "${names[@]}"; do
    f="$outdir/$name"
    length=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 -- "$f")
    dims=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x -- "$f" || true)
    dims=${dims%%$'\n'*}
    width=${dims%%x*} height=${dims#*x}
    height=${height%%x*}
    [[ -n $dims ]] || width=0 height=0
    if [[ -n $dims && ! -s $f.ref.png ]]; then
        ff -i "$f" -frames:v 1 -pix_fmt rgb24 "$f.ref.png"
    fi
    ms=${length_of[$name]:-$(awk -v s="$length" 'BEGIN { printf "%d", s * 1000 + 0.5 }')}
    printf '%s\t%s\t%s\t%s\n' "$name" "$ms" "$width" "$height" >> "$list"
done
mv -f -- "$list" "$outdir/corpus.tsv"
printf '%s\n' "$version" > "$outdir/.version"
