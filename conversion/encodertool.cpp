#include "encodertool.h"
