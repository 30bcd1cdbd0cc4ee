# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, made by CPack from the install rules above; run
# scripts/package.sh rather than cpack directly (it sets Debian's build flags
# and checks the result with lintian).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Morvane developers")
set(CPACK_PACKAGE_CONTACT "The Morvane developers <developers@morvane.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/COPYING)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://morvane.org/)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "audio to MP3 converter
Morvane converts audio files to MP3, one per processor core at a time.
Queue the files in a list, pick an output folder and a quality, and
convert: every row turns green when its MP3 is complete or red when it
failed, in the order of the list, and a summary names the failures.

It reads any format FFmpeg's libraries read (WAV, FLAC, Ogg, Opus, AAC,
AIFF, WavPack, WMA and the sound of most video files) and MIDI files, and
writes variable bit rate MP3 files with LAME, keeping the input's tags.
An existing MP3 is only replaced when the user agrees, and never by a
half-written file.")
# Runtime libraries (Qt, FFmpeg, LAME) found from the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The converter opens FluidSynth only for MIDI files (dlopen), so shlibdeps
# cannot see it; it and a General MIDI SoundFont in one of the places the
# converter looks are what MIDI files need. CPack adds the shlibdeps list.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libfluidsynth3, timgm6mb-soundfont | fluid-soundfont-gm")
# xchm shows help.chm (without it the help opens in the web browser),
# xdg-utils finds and starts the desktop's programs for the help,
# qt6-wayland lets the window run natively on a Wayland desktop, and
# qt6-translations-l10n has the texts of Qt's own dialogs and buttons in the
# languages the program is translated to (its own translations are built in).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xchm, xdg-utils, qt6-wayland, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
