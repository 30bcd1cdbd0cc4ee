#include "converter/albumgain.h"

#include "common/interruption.h"
#include "loudness/blockhistogram.h"
#include "output/destination.h"
#include "tags/id3update.h"
#include "toolcontract.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::size_t largestLine = 1 << 20; // a loudness line is a few KB
constexpr std::size_t largestTag = 256u << 20; // as large as ID3v2 allows
constexpr std::size_t roomWhenGrown = 4096; // padding a tag that had to grow gets
constexpr std::size_t copyChunk = 1 << 20;

constexpr char albumGainName[] = "REPLAYGAIN_ALBUM_GAIN";
constexpr char albumPeakName[] = "REPLAYGAIN_ALBUM_PEAK";

class Descriptor
{
public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }

    int get() const { return descriptor_; }
    bool valid() const { return descriptor_ >= 0; }

    // Closes now, for the error a delayed write may report.
    Status close(const std::string &what)
    {
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result == 0 ? Status::success() : systemFailure(what, errno);
    }

private:
    int descriptor_;
};

// A call that a stop request interrupted ends the work; other interruptions
// are retried.
bool retry(int error)
{
    return error == EINTR && !interruption::requestedBy();
}

Status failed(const std::string &what, int error)
{
    return interruption::requestedBy() ? interruption::stopped() : systemFailure(what, error);
}

Status readLines(int input, std::size_t count, std::vector<std::string> &lines)
{
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(input, buffer, sizeof buffer);
        if (got < 0 && retry(errno))
            continue;
        if (got < 0)
            return failed("cannot read the loudness lines", errno);
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > largestLine * count)
            return Status::failure("the loudness lines are too long");
    }
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(toolcontract::decodeLineText(line));
        start = end + 1;
    }
    if (lines.size() != count)
        return Status::failure("expected " + std::to_string(count) + " loudness lines, one per MP3, not "
                               + std::to_string(lines.size()));
    return Status::success();
}

Status readAt(int descriptor, uint8_t *data, std::size_t size, off_t offset, std::size_t &got)
{
    got = 0;
    while (got < size) {
        const ssize_t read = pread(descriptor, data + got, size - got, offset + static_cast<off_t>(got));
        if (read < 0 && retry(errno))
            continue;
        if (read < 0)
            return failed("cannot read it", errno);
        if (read == 0)
            break;
        got += static_cast<std::size_t>(read);
    }
    return Status::success();
}

Status writeAt(int descriptor, const uint8_t *data, std::size_t size, off_t offset)
{
    for (std::size_t done = 0; done < size;) {
        const ssize_t written = pwrite(descriptor, data + done, size - done, offset + static_cast<off_t>(done));
        if (written < 0 && retry(errno))
            continue;
        if (written < 0)
            return failed("cannot write it", errno);
        done += static_cast<std::size_t>(written);
    }
    return Status::success();
}

// The ID3v2 tag at the start of the file; empty when it has none.
Status readTag(int descriptor, Bytes &tag)
{
    uint8_t header[10];
    std::size_t got = 0;
    if (Status status = readAt(descriptor, header, sizeof header, 0, got); !status.ok())
        return status;
    const std::size_t size = id3v2TagSize(header, got);
    tag.clear();
    if (size == 0)
        return Status::success();
    if (size > largestTag)
        return Status::failure("its ID3v2 tag is too large");
    tag.resize(size);
    if (Status status = readAt(descriptor, tag.data(), size, 0, got); !status.ok())
        return status;
    return got == size ? Status::success() : Status::failure("its ID3v2 tag runs past the end of the file");
}

struct AlbumValues
{
    std::vector<std::string> removed{albumGainName, albumPeakName};
    std::vector<std::pair<std::string, std::string>> added;
};

// The MP3 with the new tag in place of the old one, through a temporary
// file beside it that replaces it once complete.
Status rewrite(const Destination &destination, int original, std::size_t oldTagSize, const Bytes &tag)
{
    TempFile temp;
    if (Status status = temp.create(destination); !status.ok())
        return status;
    Descriptor out(open(temp.path().c_str(), O_WRONLY | O_CLOEXEC));
    if (!out.valid())
        return failed("cannot write a copy of it", errno);
    if (Status status = writeAt(out.get(), tag.data(), tag.size(), 0); !status.ok())
        return status;
    Bytes chunk(copyChunk);
    off_t from = static_cast<off_t>(oldTagSize);
    off_t to = static_cast<off_t>(tag.size());
    for (;;) {
        if (interruption::requestedBy())
            return interruption::stopped();
        std::size_t got = 0;
        if (Status status = readAt(original, chunk.data(), chunk.size(), from, got); !status.ok())
            return status;
        if (got == 0)
            break;
        if (Status status = writeAt(out.get(), chunk.data(), got, to); !status.ok())
            return status;
        from += static_cast<off_t>(got);
        to += static_cast<off_t>(got);
    }
    if (Status status = out.close("cannot write a copy of it"); !status.ok())
        return status;
    if (interruption::requestedBy())
        return interruption::stopped();
    return temp.commit(destination);
}

// Checks that the MP3's tag can take the values (check), or writes them.
Status updateMp3(const std::string &path, const AlbumValues &values, bool check)
{
    Destination destination;
    if (Status status = resolveDestination(path, destination); !status.ok())
        return status;
    Descriptor file(open(destination.path.c_str(), (check ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY));
    if (!file.valid())
        return failed("cannot open it", errno);
    Bytes tag;
    if (Status status = readTag(file.get(), tag); !status.ok())
        return status;
    Bytes updated;
    if (Status status = updateUserTexts(tag, values.removed, values.added, tag.size(), updated); !status.ok())
        return status;
    if (check)
        return Status::success();
    if (interruption::requestedBy())
        return interruption::stopped();

    if (!tag.empty() && updated.size() == tag.size()) {
        // The tag keeps its size, so no audio byte moves.
        if (Status status = writeAt(file.get(), updated.data(), updated.size(), 0); !status.ok())
            return status;
        if (fsync(file.get()) != 0)
            return failed("cannot write it", errno);
        return file.close("cannot write it");
    }
    if (Status status = updateUserTexts(tag, values.removed, values.added, updated.size() + roomWhenGrown, updated);
        !status.ok())
        return status;
    return rewrite(destination, file.get(), tag.size(), updated);
}

} // namespace

Status writeAlbumGain(const std::vector<std::string> &mp3s, int input)
{
    std::vector<std::string> lines;
    if (Status status = readLines(input, mp3s.size(), lines); !status.ok())
        return status;
    BlockHistogram album;
    double albumPeak = 0.0;
    for (std::size_t i = 0; i < mp3s.size(); ++i) {
        BlockHistogram track;
        double peak = 0.0;
        if (!BlockHistogram::parse(lines[i], track, peak))
            return Status::failure("the loudness line for \"" + mp3s[i] + "\" is not one this tool printed");
        album.merge(track);
        albumPeak = std::max(albumPeak, peak);
    }

    // Too quiet or too short an album has no loudness; any gain it had no
    // longer holds.
    AlbumValues values;
    double loudness = 0.0;
    if (album.integratedLoudness(loudness))
        values.added.emplace_back(albumGainName, replayGainText(loudness));
    values.added.emplace_back(albumPeakName, replayPeakText(albumPeak));

    for (const bool check : {true, false}) {
        for (const std::string &mp3 : mp3s) {
            if (interruption::requestedBy())
                return interruption::stopped();
            Status status = updateMp3(mp3, values, check);
            if (!status.ok() && interruption::requestedBy())
                return interruption::stopped();
            if (!status.ok())
                return Status::failure("cannot write the album gain into \"" + mp3 + "\": " + status.reason());
        }
    }
    return Status::success();
}
