#include "front/oggprobe.h"
#include "front/wholeseconds.h"

#include <taglib/oggpage.h>
#include <taglib/oggpageheader.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>

#include <memory>

namespace {

using TagLib::AudioProperties;

constexpr long long opusRate = 48000;
// Header pages before the first audio page, at most (comments with a large
// picture can take many).
constexpr int maxPagesBeforeAudio = 256;

// Samples of an Opus packet, from its table-of-contents byte (RFC 6716,
// 3.1): the frame size of its configuration times its number of frames.
long long opusPacketSamples(const TagLib::ByteVector &packet)
{
    if (packet.isEmpty())
        return -1;
    const unsigned toc = static_cast<unsigned char>(packet[0]);
    const unsigned config = toc >> 3;
    const long long frameSamples = config < 12 ? (config % 4 == 0 ? 480 : 960 * (config % 4))
        : config < 16                          ? 480 << (config & 1)
                                               : 120 << (config & 3);
    switch (toc & 3) {
    case 0:
        return frameSamples;
    case 3:
        return packet.size() < 2 ? -1 : frameSamples * (static_cast<unsigned char>(packet[1]) & 0x3F);
    default:
        return frameSamples * 2;
    }
}

// The page at offset, its checksum verified as libavformat verifies it
// (TagLib does not): null for a damaged page.
std::unique_ptr<TagLib::Ogg::Page> intactPage(TagLib::Ogg::File &file, long offset)
{
    constexpr unsigned checksumOffset = 22;
    auto page = std::make_unique<TagLib::Ogg::Page>(&file, offset);
    if (!page->header()->isValid() || page->size() <= static_cast<int>(checksumOffset + 4))
        return nullptr;
    file.seek(offset);
    TagLib::ByteVector raw = file.readBlock(static_cast<unsigned long>(page->size()));
    if (raw.size() != static_cast<unsigned>(page->size()))
        return nullptr;
    const unsigned stored = raw.toUInt(checksumOffset, false);
    for (unsigned i = checksumOffset; i < checksumOffset + 4; ++i)
        raw[i] = 0;
    return raw.checksum() == stored ? std::move(page) : nullptr;
}

// The stream as a whole: one logical stream, its last page intact, marked
// as the last and holding a position.
bool isCompleteStream(TagLib::Ogg::File &file, unsigned &serial, long long &lastGranule)
{
    const TagLib::Ogg::PageHeader *first = file.firstPageHeader();
    const long lastOffset = file.rfind("OggS");
    const std::unique_ptr<TagLib::Ogg::Page> last = lastOffset >= 0 ? intactPage(file, lastOffset) : nullptr;
    if (!first || !first->isValid() || !last || !last->header()->lastPageOfStream()
        || first->streamSerialNumber() != last->header()->streamSerialNumber())
        return false;
    serial = first->streamSerialNumber();
    lastGranule = last->header()->absoluteGranularPosition();
    return lastGranule > 0;
}

// The first page that ends an audio packet (the first with a position),
// after intact header pages numbered from 0 in one stream; null if there is
// none.
std::unique_ptr<TagLib::Ogg::Page> firstAudioPage(TagLib::Ogg::File &file, unsigned serial)
{
    long offset = 0;
    for (int index = 0; index < maxPagesBeforeAudio; ++index) {
        std::unique_ptr<TagLib::Ogg::Page> page = intactPage(file, offset);
        if (!page)
            return nullptr;
        const TagLib::Ogg::PageHeader *header = page->header();
        if (header->pageSequenceNumber() != index || header->streamSerialNumber() != serial)
            return nullptr;
        if (header->absoluteGranularPosition() > 0)
            return header->firstPacketContinued() ? nullptr : std::move(page);
        offset += page->size();
    }
    return nullptr;
}

// Packets that end on the page.
int completedPackets(const TagLib::Ogg::Page &page)
{
    return static_cast<int>(page.header()->packetSizes().size()) - (page.header()->lastPacketCompleted() ? 0 : 1);
}

} // namespace

// libavformat starts the stream at max(0, g - d), where g is the first audio
// page's position and d the samples of the packets ending on it; it counts
// d from the Vorbis modes, which TagLib does not read. A stream that starts
// at zero has g no larger than the most those packets can hold (half the
// long block each); a recording cut from a live stream has a far larger g.
bool oggVorbisSeconds(TagLib::IOStream *stream, long &seconds)
{
    TagLib::Ogg::Vorbis::File file(stream, true, AudioProperties::Average);
    const TagLib::Vorbis::Properties *properties = file.isValid() ? file.audioProperties() : nullptr;
    unsigned serial = 0;
    long long lastGranule = 0;
    if (!properties || properties->sampleRate() <= 0 || !isCompleteStream(file, serial, lastGranule))
        return false;
    const TagLib::ByteVector identification = file.packet(0);
    const std::unique_ptr<TagLib::Ogg::Page> audio = firstAudioPage(file, serial);
    if (identification.size() < 29 || !audio)
        return false;
    const long long longBlock = 1LL << ((static_cast<unsigned char>(identification[28]) >> 4) & 0x0F);
    if (audio->header()->absoluteGranularPosition() > completedPackets(*audio) * (longBlock / 2))
        return false;
    seconds = wholeSeconds(lastGranule, properties->sampleRate());
    return true;
}

// For Opus the packets' samples are in their first byte, so the start is
// known exactly: the answer is given when it is zero.
bool oggOpusSeconds(TagLib::IOStream *stream, long &seconds)
{
    TagLib::Ogg::Opus::File file(stream, true, AudioProperties::Average);
    unsigned serial = 0;
    long long lastGranule = 0;
    if (!file.isValid() || !file.audioProperties() || !isCompleteStream(file, serial, lastGranule))
        return false;
    const std::unique_ptr<TagLib::Ogg::Page> audio = firstAudioPage(file, serial);
    if (!audio)
        return false;
    const TagLib::ByteVectorList packets = audio->packets();
    const int completed = completedPackets(*audio);
    long long samples = 0;
    int index = 0;
    for (auto it = packets.begin(); it != packets.end() && index < completed; ++it, ++index) {
        const long long packetSamples = opusPacketSamples(*it);
        if (packetSamples <= 0)
            return false;
        samples += packetSamples;
    }
    if (audio->header()->absoluteGranularPosition() > samples)
        return false;
    seconds = wholeSeconds(lastGranule, opusRate);
    return true;
}
