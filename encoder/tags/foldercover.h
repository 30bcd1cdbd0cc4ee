#pragma once

#include "tags/tags.h"

#include <string>

// The cover image of the album folder the input lies in, for an input that
// carries none: a file of the input's own folder named cover, folder or
// front (preferred in that order) with the suffix .jpg, .jpeg or .png
// (JPEG before PNG), in any case. Its first bytes must be a JPEG's or a
// PNG's, and it may hold at most 16 MiB; a file that is not, or cannot be
// read, is passed over for the next. False when none is found.
bool readFolderCover(const std::string &inputPath, Picture &picture);
