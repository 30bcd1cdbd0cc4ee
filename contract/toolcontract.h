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
//   ffmpeg -probe-list
//       reads NUL-terminated paths on standard input and prints, for each,
//       "Probe <index> $<whole seconds>$" or "Probe <index> failed <reason>"
//       (index counted from 0 in the order read, answers in any order).
//   ffmpeg -album-gain <mp3>...
//       reads one line per MP3 on standard input, in order: the loudness
//       its conversion reported (see kInfoPrefix), measures the loudness of
//       all of them together and writes the album gain and peak into each
//       MP3's ID3v2 tag in place; prints "##success##" once all have it.

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

// The other forms of the tool, each its first argument.
inline constexpr char kProbeListOption[] = "-probe-list";
inline constexpr char kProbeAnswerPrefix[] = "Probe ";
inline constexpr char kProbeFailed[] = "failed";
inline constexpr char kAlbumGainOption[] = "-album-gain";

// Standard error, "ffmpeg: note: <text>": something the user should know
// about a file that did convert (audio that could not be decoded, samples
// that had to be repaired). Never a failure; there may be several.
inline constexpr char kNotePrefix[] = "ffmpeg: note: ";

// Standard error, "PartialFile <name>": the tool has made a named temporary
// file (name encoded with encodeLineText) in the output's folder. A tool
// that ends by itself renames or removes it; when a tool died (killed,
// crashed, or stopped by the program), the program removes it.
inline constexpr char kPartialFilePrefix[] = "PartialFile ";

// Standard output, after a conversion and before the success marker:
// "Info <key> <value>" lines about the input, each value encoded with
// encodeLineText. Keys: "album", "artist", "title", "track" and "disc"
// (numbers, without totals), "seconds" (the exact length, decimal), and
// "loudness" (an opaque measurement, handed back to -album-gain as it is).
inline constexpr char kInfoPrefix[] = "Info ";

// The most threads one conversion uses (1: one encoder); unset, the tool
// takes as many as it gets from a make jobserver named in MAKEFLAGS, or else
// as many as there are cores.
inline constexpr char kThreadsVariable[] = "MORVANE_THREADS";

// Text on one line whatever it holds: control characters, DEL and "%"
// become "%XX" (upper-case hex); decodeLineText reverses it.
inline std::string encodeLineText(const std::string &text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string line;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || byte == '%') {
            line += '%';
            line += hex[byte >> 4];
            line += hex[byte & 0xF];
        } else {
            line += c;
        }
    }
    return line;
}

inline std::string decodeLineText(const std::string &line)
{
    auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '%' && i + 2 < line.size() && digit(line[i + 1]) >= 0 && digit(line[i + 2]) >= 0) {
            text += static_cast<char>(digit(line[i + 1]) * 16 + digit(line[i + 2]));
            i += 2;
        } else {
            text += line[i];
        }
    }
    return text;
}

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
