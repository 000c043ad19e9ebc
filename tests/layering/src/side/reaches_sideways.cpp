// A sibling subsystem is not beneath this one.
#include "high/high.h"
