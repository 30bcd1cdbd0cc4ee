#include "output/mp3muxer.h"

#include "common/averror.h"
#include "common/interruption.h"

#include <lame/lame.h>

Status Mp3Muxer::open(const std::string &path, const AVCodecContext &encoder, const std::vector<uint8_t> &id3Tag)
{
    AVFormatContext *muxer = nullptr;
    int error = avformat_alloc_output_context2(&muxer, nullptr, "mp3", nullptr);
    if (error < 0)
        return avFailure("cannot set up the MP3 writer", error);
    muxer_.reset(muxer);

    AVStream *stream = avformat_new_stream(muxer, nullptr);
    if (!stream)
        return Status::failure("out of memory");
    error = avcodec_parameters_from_context(stream->codecpar, &encoder);
    if (error < 0)
        return avFailure("cannot set up the MP3 writer", error);
    packetTimeBase_ = encoder.time_base;
    stream->time_base = encoder.time_base;
    // Named in the LAME tag of the Xing frame; players look for "LAME" there
    // before they trust its encoder delay and padding.
    av_dict_set(&stream->metadata, "encoder", get_lame_very_short_version(), 0);

    const AVIOInterruptCB interrupt = interruption::ioCallback();
    libav::Options ioOptions;
    ioOptions.set("protocol_whitelist", "file");
    error = avio_open2(&muxer->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE, &interrupt, ioOptions.get());
    if (error < 0)
        return avFailure("cannot write \"" + path + "\"", error);

    // The tag comes first; the muxer's own ID3v2 writer is off, as it would
    // store the comment as a user text frame that players do not show.
    if (!id3Tag.empty())
        avio_write(muxer->pb, id3Tag.data(), static_cast<int>(id3Tag.size()));
    tagSize_ = id3Tag.size();
    libav::Options muxerOptions;
    muxerOptions.set("id3v2_version", "0");
    muxerOptions.set("write_xing", "1");
    error = avformat_write_header(muxer, muxerOptions.get());
    if (error < 0)
        return avFailure("cannot write the MP3 header", error);
    return Status::success();
}

Status Mp3Muxer::write(AVPacket &packet)
{
    AVFormatContext *muxer = muxer_.get();
    av_packet_rescale_ts(&packet, packetTimeBase_, muxer->streams[0]->time_base);
    packet.stream_index = 0;
    const int error = av_write_frame(muxer, &packet);
    return error < 0 ? avFailure("cannot write the output", error) : Status::success();
}

Status Mp3Muxer::finish(const std::vector<uint8_t> &finalTag)
{
    if (finalTag.size() != tagSize_)
        return Status::failure("the final ID3v2 tag does not fit the room reserved for it");
    AVFormatContext *muxer = muxer_.get();
    int error = av_write_trailer(muxer);
    if (error < 0)
        return avFailure("cannot write the output", error);
    if (!finalTag.empty()) {
        const int64_t position = avio_seek(muxer->pb, 0, SEEK_SET);
        if (position < 0)
            return avFailure("cannot write the output's tag", static_cast<int>(position));
        avio_write(muxer->pb, finalTag.data(), static_cast<int>(finalTag.size()));
        avio_flush(muxer->pb);
        if (muxer->pb->error < 0)
            return avFailure("cannot write the output's tag", muxer->pb->error);
    }
    error = avio_closep(&muxer->pb);
    if (error < 0)
        return avFailure("cannot write the output", error);
    return Status::success();
}
