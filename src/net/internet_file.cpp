// CTKInternetFile: the byte stream of one request handle, with optional read
// and write buffers, line reading and forward seeking.
#include <cstring>
#include <new>

#include "net/handle_map.h"
#include "net/platform/inet.h"
#include "platform/last_error.h"
#include "tavikfcu/TKNet.h"

namespace {

constexpr unsigned int kLineBufferSize = 4096;

unsigned char* NewBlock(unsigned int size) {
    return new unsigned char[size];
}

}  // namespace

CTKInternetFile::CTKInternetFile(void* hFile, void*, const TKWCHAR* fileName,
                                 const TKWCHAR* serverName, std::uint64_t context, int readMode)
    : m_strFileName(fileName),
      m_hFile(hFile),
      m_bReadMode(readMode),
      m_dwContext(context),
      m_hRequest(nullptr),
      m_strServerName(serverName),
      m_nWriteBufferSize(0),
      m_nWriteBufferPos(0),
      m_pbWriteBuffer(nullptr),
      m_nReadBufferSize(0),
      m_nReadBufferPos(0),
      m_pbReadBuffer(nullptr),
      m_nReadBufferBytes(0) {}

CTKInternetFile::CTKInternetFile(void* hFile, const TKWCHAR* fileName,
                                 CTKInternetConnection* connection, int readMode)
    : CTKInternetFile(hFile, nullptr, fileName, nullptr, 0, readMode) {
    if (hFile) tk::detail::MapHandle(hFile, connection->GetSession());
    m_dwContext = connection->GetContext();
    m_strServerName = connection->GetServerName();
}

CTKInternetFile::~CTKInternetFile() {
    if (m_hFile) {
        // A destructor cannot report a failed final write: it is dropped.
        try {
            CTKInternetFile::Flush();
        } catch (CTKInternetException* e) {
            delete e;
        }
        tk::inet::InternetCloseHandle(m_hFile);
        tk::detail::UnmapHandle(m_hFile);
        m_hFile = nullptr;
    }
    delete[] m_pbReadBuffer;
    delete[] m_pbWriteBuffer;
}

void CTKInternetFile::Throw(std::uint32_t error) const {
    auto* e = new CTKInternetException(error);
    e->m_context = m_dwContext;
    throw e;
}

unsigned int CTKInternetFile::ReadRaw(void* buffer, unsigned int count) {
    std::uint32_t got = 0;
    if (!tk::inet::InternetReadFile(m_hFile, buffer, count, &got))
        Throw(tk::platform::GetLastError());
    return got;
}

void CTKInternetFile::WriteRaw(const void* data, unsigned int count, bool checkShort) {
    std::uint32_t written = 0;
    if (!tk::inet::InternetWriteFile(m_hFile, data, count, &written) ||
        (checkShort && written < count))
        Throw(tk::platform::GetLastError());
}

// ---- buffers ------------------------------------------------------------------------

int CTKInternetFile::SetReadBufferSize(unsigned int size) {
    if (size == 0xFFFFFFFFu || size == m_nReadBufferSize) return 1;
    if (size < m_nReadBufferPos) return 0;
    if (size == 0) {
        delete[] m_pbReadBuffer;
        m_pbReadBuffer = nullptr;
        m_nReadBufferSize = 0;
        return 1;
    }
    if (!m_pbReadBuffer) {
        m_pbReadBuffer = NewBlock(size);
        m_nReadBufferPos = size;
        m_nReadBufferBytes = 0;
        m_nReadBufferSize = size;
        return 1;
    }
    unsigned int unread =
        m_nReadBufferBytes > m_nReadBufferPos ? m_nReadBufferBytes - m_nReadBufferPos : 0;
    unsigned char* block = NewBlock(size);
    if (unread == 0 || unread > size) {
        m_nReadBufferBytes = 0;
        m_nReadBufferPos = size;
    } else {
        std::memcpy(block, m_pbReadBuffer + m_nReadBufferPos, unread);
        m_nReadBufferPos = 0;
        m_nReadBufferBytes = unread;
    }
    delete[] m_pbReadBuffer;
    m_pbReadBuffer = block;
    m_nReadBufferSize = size;
    return 1;
}

int CTKInternetFile::SetWriteBufferSize(unsigned int size) {
    if (size == m_nWriteBufferSize) return 1;
    if (m_nWriteBufferPos > size) Flush();
    if (size == 0) {
        delete[] m_pbWriteBuffer;
        m_pbWriteBuffer = nullptr;
    } else if (m_pbWriteBuffer) {
        unsigned char* block = NewBlock(size);
        std::memcpy(block, m_pbWriteBuffer, m_nWriteBufferPos);
        delete[] m_pbWriteBuffer;
        m_pbWriteBuffer = block;
    } else {
        m_pbWriteBuffer = NewBlock(size);
        m_nWriteBufferPos = 0;
    }
    m_nWriteBufferSize = size;
    return 1;
}

// ---- reading and writing ---------------------------------------------------------

unsigned int CTKInternetFile::Read(void* buffer, unsigned int count) {
    if (m_bReadMode == 0 || !m_hFile) Throw(ERROR_INVALID_HANDLE);
    auto* out = static_cast<unsigned char*>(buffer);
    if (!m_pbReadBuffer) return ReadRaw(out, count);
    unsigned int unread =
        m_nReadBufferBytes > m_nReadBufferPos ? m_nReadBufferBytes - m_nReadBufferPos : 0;
    if (count >= m_nReadBufferSize) {
        std::memcpy(out, m_pbReadBuffer + m_nReadBufferPos, unread);
        m_nReadBufferPos = m_nReadBufferSize;
        return unread + ReadRaw(out + unread, count - unread);
    }
    if (m_nReadBufferPos + count < m_nReadBufferBytes) {
        std::memcpy(out, m_pbReadBuffer + m_nReadBufferPos, count);
        m_nReadBufferPos += count;
        return count;
    }
    std::memcpy(out, m_pbReadBuffer + m_nReadBufferPos, unread);
    m_nReadBufferBytes = ReadRaw(m_pbReadBuffer, m_nReadBufferSize);
    unsigned int more = count - unread;
    if (more > m_nReadBufferBytes) more = m_nReadBufferBytes;
    std::memcpy(out + unread, m_pbReadBuffer, more);
    m_nReadBufferPos = more;
    return unread + more;
}

void CTKInternetFile::Write(const void* data, unsigned int count) {
    if (m_bReadMode == 1 || !m_hFile) Throw(ERROR_INVALID_HANDLE);
    if (!m_pbWriteBuffer) {
        WriteRaw(data, count, true);
        return;
    }
    if (m_nWriteBufferPos + count >= m_nWriteBufferSize) {
        WriteRaw(m_pbWriteBuffer, m_nWriteBufferPos, false);
        m_nWriteBufferPos = 0;
    }
    if (count < m_nWriteBufferSize) {
        std::memcpy(m_pbWriteBuffer + m_nWriteBufferPos, data, count);
        m_nWriteBufferPos += count;
    } else {
        WriteRaw(data, count, false);
    }
}

void CTKInternetFile::Flush() {
    if (m_pbWriteBuffer && m_nWriteBufferPos) {
        WriteRaw(m_pbWriteBuffer, m_nWriteBufferPos, true);
        m_nWriteBufferPos = 0;
    }
}

void CTKInternetFile::WriteString(const TKWCHAR* text) {
    if (m_bReadMode == 1) Throw(ERROR_INVALID_HANDLE);
    unsigned int n = 0;
    if (text)
        while (text[n]) ++n;
    Write(text, n * sizeof(TKWCHAR));
}

TKWCHAR* CTKInternetFile::ReadString(TKWCHAR* buffer, unsigned int max) {
    // With no room for even a terminator there is nothing to do.
    if (!buffer || max == 0) return nullptr;
    if (!m_pbReadBuffer) {
        if (!SetReadBufferSize(kLineBufferSize)) return nullptr;
        m_nReadBufferBytes = ReadRaw(m_pbReadBuffer, m_nReadBufferSize);
        m_nReadBufferPos = 0;
    }
    auto* out = reinterpret_cast<unsigned char*>(buffer);
    const unsigned int room = 2 * max - 2;
    unsigned int stored = 0;
    bool ended = false;
    while (stored < room) {
        if (m_nReadBufferPos >= m_nReadBufferBytes) {
            m_nReadBufferBytes = ReadRaw(m_pbReadBuffer, m_nReadBufferSize);
            m_nReadBufferPos = 0;
            if (m_nReadBufferBytes == 0) {
                ended = true;
                break;
            }
        }
        unsigned char byte = m_pbReadBuffer[m_nReadBufferPos++];
        if (byte == 0x0D) continue;
        out[stored++] = byte;
        if (byte == 0x0A) break;
    }
    // End with a whole zero character: two zero bytes, three after an odd count.
    out[stored] = 0;
    out[stored + 1] = 0;
    if (stored & 1) out[stored + 2] = 0;
    if (ended && stored == 0) return nullptr;
    return buffer;
}

int CTKInternetFile::ReadString(CTKString& line) {
    const int piece = 128;
    line.Empty();
    int length = 0;
    TKWCHAR* last = nullptr;
    for (;;) {
        TKWCHAR* buffer = line.GetBuffer(length + piece);
        last = ReadString(buffer + length, piece);
        if (!last) buffer[length] = 0;
        line.ReleaseBuffer(-1);
        int added = line.GetLength() - length;
        length = line.GetLength();
        if (!last || added < piece - 1 || (length > 0 && line[length - 1] == 0x000A)) break;
    }
    bool hadText = length > 0;
    if (length > 0 && line[length - 1] == 0x000A) line.GetBufferSetLength(length - 1);
    if (last) return 1;
    return hadText ? 1 : 0;
}

std::int64_t CTKInternetFile::Seek(std::int64_t offset, unsigned int origin) {
    if (m_bReadMode == 0 || m_pbReadBuffer) Throw(ERROR_INVALID_HANDLE);
    if (origin > 2) Throw(ERROR_INVALID_PARAMETER);
    if (offset < -2147483648LL || offset > 2147483647LL) Throw(ERROR_INVALID_PARAMETER);
    std::uint32_t result = tk::inet::InternetSetFilePointer(m_hFile, std::int32_t(offset), nullptr,
                                                            origin, m_dwContext);
    if (result == 0xFFFFFFFFu) Throw(tk::platform::GetLastError());
    return std::int64_t(std::int32_t(result));
}

void CTKInternetFile::Close() {
    if (!m_hFile) return;
    Flush();
    tk::inet::InternetCloseHandle(m_hFile);
    tk::detail::UnmapHandle(m_hFile);
    m_hFile = nullptr;
    delete[] m_pbReadBuffer;
    m_pbReadBuffer = nullptr;
    delete[] m_pbWriteBuffer;
    m_pbWriteBuffer = nullptr;
}

void CTKInternetFile::Abort() {
    if (m_hFile) Close();
    m_strFileName.Empty();
}

std::uint32_t CTKInternetFile::GetLength() const {
    std::uint32_t available = 0;
    if (!m_hFile || !tk::inet::InternetQueryDataAvailable(m_hFile, &available, 0, m_dwContext))
        return 0;
    return available;
}

// ---- options ------------------------------------------------------------------------

int CTKInternetFile::SetOption(std::uint32_t option, void* buffer, std::uint32_t length,
                               std::uint32_t) {
    return tk::inet::InternetSetOption(m_hFile, option, buffer, length);
}

int CTKInternetFile::SetOption(std::uint32_t option, std::uint32_t value, std::uint32_t flags) {
    return SetOption(option, &value, sizeof value, flags);
}

int CTKInternetFile::QueryOption(std::uint32_t option, void* buffer, std::uint32_t* length) const {
    return tk::inet::InternetQueryOption(m_hFile, option, buffer, length);
}

int CTKInternetFile::QueryOption(std::uint32_t option, std::uint32_t& value) const {
    std::uint32_t length = sizeof value;
    return tk::inet::InternetQueryOption(m_hFile, option, &value, &length);
}
