#pragma once

#include "common/libav.h"
#include "common/status.h"
#include "common/threads.h"
#include "encode/mp3encoder.h"
#include "encode/packetsink.h"
#include "encode/parallel/framerun.h"
#include "encode/parallel/mp3frames.h"
#include "encode/resampler.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace parallel {

// Audio of one stretch of the stream and what an encoder made of it.
struct Chunk;
class ChunkEncoder;

// The frame grid of the split. Chunks are whole MP3 frames of the stream;
// each chunk's encoder starts kPrimingFrames before it, so that its filter
// bank, psychoacoustic model and noise allocation have settled on the same
// audio by the chunk's first frame, and reads up to kLookaheadFrames past
// its end, for the frames LAME holds back until later audio fills their bit
// reservoir.
struct Grid
{
    static constexpr int kChunkSeconds = 20;
    static constexpr int kPrimingFrames = 16;
    static constexpr int kLookaheadFrames = 32;

    explicit Grid(int sampleRate, int frameSize);
    int64_t chunkFrames; // frames of the stream in each chunk but the last (or two halving the rest)
};

} // namespace parallel

// The MP3 encoder of a conversion on as many threads as the thread budget
// gives: the stream is cut into chunks on the MP3 frame grid; a chunk goes
// to a thread of its own when the budget has one free, or else the calling
// thread encodes it, going on with its own encoder where it can; the frames
// are joined in order into one stream (mp3frames::Joiner). A budget of one
// thread, audio no longer than one chunk, or a conversion that never gets a
// second thread, is one encoder, with the same bytes as Mp3Encoder alone.
// The interface is Mp3Encoder's.
class ParallelEncoder
{
public:
    ParallelEncoder();
    ~ParallelEncoder();
    ParallelEncoder(const ParallelEncoder &) = delete;
    ParallelEncoder &operator=(const ParallelEncoder &) = delete;

    // With the thread budget from the environment.
    Status open(const AudioFormat &format, int quality);
    Status open(const AudioFormat &format, int quality, std::unique_ptr<ThreadBudget> budget);

    const AVCodecContext &context() const { return single_.context(); }
    int frameSize() const { return single_.frameSize(); }
    Status encode(AVFrame &frame, PacketSink &sink);
    int64_t samplesEncoded() const { return split_ ? samples_ : single_.samplesEncoded(); }
    Status finish(PacketSink &sink);

private:
    struct Worker;

    parallel::FrameRun newRun() const;
    void cut(int64_t until, std::unique_ptr<parallel::Chunk> &chunk);
    void takeBackReady();
    Status dispatch(std::unique_ptr<parallel::Chunk> chunk, std::size_t ready);
    void startWorker();
    Status encodeHere(parallel::Chunk &chunk);
    Status deliver(PacketSink &sink, bool waitForAll);
    Status writeJoined(PacketSink &sink, bool all);
    void stopWorkers();
    void workerLoop(Worker &worker);

    Mp3Encoder single_; // the one encoder, or the stream parameters when split
    bool split_ = false;
    AudioFormat format_;
    int quality_ = 0;
    std::unique_ptr<parallel::Grid> grid_;
    int64_t samples_ = 0;

    // The frames read and not yet given to a chunk, from inputBase_ on.
    parallel::FrameRun input_;
    int64_t inputBase_ = 0;
    int64_t inputFrames_ = 0;
    int64_t keepFrom_ = 0; // the next chunk's first frame kept
    std::size_t nextChunk_ = 0;

    // The calling thread's encoder, kept for its next chunk.
    std::unique_ptr<parallel::ChunkEncoder> here_;
    std::atomic<int> encoders_{0};

    // Joining, on the calling thread.
    mp3frames::Joiner joiner_;
    std::deque<libav::PacketPtr> joinedPackets_; // by frame, from joinedBase_
    std::size_t joinedBase_ = 0;
    std::size_t nextToJoin_ = 0;

    // Shared with the workers, under mutex_.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<parallel::Chunk>> pending_; // oldest first
    std::map<std::size_t, std::unique_ptr<parallel::Chunk>> done_;
    std::vector<int> encoderOf_; // the encoder of each chunk, 0 until one takes it
    int idleWorkers_ = 0;
    bool stopping_ = false;
    std::atomic<bool> abort_{false};

    // Declared last: the workers end, and give their threads back to the
    // budget, before anything they use goes.
    std::unique_ptr<ThreadBudget> budget_;
    std::vector<std::unique_ptr<Worker>> workers_;
};
