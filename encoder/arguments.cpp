#include "arguments.h"

#include <cstring>

namespace {

constexpr const char *usage =
    "usage: ffmpeg -i <input> -acodec libmp3lame -aq <0..99> <output>  |  ffmpeg -i <input>";

constexpr int maxQuality = 99;

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
        if (value > maxQuality)
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
    if (argc == 3 && std::strcmp(argv[1], "-i") == 0) {
        request.kind = Request::Kind::Probe;
        request.input = argv[2];
        return Status::success();
    }
    if (argc == 8 && std::strcmp(argv[1], "-i") == 0 && std::strcmp(argv[3], "-acodec") == 0
        && std::strcmp(argv[4], "libmp3lame") == 0 && std::strcmp(argv[5], "-aq") == 0) {
        if (!parseQuality(argv[6], request.quality))
            return Status::failure(std::string("quality must be a number from 0 to 99, not \"") + argv[6]
                                   + "\"");
        request.kind = Request::Kind::Convert;
        request.input = argv[2];
        request.output = argv[7];
        return Status::success();
    }
    return Status::failure(usage);
}
