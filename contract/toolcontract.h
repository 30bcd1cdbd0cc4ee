// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What passes between Morvane and its encoder tool, in one place: the program,
// the tool, the stand-in tools and the tests all include this header. Plain
// C++17, so the tool needs nothing of Qt.
//
//   ffmpeg -i <input> -acodec libmp3lame -aq <0..99> <output>
//       converts; writes "ProgressMessage <seconds>" lines on standard error
//       while it works and prints "##success##" on standard output once the
//       MP3 is in place; on failure it exits non-zero with one line
//       "ffmpeg: <reason>" on standard error.
//   ffmpeg -i <input>
//       prints the length of the input's audio as "$<whole seconds>$".

#include <string>
#include <vector>

namespace toolcontract {

// The tool's file name; it lies beside the program. It answers most probes
// itself and hands everything else to the converter, which lies beside it,
// by exec: the process the program started goes on as the converter.
inline constexpr char kToolName[] = "ffmpeg";
inline constexpr char kConverterName[] = "morvane-converter";

// The argument templates, as words separated by blanks; double quotes group a
// word and are removed. Placeholders inside a word: ">" the input path, "##"
// the quality, "<" the output path. Both sides split the same templates.
inline constexpr char kConversionTemplate[] = "-i \">\" -acodec libmp3lame -aq ## \"<\"";
inline constexpr char kProbeTemplate[] = "-i \">\"";
inline constexpr char kInputPlaceholder[] = ">";
inline constexpr char kQualityPlaceholder[] = "##";
inline constexpr char kOutputPlaceholder[] = "<";

// The quality scale: the lowest value gives the smallest file, the highest
// the best quality.
inline constexpr int kLowestQuality = 0;
inline constexpr int kHighestQuality = 99;

// Standard output.
inline constexpr char kSuccessMarker[] = "##success##";
inline constexpr char kDurationDelimiter = '$';

// Standard error: progress lines "ProgressMessage <whole seconds>", and on
// failure one line that starts with the reason prefix.
inline constexpr char kProgressPrefix[] = "ProgressMessage";
inline constexpr char kReasonPrefix[] = "ffmpeg: ";

// SIGTERM asks the tool to stop: it removes what it was writing and ends
// within this time (a call that does not return is cut off by an alarm).
inline constexpr int kStopDeadlineSeconds = 2;
// How long the program waits for a tool it asked to stop before it kills
// it: longer than the tool's own deadline, so a clean stop is never cut.
inline constexpr int kStopGraceMs = kStopDeadlineSeconds * 1000 + 1000;

// Splits an argument template into words at blanks and tabs; double quotes
// group and are removed.
inline std::vector<std::string> splitTemplate(const char *argumentTemplate)
{
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (const char *c = argumentTemplate; *c; ++c) {
        if (*c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (*c == ' ' || *c == '\t')) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += *c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

} // namespace toolcontract
