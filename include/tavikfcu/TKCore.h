// TKCore.h — memory pools, the object root and error handles.
//
// The fixed-block allocator CTKFixedAlloc hands out blocks of one size, carved
// 64 at a time from chunks, and reuses freed blocks last-in first-out. Four
// static allocators, the scratch pools, back every string body of up to 512
// characters and every short-lived code-page conversion in the library:
//
//     CTKFixedAlloc* pool = _TempDataStr64();   // 144-byte blocks
//     void* block = pool->Alloc();
//     ...
//     pool->Free(block);
//
// Threads: every allocator guards its lists with its own lock, so any thread
// may Alloc and Free on any allocator. Each thread also keeps a cache of
// free blocks in front of the shared list (of the four scratch pools, and of
// a few allocators a program makes itself), so the common Alloc/Free pair
// takes no lock; a block freed on one thread is still reused first by that
// thread, and a thread's cached blocks go back to the list when it ends. A
// thread's scratch-pool cache grows with the blocks it takes at once, up to
// 256 KB of each pool's blocks, so that a thread working in bursts reuses
// its own blocks rather than those another thread just freed.
// Blocks live until FreeAll or the allocator's destruction (the scratch
// pools: until the library unloads).
//
// CTKObject is the root of the library's reference-counted classes (the
// collections, and the body of every error handle). It carries a reference
// count, an error status (a code and a message in UTF-16 and in the ANSI code
// page) and a runtime class record reachable through GetThisClass():
//
//     CTKObject* obj = new CTKObject;              // count 1
//     obj->SetError(CTKObject::eNotFound, TKL("找不到文件"));
//     const char* text = obj->GetErrorMsgA();      // owned by obj
//     obj->Release();                              // count 0: deleted
//
// A CTKObject is not locked: one thread uses it at a time. Message pointers
// it returns live until its next SetError/SetErrorMsg or its destruction.
// The runtime class records are filled when the library loads and lose their
// names when it unloads.
//
// Memory that the library hands out as a plain pointer (texts, byte buffers,
// JSON text) is released with tkFreeMem.
//
// Crash reports: a host records a failure outside the process with a
// minidump file (DbgDumpErrorFile, DbgDumpErrorFileEx) or a system-log entry
// (WriteWindowsLog). InstallCrashHandler does the first for every fatal
// signal:
//
//     TKErrorUtils::InstallCrashHandler(TKL("server"));  // once, at start-up
//     // a crash now leaves log/server<M>_<D>_<h>_<m>_<s>(0x<ptrs>).dmp beside
//     // the library, then the process dies of its signal as before
#ifndef TAVIKFCU_TKCORE_H
#define TAVIKFCU_TKCORE_H

#include <atomic>
#include <cstdint>

#include "TKTypes.h"

#if !defined(_WIN32)
#include <signal.h>
#include <ucontext.h>
#endif

// ---- fixed-block allocator ---------------------------------------------------

// Hands out blocks of GetAllocSize() bytes. A chunk is one heap allocation of
// a link word followed by blocksPerChunk blocks; the free list threads through
// free blocks in their first word, new chunks in ascending address order.
//
// Copying: an allocator owns its chunks and its lock, so it is neither
// copyable nor movable.
class TK_API CTKFixedAlloc {
  public:
    // Sets the block size (raised to at least a pointer) and blocks per chunk;
    // obtains no memory.
    CTKFixedAlloc(unsigned int blockSize, unsigned int blocksPerChunk);
    // Returns every chunk to the heap.
    ~CTKFixedAlloc();

    CTKFixedAlloc(const CTKFixedAlloc&) = delete;
    CTKFixedAlloc& operator=(const CTKFixedAlloc&) = delete;

    // One block; its contents are undefined. Throws std::bad_alloc when the
    // heap cannot supply a new chunk (the lists then stay as they were).
    void* Alloc();
    // Gives a block back (null is ignored). The block is not checked.
    void Free(void* p);
    // Returns every chunk to the heap; every block handed out becomes invalid.
    void FreeAll();
    unsigned int GetAllocSize() const { return m_blockSize; }

  private:
    friend struct CTKFixedAllocBatches;
    // Detaches up to count blocks (obtaining a chunk when the list is empty)
    // as a null-terminated chain in list order.
    void* TakeBatch(unsigned int count);
    // Puts a chain of blocks, first to last, back at the head of the list.
    void GiveBatch(void* first, void* last);
    // Alloc and Free through the calling thread's cache.
    void* AllocCached();
    void FreeCached(void* p);

    std::uint32_t m_blockSize;
    std::uint32_t m_blocksPerChunk;
    void* m_chunks;
    void* m_freeList;
    TKLockWord m_lock;
    // Names this allocator's blocks in the threads' caches: 0 until a thread
    // first caches them; FreeAll gives it up, so caches of the old blocks
    // are dropped unused.
    std::atomic<std::uint64_t> m_cacheKey{0};
};

// The scratch pools. Names that share a block size return the same object:
// 144 bytes (_TempData64B, _TempData128B, _TempDataStr64), 272 bytes
// (_TempData256B, _TempDataStr128), 528 bytes (_TempData512B, _TempDataStr256)
// and 1040 bytes (_TempData1024B, _TempDataStr512).
TK_API CTKFixedAlloc* _TempData64B();
TK_API CTKFixedAlloc* _TempData128B();
TK_API CTKFixedAlloc* _TempData256B();
TK_API CTKFixedAlloc* _TempData512B();
TK_API CTKFixedAlloc* _TempData1024B();
TK_API CTKFixedAlloc* _TempDataStr64();
TK_API CTKFixedAlloc* _TempDataStr128();
TK_API CTKFixedAlloc* _TempDataStr256();
TK_API CTKFixedAlloc* _TempDataStr512();

// ---- object root, runtime class and error status ------------------------------

// A runtime class record: the class's name and its direct base's record.
// The library's four records (CTKObject::m_class, CTKCollection::m_class,
// CTKStringCollection::m_class, CTKObjectCollection::m_class) are filled when
// the library loads; walking m_base from any of them ends at
// CTKObject::m_class, whose m_base is null.
//
// Copying: a record owns its name, so a copy (construction or assignment)
// gets its own heap copy of the name and shares the base pointer.
class TK_API CTKObjClass {
  public:
    // An empty record: no name, no base. The library's static records start
    // this way (constant-initialised) and are filled at load.
    constexpr CTKObjClass() noexcept : m_name(nullptr), m_base(nullptr) {}
    // Copies name (up to its NUL) to the heap; null gives no name. Stores
    // base as given (null for a root class).
    CTKObjClass(const char* name, CTKObjClass* base);
    CTKObjClass(const CTKObjClass& src);
    CTKObjClass& operator=(const CTKObjClass& src);
    // Frees the name. The library's four records keep theirs until the
    // library unloads.
    ~CTKObjClass();

    char* m_name;         // heap copy of the class name, owned by the record
    CTKObjClass* m_base;  // the direct base class's record, null for the root
};

// The private record behind every CTKObject (count, code, messages). Only
// the library sees its definition.
class CTKObjectImp;

// The reference-counted object root with an error status.
//
// A new object has count 1, owned by its creator. AddRef adds an owner and
// each owner calls Release once; the Release that takes the count below 1
// deletes the object through its virtual destructor. Objects on the stack or
// inside other objects are simply destroyed and must never be Released to
// zero.
//
// The error setters are const, so an error can be recorded on a const
// object. The narrow message is always the rendering of the wide one in the
// ANSI code page active when GetErrorMsgA is called: switching the code page
// with tkSetAnsiCodePage is honoured by the next GetErrorMsgA.
//
// Copying makes a real copy: the new object has count 1 and its own record
// with the same error code and messages. Assignment copies the error code and
// messages and keeps the target's count.
class TK_API CTKObject {
  public:
    // Error codes the library gives or stores. Any other value a caller
    // passes is stored and reported unchanged.
    enum EErrorStatus : int {
        eNoError = 0,         // no error; the value of a new object
        eUndefinedError = 1,  // an error without a known cause
        eNotFound = 2,        // a file or its directory was not found
        eInvalidContent = 5,  // invalid content: bad length, unparsable JSON
        eAccessFailed = 14,   // a file cannot be opened or saved otherwise
    };

    // Count 1, error code eNoError, no messages.
    CTKObject();
    CTKObject(const CTKObject& src);
    CTKObject& operator=(const CTKObject& src);
    // Frees the record and both messages.
    virtual ~CTKObject();

    // The record of this object's class; every derived class returns its own.
    virtual CTKObjClass* GetThisClass() const;

    // Adds an owner; returns the new count.
    int AddRef();
    // Removes an owner; returns the count left. When that is below 1 the
    // object has deleted itself and must not be touched again.
    int Release();

    // Stores code, then SetErrorMsg(text).
    void SetError(EErrorStatus code, const TKWCHAR* text) const;
    // Stores code; the message stays.
    void SetErrorCode(EErrorStatus code) const;
    EErrorStatus GetErrorCode() const;
    // Replaces both messages with text (null stores empty messages), so after
    // any SetErrorMsg or SetError both getters return non-null text.
    // Characters the ANSI code page lacks come out as its default character.
    // text may point at this object's own message.
    void SetErrorMsg(const TKWCHAR* text) const;
    // The wide message; null when no message was ever set. GetErrorMsg and
    // GetErrorMsgW are the same.
    const TKWCHAR* GetErrorMsg() const;
    const TKWCHAR* GetErrorMsgW() const;
    // The message in the active ANSI code page; null when no message was ever
    // set. Renderings made under other code pages stay valid as well until
    // the next SetError/SetErrorMsg. Rendering after a code-page switch may
    // throw std::bad_alloc.
    const char* GetErrorMsgA() const;

    // CTKObject's runtime class record: "CTKObject", no base.
    static CTKObjClass m_class;

  private:
    CTKObjectImp* m_pImp;
};

// ---- error handles and error documents ----------------------------------------
//
// A function that can fail may take an optional `std::uint64_t* error` and
// store there a new error handle: the address of a heap CTKObject carrying
// the code and message of that one failure (0 means none). Read it with
// tkGetErrorW/tkGetErrorA, close it with tkCloseHandle:
//
//     std::uint64_t error = 0;
//     if (!TKJsonUtils::ReadJsonFile(path, doc, &error)) {
//         int code = 0;
//         TKWCHAR* message = tkGetErrorW(error, &code);
//         ...
//         tkFreeMem(message);
//         tkCloseHandle(error);
//     }
//
// A handle has one owner and is used by one thread at a time.

class CMyJsonObj;

extern "C" {
// Frees a text or buffer that the library handed out; null is ignored.
TK_API void tkFreeMem(void* p);
// Ends a handle (Release on its object); 0 is ignored.
TK_API void tkCloseHandle(std::uint64_t handle);
// A new heap copy of the handle's message in the ANSI code page (free with
// tkFreeMem); the code goes to *code when code is not null. 0 gives null and
// leaves *code alone. The handle stays open.
TK_API char* tkGetErrorA(std::uint64_t handle, int* code);
// As tkGetErrorA with the UTF-16 message; an object without a message gives
// an empty text.
TK_API TKWCHAR* tkGetErrorW(std::uint64_t handle, int* code);
// Installs the receiver of the library's debugger output (file-system
// failures of the JSON file functions); null restores the default, which
// writes to stderr only while a debugger is attached.
TK_API void tkSetDebugOutputSink(void (*sink)(const TKWCHAR* text));
}

namespace TKErrorUtils {

// A new handle: code and text (null text gives empty messages).
TK_API std::uint64_t CreateError(CTKObject::EErrorStatus code, const TKWCHAR* text);
// A new handle with obj's code and its wide message, after "prefix " when
// prefix is not null. obj (not null) is neither changed nor released.
TK_API std::uint64_t CreateErrorFromObj(const CTKObject* obj, const TKWCHAR* prefix);
// The error document {"Error": {"DisplayText": ..., "ErrorCode": ...}} of a
// handle, which it consumes; for handle 0, of text (null: "未定义错误") with
// code 1. A handle with code 0 gives only "ErrorCode": 0. Delete the result.
TK_API CMyJsonObj* CreateErrorJson(std::uint64_t handle, const TKWCHAR* text);
// The error document of code and text as formatted UTF-8 JSON text (CR LF
// lines, TAB indents); free with tkFreeMem.
TK_API char* CreateErrorUTF8Json(CTKObject::EErrorStatus code, const TKWCHAR* text);
// As CreateErrorUTF8Json of the handle's code and message; consumes the
// handle. 0 gives null.
TK_API char* CreateErrorUTF8JsonByHandle(std::uint64_t handle);
// As CreateErrorUTF8Json of obj's code and of prefix immediately followed
// by obj's message (no space). obj (not null) is neither changed nor released.
TK_API char* CreateErrorUTF8JsonByObj(const CTKObject* obj, const TKWCHAR* prefix);

}  // namespace TKErrorUtils

// ---- crash dumps and the system log -------------------------------------------

#if defined(_WIN32)
struct _EXCEPTION_POINTERS;
#else
// What a fatal-signal handler installed with SA_SIGINFO receives, in the
// shape of the Windows record of the same name: the signal's information
// and the interrupted thread's machine context.
struct _EXCEPTION_POINTERS {
    siginfo_t* ExceptionRecord;
    ucontext_t* ContextRecord;
};

// Event types of WriteWindowsLog, with the Windows values.
constexpr unsigned short EVENTLOG_SUCCESS = 0;
constexpr unsigned short EVENTLOG_ERROR_TYPE = 1;
constexpr unsigned short EVENTLOG_WARNING_TYPE = 2;
constexpr unsigned short EVENTLOG_INFORMATION_TYPE = 4;
constexpr unsigned short EVENTLOG_AUDIT_SUCCESS = 8;
constexpr unsigned short EVENTLOG_AUDIT_FAILURE = 16;
#endif

// These functions report nothing back: each does its work or silently
// nothing. The two dump functions are async-signal-safe (no heap, no locks,
// no stdio), so a fatal-signal handler may call them, and a fault while
// dumping cannot deadlock.
namespace TKErrorUtils {

// Writes a minidump of the current process to path (created, or replaced
// when it exists): the system information, every thread whose registers can
// be read (the crashing thread with its full context and stack), the loaded
// modules with their build ids, the exception (signal number as the code,
// the fault address) and the process's memory map and status. lldb -c opens
// it. With null pointers the file holds the 27 bytes
// "_EXCEPTION_POINTERS is null". While one call holds a path, a concurrent
// call for the same path gives up, so one dump is written, not two mixed.
TK_API void DbgDumpErrorFile(_EXCEPTION_POINTERS* pointers, const TKWCHAR* path);

// DbgDumpErrorFile into the folder "log" beside the library's file (created
// when missing), named prefix, local month, day, hour, minute and second,
// and the low 32 bits of the pointers' address in hex, unpadded:
// "app3_5_9_7_3(0x12AB40).dmp". A null prefix reads "(null)"; without a
// local time the name is "error.dmp". A library linked statically into a
// program uses the folder of the program's executable instead.
//
// With pointers the call may run inside a signal handler, so it reads the
// local-time offset the library refreshed at load and on its last call
// without pointers; a call without pointers refreshes it first.
TK_API void DbgDumpErrorFileEx(_EXCEPTION_POINTERS* pointers, const TKWCHAR* prefix);

// Sends text as one system-log record of identity "Tavik", facility user:
// an error type gives priority err, a warning warning, every other type
// info. Texts too long for one record are cut at a character boundary.
// Where the system log has no socket, the record is appended as one line to
// events.log in the "log" folder of DbgDumpErrorFileEx.
TK_API void WriteWindowsLog(unsigned short type, const TKWCHAR* text);

// Installs, for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT, a handler that
// calls DbgDumpErrorFileEx(pointers, prefix), puts the previous handler
// back and lets the signal take its course, so the process still dies of it
// (with a core dump where enabled). The calling thread gets an alternate
// signal stack, so a stack overflow there is dumped as well; other threads
// dump on their own stacks, so a stack overflow on one of them ends the
// process without a dump unless it has an alternate stack too. Calling it
// again replaces the prefix and gives the calling thread an alternate stack
// when it has none (of 32 KiB at least), so a thread may call it for
// itself. Prefixes longer than 200 units are refused. False when the
// handlers could not be installed.
TK_API bool InstallCrashHandler(const TKWCHAR* prefix);

}  // namespace TKErrorUtils

#endif  // TAVIKFCU_TKCORE_H
