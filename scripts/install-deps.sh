#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing the player need.
# Only missing packages are installed; nothing is printed when all are present.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libqt6opengl6
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly
  gstreamer1.0-libav gstreamer1.0-tools
  timgm6mb-soundfont
  libsimpleini-dev
  libicu-dev
  fonts-ipafont-gothic
  qt6-translations-l10n
  libbenchmark-dev
  xvfb xauth
  openbox x11-utils xdotool libxcb1-dev libxcb-shm0-dev
  libjpeg62-turbo-dev
  ffmpeg mjpegtools
  clang libclang-rt-14-dev
  zzuf
  dbus dbus-daemon playerctl desktop-file-utils librsvg2-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
