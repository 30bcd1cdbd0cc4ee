#include "common/arguments.h"

#include "toolcontract.h"

#include <string>
#include <vector>

namespace {

constexpr const char *usage =
    "usage: ffmpeg -i <input> -acodec libmp3lame -aq <0..99> <output>  |  ffmpeg -i <input>  |  "
    "ffmpeg -album-gain <mp3>...";

// The arguments as one of the contract's templates: every literal word must
// match exactly, and each placeholder word takes the argument in its place.
// Returns false when the shape differs (count or a literal word).
bool matchTemplate(const char *argumentTemplate, int argc, const char *const *argv, std::string &input,
                   std::string &quality, std::string &output)
{
    const std::vector<std::string> words = toolcontract::splitTemplate(argumentTemplate);
    if (argc != static_cast<int>(words.size()) + 1)
        return false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string argument = argv[i + 1];
        if (words[i] == toolcontract::kInputPlaceholder)
            input = argument;
        else if (words[i] == toolcontract::kQualityPlaceholder)
            quality = argument;
        else if (words[i] == toolcontract::kOutputPlaceholder)
            output = argument;
        else if (words[i] != argument)
            return false;
    }
    return true;
}

} // namespace

bool parseQuality(const std::string &text, int &quality)
{
    if (text.empty())
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > toolcontract::kHighestQuality)
            return false;
    }
    quality = value;
    return true;
}

int lameVbrLevel(int quality)
{
    return 9 - quality / 10;
}

Status parseArguments(int argc, const char *const *argv, Request &request)
{
    std::string input, quality, output;
    if (argc >= 3 && std::string(argv[1]) == toolcontract::kAlbumGainOption) {
        request.kind = Request::Kind::AlbumGain;
        request.mp3s.assign(argv + 2, argv + argc);
        return Status::success();
    }
    if (matchTemplate(toolcontract::kProbeTemplate, argc, argv, input, quality, output)) {
        request.kind = Request::Kind::Probe;
        request.input = input;
        return Status::success();
    }
    if (matchTemplate(toolcontract::kConversionTemplate, argc, argv, input, quality, output)) {
        if (!parseQuality(quality, request.quality))
            return Status::failure("quality must be a number from 0 to 99, not \"" + quality + "\"");
        request.kind = Request::Kind::Convert;
        request.input = input;
        request.output = output;
        return Status::success();
    }
    return Status::failure(usage);
}
