#include "output/destination.h"

#include "toolcontract.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Room left in a file name for the temporary name's dot and random suffix.
constexpr std::size_t maxTemporaryStemBytes = 200;
constexpr std::size_t randomSuffixLength = 6; // the X's of the pattern
constexpr int maxNameAttempts = 100;

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

// The temporary name ".<name>.XXXXXX" beside the destination, NUL-terminated
// for mkostemp.
std::vector<char> hiddenPattern(const Destination &destination)
{
    const std::string pattern =
        destination.directory + "/." + truncatedName(destination.name, maxTemporaryStemBytes) + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return buffer;
}

// Replaces the pattern's trailing "XXXXXX" by random letters and digits
// (should the kernel give no random bytes, by a mix of process, time and
// attempt that differs from one attempt to the next).
void fillRandomSuffix(std::vector<char> &pattern, int attempt)
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[randomSuffixLength] = {};
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        const unsigned long mix = (static_cast<unsigned long>(getpid()) * 2654435761UL)
            ^ static_cast<unsigned long>(time(nullptr)) ^ (static_cast<unsigned long>(attempt) * 40503UL);
        for (std::size_t i = 0; i < sizeof random; ++i)
            random[i] = static_cast<unsigned char>(mix >> (i * 5));
    }
    char *suffix = pattern.data() + pattern.size() - 1 - randomSuffixLength;
    for (std::size_t i = 0; i < randomSuffixLength; ++i)
        suffix[i] = letters[random[i] % (sizeof letters - 1)];
}

// Errors with which open(O_TMPFILE) says that the file system (or kernel)
// makes no unnamed files, rather than that the folder is unusable.
bool unnamedFilesUnsupported(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

// Names the hidden file on standard error at once, so that the program
// can remove it should the tool die before it does (killed, crashed).
void announcePartialFile(const std::string &path)
{
    const std::string name = path.substr(path.rfind('/') + 1);
    std::fprintf(stderr, "%s%s\n", toolcontract::kPartialFilePrefix, toolcontract::encodeLineText(name).c_str());
    std::fflush(stderr);
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
    if (!committed_ && !namedPath_.empty())
        unlink(namedPath_.c_str());
}

Status TempFile::create(const Destination &destination)
{
    bool unsupported = false;
    Status status = createUnnamed(destination, unsupported);
    if (status.ok() || !unsupported)
        return status;
    return createNamed(destination);
}

Status TempFile::createUnnamed(const Destination &destination, bool &unsupported)
{
    descriptor_ = open(destination.directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor_ < 0) {
        unsupported = unnamedFilesUnsupported(errno);
        return systemFailure("cannot create a file in \"" + destination.directory + "\"", errno);
    }
    // The writer opens the file, and commit() links it, through /proc; a
    // system without it gets the named file instead.
    path_ = "/proc/self/fd/" + std::to_string(descriptor_);
    struct stat viaProc = {};
    struct stat direct = {};
    if (stat(path_.c_str(), &viaProc) != 0 || fstat(descriptor_, &direct) != 0 || viaProc.st_ino != direct.st_ino
        || viaProc.st_dev != direct.st_dev) {
        close(descriptor_);
        descriptor_ = -1;
        path_.clear();
        unsupported = true;
        return Status::failure("cannot reach an unnamed file through /proc");
    }
    return Status::success();
}

Status TempFile::createNamed(const Destination &destination)
{
    std::vector<char> buffer = hiddenPattern(destination);
    descriptor_ = mkostemp(buffer.data(), O_CLOEXEC);
    if (descriptor_ < 0)
        return systemFailure("cannot create a file in \"" + destination.directory + "\"", errno);
    path_ = namedPath_ = buffer.data();
    announcePartialFile(namedPath_);
    return Status::success();
}

// Gives the unnamed file a hidden name beside the destination. linkat cannot
// make up a free name as mkostemp does, so random names are tried in turn.
Status TempFile::linkUnnamed(const Destination &destination)
{
    for (int attempt = 0; attempt < maxNameAttempts; ++attempt) {
        std::vector<char> name = hiddenPattern(destination);
        fillRandomSuffix(name, attempt);
        if (linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, name.data(), AT_SYMLINK_FOLLOW) == 0) {
            namedPath_ = name.data();
            return Status::success();
        }
        if (errno != EEXIST)
            return systemFailure("cannot name the output in \"" + destination.directory + "\"", errno);
    }
    return Status::failure("cannot find a free name in \"" + destination.directory + "\"");
}

Status TempFile::commit(const Destination &destination)
{
    fchmod(descriptor_, destination.mode); // not every file system keeps permissions
    if (fsync(descriptor_) != 0)
        return systemFailure("cannot write the output", errno);
    if (namedPath_.empty()) {
        // Linked straight to a free destination, the output never has a
        // hidden name that a kill could leave behind.
        if (linkat(AT_FDCWD, path_.c_str(), AT_FDCWD, destination.path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            const int closed = close(descriptor_);
            descriptor_ = -1;
            if (closed != 0) {
                const int error = errno;
                unlink(destination.path.c_str()); // the file just linked, nobody else's
                return systemFailure("cannot write the output", error);
            }
            committed_ = true;
            syncDirectory(destination.directory);
            return Status::success();
        }
        if (errno != EEXIST)
            return systemFailure("cannot name the output in \"" + destination.directory + "\"", errno);
        if (Status status = linkUnnamed(destination); !status.ok())
            return status;
        announcePartialFile(namedPath_);
    }
    const int closed = close(descriptor_);
    descriptor_ = -1;
    if (closed != 0)
        return systemFailure("cannot write the output", errno);
    // Something may have appeared at the destination while converting.
    if (!isRegularOrMissing(destination.path))
        return Status::failure("output path \"" + destination.path + "\" exists and is not a regular file");
    if (rename(namedPath_.c_str(), destination.path.c_str()) != 0)
        return systemFailure("cannot move the output into place at \"" + destination.path + "\"", errno);
    committed_ = true;
    syncDirectory(destination.directory);
    return Status::success();
}
