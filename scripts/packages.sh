# Debian 12 packages, sourced by run.sh and test.sh.
# What building and running the program needs:
RUN_PACKAGES="cmake g++ make pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
 libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libmp3lame-dev libtag1-dev
 fp-utils xchm xdg-utils"
# What the tests and benchmarks need besides: the stock ffmpeg/ffprobe and lame
# programs and sox to make and check audio, Xvfb, X tools and a small window
# manager (openbox, driven by wmctrl) for the real-window checks, ImageMagick
# for screenshots, hyperfine for benchmarks, bindfs for an output folder on
# FUSE (no unnamed files there).
TEST_PACKAGES="ffmpeg sox libsox-fmt-all lame bindfs xvfb xauth xdotool x11-utils x11-apps imagemagick hyperfine time openbox wmctrl"

install_packages() {
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "$@"
}
