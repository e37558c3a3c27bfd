#pragma once
// The measurements made inside a child process that shows the playback control (on
// the offscreen platform unless told otherwise). Each prints "key value" lines on
// stdout for the driver to read and returns the process exit code.
#include <QSize>

#include <string>

namespace kino::bench {

// The size of the picture area while measuring: a typical window, so the frame is
// scaled down when painted, as it is for a user.
constexpr int kViewWidth = 640;
constexpr int kViewHeight = 400;

// Time from setting FileName to the first frame painted in the view, and the bare
// pipeline's time to its first sample, alternately, after one warm-up of each:
//   view W H / ours_ms T / ours_setter_ms T / ours_delivered_ms T / floor_ms T
// and, to tell where the time goes, the bare pipeline with playbin's own sound output:
//   floor_sound_ms T
int FirstFrameProbe(const std::string& file, int runs);

// Plays the whole file at speed 1.0 in a picture area of `view`, from setting FileName
// until status 4:
//   play_cpu_s S / play_wall_s S / frames_delivered N / frames_painted N / frames_put N
//   frames_alive_most N (the most frames in memory at once)
int PlayThroughProbe(const std::string& file, QSize view = QSize(kViewWidth, kViewHeight));

// Opens the same file `opens` times, each time waiting for status 1 and a painted
// frame before the next open, and reports the resident memory after each open:
//   rss_kb OPENS KB
int ReopenProbe(const std::string& file, int opens);

// Pauses the file one second in and writes two pictures of the same frame at the
// view's fitted size into OUTDIR: after.png as the view shows it (scaled in the
// pipeline) and before.png as the full-size frame smoothly scaled by the toolkit
// (how it was drawn before). Prints the PSNR between them:
//   psnr_db D / shown W H
int StillCompareProbe(const std::string& file, const std::string& outDir);

} // namespace kino::bench
