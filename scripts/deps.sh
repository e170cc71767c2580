#!/usr/bin/env bash
# Installs the Debian packages Vornel needs to build, run and test; does nothing for those
# already there. Run as root or with sudo available.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config            # build
  qt6-base-dev libsdl2-dev libpulse-dev        # the player: its window, its sound (PulseAudio, SDL as fallback)
  libcurl4-openssl-dev libmpg123-dev           # its audio library: transport, MP3
  libfaad-dev libogg-dev libvorbis-dev libopus-dev  # AAC, Ogg, Vorbis, Opus
  libgtest-dev libbenchmark-dev clang libclang-rt-14-dev  # tests, benchmarks, the fuzzer
  fonts-dejavu-core fonts-dejavu-extra         # Cyrillic-capable fonts for the skin's texts (and their condensed face)
  python3 sox lame curl icecast2 ffmpeg openssl  # test stations: tones, scripted servers, real Icecast, TLS
  xvfb xauth x11-utils imagemagick             # screenshots of the real window
  dbus-daemon playerctl                        # the desktop tests: a private session bus, a media-controls client
  pulseaudio pulseaudio-utils                  # a sound server of the tests' own (the output's real path)
  xdotool iproute2 desktop-file-utils appstream  # the installed player: keys on its window, a loopback of its own, validators
  dpkg-dev lintian                             # the Debian package: its dependencies (dpkg-shlibdeps), its check
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
