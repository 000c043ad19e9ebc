// Debugger output, as the platform's OutputDebugStringW. Text goes to the
// sink the application installed (tkSetDebugOutputSink); without one it is
// written as a UTF-8 line to stderr while a debugger is attached, else
// nowhere.
#ifndef TAVIKFCU_PLATFORM_DEBUG_OUTPUT_H
#define TAVIKFCU_PLATFORM_DEBUG_OUTPUT_H

#include "tavikfcu/TKTypes.h"

namespace tk::platform {

using DebugOutputSink = void (*)(const TKWCHAR* text);

void OutputDebugStringW(const TKWCHAR* text);
void SetDebugOutputSink(DebugOutputSink sink);
// True while a tracer (debugger) is attached to this process.
bool IsDebuggerPresent();

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_DEBUG_OUTPUT_H
