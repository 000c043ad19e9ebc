// A minidump of the running process, in Microsoft's documented minidump
// format with the Linux streams crash tools (lldb, the Breakpad tools) read:
//
//   system info    x86-64, Linux, the kernel's release, the CPU's vendor
//   misc info      the process id
//   exception      the crashing thread, the signal number as the code, the
//                  signal's si_code as the flags, the fault address
//   thread list    the crashing thread with its full context (registers,
//                  x87/SSE state) and stack; every other thread whose stack
//                  and instruction pointers /proc/self/task/<tid>/syscall
//                  shows (threads blocked in a system call) with those two
//                  registers and its stack
//   module list    every ELF file mapped from offset 0, with its build id
//                  as a "BpEL" CodeView record
//   memory list    the thread stacks
//   Linux streams  /proc/self/maps, /proc/self/status, /proc/self/cmdline
//
// The crashing thread, the exception and the system information are
// written and made reachable from the header first, so a dump cut short by
// a second fault still opens with them. Stacks are cut at 256 KiB for the
// crashing thread and 64 KiB for the others, counted from the stack pointer
// towards the stack's base; heap and other memory are not written.
//
// The writer is async-signal-safe: its buffers are on the stack (a handler
// that dumps through DbgDumpErrorFileEx uses about 18 KiB of stack, the
// kernel's signal frame included), it reads memory only through system
// calls (a page that cannot be read is left as zeros instead of faulting),
// and it takes no lock, so it may run inside a fatal-signal handler, also on
// two threads at once.
#ifndef TAVIKFCU_PLATFORM_MINIDUMP_WRITER_H
#define TAVIKFCU_PLATFORM_MINIDUMP_WRITER_H

#include <signal.h>
#include <ucontext.h>

namespace tk::platform {

// Reads, at load, what a signal handler cannot ask for cheaply (processor
// count, CPU identification).
void PrepareMinidumpWriter();

// Writes the minidump to fd, an empty file open for writing, for the thread
// that calls it. info may be null (exception code 0); context may be null
// (the caller's own registers are taken). Failures end the dump early,
// silently.
void WriteMinidump(int fd, const siginfo_t* info, const ucontext_t* context) noexcept;

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_MINIDUMP_WRITER_H
