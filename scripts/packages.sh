# SPDX-License-Identifier: GPL-3.0-or-later
# Debian 12 packages, sourced by run.sh, test.sh and package.sh.
# What building and running the program needs (timgm6mb-soundfont is the
# small General MIDI SoundFont the tool renders MIDI files with; lupdate and
# lrelease from qt6-l10n-tools, with their CMake functions in qt6-tools-dev,
# make the program's translations, and qt6-translations-l10n has Qt's own):
RUN_PACKAGES="cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
 qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
 libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libmp3lame-dev
 libebur128-dev libtag1-dev libfluidsynth-dev timgm6mb-soundfont
 fp-utils xchm xdg-utils"
# What the tests and benchmarks need besides: the stock ffmpeg/ffprobe and lame
# programs and sox to make and check audio, Xvfb, X tools and a small window
# manager (openbox, driven by wmctrl) for the real-window checks, ImageMagick
# for screenshots and icon sizes, hyperfine for benchmarks, mutagen to write
# tags into test inputs and read the MP3's tags back, bindfs for an output
# folder on FUSE (no unnamed files there), the validators of the installed
# desktop entry, metainfo and manual page, and a private D-Bus
# (dbus-run-session, dbus-daemon) for the stand-in desktop services.
TEST_PACKAGES="ffmpeg sox libsox-fmt-all lame bindfs xvfb xauth xdotool x11-utils x11-apps imagemagick hyperfine time openbox wmctrl
 python3-mutagen desktop-file-utils appstream man-db dbus-bin dbus-daemon"
# What building the Debian package needs besides RUN_PACKAGES (which holds its
# Build-Depends): dpkg-buildpackage (dpkg-dev), which also wants
# build-essential, dh and its helpers (debhelper), and lintian to check the
# package.
PACKAGE_PACKAGES="build-essential debhelper dpkg-dev lintian"

install_packages() {
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "$@"
}
