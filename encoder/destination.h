#pragma once

#include "status.h"

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

// The MP3 while it is being written: a hidden file beside the destination,
// removed again unless it was committed.
class TempFile
{
public:
    TempFile() = default;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile();

    Status create(const Destination &destination);
    const std::string &path() const { return path_; }

    // Writes the file through to the disk and renames it onto the
    // destination, which it thereby replaces in one step.
    Status commit(const Destination &destination);

private:
    std::string path_;
    int descriptor_ = -1;
    bool committed_ = false;
};
