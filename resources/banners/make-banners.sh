#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws Morvane's artwork with ImageMagick 6 and writes it beside this script:
#   MP3              the 580 x 100 JPEG banner across the top of the main window
#   ICON_AUDIO.ico   the window icon: 16, 32, 48, 128 and 256 pixel 32-bit images
# the application icon for the desktop's icon theme (installed as hicolor
# icons under the program's desktop id):
#   resources/icons/morvane-<size>.png   16, 22, 24, 32, 48, 64, 128 and 256 pixels
#   resources/icons/morvane.svg          the same badge as a scalable drawing
# and the logo at the top of every help page:
#   help/pages/images/morvane-32.png
# The output is committed; run this again after changing the drawing:
#   bash resources/banners/make-banners.sh
# Needs: imagemagick, fonts-dejavu-core.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
help_images="$here/../../help/pages/images"
theme_icons="$here/../icons"
readonly THEME_ICON_SIZES=(16 22 24 32 48 64 128 256)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Palette: a deep navy ground, a teal-to-indigo badge, and a waveform that
# runs from aqua into a warm amber.
readonly NAVY_LEFT='#0d1728'
readonly NAVY_RIGHT='#11304a'
readonly BADGE_TOP='#21b8a6'
readonly BADGE_BOTTOM='#2b3d8f'
readonly WAVE_LEFT='#3fd8c6'
readonly WAVE_RIGHT='#ffbf5e'
readonly TITLE_COLOUR='#ffffff'
readonly TAGLINE_COLOUR='#8fb3c4'
readonly TITLE_FONT='DejaVu-Sans-Bold'
readonly TAGLINE_FONT='DejaVu-Sans'

# Shapes are drawn this many times larger and then averaged down, so edges
# that lie on the pixel grid stay sharp and the others are smoothly shaded.
readonly SUPERSAMPLE=8

die() { echo "make-banners: $*" >&2; exit 1; }

check_tools() {
    command -v convert >/dev/null || die "ImageMagick's convert is missing (apt-get install imagemagick)"
    command -v identify >/dev/null || die "ImageMagick's identify is missing (apt-get install imagemagick)"
    local fonts
    fonts="$(convert -list font)"
    for font in "$TITLE_FONT" "$TAGLINE_FONT"; do
        grep -q "Font: $font\$" <<<"$fonts" || die "font $font is missing (apt-get install fonts-dejavu-core)"
    done
}

# Prints the ImageMagick draw primitives of the badge's bars for a badge of
# SIZE pixels, in supersampled coordinates: bottom-aligned level bars, tall at
# both ends and low in the middle like the strokes of an "M". Five bars; at
# 16 pixels there is only room for three. Every bar edge is placed on a whole
# target pixel.
badge_bars() {
    local size=$1
    awk -v S="$size" -v k="$SUPERSAMPLE" 'BEGIN {
        if (S <= 16) {
            n = 3; split("1.0 0.55 1.0", h, " ")
            bw = 2; gap = 2; top = 3; base = 13
        } else {
            n = 5; split("1.0 0.62 0.36 0.62 1.0", h, " ")
            inner = S - 2 * int(S * 0.06 + 0.5)
            bw = int(inner * 0.105 + 0.5); if (bw < 2) bw = 2
            gap = int(bw * 0.55 + 0.5); if (gap < 1) gap = 1
            top = int(S * 0.24 + 0.5); base = S - int(S * 0.24 + 0.5)
        }
        width = n * bw + (n - 1) * gap
        x = int((S - width) / 2)
        for (i = 1; i <= n; i++) {
            y = base - int((base - top) * h[i] + 0.5)
            if (S <= 16)   # square ends: a rounded end would blur at this size
                printf "rectangle %d,%d %d,%d\n", x * k, y * k, (x + bw) * k - 1, base * k - 1
            else
                printf "roundrectangle %d,%d %d,%d %g,%g\n", x * k, y * k, (x + bw) * k - 1, base * k - 1, bw * k / 2, bw * k / 2
            x += bw + gap
        }
    }'
}

# Writes the badge (the icon's picture) at SIZE x SIZE pixels to OUT, a
# 32-bit RGBA PNG: a rounded square with a diagonal teal-to-indigo gradient,
# lit softly from the top, and the white bars.
make_badge() {
    local size=$1 out=$2
    local big=$((size * SUPERSAMPLE))
    local inset radius
    if [ "$size" -le 16 ]; then inset=0; radius=3; else
        inset=$(( (size * 6 + 50) / 100 ))
        radius=$(( (size - 2 * inset) * 22 / 100 ))
    fi
    local x0=$((inset * SUPERSAMPLE)) x1=$(((size - inset) * SUPERSAMPLE - 1))
    local r=$((radius * SUPERSAMPLE))

    convert -size "${big}x${big}" -define gradient:direction=SouthEast \
        "gradient:${BADGE_TOP}-${BADGE_BOTTOM}" \
        \( -size "${big}x${big}" 'gradient:rgba(255,255,255,0.18)-rgba(255,255,255,0)' \) \
        -compose Over -composite \
        \( -size "${big}x${big}" xc:black -fill white \
           -draw "roundrectangle $x0,$x0 $x1,$x1 $r,$r" \) \
        -alpha off -compose CopyOpacity -composite \
        -fill white -draw "$(badge_bars "$size")" \
        -filter Box -resize "${size}x${size}" \
        -strip -define png:color-type=6 "PNG32:$out"
}

# Prints the draw primitives of the banner's waveform: thin rounded bars
# centred on one line, their heights a mix of sines under a smooth envelope,
# so it reads as a real recording rather than a pattern.
waveform_bars() {
    awk -v k="$SUPERSAMPLE" 'BEGIN {
        left = 318; right = 566; mid = 50; maxhalf = 34
        bw = 3; gap = 2
        n = int((right - left + gap) / (bw + gap))
        pi = 3.14159265358979
        for (i = 0; i < n; i++) {
            t = i / (n - 1)
            env = sin(pi * (0.08 + 0.84 * t)) ^ 0.7
            v = 0.50 * (0.5 + 0.5 * sin(i * 0.47 + 0.6)) \
              + 0.32 * (0.5 + 0.5 * sin(i * 1.31 + 2.0)) \
              + 0.18 * (0.5 + 0.5 * sin(i * 2.73 + 1.1))
            half = 2 + (maxhalf - 2) * env * v
            x = left + i * (bw + gap)
            printf "roundrectangle %d,%d %d,%d %g,%g\n", x * k, (mid - half) * k, (x + bw) * k - 1, (mid + half) * k - 1, bw * k / 2, bw * k / 2
        }
    }'
}

# The waveform layer: the bars as a mask over an aqua-to-amber gradient,
# faded in from the left so it grows out of the background.
make_waveform() {
    local out=$1
    local w=$((580 * SUPERSAMPLE)) h=$((100 * SUPERSAMPLE))
    # The colour runs across the waveform's own span (x 318 to 566), not the
    # whole banner: a left-to-right ramp, clipped to that span, then coloured.
    convert \
        \( -size 100x580 gradient:white-black -rotate 90 -level 54.8%,97.6% \
           +level-colors "${WAVE_LEFT},${WAVE_RIGHT}" \) \
        \( -size 580x100 xc:black \
           \( -size "${w}x${h}" xc:black -fill white -draw "$(waveform_bars)" \
              -filter Box -resize 580x100 \) \
           -compose Over -composite \
           \( -size 100x580 gradient:white-black -rotate 90 \
              -level 52%,66% \) \
           -compose Multiply -composite \) \
        -alpha off -compose CopyOpacity -composite \
        "PNG32:$out"
}

make_banner() {
    local out=$1
    make_badge 64 "$work/badge64.png"
    make_waveform "$work/wave.png"
    convert \
        \( -size 100x580 "gradient:${NAVY_RIGHT}-${NAVY_LEFT}" -rotate 90 \) \
        \( -size 580x100 radial-gradient:'rgba(63,216,198,0.10)-rgba(63,216,198,0)' \
           -geometry +150+0 \) -compose Over -composite \
        "$work/wave.png" -compose Over -composite \
        "$work/badge64.png" -geometry +18+18 -compose Over -composite \
        -density 72 -units PixelsPerInch \
        -font "$TITLE_FONT" -pointsize 40 -kerning -0.5 -fill "$TITLE_COLOUR" \
        -annotate +96+57 'Morvane' \
        -font "$TAGLINE_FONT" -pointsize 11 -kerning 2.4 -fill "$TAGLINE_COLOUR" \
        -annotate +98+79 'AUDIO TO MP3 CONVERTER' \
        -strip -sampling-factor 1x1 -quality 92 -type TrueColor "JPEG:$out"
    # (1x1 sampling keeps full colour resolution, so the type stays crisp.)
}

# Writes the badge as an SVG drawing to OUT: the same rounded square,
# gradients and bars as make_badge, laid out for 256 pixels.
make_badge_svg() {
    local out=$1
    awk -v top="$BADGE_TOP" -v bottom="$BADGE_BOTTOM" 'BEGIN {
        S = 256
        inset = int((S * 6 + 50) / 100); side = S - 2 * inset
        radius = int(side * 22 / 100)
        n = 5; split("1.0 0.62 0.36 0.62 1.0", h, " ")
        inner = S - 2 * int(S * 0.06 + 0.5)
        bw = int(inner * 0.105 + 0.5); gap = int(bw * 0.55 + 0.5)
        btop = int(S * 0.24 + 0.5); base = S - int(S * 0.24 + 0.5)
        x = int((S - (n * bw + (n - 1) * gap)) / 2)
        printf "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">\n", S, S, S, S
        printf "  <title>Morvane</title>\n"
        printf "  <defs>\n"
        printf "    <linearGradient id=\"ground\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\">\n"
        printf "      <stop offset=\"0\" stop-color=\"%s\"/>\n      <stop offset=\"1\" stop-color=\"%s\"/>\n", top, bottom
        printf "    </linearGradient>\n"
        printf "    <linearGradient id=\"light\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">\n"
        printf "      <stop offset=\"0\" stop-color=\"#ffffff\" stop-opacity=\"0.18\"/>\n"
        printf "      <stop offset=\"1\" stop-color=\"#ffffff\" stop-opacity=\"0\"/>\n"
        printf "    </linearGradient>\n"
        printf "  </defs>\n"
        for (layer = 1; layer <= 2; layer++)
            printf "  <rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" rx=\"%d\" fill=\"url(#%s)\"/>\n", inset, inset, side, side, radius, layer == 1 ? "ground" : "light"
        for (i = 1; i <= n; i++) {
            y = base - int((base - btop) * h[i] + 0.5)
            printf "  <rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" rx=\"%g\" fill=\"#ffffff\"/>\n", x, y, bw, base - y, bw / 2
            x += bw + gap
        }
        printf "</svg>\n"
    }' >"$out"
}

make_theme_icons() {
    local size
    for size in "${THEME_ICON_SIZES[@]}"; do
        make_badge "$size" "$work/morvane-$size.png"
    done
    make_badge_svg "$work/morvane.svg"
}

make_icon() {
    local out=$1 size pngs=()
    for size in 256 128 48 32 16; do
        make_badge "$size" "$work/icon$size.png"
        pngs+=("$work/icon$size.png")
    done
    convert "${pngs[@]}" "ICO:$out"
}

check_output() {
    local size
    size="$(identify -format '%m %wx%h' "$here/MP3")"
    [ "$size" = "JPEG 580x100" ] || die "banner came out as $size"
    size="$(identify -format '%wx%h:%[channels] ' "$here/ICON_AUDIO.ico")"
    [ "$size" = "256x256:srgba 128x128:srgba 48x48:srgba 32x32:srgba 16x16:srgba " ] ||
        die "icon came out with images $size"
    local want
    for want in "${THEME_ICON_SIZES[@]}"; do
        size="$(identify -format '%m %wx%h' "$theme_icons/morvane-$want.png")"
        [ "$size" = "PNG ${want}x${want}" ] || die "theme icon $want came out as $size"
    done
    grep -q '<svg .*viewBox="0 0 256 256"' "$theme_icons/morvane.svg" ||
        die "scalable icon has no 256 x 256 drawing"
}

check_tools
make_banner "$work/MP3"
make_icon "$work/ICON_AUDIO.ico"
make_theme_icons
mv "$work/MP3" "$here/MP3"
mv "$work/ICON_AUDIO.ico" "$here/ICON_AUDIO.ico"
mkdir -p "$help_images" "$theme_icons"
cp "$work/morvane-32.png" "$help_images/morvane-32.png"
mv "$work"/morvane-*.png "$work/morvane.svg" "$theme_icons/"
check_output
echo "make-banners: wrote $here/MP3, $here/ICON_AUDIO.ico, the theme icons in $theme_icons and the help logo"
