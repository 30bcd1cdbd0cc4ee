#include "tags/foldercover.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t folderEntriesLooked = 100000; // a folder of more is no album's

const char *const coverStems[] = {"cover", "folder", "front"};

std::string lowerCase(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The place of a file name among the covers, lower first; -1 if it names
// none.
int coverRank(const std::string &name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return -1;
    const std::string stem = lowerCase(name.substr(0, dot));
    const std::string suffix = lowerCase(name.substr(dot + 1));
    const int kind = suffix == "jpg" || suffix == "jpeg" ? 0 : suffix == "png" ? 1 : -1;
    for (int i = 0; kind >= 0 && i < static_cast<int>(std::size(coverStems)); ++i)
        if (stem == coverStems[i])
            return i * 2 + kind;
    return -1;
}

// The whole file, if it is a regular file of at most maxPictureBytes
// (opened without blocking, in case a FIFO bears the name).
bool readImage(const std::string &path, std::vector<uint8_t> &data)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0)
        return false;
    struct stat info = {};
    bool ok = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::size_t>(info.st_size) <= maxPictureBytes;
    if (ok) {
        data.resize(static_cast<std::size_t>(info.st_size));
        std::size_t got = 0;
        while (got < data.size()) {
            const ssize_t read = ::read(descriptor, data.data() + got, data.size() - got);
            if (read < 0 && errno == EINTR)
                continue;
            if (read <= 0)
                break;
            got += static_cast<std::size_t>(read);
        }
        ok = got == data.size();
    }
    close(descriptor);
    return ok;
}

} // namespace

bool readFolderCover(const std::string &inputPath, Picture &picture)
{
    const std::size_t slash = inputPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : inputPath.substr(0, slash);
    std::vector<std::pair<int, std::string>> candidates;
    {
        std::unique_ptr<DIR, int (*)(DIR *)> listing(opendir(folder.c_str()), closedir);
        if (!listing)
            return false;
        std::size_t looked = 0;
        while (const dirent *entry = readdir(listing.get())) {
            if (++looked > folderEntriesLooked)
                break;
            const int rank = coverRank(entry->d_name);
            if (rank >= 0)
                candidates.emplace_back(rank, entry->d_name);
        }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const auto &candidate : candidates) {
        std::vector<uint8_t> data;
        if (!readImage(folder + "/" + candidate.second, data))
            continue;
        if (const char *type = imageMimeType(data)) {
            picture.mimeType = type;
            picture.data = std::move(data);
            return true;
        }
    }
    return false;
}
