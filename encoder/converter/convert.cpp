#include "converter/convert.h"

#include "common/averror.h"
#include "common/interruption.h"
#include "common/progress.h"
#include "common/source.h"
#include "encode/mp3encoder.h"
#include "encode/parallel/parallelencoder.h"
#include "encode/resampler.h"
#include "input/sources.h"
#include "loudness/loudness.h"
#include "output/destination.h"
#include "output/mp3check.h"
#include "output/mp3muxer.h"
#include "tags/foldercover.h"
#include "tags/id3v2.h"
#include "tags/tags.h"

#include <memory>

namespace {

// Feeds the encoder (and the loudness meter, if any) from the queue: whole
// frames, or at the end also the shorter rest.
Status encodeQueued(Resampler &resampler, ParallelEncoder &encoder, PacketSink &packets, LoudnessMeter *loudness,
                    AVFrame &chunk, bool includingRest)
{
    const int frameSize = encoder.frameSize();
    for (;;) {
        const int queued = resampler.queuedSamples();
        const int samples = queued >= frameSize ? frameSize : includingRest ? queued : 0;
        if (samples == 0)
            return Status::success();
        chunk.nb_samples = frameSize;
        const int error = av_frame_make_writable(&chunk);
        if (error < 0)
            return avFailure("cannot allocate sample buffers", error);
        if (Status status = resampler.pop(chunk, samples); !status.ok())
            return status;
        if (loudness) {
            if (Status status = loudness->add(chunk); !status.ok())
                return status;
        }
        if (Status status = encoder.encode(chunk, packets); !status.ok())
            return status;
    }
}

// Passes the encoder's packets on to the muxer and reports the audio that
// has reached the file: the encoder reads ahead of what it has encoded
// (each of its threads holds a part), so the seconds read would run ahead.
class ProgressSink : public PacketSink
{
public:
    ProgressSink(PacketSink &next, ProgressReporter &progress, const int &sampleRate)
        : next_(next), progress_(progress), sampleRate_(sampleRate)
    {
    }

    Status write(AVPacket &packet) override
    {
        const int64_t end = packet.pts == AV_NOPTS_VALUE ? -1 : packet.pts + packet.duration;
        if (Status status = next_.write(packet); !status.ok())
            return status;
        if (end > 0 && sampleRate_ > 0)
            progress_.update(static_cast<double>(end) / sampleRate_);
        return Status::success();
    }

private:
    PacketSink &next_;
    ProgressReporter &progress_;
    const int &sampleRate_;
};

// Everything one conversion needs, set up in order by start().
class Conversion
{
public:
    Conversion(const std::string &inputPath, int quality, const std::string &outputPath,
               const ConversionOptions &options)
        : inputPath_(inputPath), quality_(quality), outputPath_(outputPath), measureLoudness_(options.measureLoudness)
    {
    }

    Status run()
    {
        if (Status status = start(); !status.ok())
            return status;
        if (Status status = encodeAll(); !status.ok())
            return status;
        std::vector<uint8_t> finalTag;
        if (Status status = completeTag(finalTag); !status.ok())
            return status;
        if (Status status = encoder_.finish(written_); !status.ok())
            return status;
        if (Status status = muxer_.finish(finalTag); !status.ok())
            return status;
        if (Status status = checkWrittenMp3(temp_.path(), encoder_.samplesEncoded()); !status.ok())
            return status;
        if (interruption::requestedBy())
            return interruption::stopped();
        if (Status status = temp_.commit(destination_); !status.ok())
            return status;
        printNotes(source_->notes());
        return Status::success();
    }

    void report(TrackReport &report) const
    {
        report.album = tags_.album;
        report.artist = tags_.artist;
        report.title = tags_.title;
        report.track = tags_.track;
        report.disc = tags_.disc;
        report.seconds = sampleRate_ > 0 ? static_cast<double>(encoder_.samplesEncoded()) / sampleRate_ : 0.0;
        report.loudness = blocks_;
    }

private:
    // Opens the input and decodes its first frame, whose shape decides the
    // encoder's format; only then is the temporary file made.
    Status start()
    {
        if (Status status = resolveDestination(outputPath_, destination_); !status.ok())
            return status;
        source_ = sourceFor(inputPath_);
        if (Status status = source_->open(inputPath_); !status.ok())
            return status;
        progress_.start();
        decoded_.reset(av_frame_alloc());
        if (!decoded_)
            return Status::failure("out of memory");
        if (Status status = source_->next(decoded_.get(), finished_); !status.ok())
            return status;
        if (finished_)
            return source_->checkComplete();

        AudioFormat format;
        if (Status status = Mp3Encoder::chooseFormat(*decoded_, quality_, format); !status.ok())
            return status;
        if (Status status = temp_.create(destination_); !status.ok())
            return status;
        sampleRate_ = format.sampleRate;
        source_->readTags(tags_, cover_);
        if (cover_.data.empty() && !readApeCover(inputPath_, cover_))
            readFolderCover(inputPath_, cover_);
        reservedSize_ = reservedSize();
        const std::vector<uint8_t> tag = buildTag(tags_, reservedSize_);
        if (Status status = encoder_.open(format, quality_); !status.ok())
            return status;
        if (Status status = muxer_.open(temp_.path(), encoder_.context(), tag); !status.ok())
            return status;
        if (Status status = resampler_.open(format); !status.ok())
            return status;
        if (measureLoudness_) {
            if (Status status = loudness_.open(format); !status.ok())
                return status;
        }
        return allocateFrame(format, encoder_.frameSize(), chunk_); // one reusable frame
    }

    // The tag is written before the audio, with the loudness frames holding
    // their longest values, and rewritten in place at the end with the
    // measured ones and as much padding as they left free. The padding also
    // keeps room for the album's gain and peak, which the album gain writes
    // in place once the album's tracks are converted.
    std::size_t reservedSize() const
    {
        const std::string gain = LoudnessMeter::longestGain;
        const std::string peak = LoudnessMeter::longestPeak;
        Tags withAlbum = tags_;
        withAlbum.userTexts.emplace_back("REPLAYGAIN_ALBUM_GAIN", gain);
        withAlbum.userTexts.emplace_back("REPLAYGAIN_ALBUM_PEAK", peak);
        return buildTag(withAlbum, 0, &gain, &peak).size();
    }

    // The tag padded to at least minSize bytes.
    std::vector<uint8_t> buildTag(Tags tags, std::size_t minSize, const std::string *gain = nullptr,
                                  const std::string *peak = nullptr) const
    {
        if (gain && !gain->empty())
            tags.userTexts.emplace_back("REPLAYGAIN_TRACK_GAIN", *gain);
        if (peak)
            tags.userTexts.emplace_back("REPLAYGAIN_TRACK_PEAK", *peak);
        return buildId3v23Tag(tags, cover_.data.empty() ? nullptr : &cover_, minSize);
    }

    Status completeTag(std::vector<uint8_t> &tag)
    {
        std::string gain;
        std::string peak;
        if (measureLoudness_) {
            if (Status status = loudness_.result(gain, peak, blocks_); !status.ok())
                return status;
        }
        const std::string *measuredGain = measureLoudness_ ? &gain : nullptr;
        const std::string *measuredPeak = measureLoudness_ ? &peak : nullptr;
        tag = buildTag(tags_, reservedSize_, measuredGain, measuredPeak);
        if (tag.size() > reservedSize_)
            return Status::failure("the loudness does not fit the room reserved in the ID3v2 tag");
        return Status::success();
    }

    Status encodeAll()
    {
        while (!finished_) {
            if (Status status = resampler_.push(*decoded_); !status.ok())
                return status;
            av_frame_unref(decoded_.get());
            if (Status status = encodeQueued(resampler_, encoder_, written_, meter(), *chunk_, false); !status.ok())
                return status;
            if (Status status = source_->next(decoded_.get(), finished_); !status.ok())
                return status;
        }
        if (Status status = source_->checkComplete(); !status.ok())
            return status;
        if (Status status = resampler_.flush(); !status.ok())
            return status;
        return encodeQueued(resampler_, encoder_, written_, meter(), *chunk_, true);
    }

    LoudnessMeter *meter() { return measureLoudness_ ? &loudness_ : nullptr; }

    const std::string inputPath_;
    const int quality_;
    const std::string outputPath_;

    // Declared so that the file is closed before the temporary file's owner
    // removes it, and the input is closed last.
    Destination destination_;
    std::unique_ptr<Source> source_;
    TempFile temp_;
    ParallelEncoder encoder_; // on the threads the budget gives
    Mp3Muxer muxer_;
    Resampler resampler_;
    const bool measureLoudness_;
    LoudnessMeter loudness_;
    Tags tags_;
    Picture cover_;
    int sampleRate_ = 0;  // of the audio encoded
    std::string blocks_;  // the measured loudness, for the album gain
    std::size_t reservedSize_ = 0; // the ID3v2 tag's size, padding included
    ProgressReporter progress_;
    ProgressSink written_{muxer_, progress_, sampleRate_}; // the muxer, with progress
    libav::FramePtr decoded_;
    libav::FramePtr chunk_;
    bool finished_ = false;
};

} // namespace

Status convert(const std::string &inputPath, int quality, const std::string &outputPath,
               const ConversionOptions &options, TrackReport *report)
{
    Conversion conversion(inputPath, quality, outputPath, options);
    Status status = conversion.run();
    if (status.ok() && report)
        conversion.report(*report);
    return status;
}
