#include "destination.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Room left in a file name for the temporary name's dot and random suffix.
constexpr std::size_t maxTemporaryStemBytes = 200;

mode_t newFileMode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void splitPath(const std::string &path, std::string &directory, std::string &name)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        directory = ".";
        name = path;
    } else {
        directory = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// Shortens a UTF-8 name to at most maxBytes without cutting a character.
std::string truncatedName(const std::string &name, std::size_t maxBytes)
{
    if (name.size() <= maxBytes)
        return name;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}

bool isRegularOrMissing(const std::string &path)
{
    struct stat info = {};
    return lstat(path.c_str(), &info) != 0 ? errno == ENOENT : S_ISREG(info.st_mode);
}

// Makes the rename itself durable; a failure here loses nothing.
void syncDirectory(const std::string &directory)
{
    const int descriptor = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        fsync(descriptor);
        close(descriptor);
    }
}

} // namespace

Status resolveDestination(const std::string &requested, Destination &destination)
{
    const std::string quoted = "\"" + requested + "\"";
    struct stat link = {};
    if (lstat(requested.c_str(), &link) != 0) {
        if (errno != ENOENT)
            return systemFailure("cannot use output path " + quoted, errno);
        destination.path = requested;
        destination.mode = newFileMode();
    } else {
        struct stat target = {};
        if (stat(requested.c_str(), &target) != 0 || !S_ISREG(target.st_mode))
            return Status::failure("output path " + quoted + " exists and is not a regular file");
        destination.path = requested;
        if (S_ISLNK(link.st_mode)) {
            std::unique_ptr<char, decltype(&std::free)> resolved(realpath(requested.c_str(), nullptr), &std::free);
            if (!resolved)
                return systemFailure("cannot resolve output path " + quoted, errno);
            destination.path = resolved.get();
        }
        destination.mode = target.st_mode & 0777;
    }
    splitPath(destination.path, destination.directory, destination.name);
    if (destination.name.empty() || destination.name == "." || destination.name == "..")
        return Status::failure("output path " + quoted + " names a folder, not a file");
    return Status::success();
}

TempFile::~TempFile()
{
    if (descriptor_ >= 0)
        close(descriptor_);
    if (!committed_ && !path_.empty())
        unlink(path_.c_str());
}

Status TempFile::create(const Destination &destination)
{
    std::string pattern = destination.directory + "/." + truncatedName(destination.name, maxTemporaryStemBytes)
        + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    descriptor_ = mkostemp(buffer.data(), O_CLOEXEC);
    if (descriptor_ < 0)
        return systemFailure("cannot create a file in \"" + destination.directory + "\"", errno);
    path_ = buffer.data();
    return Status::success();
}

Status TempFile::commit(const Destination &destination)
{
    fchmod(descriptor_, destination.mode); // not every file system keeps permissions
    if (fsync(descriptor_) != 0)
        return systemFailure("cannot write the output", errno);
    const int closed = close(descriptor_);
    descriptor_ = -1;
    if (closed != 0)
        return systemFailure("cannot write the output", errno);
    // Something may have appeared at the destination while converting.
    if (!isRegularOrMissing(destination.path))
        return Status::failure("output path \"" + destination.path + "\" exists and is not a regular file");
    if (rename(path_.c_str(), destination.path.c_str()) != 0)
        return systemFailure("cannot move the output into place at \"" + destination.path + "\"", errno);
    committed_ = true;
    syncDirectory(destination.directory);
    return Status::success();
}
