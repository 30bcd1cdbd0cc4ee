#include "progressbridge.h"
