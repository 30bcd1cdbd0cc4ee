#pragma once

#include <string>
#include <vector>

// What the user should know about a file that did convert: damage that was
// repaired or skipped. Never a failure.
using Notes = std::vector<std::string>;

// One line "ffmpeg: note: <text>" on standard error for each note.
void printNotes(const Notes &notes);
