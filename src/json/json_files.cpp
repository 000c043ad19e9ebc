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
#include "json/json_records.h"
#include "json/json_text_out.h"

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

// The file's text as UTF-16, NUL-terminated, one unit per byte of room (no
// code page yields more UTF-16 units than it has bytes).
struct FileText {
    std::unique_ptr<tk::platform::LargeBuffer<TKWCHAR>> units;
    const TKWCHAR* Text() const { return units->get(); }
};

// Bytes are read a block at a time and each block is decoded while it is
// still in the cache, straight into the text: there is no copy of the whole
// file's bytes. The bytes of a character cut at the end of a block move to
// the front and are decoded with the next one.
constexpr std::size_t kReadBlock = 64 * 1024;

// Decodes src[0..n) in code page cp to out; the units written.
std::size_t Decode(unsigned int cp, const char* src, std::size_t n, TKWCHAR* out) {
    if (n == 0) return 0;
    if (cp == tk::platform::kCodePageUtf8) return tk::platform::Utf8ToUtf16Unchecked(src, n, out);
    int units = tk::platform::MultiByteToWideChar(cp, 0, src, static_cast<int>(n), out,
                                                  static_cast<int>(n));
    return units > 0 ? static_cast<std::size_t>(units) : 0;
}

// The whole file, then the whole text: for the code pages iconv converts,
// which are never cut into pieces.
int DecodeWhole(tk::platform::File& file, std::size_t size, std::size_t skip, unsigned int cp,
                TKWCHAR* out, std::size_t& units) {
    tk::platform::LargeBuffer<char> bytes(size + 1);
    if (int err = file.ReadExactly(bytes.get(), size)) return err;
    bytes.get()[size] = 0;
    const char* text = bytes.get() + skip;
    units = Decode(cp, text, std::strlen(text), out);
    return 0;
}

// Reads and decodes the file: UTF-8 behind a byte-order mark, else the ANSI
// code page, up to the first zero byte. 0 or the errno of a failed read.
int DecodeFile(tk::platform::File& file, std::size_t size, TKWCHAR* out, std::size_t& units) {
    std::unique_ptr<char[]> block(new char[kReadBlock]);
    std::size_t capacity = kReadBlock;
    std::size_t first = size < kReadBlock ? size : kReadBlock;
    if (int err = file.ReadExactly(block.get(), first)) return err;
    const bool utf8 = first >= 3 && std::memcmp(block.get(), kUtf8Mark, 3) == 0;
    const std::size_t skip = utf8 ? 3 : 0;
    const unsigned int cp = utf8 ? tk::platform::kCodePageUtf8 : tk::platform::GetAnsiCodePage();
    if (!tk::platform::ConvertsInPieces(cp)) {
        if (int err = file.Seek(0)) return err;
        return DecodeWhole(file, size, skip, cp, out, units);
    }

    units = 0;
    std::size_t held = first - skip;  // bytes at the front of the block
    std::memmove(block.get(), block.get() + skip, held);
    std::size_t fresh = held;  // of which not yet searched for a zero byte
    std::size_t left = size - first;
    for (;;) {
        bool last = left == 0;
        if (const void* zero = std::memchr(block.get() + held - fresh, 0, fresh)) {
            held = static_cast<std::size_t>(static_cast<const char*>(zero) - block.get());
            last = true;  // the text ends at a zero byte
        }
        std::size_t cut = last ? held : tk::platform::PieceEnd(cp, block.get(), held);
        units += Decode(cp, block.get(), cut, out + units);
        if (last) return 0;
        held -= cut;
        std::memmove(block.get(), block.get() + cut, held);
        if (held == capacity) {
            // A double-byte text with no byte below 0x40 in a whole block:
            // the block grows until one comes.
            std::unique_ptr<char[]> larger(new char[2 * capacity]);
            std::memcpy(larger.get(), block.get(), held);
            block = std::move(larger);
            capacity *= 2;
        }
        std::size_t want = capacity - held < left ? capacity - held : left;
        if (int err = file.ReadExactly(block.get() + held, want)) return err;
        held += want;
        fresh = want;
        left -= want;
    }
}

bool ReadFileText(const TKWCHAR* path, FileText& text, std::uint64_t* error) {
    tk::platform::File file;
    if (int err = file.Open(path, tk::platform::FileMode::kRead)) return FailOpen(path, err, error);
    std::uint64_t length = 0;
    if (int err = file.Size(length)) return FailOpen(path, err, error);
    if (length < kMinFileBytes || length > kMaxFileBytes) {
        CTKString message;
        message.Format(TKL("Tavik: %s file length is invalid"), path);
        return FailFileSystem(error, CTKObject::eInvalidContent, message);
    }
    const auto size = static_cast<std::size_t>(length);
    text.units = std::make_unique<tk::platform::LargeBuffer<TKWCHAR>>(size + 1);
    std::size_t units = 0;
    if (int err = DecodeFile(file, size, text.units->get(), units))
        return FailOpen(path, err, error);
    text.units->get()[units] = 0;
    return true;
}

// ---- saving ----------------------------------------------------------------------

// The writer's text, converted to the file's code page a window at a time
// and written to the file as it comes: memory stays at one window and its
// bytes, whatever the size of the document. A surrogate pair is never cut
// between windows.
class FileTextOut final : public tk::detail::JsonTextOut, public tk::platform::ContentSource {
  public:
    static constexpr std::size_t kWindow = 32 * 1024;  // units
    static_assert(kWindow >= kMaxRoom, "a window takes the largest request for room");

    // Exactly one of obj and value is set.
    FileTextOut(unsigned int codePage, bool mark, const CMyJsonObj* obj, const CMyJsonValue* value)
        : m_codePage(codePage),
          m_mark(mark),
          m_obj(obj),
          m_value(value),
          m_window(new TKWCHAR[kWindow]),
          m_bytes(new char[3 * kWindow]) {}

    int WriteTo(tk::platform::ContentSink& sink) override {
        m_sink = &sink;
        pos = m_window.get();
        m_end = pos + kWindow;
        if (m_mark)
            if (int err = sink.Write(kUtf8Mark, sizeof kUtf8Mark)) return err;
        try {
            if (m_obj)
                tk::detail::WriteObjectTo(*m_obj, true, *this);
            else
                tk::detail::WriteValueTo(*m_value, true, *this);
            Pass(true);
        } catch (const Stopped&) {
            return m_failure;
        }
        return 0;
    }

  private:
    // Thrown through the writer when the file refuses bytes: there is no
    // point in writing the rest.
    struct Stopped {};

    void MakeRoom(std::size_t) override { Pass(false); }

    // Converts and writes the window; a high surrogate at its end stays for
    // the next one unless this is the end of the text.
    void Pass(bool end) {
        TKWCHAR* window = m_window.get();
        std::size_t units = static_cast<std::size_t>(pos - window);
        const bool keep = !end && units > 0 && pos[-1] >= 0xD800 && pos[-1] <= 0xDBFF;
        if (keep) --units;
        if (units > 0) {
            int bytes =
                tk::platform::WideCharToMultiByte(m_codePage, 0, window, static_cast<int>(units),
                                                  m_bytes.get(), static_cast<int>(3 * kWindow));
            if (bytes > 0)
                if (int err = m_sink->Write(m_bytes.get(), static_cast<std::size_t>(bytes))) {
                    m_failure = err;
                    throw Stopped();
                }
        }
        if (keep) window[0] = window[units];
        pos = window + (keep ? 1 : 0);
    }

    const unsigned int m_codePage;
    const bool m_mark;
    const CMyJsonObj* const m_obj;
    const CMyJsonValue* const m_value;
    std::unique_ptr<TKWCHAR[]> m_window;
    std::unique_ptr<char[]> m_bytes;  // up to three bytes a unit (UTF-8)
    tk::platform::ContentSink* m_sink = nullptr;
    int m_failure = 0;
};

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

// Saves the formatted text of obj or value in codePage (UTF-8 with its mark
// when mark is set), streamed where the code page converts in pieces.
bool SaveDocument(const TKWCHAR* path, unsigned int codePage, bool mark, const CMyJsonObj* obj,
                  const CMyJsonValue* value, std::uint64_t* error) {
    if (!tk::platform::ConvertsInPieces(codePage)) {
        // Writing the text leaves the document as it was.
        CTKString text = obj ? const_cast<CMyJsonObj*>(obj)->CreateJson(true)
                             : const_cast<CMyJsonValue*>(value)->CreateJson(true);
        return SaveAnsi(path, text, error);
    }
    FileTextOut out(codePage, mark, obj, value);
    if (int err = tk::platform::ReplaceFileContentsFrom(path, out))
        return FailSave(path, err, error);
    return true;
}

}  // namespace

namespace TKJsonUtils {

bool ReadJsonFile(const TKWCHAR* path, CMyJsonObj& obj, std::uint64_t* error) {
    FileText text;
    if (!ReadFileText(path, text, error)) return false;
    bool loaded = obj.Load(text.Text());
    if (!loaded && error)
        *error = TKErrorUtils::CreateError(CTKObject::eInvalidContent, obj.GetErrMsg());
    return loaded;
}

bool ReadJsonFileEx(const TKWCHAR* path, CMyJsonValue& value, std::uint64_t* error) {
    FileText text;
    if (!ReadFileText(path, text, error)) return false;
    CTKString message;
    bool loaded = value.Load(text.Text(), message);
    if (!loaded && error) {
        CTKString full(TKL("无效的json，"));
        full += message;
        *error = TKErrorUtils::CreateError(CTKObject::eInvalidContent, full);
    }
    return loaded;
}

bool SaveJsonFile(const TKWCHAR* path, const CMyJsonObj& obj, std::uint64_t* error) {
    return SaveDocument(path, tk::platform::GetAnsiCodePage(), false, &obj, nullptr, error);
}

bool SaveJsonFileEx(const TKWCHAR* path, const CMyJsonValue& value, bool utf8,
                    std::uint64_t* error) {
    if (utf8) return SaveDocument(path, tk::platform::kCodePageUtf8, true, nullptr, &value, error);
    return SaveDocument(path, tk::platform::GetAnsiCodePage(), false, nullptr, &value, error);
}

}  // namespace TKJsonUtils
