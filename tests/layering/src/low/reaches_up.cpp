// The fault the check exists for: a lower layer reaching up.
#include "high/high.h"
#include "low/low.h"
