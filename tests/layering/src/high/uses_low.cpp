// Every include a layer may make: its own folder, a folder beneath it, a
// public header, a header beside it, a system header.
#include "high.h"
#include "high/high.h"
#include "low/low.h"
#include "tavikfcu/TKTypes.h"
#include <vector>
