#include "durationprobe.h"
