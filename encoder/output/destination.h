#pragma once

#include "common/status.h"

#include <string>
#include <sys/types.h>

// Where the finished MP3 goes. An existing output must be a regular file
// (or a link to one, which is then replaced at the link's target); a folder,
// a device or a FIFO there is refused and left alone.
struct Destination
{
    std::string path;      // final path, links resolved
    std::string directory; // folder of path, where the temporary file is made
    std::string name;      // file name part of path
    mode_t mode = 0;       // permissions the new file gets
};

Status resolveDestination(const std::string &requested, Destination &destination);

// The MP3 while it is being written. Where the file system allows, it is an
// unnamed file in the destination's folder (O_TMPFILE): until commit() gives
// it a name, a tool that is killed leaves nothing behind, as the kernel frees
// the file with its last descriptor. Elsewhere (FUSE, network shares) it is a
// hidden file beside the destination, removed again unless it was committed;
// its name goes to standard error ("PartialFile <name>") for the program to
// remove it should the tool be killed.
class TempFile
{
public:
    TempFile() = default;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile();

    Status create(const Destination &destination);
    // A path that opens the file being written ("/proc/self/fd/N" for the
    // unnamed file), for writers that open files by name.
    const std::string &path() const { return path_; }

    // Writes the file through to the disk and puts it at the destination:
    // an unnamed file is linked there when nothing is there yet; otherwise
    // the file (the unnamed one given a hidden name first, which goes to
    // standard error as above) is renamed onto the destination, which it
    // thereby replaces in one step.
    Status commit(const Destination &destination);

private:
    Status createUnnamed(const Destination &destination, bool &unsupported);
    Status createNamed(const Destination &destination);
    Status linkUnnamed(const Destination &destination);

    std::string path_;      // opens the file being written
    std::string namedPath_; // its name in the folder, once it has one
    int descriptor_ = -1;
    bool committed_ = false;
};
