#include "common/status.h"

#include <cstring>

Status systemFailure(const std::string &what, int errnoValue)
{
    return Status::failure(what + ": " + std::strerror(errnoValue));
}
