#include "common/notes.h"

#include "toolcontract.h"

#include <cstdio>

void printNotes(const Notes &notes)
{
    for (const std::string &note : notes)
        std::fprintf(stderr, "%s%s\n", toolcontract::kNotePrefix, toolcontract::encodeLineText(note).c_str());
    std::fflush(stderr);
}
