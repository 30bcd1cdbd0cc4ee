#include "input/filesource.h"

#include "input/samplerepair.h"
#include "tags/tags.h"

Status FileSource::open(const std::string &path)
{
    path_ = path;
    if (Status status = openInput(path, input_); !status.ok())
        return status;
    return decoder_.open(input_);
}

Status FileSource::next(AVFrame *frame, bool &finished)
{
    if (Status status = decoder_.next(frame, finished); !status.ok() || finished)
        return status;
    return repairSamples(*frame, repairedSamples_);
}

Notes FileSource::notes() const
{
    Notes notes;
    if (std::string damage = decoder_.damageNote(); !damage.empty())
        notes.push_back(std::move(damage));
    if (repairedSamples_ > 0)
        notes.push_back(std::to_string(repairedSamples_) + (repairedSamples_ == 1 ? " damaged sample was repaired"
                                                                                   : " damaged samples were repaired"));
    return notes;
}

void FileSource::readTags(Tags &tags, Picture &cover) const
{
    tags = ::readTags(path_, input_.format.get(), input_.audio);
    readCover(input_.format.get(), cover);
}
