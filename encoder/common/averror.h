#pragma once

#include "common/status.h"

#include <string>

// Text of a libav error code, e.g. "Invalid data found when processing input".
std::string avErrorText(int error);

// "what: libav error text", the usual shape of a failure reason.
Status avFailure(const std::string &what, int error);
