#include "conversionthread.h"
