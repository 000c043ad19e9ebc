// Debugger output on Linux: an installable sink, else stderr under a tracer.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/debug_output.h"
#include "platform/native_text.h"

namespace tk::platform {

namespace {
std::atomic<DebugOutputSink> g_sink{nullptr};
}

bool IsDebuggerPresent() {
    // "TracerPid:\t<pid>" in /proc/self/status is nonzero under a debugger.
    FILE* status = std::fopen("/proc/self/status", "re");
    if (!status) return false;
    char line[256];
    bool traced = false;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "TracerPid:", 10) == 0) {
            traced = std::strtol(line + 10, nullptr, 10) != 0;
            break;
        }
    }
    std::fclose(status);
    return traced;
}

void SetDebugOutputSink(DebugOutputSink sink) {
    g_sink.store(sink, std::memory_order_release);
}

void OutputDebugStringW(const TKWCHAR* text) {
    if (!text) return;
    if (DebugOutputSink sink = g_sink.load(std::memory_order_acquire)) {
        sink(text);
        return;
    }
    if (!IsDebuggerPresent()) return;
    std::string line = NativeText(text, NativeTextLength(text));
    line += '\n';
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;  // nowhere to report a failed debug write
}

}  // namespace tk::platform
