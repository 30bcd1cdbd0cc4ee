#pragma once

#include "common/status.h"

#include <string>

// Length of the input's audio in whole seconds (truncated). Uses the
// length the container or stream states; decodes the whole stream only
// when there is none. Either way the audio must decode, so a file without
// usable audio fails.
Status probeDuration(const std::string &path, long &seconds);
