// Code-page conversions: our own UTF-8 codec, our own tables for the Windows
// code pages of codepage_tables.h, and glibc iconv for any other code page
// it knows.
#include "text/codepage.h"

#include "platform/features.h"

#include <errno.h>
#include <iconv.h>
#if TK_HAVE_SSE2
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "text/ascii_runs.h"
#include "text/codepage_table_codec.h"

namespace tk::platform {

namespace {

std::atomic<unsigned int> g_ansiCodePage{kCodePageUtf8};

constexpr char16_t kReplacement = 0xFFFD;

// ---- output sinks -------------------------------------------------------------
// A sink either counts (no buffer) or writes into a capped buffer. `full`
// records that a unit did not fit; writing stops there.
template <typename Unit>
struct Sink {
    Unit* out;
    std::size_t cap;
    std::size_t pos = 0;
    bool full = false;

    // Reserves n units for one character; false when they do not fit.
    bool Room(std::size_t n) {
        if (!out) return true;
        if (full || pos + n > cap) {
            full = true;
            return false;
        }
        return true;
    }
    void Put(Unit u) {
        if (out) out[pos] = u;
        ++pos;
    }
};

// Moves an ASCII run into a sink, as far as the sink has room.
template <typename Unit, typename Source, typename Run>
std::size_t SinkAsciiRun(Sink<Unit>& sink, const Source* s, std::size_t n, Run run) {
    std::size_t room = sink.out ? std::min(n, sink.cap - sink.pos) : n;
    std::size_t done = run(s, room, sink.out ? sink.out + sink.pos : nullptr);
    sink.pos += done;
    return done;
}

// Units before the first NUL of s, eight at a time. The loads are aligned
// 16-byte blocks, which never cross a page: they may read past the
// terminator (and before s) within its block, which the sanitizers would
// report although no byte outside the text is used.
#if TK_HAVE_SSE2
TK_READS_PAST_END std::size_t Utf16Length(const char16_t* s) {
    auto address = reinterpret_cast<std::uintptr_t>(s);
    if (address & 1) {  // not a valid char16_t pointer; do not guess
        std::size_t n = 0;
        while (s[n]) ++n;
        return n;
    }
    const char* block = reinterpret_cast<const char*>(address & ~std::uintptr_t{15});
    const __m128i zero = _mm_setzero_si128();
    unsigned skip = static_cast<unsigned>(address & 15);
    __m128i units = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero)));
    mask = mask >> skip << skip;
    while (!mask) {
        block += 16;
        units = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero)));
    }
    return static_cast<std::size_t>(block + tk::detail::CountTrailingZeros32(mask) -
                                    reinterpret_cast<const char*>(s)) /
           2;
}
#else
std::size_t Utf16Length(const char16_t* s) {
    std::size_t n = 0;
    while (s[n]) ++n;
    return n;
}
#endif

// ---- UTF-8 ----------------------------------------------------------------------

// Decodes one sequence at s[0..n), n >= 1. Returns the bytes consumed and the
// code point (or kReplacement for a maximal invalid subpart).
inline std::size_t DecodeUtf8(const unsigned char* s, std::size_t n, char32_t& cp) {
    unsigned char b0 = s[0];
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        cp = kReplacement;
        return 1;
    }
    std::size_t i = 1;
    for (; i <= need; ++i) {
        if (i >= n) break;
        unsigned char b = s[i];
        if (i == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) break;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (i <= need) {
        cp = kReplacement;  // truncated or broken: the valid prefix is one error
        return i;
    }
    return need + 1;
}

template <typename SinkT>
void Utf8ToUtf16(const unsigned char* s, std::size_t n, SinkT& sink) {
    std::size_t i = 0;
    while (i < n) {
        i += SinkAsciiRun(sink, s + i, n - i, detail::WidenAsciiRun);
        if (i >= n) break;
        if (s[i] < 0x80) {  // the run stopped for want of room
            sink.Room(1);
            return;
        }
        // Runs of well-formed two- and three-byte characters (Latin, Greek,
        // Cyrillic, CJK...) decode here without the general checks.
        while (i + 3 <= n) {
            unsigned b0 = s[i], b1 = s[i + 1];
            if ((b1 & 0xC0) != 0x80) break;
            if (b0 >= 0xC2 && b0 <= 0xDF) {
                if (!sink.Room(1)) return;
                sink.Put(static_cast<char16_t>(((b0 & 0x1F) << 6) | (b1 & 0x3F)));
                i += 2;
                continue;
            }
            unsigned b2 = s[i + 2];
            if ((b0 & 0xF0) != 0xE0 || (b2 & 0xC0) != 0x80) break;
            unsigned cp = ((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) break;  // overlong, surrogate
            if (!sink.Room(1)) return;
            sink.Put(static_cast<char16_t>(cp));
            i += 3;
        }
        if (i >= n) break;
        if (s[i] < 0x80) continue;  // back to the ASCII run
        char32_t cp;
        std::size_t used = DecodeUtf8(s + i, n - i, cp);
        if (cp >= 0x10000) {
            if (!sink.Room(2)) return;
            cp -= 0x10000;
            sink.Put(static_cast<char16_t>(0xD800 + (cp >> 10)));
            sink.Put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            if (!sink.Room(1)) return;
            sink.Put(static_cast<char16_t>(cp));
        }
        i += used;
    }
}

template <typename SinkT>
void Utf16ToUtf8(const char16_t* s, std::size_t n, SinkT& sink) {
    for (std::size_t i = 0; i < n; ++i) {
        if (s[i] < 0x80) {
            i += SinkAsciiRun(sink, s + i, n - i, detail::NarrowAsciiRun);
            if (i >= n) break;
            if (s[i] < 0x80) {  // the run stopped for want of room
                sink.Room(1);
                return;
            }
        }
        char32_t c = s[i];
        if (c < 0x80) {
            if (!sink.Room(1)) return;
            sink.Put(static_cast<char>(c));
            continue;
        }
        if (c < 0x800) {
            if (!sink.Room(2)) return;
            sink.Put(static_cast<char>(0xC0 | (c >> 6)));
            sink.Put(static_cast<char>(0x80 | (c & 0x3F)));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
                char32_t cp = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
                if (!sink.Room(4)) return;
                sink.Put(static_cast<char>(0xF0 | (cp >> 18)));
                sink.Put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
                sink.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
                sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
                ++i;
                continue;
            }
            c = kReplacement;  // lone surrogate
        }
        if (!sink.Room(3)) return;
        sink.Put(static_cast<char>(0xE0 | (c >> 12)));
        sink.Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        sink.Put(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// ---- iconv-backed code pages --------------------------------------------------

std::string IconvName(unsigned int codePage) {
    if (codePage == 936) return "GBK";
    return "CP" + std::to_string(codePage);
}

// One descriptor per direction and thread, reopened when the code page changes.
struct IconvCache {
    unsigned int codePage = 0;
    iconv_t toWide = reinterpret_cast<iconv_t>(-1);
    iconv_t fromWide = reinterpret_cast<iconv_t>(-1);

    ~IconvCache() { Close(); }
    void Close() {
        if (toWide != reinterpret_cast<iconv_t>(-1)) iconv_close(toWide);
        if (fromWide != reinterpret_cast<iconv_t>(-1)) iconv_close(fromWide);
        toWide = fromWide = reinterpret_cast<iconv_t>(-1);
    }
    bool Open(unsigned int cp) {
        if (cp == codePage && toWide != reinterpret_cast<iconv_t>(-1)) return true;
        Close();
        std::string name = IconvName(cp);
        toWide = iconv_open("UTF-16LE", name.c_str());
        fromWide = iconv_open(name.c_str(), "UTF-16LE");
        if (toWide == reinterpret_cast<iconv_t>(-1) || fromWide == reinterpret_cast<iconv_t>(-1)) {
            Close();
            return false;
        }
        codePage = cp;
        return true;
    }
};

thread_local IconvCache t_iconv;

template <typename SinkT>
bool IconvSegmentToWide(const char* s, std::size_t n, SinkT& sink) {
    iconv(t_iconv.toWide, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(s);
    std::size_t inLeft = n;
    char16_t chunk[256];
    while (inLeft > 0) {
        char* out = reinterpret_cast<char*>(chunk);
        std::size_t outLeft = sizeof(chunk);
        std::size_t r = iconv(t_iconv.toWide, &in, &inLeft, &out, &outLeft);
        int err = (r == static_cast<std::size_t>(-1)) ? errno : 0;
        std::size_t units = (sizeof(chunk) - outLeft) / 2;
        for (std::size_t k = 0; k < units; ++k) {
            // Keep surrogate pairs whole when the buffer runs out.
            std::size_t need = (chunk[k] >= 0xD800 && chunk[k] <= 0xDBFF && k + 1 < units) ? 2 : 1;
            if (!sink.Room(need)) return true;
            sink.Put(chunk[k]);
            if (need == 2) sink.Put(chunk[++k]);
        }
        if (err == EILSEQ || err == EINVAL) {
            // An invalid or truncated byte: '?' and go on behind it.
            if (!sink.Room(1)) return true;
            sink.Put(u'?');
            ++in;
            --inLeft;
            iconv(t_iconv.toWide, nullptr, nullptr, nullptr, nullptr);
        } else if (err != 0 && err != E2BIG) {
            return false;
        }
    }
    return true;
}

template <typename SinkT>
bool IconvSegmentFromWide(const char16_t* s, std::size_t n, SinkT& sink, char fallback,
                          bool& usedFallback) {
    iconv(t_iconv.fromWide, nullptr, nullptr, nullptr, nullptr);
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(s));
    std::size_t inLeft = n * 2;
    char chunk[512];
    while (inLeft > 0) {
        char* out = chunk;
        std::size_t outLeft = sizeof(chunk);
        std::size_t r = iconv(t_iconv.fromWide, &in, &inLeft, &out, &outLeft);
        int err = (r == static_cast<std::size_t>(-1)) ? errno : 0;
        std::size_t bytes = sizeof(chunk) - outLeft;
        if (sink.out && sink.pos + bytes > sink.cap) {
            // The destination is too small: keep whole characters only. In
            // the double-byte code pages a byte from 0x81 up leads a pair.
            std::size_t done = 0;
            while (done < bytes) {
                bool pair = static_cast<unsigned char>(chunk[done]) >= 0x81 && done + 1 < bytes;
                std::size_t len = pair ? 2 : 1;
                if (!sink.Room(len)) return true;
                for (std::size_t k = 0; k < len; ++k) sink.Put(chunk[done + k]);
                done += len;
            }
            return true;
        }
        if (sink.Room(bytes))
            for (std::size_t k = 0; k < bytes; ++k) sink.Put(chunk[k]);
        if (err == EILSEQ || err == EINVAL) {
            // Unmappable character (a surrogate pair counts as one).
            char16_t u;
            std::memcpy(&u, in, 2);
            std::size_t skip = 2;
            if (u >= 0xD800 && u <= 0xDBFF && inLeft >= 4) {
                char16_t u2;
                std::memcpy(&u2, in + 2, 2);
                if (u2 >= 0xDC00 && u2 <= 0xDFFF) skip = 4;
            }
            if (!sink.Room(1)) return true;
            sink.Put(fallback);
            usedFallback = true;
            in += skip;
            inLeft -= (skip > inLeft ? inLeft : skip);
            iconv(t_iconv.fromWide, nullptr, nullptr, nullptr, nullptr);
        } else if (err != 0 && err != E2BIG) {
            return false;
        }
    }
    return true;
}

// iconv reads the whole text: only the converter knows where its
// characters begin, so the bytes are never cut into pieces for it.
template <typename SinkT>
bool IconvToWide(unsigned int cp, const char* s, std::size_t n, SinkT& sink) {
    if (!t_iconv.Open(cp)) return false;
    return IconvSegmentToWide(s, n, sink);
}

template <typename SinkT>
bool IconvFromWide(unsigned int cp, const char16_t* s, std::size_t n, SinkT& sink, char fallback,
                   bool& usedFallback) {
    if (!t_iconv.Open(cp)) return false;
    std::size_t i = 0;
    while (i < n) {
        i += SinkAsciiRun(sink, s + i, n - i, detail::NarrowAsciiRun);
        if (i >= n || sink.full) break;
        if (sink.out && sink.pos >= sink.cap && s[i] < 0x80) break;
        std::size_t end = i;
        while (end < n && s[end] >= 0x80) ++end;
        if (!IconvSegmentFromWide(s + i, end - i, sink, fallback, usedFallback)) return false;
        if (sink.full) break;
        i = end;
    }
    if (i < n && sink.out && !sink.full) sink.full = true;
    return true;
}

unsigned int Resolve(unsigned int codePage) {
    return (codePage == kCodePageAnsi || codePage == 1 /* CP_OEMCP */ || codePage == 3)
               ? g_ansiCodePage.load(std::memory_order_relaxed)
               : codePage;
}

// Shared tail of both conversions: the Windows result and last-error rules.
template <typename SinkT>
int Finish(const SinkT& sink) {
    if (sink.full) {
        SetLastError(kErrorInsufficientBuffer);
        return 0;
    }
    if (sink.pos > 0x7FFFFFFF) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    return static_cast<int>(sink.pos);
}

}  // namespace

unsigned int GetAnsiCodePage() {
    return g_ansiCodePage.load(std::memory_order_relaxed);
}

bool SetAnsiCodePage(unsigned int codePage) {
    if (codePage != kCodePageUtf8 && !detail::FindCodePageTable(codePage)) {
        std::string name = IconvName(codePage);
        iconv_t probe = iconv_open("UTF-16LE", name.c_str());
        if (probe == reinterpret_cast<iconv_t>(-1)) return false;
        iconv_close(probe);
    }
    g_ansiCodePage.store(codePage, std::memory_order_relaxed);
    return true;
}

int MultiByteToWideChar(unsigned int codePage, std::uint32_t /*flags*/, const char* src, int srcLen,
                        TKWCHAR* dst, int dstLen) {
    if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst)) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    std::size_t n = srcLen == -1 ? std::strlen(src) + 1 : static_cast<std::size_t>(srcLen);
    Sink<char16_t> sink{dstLen > 0 ? reinterpret_cast<char16_t*>(dst) : nullptr,
                        static_cast<std::size_t>(dstLen)};
    unsigned int cp = Resolve(codePage);
    const auto* bytes = reinterpret_cast<const unsigned char*>(src);
    if (cp == kCodePageUtf8) {
        Utf8ToUtf16(bytes, n, sink);
    } else if (const detail::CodePageTable* table = detail::FindCodePageTable(cp)) {
        detail::TableConversion r = detail::DecodeWithTable(*table, bytes, n, sink.out, sink.cap);
        sink.pos = r.length;
        sink.full = r.full;
    } else if (!IconvToWide(cp, src, n, sink)) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    return Finish(sink);
}

int WideCharToMultiByte(unsigned int codePage, std::uint32_t /*flags*/, const TKWCHAR* src,
                        int srcLen, char* dst, int dstLen, const char* defaultChar,
                        int* usedDefaultChar) {
    if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst)) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    const auto* units = reinterpret_cast<const char16_t*>(src);
    std::size_t n = srcLen == -1 ? Utf16Length(units) + 1 : static_cast<std::size_t>(srcLen);
    unsigned int cp = Resolve(codePage);
    if (cp == kCodePageUtf8 && (defaultChar || usedDefaultChar)) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    Sink<char> sink{dstLen > 0 ? dst : nullptr, static_cast<std::size_t>(dstLen)};
    char fallback = defaultChar ? *defaultChar : '?';
    bool usedFallback = false;
    if (cp == kCodePageUtf8) {
        Utf16ToUtf8(units, n, sink);
    } else if (const detail::CodePageTable* table = detail::FindCodePageTable(cp)) {
        detail::TableConversion r =
            detail::EncodeWithTable(*table, units, n, sink.out, sink.cap, fallback);
        sink.pos = r.length;
        sink.full = r.full;
        usedFallback = r.usedDefault;
    } else if (!IconvFromWide(cp, units, n, sink, fallback, usedFallback)) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    if (usedDefaultChar) *usedDefaultChar = usedFallback ? 1 : 0;
    return Finish(sink);
}

std::size_t Utf8ToUtf16Unchecked(const char* src, std::size_t n, TKWCHAR* out) {
    Sink<char16_t> sink{reinterpret_cast<char16_t*>(out), n};
    Utf8ToUtf16(reinterpret_cast<const unsigned char*>(src), n, sink);
    return sink.pos;
}

bool ConvertsInPieces(unsigned int codePage) {
    unsigned int cp = Resolve(codePage);
    return cp == kCodePageUtf8 || detail::FindCodePageTable(cp) != nullptr;
}

std::size_t PieceEnd(unsigned int codePage, const char* src, std::size_t n) {
    unsigned int cp = Resolve(codePage);
    const auto* bytes = reinterpret_cast<const unsigned char*>(src);
    if (cp == kCodePageUtf8) {
        // Every byte but a continuation byte starts a sequence. Only the
        // last one can be cut short: it waits when it announces more bytes
        // than the piece holds (a sequence is at most four bytes).
        std::size_t start = n;
        while (start > 0 && n - start < 4 && (bytes[start - 1] & 0xC0) == 0x80) --start;
        if (start == 0 || n - start >= 4) return n;
        unsigned char lead = bytes[start - 1];
        std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                                                            : 1;
        return n - (start - 1) < length ? start - 1 : n;
    }
    const detail::CodePageTable* table = detail::FindCodePageTable(cp);
    if (!table || !table->rows) return n;  // one byte, one character
    // Trail bytes are 0x40 and above on every double-byte page, so a byte
    // below 0x40 is a character of its own and the next one starts afresh.
    std::size_t end = n;
    while (end > 0 && bytes[end - 1] >= 0x40) --end;
    return end;
}

std::size_t Utf16LengthOfUtf8(const char* src, std::size_t n) {
    Sink<char16_t> sink{nullptr, 0};
    Utf8ToUtf16(reinterpret_cast<const unsigned char*>(src), n, sink);
    return sink.pos;
}

}  // namespace tk::platform

// ---- exported code-page switch ------------------------------------------------

extern "C" TK_API int tkSetAnsiCodePage(unsigned int codePage) {
    return tk::platform::SetAnsiCodePage(codePage) ? 1 : 0;
}

extern "C" TK_API unsigned int tkGetAnsiCodePage(void) {
    return tk::platform::GetAnsiCodePage();
}
