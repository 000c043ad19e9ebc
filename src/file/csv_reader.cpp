// CTKCSVFileReader: a line reader that cuts lines in place in one bounded
// buffer, and a row reader that splits a line into fields in place.
//
// Buffer life: the buffer holds bufferSize bytes plus one permanent zero
// after them, so a scan for the end of a line always stops inside the
// allocation. Bytes past the last byte read are zero; a zero (like a line
// feed) ends a line, which is why the file's last line needs no line feed.
// When a line runs past the end of the buffer, the unread tail moves to the
// front and the rest is refilled from the file. A tail that filled the
// buffer to its last byte when the file ended is still handed out as the
// last line. A failing read is reported ("读取 <path> 失败，错误码: <errno>"),
// never taken for the end of the file.
#include <cstring>
#include <memory>
#include <utility>

#include "file/text_builder.h"
#include "text/codepage.h"
#include "platform/byte_search.h"
#include "platform/file_io.h"
#include "tavikfcu/TKFile.h"

namespace {

constexpr std::int32_t kMaxBufferSize = 409600;  // 0x64000: one window of a large file

constexpr TKWCHAR kNotOpen[] = TKL("未打开文件!");
constexpr TKWCHAR kEmptyOrInvalid[] = TKL("CSV数据为空或格式无效!");

// The bytes the line reader steps over before a line: blank lines, leading
// blanks, and the zeros of an unfilled buffer. A carriage return is kept.
inline bool IsSkippedBeforeLine(char c) {
    return c == 0 || c == '\t' || c == '\n' || c == ' ';
}
inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The first line feed or zero at or after p. The buffer's permanent zero
// guarantees one.
inline char* FindLineEnd(char* p) {
    return tk::platform::FindByteOrEnd(p, '\n');
}

inline char* FindByte(char* p, char* end, char c) {
    return static_cast<char*>(std::memchr(p, c, static_cast<std::size_t>(end - p)));
}

}  // namespace

struct CTKCSVFileReader::Impl {
    tk::platform::File file;
    bool utf8 = false;  // the file starts with EF BB BF
    CTKString lastError;
    std::unique_ptr<char[]> buffer;  // bufferSize bytes and a permanent zero
    std::int32_t bufferSize = 0;
    std::int32_t readPos = 0;  // the next unread byte
    std::vector<CTKString> header;
    CTKString path;  // for messages about failed reads

    // One line, cut in place: [begin, end) with *end == 0.
    struct Line {
        char* begin = nullptr;
        char* end = nullptr;
    };

    bool Open(const TKWCHAR* filePath);
    bool GoToFirstRow();
    // Fills row with the fields of the next line. False at the end of the
    // file or on failure (then lastError says why).
    bool ReadRow(std::vector<CTKString>& row);

  private:
    // The next line, or a null line at the end of the file or on failure.
    [[nodiscard]] Line NextLine();
    // Moves the unread tail to the front and fills the rest from the file.
    // Returns the count of new bytes; -1 when the read failed.
    [[nodiscard]] std::int64_t Refill();
    // Stores field number index of row; index is at most row.size().
    void SetField(std::vector<CTKString>& row, std::size_t index, const char* text,
                  std::size_t n) const;
    void SetFileError(const TKWCHAR* verb, int err);
};

// ---- opening and rewinding ---------------------------------------------------------

void CTKCSVFileReader::Impl::SetFileError(const TKWCHAR* verb, int err) {
    tk::detail::TextBuilder message;
    message.Append(verb).Append(TKL(" ")).Append(path).Append(TKL(" 失败，错误码: ")).Append(err);
    lastError = message.Take();
}

bool CTKCSVFileReader::Impl::Open(const TKWCHAR* filePath) {
    file.Close();
    buffer.reset();
    bufferSize = 0;
    readPos = 0;
    utf8 = false;
    header.clear();
    lastError.Empty();
    path = filePath;

    if (int err = file.Open(filePath, tk::platform::FileMode::kRead)) {
        SetFileError(TKL("打开"), err);
        return false;
    }
    // The length only sizes the buffer; rows are streamed, so files of any
    // length (past 2 and 4 GiB too) are read whole.
    std::uint64_t length = 0;
    if (int err = file.Size(length)) {
        file.Close();
        SetFileError(TKL("打开"), err);
        return false;
    }
    bufferSize = length < static_cast<std::uint64_t>(kMaxBufferSize)
                     ? static_cast<std::int32_t>(length) + 1
                     : kMaxBufferSize;
    buffer.reset(new char[static_cast<std::size_t>(bufferSize) + 1]);
    buffer[bufferSize] = 0;

    if (bufferSize > 3) {
        unsigned char mark[3] = {0, 0, 0};
        std::size_t got = 0;
        if (int err = file.Read(mark, sizeof mark, got)) {
            file.Close();
            SetFileError(TKL("读取"), err);
            return false;
        }
        utf8 = got == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF;
    }
    return GoToFirstRow();
}

bool CTKCSVFileReader::Impl::GoToFirstRow() {
    if (!file.IsOpen()) {
        lastError = kNotOpen;
        return false;
    }
    lastError.Empty();
    readPos = 0;
    header.clear();
    if (int err = file.Seek(utf8 ? 3 : 0)) {
        SetFileError(TKL("读取"), err);
        return false;
    }
    std::memset(buffer.get(), 0, static_cast<std::size_t>(bufferSize));
    ReadRow(header);
    if (!header.empty()) return true;
    if (lastError.IsEmpty()) lastError = kEmptyOrInvalid;
    return false;
}

// ---- the line reader ----------------------------------------------------------------

std::int64_t CTKCSVFileReader::Impl::Refill() {
    char* const buf = buffer.get();
    const std::size_t tail = static_cast<std::size_t>(bufferSize - readPos);
    std::memmove(buf, buf + readPos, tail);
    readPos = 0;
    const std::size_t room = static_cast<std::size_t>(bufferSize) - tail;
    std::size_t got = 0;
    int err = file.Read(buf + tail, room, got);
    // The rest stays zero so that the data read so far ends in a terminator.
    std::memset(buf + tail + got, 0, room - got);
    if (err) {
        SetFileError(TKL("读取"), err);
        return -1;
    }
    return static_cast<std::int64_t>(got);
}

CTKCSVFileReader::Impl::Line CTKCSVFileReader::Impl::NextLine() {
    char* const buf = buffer.get();
    for (;;) {
        std::int32_t pos = readPos;
        while (pos < bufferSize && IsSkippedBeforeLine(buf[pos])) ++pos;
        readPos = pos;
        if (pos < bufferSize) {
            char* begin = buf + pos;
            char* end = FindLineEnd(begin);
            if (end < buf + bufferSize) {
                *end = 0;
                readPos = static_cast<std::int32_t>(end - buf) + 1;
                return {begin, end};
            }
            if (pos == 0) {
                tk::detail::TextBuilder message;
                message.Append(TKL("文件中数据的行长度超过缓存长度("))
                    .Append(bufferSize)
                    .Append(TKL("字节)，处理失败!"));
                lastError = message.Take();
                return {};
            }
        }
        const bool hadTail = pos < bufferSize;
        std::int64_t got = Refill();
        if (got < 0) return {};
        // At the end of the file a tail that filled the buffer to its last
        // byte is the file's last line without a line feed: it is now
        // followed by zeros, so one more pass hands it out.
        if (got == 0 && !hadTail) return {};
    }
}

// ---- the row reader -------------------------------------------------------------------

void CTKCSVFileReader::Impl::SetField(std::vector<CTKString>& row, std::size_t index,
                                      const char* text, std::size_t n) const {
    // A string the caller's vector already holds is written over: a body it
    // owns alone is reused (no allocation per field), a shared one is left to
    // its other owners by copy-on-write.
    CTKString& field = index < row.size() ? row[index] : row.emplace_back();
    if (n == 0) {
        field.Empty();
        return;
    }
    // Neither UTF-8 nor an ANSI code page gives more UTF-16 units than bytes.
    const int bytes = static_cast<int>(n);
    TKWCHAR* out = field.GetBuffer(bytes);
    int units;
    if (utf8) {
        units = static_cast<int>(tk::platform::Utf8ToUtf16Unchecked(text, n, out));
    } else {
        units = tk::platform::MultiByteToWideChar(tk::platform::kCodePageAnsi, 0, text, bytes, out,
                                                  bytes);
        if (units < 0) units = 0;
    }
    field.ReleaseBuffer(units);
}

bool CTKCSVFileReader::Impl::ReadRow(std::vector<CTKString>& row) {
    if (!file.IsOpen()) {
        row.clear();
        lastError = kNotOpen;
        return false;
    }
    Line line = NextLine();
    if (!line.begin) {
        row.clear();
        return false;
    }

    char* p = line.begin;
    char* end = line.end;
    if (end > p && end[-1] == '\r') *--end = 0;

    // The row's strings are overwritten in place; count tracks the fields
    // of this line and the rest are dropped at the end.
    std::size_t count = 0;
    std::size_t commas = 0;
    while (p < end) {
        while (p < end && IsBlank(*p)) ++p;
        if (p == end) break;  // blanks after the last comma: the empty field comes below

        if (*p == '"') {
            // Quoted: "" inside stands for one quote; the text is compacted
            // in place, the write position never passing the read position.
            char* content = p + 1;
            char* out = content;
            char* in = content;
            bool closed = false;
            for (;;) {
                char* quote = FindByte(in, end, '"');
                char* stop = quote ? quote : end;
                std::memmove(out, in, static_cast<std::size_t>(stop - in));
                out += stop - in;
                if (!quote) break;  // no closing quote: the rest of the line
                if (quote + 1 < end && quote[1] == '"') {
                    *out++ = '"';
                    in = quote + 2;
                    continue;
                }
                in = quote + 1;
                closed = true;
                break;
            }
            SetField(row, count++, content, static_cast<std::size_t>(out - content));
            if (!closed) break;
            // Anything between the closing quote and the next comma is dropped.
            char* comma = FindByte(in, end, ',');
            if (!comma) break;
            ++commas;
            p = comma + 1;
        } else if (*p == ',') {
            SetField(row, count++, p, 0);
            ++commas;
            ++p;
        } else {
            char* comma = FindByte(p, end, ',');
            char* stop = comma ? comma : end;
            char* last = stop;
            while (last > p && IsBlank(last[-1])) --last;
            SetField(row, count++, p, static_cast<std::size_t>(last - p));
            if (!comma) break;
            ++commas;
            p = comma + 1;
        }
    }
    // A line ending in a comma (or holding nothing) gets an empty last field.
    if (count <= commas) SetField(row, count++, p, 0);
    row.resize(count);
    return true;
}

// ---- the exported front ------------------------------------------------------------------

CTKCSVFileReader::CTKCSVFileReader() : m_impl(new Impl) {}

CTKCSVFileReader::~CTKCSVFileReader() {
    delete m_impl;
}

CTKCSVFileReader::CTKCSVFileReader(CTKCSVFileReader&& other) noexcept
    : m_impl(std::exchange(other.m_impl, nullptr)) {}

CTKCSVFileReader& CTKCSVFileReader::operator=(CTKCSVFileReader&& other) noexcept {
    if (this != &other) {
        delete m_impl;
        m_impl = std::exchange(other.m_impl, nullptr);
    }
    return *this;
}

bool CTKCSVFileReader::Open(const TKWCHAR* path) {
    if (!m_impl) m_impl = new Impl;
    return m_impl->Open(path);
}

bool CTKCSVFileReader::GetFields(std::vector<CTKString>& fields) const {
    if (!m_impl) {
        fields.clear();
        return false;
    }
    fields = m_impl->header;
    return !fields.empty();
}

bool CTKCSVFileReader::NextRow(std::vector<CTKString>& row) {
    if (!m_impl) m_impl = new Impl;
    return m_impl->ReadRow(row);
}

bool CTKCSVFileReader::GoToFirstRow() {
    if (!m_impl) m_impl = new Impl;
    return m_impl->GoToFirstRow();
}

const TKWCHAR* CTKCSVFileReader::GetLastError() const {
    return m_impl ? static_cast<const TKWCHAR*>(m_impl->lastError) : TKL("");
}
