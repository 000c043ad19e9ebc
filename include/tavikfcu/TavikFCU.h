// TavikFCU.h — everything: include this one header to use the whole library.
#ifndef TAVIKFCU_TAVIKFCU_H
#define TAVIKFCU_TAVIKFCU_H

#include "TKTypes.h"
#include "TKCore.h"
#include "TKString.h"
#include "TKCollection.h"
#include "TKJson.h"
#include "TKGeo.h"
#include "TKCodec.h"
#include "TKFile.h"
#include "TKNet.h"

#endif  // TAVIKFCU_TAVIKFCU_H
