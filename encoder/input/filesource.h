#pragma once

#include "common/source.h"
#include "input/decoder.h"
#include "input/input.h"

#include <string>

// An audio file decoded by libav, with the tags and cover it carries.
// Damaged float samples are repaired on the way (input/samplerepair.h).
class FileSource : public Source
{
public:
    Status open(const std::string &path) override;
    Status next(AVFrame *frame, bool &finished) override;
    Status checkComplete() const override { return decoder_.checkComplete(); }
    void readTags(Tags &tags, Picture &cover) const override;
    Notes notes() const override;

private:
    std::string path_;
    // Declared so that the input is closed after its decoder.
    Input input_;
    AudioDecoder decoder_;
    long repairedSamples_ = 0;
};
