#include "encode/parallel/parallelencoder.h"

#include "common/interruption.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <pthread.h>
#include <system_error>

namespace parallel {

Grid::Grid(int sampleRate, int frameSize)
    : chunkFrames(std::max<int64_t>(1, std::llround(double(kChunkSeconds) * sampleRate / frameSize)))
{
}

// One frame of a chunk's output that is kept: the packet as the encoder
// gave it (timestamps, side data) and its frame taken apart for the joiner.
struct KeptFrame
{
    int64_t streamFrame = 0;
    libav::PacketPtr packet;
    mp3frames::Frame frame;
};

struct Chunk
{
    std::size_t index = 0;
    int64_t inputFirst = 0; // the stream's frame input holds first
    FrameRun input;
    int64_t keepFrom = 0;   // the stream's frames kept, [keepFrom, keepUntil)
    int64_t keepUntil = 0;  // unless last
    bool last = false;
    bool whole = false;     // the only chunk: packets pass unchanged
    int encoder = 0;        // which encoder made it
    int64_t encoderFirst = 0; // the stream's frame that encoder began at

    Status status = Status::success();
    std::vector<KeptFrame> kept;

    bool full() const { return !last && static_cast<int64_t>(kept.size()) >= keepUntil - keepFrom; }
};

// LAME from a frame of the stream on, for one chunk or, on the calling
// thread, for several in a row. Frames it gives past the chunk it encodes
// wait for the next one.
class ChunkEncoder : private PacketSink
{
public:
    ChunkEncoder(int id, int64_t firstFrame) : id_(id), first_(firstFrame), next_(firstFrame) {}

    Status open(const AudioFormat &format, int quality)
    {
        if (Status status = encoder_.open(format, quality); !status.ok())
            return status;
        return allocateFrame(format, encoder_.frameSize(), frame_);
    }
    int id() const { return id_; }

    bool canGoOnWith(const Chunk &chunk) const
    {
        return !finished_ && next_ >= chunk.inputFirst &&
               next_ <= chunk.inputFirst + chunk.input.frames();
    }

    // `poll`, if any, is called every kPollFrames frames.
    Status encode(Chunk &chunk, const std::atomic<bool> &abort, const std::function<void()> *poll = nullptr)
    {
        chunk.encoder = id_;
        chunk.encoderFirst = first_;
        chunk_ = &chunk;
        for (KeptFrame &carried : carried_)
            keep(std::move(carried));
        carried_.clear();
        for (int64_t i = next_ - chunk.inputFirst; i < chunk.input.frames(); ++i) {
            if (interruption::requestedBy())
                return interruption::stopped();
            if (abort)
                return Status::failure("stopped");
            if (chunk.full())
                break;
            if (poll && i % kPollFrames == 0)
                (*poll)();
            if (Status status = chunk.input.get(i, *frame_); !status.ok())
                return status;
            if (Status status = encoder_.encode(*frame_, *this); !status.ok())
                return status;
            ++next_;
        }
        // LAME holds a frame back until the frames after it have filled its
        // reservoir; at the end of the chunk's audio the rest is drained (the
        // frames kept are made of real audio all the same, as the lookahead
        // covers the filter bank and the psychoacoustic model).
        if (!chunk.full()) {
            finished_ = true;
            if (Status status = encoder_.finish(*this); !status.ok())
                return status;
        }
        chunk.input.clear();
        chunk_ = nullptr;
        if (!chunk.last && static_cast<int64_t>(chunk.kept.size()) != chunk.keepUntil - chunk.keepFrom)
            return Status::failure("the encoder of a part of the audio gave too few frames");
        return Status::success();
    }

private:
    static constexpr std::size_t kPollFrames = 16;

    Status write(AVPacket &packet) override
    {
        KeptFrame kept;
        kept.streamFrame = first_ + produced_++;
        if (!chunk_->whole) {
            // The reservoir is followed through every frame, kept or not.
            if (Status status = reader_.read(packet.data, static_cast<std::size_t>(packet.size), kept.frame.mainData);
                !status.ok())
                return status;
            if (kept.streamFrame < chunk_->keepFrom)
                return Status::success();
            mp3frames::Layout layout;
            if (Status status = mp3frames::parseHeader(packet.data, static_cast<std::size_t>(packet.size), layout);
                !status.ok())
                return status;
            kept.frame.encoded.assign(packet.data, packet.data + packet.size);
            kept.frame.headerAndSideInfoSize = static_cast<std::size_t>(layout.headerSize + layout.sideInfoSize);
        }
        kept.packet.reset(av_packet_alloc());
        if (!kept.packet)
            return Status::failure("out of memory");
        av_packet_move_ref(kept.packet.get(), &packet);
        keep(std::move(kept));
        return Status::success();
    }

    void keep(KeptFrame &&kept)
    {
        if (chunk_->full())
            carried_.push_back(std::move(kept));
        else
            chunk_->kept.push_back(std::move(kept));
    }

    Mp3Encoder encoder_;
    libav::FramePtr frame_; // the chunk's frames, one at a time
    mp3frames::MainDataReader reader_;
    const int id_;
    const int64_t first_;
    int64_t next_;         // the stream's next frame to feed
    int64_t produced_ = 0; // frames given
    bool finished_ = false;
    Chunk *chunk_ = nullptr;
    std::vector<KeptFrame> carried_;
};

} // namespace parallel

using parallel::Chunk;

struct ParallelEncoder::Worker
{
    std::unique_ptr<ThreadBudget::Token> token;
    std::thread thread;
};

ParallelEncoder::ParallelEncoder() = default;

ParallelEncoder::~ParallelEncoder()
{
    abort_ = true;
    stopWorkers();
}

Status ParallelEncoder::open(const AudioFormat &format, int quality)
{
    return open(format, quality, ThreadBudget::fromEnvironment());
}

Status ParallelEncoder::open(const AudioFormat &format, int quality, std::unique_ptr<ThreadBudget> budget)
{
    if (Status status = single_.open(format, quality); !status.ok())
        return status;
    budget_ = std::move(budget);
    split_ = budget_ && budget_->limit() > 1;
    format_ = format;
    quality_ = quality;
    grid_ = std::make_unique<parallel::Grid>(format.sampleRate, single_.frameSize());
    if (split_)
        input_ = newRun();
    return Status::success();
}

Status ParallelEncoder::encode(AVFrame &frame, PacketSink &sink)
{
    if (!split_)
        return single_.encode(frame, sink);
    if (Status status = input_.append(frame); !status.ok())
        return status;
    samples_ += frame.nb_samples;
    ++inputFrames_;

    // A chunk goes once its lookahead is read and one frame more, so that
    // the next chunk is known to hold audio of its own.
    const int64_t until = keepFrom_ + grid_->chunkFrames;
    if (inputFrames_ > until + parallel::Grid::kLookaheadFrames) {
        std::unique_ptr<Chunk> chunk;
        cut(until, chunk);
        if (Status status = dispatch(std::move(chunk), 1); !status.ok())
            return status;
    }
    return deliver(sink, false);
}

// Room for a chunk's frames with its priming and lookahead.
parallel::FrameRun ParallelEncoder::newRun() const
{
    return parallel::FrameRun(format_, single_.frameSize(),
                              grid_->chunkFrames + parallel::Grid::kPrimingFrames
                                  + parallel::Grid::kLookaheadFrames + 1);
}

// The next chunk, keeping the stream's frames up to `until` (and holding
// the frames read after them, up to the lookahead); the input from the next
// chunk's priming frames on stays.
void ParallelEncoder::cut(int64_t until, std::unique_ptr<Chunk> &chunk)
{
    chunk = std::make_unique<Chunk>();
    chunk->index = nextChunk_;
    chunk->inputFirst = inputBase_;
    chunk->keepFrom = keepFrom_;
    chunk->keepUntil = until;
    const int64_t end = std::min(until + parallel::Grid::kLookaheadFrames, inputFrames_);
    const int64_t nextFirst = std::max(inputBase_, until - parallel::Grid::kPrimingFrames);
    parallel::FrameRun rest = newRun();
    input_.copyTail(nextFirst - inputBase_, rest);
    chunk->input = std::move(input_);
    chunk->input.truncate(end - inputBase_);
    input_ = std::move(rest);
    inputBase_ = nextFirst;
    keepFrom_ = until;
}

Status ParallelEncoder::finish(PacketSink &sink)
{
    if (!split_)
        return single_.finish(sink);
    // The chunk kept ready that no worker has taken goes back to the rest,
    // and the rest goes in pieces, a few for each thread, all queued at once:
    // the threads end about together instead of one encoding a whole chunk
    // (or two halves) alone while the others wait.
    takeBackReady();
    const int64_t rest = inputFrames_ - keepFrom_;
    const int64_t smallest = parallel::Grid::kPrimingFrames + parallel::Grid::kLookaheadFrames;
    const int64_t wanted = 2 * static_cast<int64_t>(workers_.size() + 1);
    const int64_t pieces = nextChunk_ > 0 ? std::max<int64_t>(1, std::min(wanted, rest / smallest)) : 1;
    for (int64_t piece = 1; piece < pieces; ++piece) {
        std::unique_ptr<Chunk> chunk;
        cut(keepFrom_ + (inputFrames_ - keepFrom_) / (pieces - piece + 1), chunk);
        if (Status status = dispatch(std::move(chunk), SIZE_MAX); !status.ok())
            return status;
    }
    auto chunk = std::make_unique<Chunk>();
    chunk->index = nextChunk_;
    chunk->inputFirst = inputBase_;
    chunk->keepFrom = keepFrom_;
    chunk->last = true;
    chunk->whole = nextChunk_ == 0;
    chunk->input = std::move(input_);
    input_ = parallel::FrameRun();
    // Every chunk is ready now: this thread encodes what the workers have
    // not taken, and the workers end once nothing is left, each giving its
    // thread back to the budget at once.
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
    }
    if (Status status = dispatch(std::move(chunk), 0); !status.ok())
        return status;
    Status status = deliver(sink, true);
    stopWorkers();
    return status;
}

// Takes the chunk kept ready for a worker back into the input, unless a
// worker has taken it.
void ParallelEncoder::takeBackReady()
{
    std::unique_ptr<Chunk> ready;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (pending_.empty() || pending_.back()->index + 1 != nextChunk_)
            return;
        ready = std::move(pending_.back());
        pending_.pop_back();
        encoderOf_.pop_back();
    }
    --nextChunk_;
    ready->input.truncate(inputBase_ - ready->inputFirst);
    input_.copyTail(0, ready->input);
    input_ = std::move(ready->input);
    inputBase_ = ready->inputFirst;
    keepFrom_ = ready->keepFrom;
}

// Queues the chunk for the workers, starting one if none is idle and the
// budget has a thread free, and encodes on this thread the oldest chunks
// waiting while more than `ready` wait. One chunk is kept ready while the
// audio is still being read, so that a worker that comes free finds work
// at once instead of waiting for this thread to read the next chunk.
Status ParallelEncoder::dispatch(std::unique_ptr<Chunk> chunk, std::size_t ready)
{
    ++nextChunk_;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        encoderOf_.push_back(0);
        pending_.push_back(std::move(chunk));
        changed_.notify_all();
    }
    startWorker();
    for (;;) {
        std::unique_ptr<Chunk> mine;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (pending_.size() <= ready)
                return Status::success();
            mine = std::move(pending_.front());
            pending_.pop_front();
        }
        const Status status = encodeHere(*mine);
        mine->status = status;
        std::lock_guard<std::mutex> guard(mutex_);
        const std::size_t index = mine->index;
        done_[index] = std::move(mine);
        changed_.notify_all();
    }
}

// A worker on a thread from the budget, when chunks wait that no idle
// worker will take and the budget has a thread free.
void ParallelEncoder::startWorker()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (pending_.empty() || idleWorkers_ > 0)
            return;
    }
    std::unique_ptr<ThreadBudget::Token> token = budget_->tryAcquire();
    if (!token)
        return;
    auto worker = std::make_unique<Worker>();
    worker->token = std::move(token);
    Worker *started = worker.get();
    std::lock_guard<std::mutex> guard(mutex_);
    try {
        const interruption::StopSignalsBlocked blocked; // the workers poll for stops
        started->thread = std::thread([this, started] { workerLoop(*started); });
    } catch (const std::system_error &) {
        return; // no thread to be had: this one encodes the chunks
    }
    workers_.push_back(std::move(worker));
}

// This thread goes on with its own encoder when it encoded the chunk before
// (no join there), or else starts one with the chunk's priming frames.
Status ParallelEncoder::encodeHere(Chunk &chunk)
{
    if (!here_ || !here_->canGoOnWith(chunk)) {
        here_ = std::make_unique<parallel::ChunkEncoder>(++encoders_, chunk.inputFirst);
        if (Status status = here_->open(format_, quality_); !status.ok())
            return status;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        encoderOf_[chunk.index] = here_->id();
    }
    // A thread the budget frees meanwhile (another tool of the queue ended)
    // takes the chunk kept ready at once, not after this one.
    const std::function<void()> poll = [this] { startWorker(); };
    return here_->encode(chunk, abort_, &poll);
}

void ParallelEncoder::workerLoop(Worker &worker)
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ++idleWorkers_;
        changed_.wait(lock, [&] { return !pending_.empty() || stopping_ || abort_; });
        --idleWorkers_;
        if (pending_.empty() || abort_) {
            lock.unlock();
            worker.token.reset();
            return;
        }
        std::unique_ptr<Chunk> chunk = std::move(pending_.front());
        pending_.pop_front();
        // A worker's encoder starts the priming frames before the chunk.
        const int id = ++encoders_;
        encoderOf_[chunk->index] = id;
        lock.unlock();
        parallel::ChunkEncoder encoder(id, chunk->inputFirst);
        chunk->status = encoder.open(format_, quality_);
        if (chunk->status.ok())
            chunk->status = encoder.encode(*chunk, abort_);
        lock.lock();
        const std::size_t index = chunk->index;
        done_[index] = std::move(chunk);
        changed_.notify_all();
    }
}

void ParallelEncoder::stopWorkers()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    for (auto &worker : workers_)
        if (worker->thread.joinable())
            worker->thread.join();
    // Each thread's slot goes back to the budget with its token.
    workers_.clear();
}

// Joins the chunks done, in order; with waitForAll, until the last one. A
// chunk is joined once the encoder of the next one is known, which tells
// whether a join follows it.
Status ParallelEncoder::deliver(PacketSink &sink, bool waitForAll)
{
    for (;;) {
        std::unique_ptr<Chunk> chunk;
        int previousEncoder = 0;
        int thisEncoder = 0;
        int nextEncoder = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (waitForAll)
                changed_.wait(lock, [&] { return nextToJoin_ >= nextChunk_ || done_.count(nextToJoin_) > 0; });
            auto it = done_.find(nextToJoin_);
            // A chunk is joined once the next one's encoder is known.
            const bool nextKnown = nextToJoin_ + 1 < encoderOf_.size() && encoderOf_[nextToJoin_ + 1] != 0;
            if (it == done_.end() || (!it->second->last && !nextKnown))
                return waitForAll ? writeJoined(sink, true) : Status::success();
            chunk = std::move(it->second);
            done_.erase(it);
            previousEncoder = nextToJoin_ > 0 ? encoderOf_[nextToJoin_ - 1] : 0;
            thisEncoder = encoderOf_[nextToJoin_];
            nextEncoder = chunk->last ? 0 : encoderOf_[nextToJoin_ + 1];
        }
        const std::size_t index = nextToJoin_++;
        if (!chunk->status.ok())
            return chunk->status;
        if (chunk->whole) {
            for (parallel::KeptFrame &kept : chunk->kept) {
                if (Status status = sink.write(*kept.packet); !status.ok())
                    return status;
            }
            continue;
        }
        using Next = mp3frames::Joiner::Next;
        const bool continued = index > 0 && previousEncoder == thisEncoder;
        const Next next = chunk->last ? Next::Nothing
                          : nextEncoder == thisEncoder ? Next::SameEncoder
                                                       : Next::OtherEncoder;
        std::vector<const mp3frames::Frame *> frames;
        for (const parallel::KeptFrame &kept : chunk->kept)
            frames.push_back(&kept.frame);
        if (Status status = joiner_.addRun(frames, joinedBase_ + joinedPackets_.size(), continued, next);
            !status.ok())
            return status;
        const int64_t offset = chunk->encoderFirst * single_.frameSize();
        for (parallel::KeptFrame &kept : chunk->kept) {
            AVPacket *packet = kept.packet.get();
            if (packet->pts != AV_NOPTS_VALUE)
                packet->pts += offset;
            if (packet->dts != AV_NOPTS_VALUE)
                packet->dts += offset;
            // Only the stream's first frame (the encoder delay) and the last
            // chunk's (the padding) carry skip samples.
            if (!chunk->last && kept.streamFrame > 0)
                av_packet_free_side_data(packet);
            av_buffer_unref(&packet->buf);
            packet->data = nullptr;
            packet->size = 0;
            joinedPackets_.push_back(std::move(kept.packet));
        }
        chunk.reset();
        if (Status status = writeJoined(sink, false); !status.ok())
            return status;
    }
}

// Hands the joined frames that are complete to sink, each with the
// timestamps and side data of the frame it was made from.
Status ParallelEncoder::writeJoined(PacketSink &sink, bool all)
{
    std::vector<mp3frames::Joiner::Output> frames;
    joiner_.take(frames, all);
    for (mp3frames::Joiner::Output &frame : frames) {
        libav::PacketPtr &original = joinedPackets_[frame.tag - joinedBase_];
        libav::PacketPtr packet(av_packet_alloc());
        if (!packet || av_new_packet(packet.get(), static_cast<int>(frame.bytes.size())) < 0)
            return Status::failure("out of memory");
        std::memcpy(packet->data, frame.bytes.data(), frame.bytes.size());
        if (av_packet_copy_props(packet.get(), original.get()) < 0)
            return Status::failure("out of memory");
        original.reset();
        if (Status status = sink.write(*packet); !status.ok())
            return status;
    }
    while (!joinedPackets_.empty() && !joinedPackets_.front()) {
        joinedPackets_.pop_front();
        ++joinedBase_;
    }
    return Status::success();
}
