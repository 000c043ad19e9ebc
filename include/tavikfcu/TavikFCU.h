// TavikFCU.h — everything: include this one header to use the whole library.
//
// TavikFCU is a foundation class library whose API speaks UTF-16 (TKWCHAR,
// TKL("...")): strings, collections, JSON, geodesy, codecs and digests, CSV
// and time. Each header below opens with its own account of the subsystem.
//
//     #include <tavikfcu/TavikFCU.h>
//
//     CMyJsonObj doc;
//     std::uint64_t error = 0;
//     if (!TKJsonUtils::ReadJsonFile(TKL("settings.json"), doc, &error)) {
//         TKWCHAR* why = tkGetErrorW(error, nullptr);   // the message names the file
//         ...
//         tkFreeMem(why);
//         tkCloseHandle(error);
//     }
//
// Threads: the library starts none. Any thread may call anything; an object
// is used by one thread at a time. Shared and locked inside the library: the
// scratch pools and the reference counts of strings.
//
// Releasing what the library hands out: texts and buffers with tkFreeMem,
// error handles with tkCloseHandle, split arrays with tkFreeStrArr, BSTRs
// with tkSysFreeString, cloned JSON objects and values with delete.
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
