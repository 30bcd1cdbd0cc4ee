#include "input/filesource.h"

#include "tags/tags.h"

Status FileSource::open(const std::string &path)
{
    path_ = path;
    if (Status status = openInput(path, input_); !status.ok())
        return status;
    return decoder_.open(input_);
}

void FileSource::readTags(Tags &tags, Picture &cover) const
{
    tags = ::readTags(path_, input_.format.get(), input_.audio);
    readCover(input_.format.get(), cover);
}
