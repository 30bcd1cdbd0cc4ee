#pragma once

#include "common/libav.h"
#include "common/status.h"
#include "input/input.h"

#include <string>

// Decodes the input's audio stream frame by frame and judges whether the
// input was whole: read errors, a stream that ends in a decoding error or
// stops well short of the length its header states all make the input fail.
class AudioDecoder
{
public:
    Status open(Input &input);

    // Puts the next decoded frame into frame, or sets finished at the end of
    // the stream (the frame is then left empty).
    Status next(AVFrame *frame, bool &finished);

    // After the last frame: whether what was decoded is the whole input.
    Status checkComplete() const;

    // Seconds of audio decoded so far.
    double decodedSeconds() const { return decodedSeconds_; }

    // After the last frame of an input that checkComplete() accepted: what
    // could not be decoded, for a note ("0.08 s could not be decoded", "3
    // damaged packets were skipped"); empty when all of it could.
    std::string damageNote() const;

private:
    Status readAndSendPacket();
    Status noteDecodingError(int error);
    void countTrimmedSamples(const AVPacket &packet);

    Input *input_ = nullptr;
    libav::CodecContextPtr codec_;
    libav::PacketPtr packet_;
    bool flushing_ = false;

    double decodedSeconds_ = 0.0;
    double longestFrameSeconds_ = 0.0;
    int64_t trimmedSamples_ = 0;
    long packets_ = 0;
    long failedPackets_ = 0;
    bool lastDecodeFailed_ = false;
};
