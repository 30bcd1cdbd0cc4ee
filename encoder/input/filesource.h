#pragma once

#include "common/source.h"
#include "input/decoder.h"
#include "input/input.h"

#include <string>

// An audio file decoded by libav, with the tags and cover it carries.
class FileSource : public Source
{
public:
    Status open(const std::string &path) override;
    Status next(AVFrame *frame, bool &finished) override { return decoder_.next(frame, finished); }
    Status checkComplete() const override { return decoder_.checkComplete(); }
    double secondsRead() const override { return decoder_.decodedSeconds(); }
    void readTags(Tags &tags, Picture &cover) const override;

private:
    std::string path_;
    // Declared so that the input is closed after its decoder.
    Input input_;
    AudioDecoder decoder_;
};
