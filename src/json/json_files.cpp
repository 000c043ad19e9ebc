// Reading and saving JSON documents as files: the file system, the byte
// encoding of the file, and error reporting. The text itself is the reader's
// and the writer's business.
#include <cstring>
#include <cstdint>
#include <memory>

#include "memory/heap.h"
#include "memory/scratch_pools.h"
#include "string/temp_strings.h"
#include "text/codepage.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/file_replace.h"
#include "platform/large_buffer.h"
#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKJson.h"

namespace {

using tk::platform::ByteSpan;

constexpr std::uint64_t kMinFileBytes = 11;
constexpr std::uint64_t kMaxFileBytes = 50 * 1024 * 1024;
constexpr unsigned char kUtf8Mark[3] = {0xEF, 0xBB, 0xBF};

// A missing file or folder; everything else means "cannot access".
CTKObject::EErrorStatus StatusOfErrno(int err) {
    return tk::platform::IsMissingPathError(err) ? CTKObject::eNotFound : CTKObject::eAccessFailed;
}

// Sends a file-system failure to the debugger output and the caller's handle.
bool FailFileSystem(std::uint64_t* error, CTKObject::EErrorStatus status,
                    const CTKString& message) {
    tk::platform::OutputDebugStringW(message);
    if (error) *error = TKErrorUtils::CreateError(status, message);
    return false;
}

bool FailOpen(const TKWCHAR* path, int err, std::uint64_t* error) {
    CTKString message;
    message.Format(TKL("Tavik: Can't open %s, error: 0x%X"), path, static_cast<unsigned>(err));
    return FailFileSystem(error, StatusOfErrno(err), message);
}

bool FailSave(const TKWCHAR* path, int err, std::uint64_t* error) {
    CTKString message;
    message.Format(TKL("Tavik: Can't save %s, error: 0x%X"), path, static_cast<unsigned>(err));
    return FailFileSystem(error, CTKObject::eAccessFailed, message);
}

// The file's bytes with a zero byte behind them, or false with the failure
// reported.
struct FileBytes {
    std::unique_ptr<tk::platform::LargeBuffer<char>> data;
    std::size_t size = 0;
};

bool ReadWholeFile(const TKWCHAR* path, FileBytes& bytes, std::uint64_t* error) {
    tk::platform::File file;
    if (int err = file.Open(path, tk::platform::FileMode::kRead)) return FailOpen(path, err, error);
    std::uint64_t length = 0;
    if (int err = file.Size(length)) return FailOpen(path, err, error);
    if (length < kMinFileBytes || length > kMaxFileBytes) {
        CTKString message;
        message.Format(TKL("Tavik: %s file length is invalid"), path);
        return FailFileSystem(error, CTKObject::eInvalidContent, message);
    }
    bytes.size = static_cast<std::size_t>(length);
    bytes.data = std::make_unique<tk::platform::LargeBuffer<char>>(bytes.size + 1);
    if (int err = file.ReadExactly(bytes.data->get(), bytes.size))
        return FailOpen(path, err, error);
    bytes.data->get()[bytes.size] = 0;
    return true;
}

// Decodes the bytes (UTF-8 behind a byte-order mark, else the ANSI code page)
// up to the first zero byte and hands the text to load. One pass into a
// buffer of one unit per byte, which always suffices: no code page yields
// more UTF-16 units than it has bytes.
template <typename Load>
bool LoadText(const FileBytes& bytes, Load load) {
    const char* text = bytes.data->get();
    bool utf8 = bytes.size >= 3 && std::memcmp(text, kUtf8Mark, 3) == 0;
    if (utf8) text += 3;
    std::size_t length = std::strlen(text);
    tk::platform::LargeBuffer<TKWCHAR> wide(length + 1);
    std::size_t units = 0;
    if (utf8) {
        units = tk::platform::Utf8ToUtf16Unchecked(text, length, wide.get());
    } else if (length > 0) {
        int converted = tk::platform::MultiByteToWideChar(tk::platform::kCodePageAnsi, 0, text,
                                                          static_cast<int>(length), wide.get(),
                                                          static_cast<int>(length + 1));
        units = converted > 0 ? static_cast<std::size_t>(converted) : 0;
    }
    wide.get()[units] = 0;
    return load(wide.get());
}

bool SaveBytes(const TKWCHAR* path, const ByteSpan* pieces, std::size_t count,
               std::uint64_t* error) {
    if (int err = tk::platform::ReplaceFileContents(path, pieces, count))
        return FailSave(path, err, error);
    return true;
}

bool SaveAnsi(const TKWCHAR* path, const CTKString& text, std::uint64_t* error) {
    CTempAnsiString ansi(text);
    ByteSpan piece{ansi.Text(), ansi.Size() > 0 ? static_cast<std::size_t>(ansi.Size() - 1) : 0};
    return SaveBytes(path, &piece, 1, error);
}

}  // namespace

namespace TKJsonUtils {

bool ReadJsonFile(const TKWCHAR* path, CMyJsonObj& obj, std::uint64_t* error) {
    FileBytes bytes;
    if (!ReadWholeFile(path, bytes, error)) return false;
    bool loaded = LoadText(bytes, [&](const TKWCHAR* text) { return obj.Load(text); });
    if (!loaded && error)
        *error = TKErrorUtils::CreateError(CTKObject::eInvalidContent, obj.GetErrMsg());
    return loaded;
}

bool ReadJsonFileEx(const TKWCHAR* path, CMyJsonValue& value, std::uint64_t* error) {
    FileBytes bytes;
    if (!ReadWholeFile(path, bytes, error)) return false;
    CTKString message;
    bool loaded = LoadText(bytes, [&](const TKWCHAR* text) { return value.Load(text, message); });
    if (!loaded && error) {
        CTKString full(TKL("无效的json，"));
        full += message;
        *error = TKErrorUtils::CreateError(CTKObject::eInvalidContent, full);
    }
    return loaded;
}

bool SaveJsonFile(const TKWCHAR* path, const CMyJsonObj& obj, std::uint64_t* error) {
    // Writing the text leaves the object as it was.
    return SaveAnsi(path, const_cast<CMyJsonObj&>(obj).CreateJson(true), error);
}

bool SaveJsonFileEx(const TKWCHAR* path, const CMyJsonValue& value, bool utf8,
                    std::uint64_t* error) {
    if (!utf8) return SaveAnsi(path, const_cast<CMyJsonValue&>(value).CreateJson(true), error);
    std::unique_ptr<char, void (*)(void*)> text(value.CreateUTF8Json(true), tkFreeMem);
    ByteSpan pieces[2] = {{kUtf8Mark, sizeof kUtf8Mark}, {text.get(), std::strlen(text.get())}};
    return SaveBytes(path, pieces, 2, error);
}

}  // namespace TKJsonUtils
