#include "input/decoder.h"

#include "common/averror.h"
#include "common/interruption.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <cstdio>

namespace {

// How far short of the header's stated length the decoded audio may end:
// encoder delay and padding (a few hundredths of a second) are not audio.
double allowedShortfall(double statedSeconds)
{
    return std::max(0.2, statedSeconds * 0.02);
}

} // namespace

Status AudioDecoder::open(Input &input)
{
    input_ = &input;
    const AVCodecParameters *parameters = input.audio->codecpar;
    const AVCodec *decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder)
        return Status::failure(std::string("no decoder for the input's audio (")
                               + avcodec_get_name(parameters->codec_id) + ")");
    codec_.reset(avcodec_alloc_context3(decoder));
    packet_.reset(av_packet_alloc());
    if (!codec_ || !packet_)
        return Status::failure("out of memory");
    int error = avcodec_parameters_to_context(codec_.get(), parameters);
    if (error < 0)
        return avFailure("cannot set up the audio decoder", error);
    codec_->pkt_timebase = input.audio->time_base;
    error = avcodec_open2(codec_.get(), decoder, nullptr);
    if (error < 0)
        return avFailure("cannot open the audio decoder", error);
    return Status::success();
}

Status AudioDecoder::next(AVFrame *frame, bool &finished)
{
    finished = false;
    for (;;) {
        if (interruption::requestedBy())
            return interruption::stopped();
        const int error = avcodec_receive_frame(codec_.get(), frame);
        if (error >= 0) {
            lastDecodeFailed_ = false;
            if (frame->sample_rate > 0) {
                const double seconds = static_cast<double>(frame->nb_samples) / frame->sample_rate;
                decodedSeconds_ += seconds;
                longestFrameSeconds_ = std::max(longestFrameSeconds_, seconds);
            }
            return Status::success();
        }
        if (error == AVERROR_EOF) {
            finished = true;
            return Status::success();
        }
        if (error != AVERROR(EAGAIN)) {
            if (Status status = noteDecodingError(error); !status.ok())
                return status;
            continue;
        }
        if (Status status = readAndSendPacket(); !status.ok())
            return status;
    }
}

// Feeds the decoder one packet of the audio stream, or the end-of-stream
// signal once the file is read.
Status AudioDecoder::readAndSendPacket()
{
    AVPacket *packet = packet_.get();
    if (flushing_)
        return Status::failure("audio decoder did not finish"); // not reached: EOF follows the flush
    for (;;) {
        const int error = av_read_frame(input_->format.get(), packet);
        if (error == AVERROR_EOF) {
            flushing_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            return Status::success();
        }
        if (error == AVERROR_EXIT || interruption::requestedBy())
            return interruption::stopped();
        if (error < 0)
            return avFailure("cannot read the input", error);
        if (packet->stream_index == input_->audio->index)
            break;
        av_packet_unref(packet);
    }

    ++packets_;
    countTrimmedSamples(*packet);
    const int error = avcodec_send_packet(codec_.get(), packet);
    av_packet_unref(packet);
    if (error < 0)
        return noteDecodingError(error);
    return Status::success();
}

// Encoder delay and padding that the container tells the decoder to drop
// (an MP3's LAME header, an MP4's edit list): the stated length counts them.
void AudioDecoder::countTrimmedSamples(const AVPacket &packet)
{
    size_t size = 0;
    const uint8_t *skip = av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (skip && size >= 8)
        trimmedSamples_ += static_cast<int64_t>(AV_RL32(skip)) + AV_RL32(skip + 4);
}

// A damaged packet here and there is skipped, as players do; out of memory
// and the like end the conversion.
Status AudioDecoder::noteDecodingError(int error)
{
    if (error != AVERROR_INVALIDDATA && error != AVERROR(EINVAL))
        return avFailure("cannot decode the input", error);
    ++failedPackets_;
    lastDecodeFailed_ = true;
    return Status::success();
}

Status AudioDecoder::checkComplete() const
{
    if (decodedSeconds_ <= 0.0)
        return Status::failure("the input holds no audio that can be decoded");
    if (lastDecodeFailed_)
        return Status::failure("the input is damaged or cut short (its end cannot be decoded)");
    if (failedPackets_ * 2 > packets_)
        return Status::failure("the input is damaged (most of its audio cannot be decoded)");
    const double stated = input_->statedSeconds;
    if (stated > 0.0 && decodedSeconds_ < stated - allowedShortfall(stated))
        return Status::failure("the input is cut short (" + std::to_string(static_cast<long>(decodedSeconds_))
                               + " of " + std::to_string(static_cast<long>(stated)) + " seconds)");
    return Status::success();
}

// Audio was lost when the decoder rejected packets, or when less was
// decoded than the header states, beyond what the container itself says to
// drop, by more than a frame (what a header and a decoder may count apart).
std::string AudioDecoder::damageNote() const
{
    const double stated = input_->statedSeconds;
    const int rate = codec_->sample_rate;
    const double trimmed = rate > 0 ? static_cast<double>(trimmedSamples_) / rate : 0.0;
    const double lost = stated > 0.0 ? stated - trimmed - decodedSeconds_ : 0.0;
    if (failedPackets_ == 0 && lost <= longestFrameSeconds_)
        return {};
    std::string note;
    if (lost >= 0.005) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f", lost);
        note = std::string(seconds) + " s could not be decoded";
    }
    if (failedPackets_ > 0) {
        const std::string packets = std::to_string(failedPackets_)
            + (failedPackets_ == 1 ? " damaged packet was skipped" : " damaged packets were skipped");
        note = note.empty() ? packets : note + " (" + packets + ")";
    }
    return note;
}
