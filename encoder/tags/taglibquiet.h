// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <taglib/tdebuglistener.h>

// TagLib reports oddities of the files it reads on standard error, where the
// tool's progress and failure lines go: from this call on, it reports them
// nowhere.
inline void silenceTagLib()
{
    class Silent : public TagLib::DebugListener
    {
    public:
        void printMessage(const TagLib::String &) override {}
    };
    static Silent silent;
    TagLib::setDebugListener(&silent);
}
