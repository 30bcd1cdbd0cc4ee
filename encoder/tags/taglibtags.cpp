// Reading the input's tags with TagLib, whose PropertyMap gives one set of
// names for every tag format it knows.

#include "tags/taglibquiet.h"
#include "tags/tags.h"

#include <taglib/apeitem.h>
#include <taglib/apetag.h>
#include <taglib/fileref.h>
#include <taglib/mpegfile.h>
#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>

namespace {

// Values ID3v2.3 has no frame for, with the descriptions their user text
// frames usually carry.
constexpr std::pair<const char *, const char *> userTextNames[] = {
    {"MUSICBRAINZ_ALBUMID", "MusicBrainz Album Id"},
    {"MUSICBRAINZ_ARTISTID", "MusicBrainz Artist Id"},
    {"MUSICBRAINZ_ALBUMARTISTID", "MusicBrainz Album Artist Id"},
    {"MUSICBRAINZ_RELEASEGROUPID", "MusicBrainz Release Group Id"},
    {"MUSICBRAINZ_RELEASETRACKID", "MusicBrainz Release Track Id"},
    {"MUSICBRAINZ_WORKID", "MusicBrainz Work Id"},
    {"MUSICBRAINZ_DISCID", "MusicBrainz Disc Id"},
    {"REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_GAIN"},
    {"REPLAYGAIN_ALBUM_PEAK", "REPLAYGAIN_ALBUM_PEAK"},
};

class Properties
{
public:
    explicit Properties(TagLib::PropertyMap map) : map_(std::move(map)) {}

    // The values under the first of the names that has any.
    std::string get(std::initializer_list<const char *> names) const
    {
        for (const char *name : names) {
            const auto found = map_.find(name);
            if (found == map_.end())
                continue;
            std::vector<std::string> values;
            for (const TagLib::String &value : found->second)
                values.push_back(value.to8Bit(true));
            std::string joined = joinValues(values);
            if (!joined.empty())
                return joined;
        }
        return {};
    }

private:
    TagLib::PropertyMap map_;
};

} // namespace

Tags readTagLibTags(const std::string &path)
{
    silenceTagLib();

    Tags tags;
    TagLib::FileRef file(path.c_str(), false);
    if (file.isNull() || !file.file()->isValid())
        return tags;
    const Properties properties(file.file()->properties());
    tags.title = properties.get({"TITLE"});
    tags.artist = properties.get({"ARTIST"});
    tags.album = properties.get({"ALBUM"});
    tags.albumArtist = properties.get({"ALBUMARTIST", "ALBUM ARTIST"});
    tags.track = withTotal(properties.get({"TRACKNUMBER"}), properties.get({"TRACKTOTAL", "TOTALTRACKS"}));
    tags.disc = withTotal(properties.get({"DISCNUMBER"}), properties.get({"DISCTOTAL", "TOTALDISCS"}));
    tags.date = properties.get({"DATE", "YEAR"});
    tags.genre = properties.get({"GENRE"});
    tags.comment = properties.get({"COMMENT", "DESCRIPTION"});
    tags.composer = properties.get({"COMPOSER"});
    tags.lyrics = properties.get({"LYRICS", "UNSYNCEDLYRICS"});
    tags.copyright = properties.get({"COPYRIGHT"});
    const std::string compilation = properties.get({"COMPILATION"});
    tags.compilation = compilation == "1" || compilation == "true";
    tags.titleSort = properties.get({"TITLESORT"});
    tags.artistSort = properties.get({"ARTISTSORT"});
    tags.albumSort = properties.get({"ALBUMSORT"});
    tags.albumArtistSort = properties.get({"ALBUMARTISTSORT"});
    tags.composerSort = properties.get({"COMPOSERSORT"});
    tags.musicBrainzTrackId = properties.get({"MUSICBRAINZ_TRACKID"});
    for (const auto &[name, description] : userTextNames) {
        const std::string value = properties.get({name});
        if (!value.empty())
            tags.userTexts.emplace_back(description, value);
    }
    return tags;
}

bool readApeCover(const std::string &path, Picture &picture)
{
    silenceTagLib();

    TagLib::FileRef file(path.c_str(), false);
    auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(file.file());
    if (!mpeg || !mpeg->isValid() || !mpeg->hasAPETag())
        return false;
    const TagLib::APE::ItemListMap &items = mpeg->APETag()->itemListMap();
    // The keys are upper-case, as APEv2 compares them without case.
    const TagLib::APE::Item *chosen = nullptr;
    for (const auto &[key, item] : items) {
        if (item.type() != TagLib::APE::Item::Binary || !key.startsWith("COVER ART ("))
            continue;
        if (!chosen || key == "COVER ART (FRONT)")
            chosen = &item;
    }
    if (!chosen)
        return false;
    const TagLib::ByteVector value = chosen->binaryData();
    const int nul = value.find('\0');
    if (nul < 0 || value.size() - static_cast<unsigned>(nul) - 1 > maxPictureBytes)
        return false;
    std::vector<uint8_t> data(value.begin() + nul + 1, value.end());
    const char *type = imageMimeType(data);
    if (!type)
        return false;
    picture.mimeType = type;
    picture.data = std::move(data);
    return true;
}
