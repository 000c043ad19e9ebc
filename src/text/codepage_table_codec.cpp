// Table-driven conversion for the Windows code pages: one lookup per
// character, double-byte characters four at a time, ASCII runs sixteen at a
// time.
#include "text/codepage_table_codec.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/features.h"
#include "text/ascii_runs.h"

namespace tk::platform::detail {

namespace {

// What a page needs at run time, built from its table on first use: the
// character of every byte pair and the code of every UTF-16 unit, in two
// flat tables, so that a character costs one load and no range test. That
// is 256 KB for a double-byte page and 128 KB for a single-byte one; only
// the pages in use pay.
class PageCodec {
  public:
    // Writing codes: one byte (< 0x100), lead << 8 | trail, or kUnmapped.
    // No page has FF as a lead byte, so FFFF is never a pair.
    static constexpr std::uint16_t kUnmapped = 0xFFFF;

    explicit PageCodec(const CodePageTable& table) : codes_(65536, kUnmapped) {
        for (unsigned b = 0; b < 0x80; ++b) {
            single_[b] = static_cast<char16_t>(b);
            Set(static_cast<char16_t>(b), static_cast<std::uint16_t>(b));
        }
        for (unsigned b = 0x80; b <= 0xFF; ++b) {
            char16_t c = table.high[b - 0x80];
            single_[b] = c == kNoChar ? u'?' : c;  // undefined byte, or lone lead byte
            if (c != kNoChar) Set(c, static_cast<std::uint16_t>(b));
        }
        if (table.rows) {
            pairs_.assign(65536, kNoChar);
            for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
                if (table.high[lead - 0x80] != kNoChar) continue;
                const DbcsRow& row = table.rows[lead - 0x80];
                for (unsigned k = 0; k < row.count; ++k) {
                    unsigned trail = row.first + k;
                    char16_t c = table.cells[row.offset + k];
                    pairs_[PairIndex(lead, trail)] = c;
                    if (c != kNoChar) Set(c, static_cast<std::uint16_t>(lead << 8 | trail));
                }
            }
        }
        // Where several sequences read as one character, the Windows choice.
        for (std::size_t k = 0; k < table.preferredCount; ++k)
            Set(table.preferred[k].ch, table.preferred[k].bytes);
    }

    static std::size_t PairIndex(unsigned first, unsigned second) { return first | second << 8; }

    // The character of byte b read alone ('?' when it has none).
    const char16_t* Single() const { return single_; }
    // The character of each byte pair at PairIndex (kNoChar: no pair); null
    // on single-byte pages.
    const char16_t* Pairs() const { return pairs_.empty() ? nullptr : pairs_.data(); }

    // The writing code of every UTF-16 unit.
    const std::uint16_t* Codes() const { return codes_.data(); }

  private:
    void Set(char16_t c, std::uint16_t code) { codes_[c] = code; }

    char16_t single_[256];
    std::vector<char16_t> pairs_;
    std::vector<std::uint16_t> codes_;
};

// One codec per table, built by the first thread that needs it. Short
// conversions (a CTKString from a few bytes) are common, so the built
// codec is found with one acquire load; the lock is taken only to build.
std::atomic<const PageCodec*> g_codecs[kCodePageTableCount];
std::mutex g_buildLock;

const PageCodec& CodecFor(const CodePageTable& table) {
    std::atomic<const PageCodec*>& slot = g_codecs[&table - kCodePageTables];
    const PageCodec* codec = slot.load(std::memory_order_acquire);
    if (!codec) {
        std::lock_guard<std::mutex> hold(g_buildLock);
        codec = slot.load(std::memory_order_relaxed);
        if (!codec) {
            codec = new PageCodec(table);
            slot.store(codec, std::memory_order_release);
        }
    }
    return *codec;
}

// ---- four characters in a word ----------------------------------------------------
// Chinese, Japanese and Korean text is mostly double-byte characters in a
// row. The loops below take them four at a time: four table loads make one
// 64-bit word, one test on the word tells whether all four were what the
// fast path needs, and one store writes them. Anything else (ASCII, a byte
// that pairs with nothing, the end of the text or of the buffer) leaves
// the word loop for a character-by-character step.

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kLittleEndian = false;
#else
constexpr bool kLittleEndian = true;
#endif

constexpr std::uint64_t kLaneOnes = 0x0001000100010001u;
// The high bits of bytes 0, 2, 4 and 6 of a word loaded from memory: where
// its lead bytes are.
constexpr std::uint64_t kLeadHighBits = kLittleEndian ? 0x0080008000800080u : 0x8000800080008000u;
constexpr std::uint64_t kLaneHighBits = 0x8000800080008000u;

// Four 16-bit values laid out so that storing the word writes them in order.
inline std::uint64_t InMemoryOrder(std::uint64_t a, std::uint64_t b, std::uint64_t c,
                                   std::uint64_t d) {
    return kLittleEndian ? a | b << 16 | c << 32 | d << 48 : a << 48 | b << 32 | c << 16 | d;
}

// The lanes 0..k-1 of an InMemoryOrder word (k < 4).
inline std::uint64_t FirstLanes(std::size_t k) {
    return kLittleEndian ? (std::uint64_t{1} << 16 * k) - 1
           : k           ? ~std::uint64_t{0} << (64 - 16 * k)
                         : 0;
}

// Whether a lane of w is kNoChar: the classic "has a zero lane" test on ~w,
// exact as a yes or no.
inline bool HasNoChar(std::uint64_t w) {
    return ((~w - kLaneOnes) & w & kLaneHighBits) != 0;
}

// The lanes of w that are kNoChar, exactly (the test above may also flag a
// lane above a true one): no carry crosses a lane here.
inline std::uint64_t NoCharLanes(std::uint64_t w) {
    const std::uint64_t x = ~w, low = ~kLaneHighBits;
    return ~(((x & low) + low) | x) & kLaneHighBits;
}

inline std::uint64_t ByteSwap64(std::uint64_t x) {
#if TK_COMPILER_GNU_LIKE
    return __builtin_bswap64(x);
#else
    x = (x & 0x00000000FFFFFFFFu) << 32 | x >> 32;
    x = (x & 0x0000FFFF0000FFFFu) << 16 | (x & 0xFFFF0000FFFF0000u) >> 16;
    return (x & 0x00FF00FF00FF00FFu) << 8 | (x & 0xFF00FF00FF00FF00u) >> 8;
#endif
}

// The decoding word loop asks for the text this many bytes ahead: on long
// texts the hardware's own prefetching alone leaves it waiting on memory.
constexpr std::size_t kPrefetchAhead = 512;

// ---- reading ------------------------------------------------------------------

// The pair at p, as PageCodec::PairIndex numbers it (one 16-bit load).
inline std::size_t PairAt(const unsigned char* p) {
    return PageCodec::PairIndex(p[0], p[1]);
}

template <bool kWrite>
TableConversion DecodeSingleByte(const PageCodec& codec, const unsigned char* s, std::size_t n,
                                 char16_t* out, std::size_t cap) {
    const char16_t* const single = codec.Single();
    const std::size_t limit = kWrite ? cap : SIZE_MAX;
    TableConversion r;
    std::size_t i = 0, pos = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            std::size_t run =
                WidenAsciiRun(s + i, std::min(n - i, limit - pos), kWrite ? out + pos : nullptr);
            i += run;
            pos += run;
            if (i < n && s[i] < 0x80) {  // the buffer ran out within the run
                r.full = true;
                break;
            }
        }
        if (i >= n) break;
        if (pos == limit) {
            r.full = true;
            break;
        }
        // Byte by byte, a few ASCII bytes included, until sixteen ASCII
        // bytes in a row go back to the runs.
        const unsigned char* p = s + i;
        const unsigned char* const end = p + std::min(n - i, limit - pos);
        for (; p < end; ++p, ++pos) {
            if (p[0] < 0x80 && s + n - p >= 16 && IsAsciiBlock(p)) break;
            if (kWrite) out[pos] = single[p[0]];
        }
        i = static_cast<std::size_t>(p - s);
    }
    r.length = pos;
    return r;
}

template <bool kWrite>
TableConversion DecodeDoubleByte(const PageCodec& codec, const unsigned char* s, std::size_t n,
                                 char16_t* out, std::size_t cap) {
    const char16_t* const single = codec.Single();
    const char16_t* const pairs = codec.Pairs();
    const std::size_t limit = kWrite ? cap : SIZE_MAX;
    TableConversion r;
    std::size_t i = 0, pos = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            std::size_t run =
                WidenAsciiRun(s + i, std::min(n - i, limit - pos), kWrite ? out + pos : nullptr);
            i += run;
            pos += run;
            if (i < n && s[i] < 0x80) {  // the buffer ran out within the run
                r.full = true;
                break;
            }
        }
        // Words of four pairs, and the few ASCII bytes between them (digits,
        // a newline) in one 16-wide step. Both are stored whole, the word
        // even when a lane is no pair, the step even when the run is
        // shorter: what follows rewrites them, as 40 bytes and more read as
        // at least 20 characters of one unit each, and the buffer has room
        // for 20.
        while (n - i >= 40 && limit - pos >= 20) {
            const unsigned char* p = s + i;
            TK_PREFETCH(p + kPrefetchAhead);
            std::uint64_t w = InMemoryOrder(pairs[PairAt(p)], pairs[PairAt(p + 2)],
                                            pairs[PairAt(p + 4)], pairs[PairAt(p + 6)]);
            if (kWrite) std::memcpy(out + pos, &w, sizeof w);
            // The bytes themselves answer first: an ASCII byte where a lead
            // byte should be, the usual interruption, shows before the
            // table loads do. The table then says whether all four pairs
            // exist (trail bytes may be ASCII, as in Shift-JIS).
            std::uint64_t bytes;
            std::memcpy(&bytes, p, sizeof bytes);
            if ((bytes & kLeadHighBits) == kLeadHighBits && !HasNoChar(w)) {
                i += 8;
                pos += 4;
                continue;
            }
            // Pairs, then ASCII: both counts come from one look at the bytes,
            // not from the table, so the next word need not wait for it.
            unsigned high = HighByteMask16(p);
            unsigned k =
                static_cast<unsigned>(tk::detail::CountTrailingZeros32((~high & 0x55u) | 0x100u)) /
                2;
            if (k == 4 || (NoCharLanes(w) & FirstLanes(k))) break;  // a pair the page lacks...
            unsigned ascii = static_cast<unsigned>(
                tk::detail::CountTrailingZeros32(high >> 2 * k | 1u << (16 - 2 * k)));
            i += 2 * k;
            pos += k;
            if (kWrite) Widen16(s + i, out + pos);
            i += ascii;
            pos += ascii;
            if (2 * k + ascii == 16) break;  // the ASCII may go on: the runs take it
        }
        if (i >= n || s[i] < 0x80) continue;
        // One character the words could not take: a byte that pairs with
        // nothing, or a pair near the end of the text or the buffer.
        if (pos == limit) {
            r.full = true;
            break;
        }
        char16_t c = i + 1 < n ? pairs[PairAt(s + i)] : kNoChar;
        if (c != kNoChar) {
            i += 2;
        } else {
            c = single[s[i]];  // '?' for a lead byte without a pair: the
            ++i;               // byte after it is read afresh
        }
        if (kWrite) out[pos] = c;
        ++pos;
    }
    r.length = pos;
    return r;
}

// ---- writing ------------------------------------------------------------------

inline bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The code of a unit the page lacks: the default character, once for a
// surrogate pair (i is then moved past its low half).
std::uint16_t Unmapped(const char16_t* s, std::size_t n, std::size_t& i, char defaultChar,
                       TableConversion& r) {
    r.usedDefault = true;
    if (IsHighSurrogate(s[i - 1]) && i < n && IsLowSurrogate(s[i])) ++i;
    return static_cast<unsigned char>(defaultChar);
}

// Writes the character at s[i] alone, measured against the buffer.
// Returns false when it does not fit (r.full set; a pair is never split).
template <bool kWrite>
bool EncodeOne(const std::uint16_t* codes, const char16_t* s, std::size_t n, std::size_t& i,
               char* out, std::size_t limit, std::size_t& pos, char defaultChar,
               TableConversion& r) {
    std::uint16_t code = codes[s[i]];
    std::size_t next = i + 1;
    if (code == PageCodec::kUnmapped) code = Unmapped(s, n, next, defaultChar, r);
    std::size_t size = code > 0xFF ? 2 : 1;
    if (limit - pos < size) {
        r.full = true;
        return false;
    }
    if (kWrite) {
        if (size == 2) out[pos] = static_cast<char>(code >> 8);
        out[pos + size - 1] = static_cast<char>(code);
    }
    pos += size;
    i = next;
    return true;
}

template <bool kWrite>
TableConversion EncodeSingleByte(const PageCodec& codec, const char16_t* s, std::size_t n,
                                 char* out, std::size_t cap, char defaultChar) {
    const std::uint16_t* const codes = codec.Codes();
    const std::size_t limit = kWrite ? cap : SIZE_MAX;
    TableConversion r;
    std::size_t i = 0, pos = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            std::size_t run =
                NarrowAsciiRun(s + i, std::min(n - i, limit - pos), kWrite ? out + pos : nullptr);
            i += run;
            pos += run;
            if (i < n && s[i] < 0x80) {  // the buffer ran out within the run
                r.full = true;
                break;
            }
        }
        if (i >= n) break;
        // Unit by unit, a few ASCII units included, until sixteen ASCII
        // units in a row go back to the runs. Every character is one byte.
        const char16_t* p = s + i;
        const char16_t* const end = p + std::min(n - i, limit - pos);
        if (p == end) {
            r.full = true;
            break;
        }
        while (p < end) {
            char16_t u = *p;
            if (u < 0x80 && s + n - p >= 16 && IsAsciiBlock(p)) break;
            std::uint16_t code = codes[u];
            ++p;
            if (code == PageCodec::kUnmapped) {
                std::size_t next = static_cast<std::size_t>(p - s);
                code = Unmapped(s, n, next, defaultChar, r);
                p = s + next;  // a surrogate pair is one character
            }
            if (kWrite) out[pos] = static_cast<char>(code);
            ++pos;
        }
        i = static_cast<std::size_t>(p - s);
    }
    r.length = pos;
    return r;
}

template <bool kWrite>
TableConversion EncodeDoubleByte(const PageCodec& codec, const char16_t* s, std::size_t n,
                                 char* out, std::size_t cap, char defaultChar) {
    const std::uint16_t* const codes = codec.Codes();
    const std::size_t limit = kWrite ? cap : SIZE_MAX;
    // Adding 0x100 to a code sets bit 15 exactly when it is a pair: lead
    // bytes are 0x81-0xFE, single bytes have a zero high byte, and the one
    // code that carries into the next lane (kUnmapped) fails its own test.
    constexpr std::uint64_t kLaneLeadOne = 0x0100010001000100u;
    TableConversion r;
    std::size_t i = 0, pos = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            std::size_t run =
                NarrowAsciiRun(s + i, std::min(n - i, limit - pos), kWrite ? out + pos : nullptr);
            i += run;
            pos += run;
            if (i < n && s[i] < 0x80) {  // the buffer ran out within the run
                r.full = true;
                break;
            }
        }
        // Words of four pairs, and the few ASCII units between them in one
        // 16-wide step. Both are stored whole, the word even when a lane is
        // no pair, the step even when the run is shorter: what follows
        // rewrites them, as 48 units and more write at least 24 bytes (a
        // surrogate pair may write one), and the buffer has room for all
        // the characters that begin in those 24.
        while (n - i >= 48 && limit - pos >= 32) {
            const char16_t* p = s + i;
            // The codes read as a big-endian word: lead, trail, lead, trail...
            std::uint64_t w = std::uint64_t{codes[p[0]]} << 48 | std::uint64_t{codes[p[1]]} << 32 |
                              std::uint64_t{codes[p[2]]} << 16 | codes[p[3]];
            if (kWrite) {
                std::uint64_t bytes = kLittleEndian ? ByteSwap64(w) : w;
                std::memcpy(out + pos, &bytes, sizeof bytes);
            }
            std::uint64_t notPairs = ~(w + kLaneLeadOne) & kLaneHighBits;
            if (!notPairs) {
                i += 4;
                pos += 8;
                continue;
            }
            // Pairs, then ASCII: both counts come from one look at the
            // units, not from the table, so the next word need not wait
            // for it.
            unsigned other = NonAsciiUnitMask16(p);
            unsigned lead = static_cast<unsigned>(tk::detail::CountTrailingZeros32(~other));
            if (lead >= 4) break;  // a single byte, a character the page lacks...
            // The pairs before the ASCII (lane 0 on top of the word).
            if (lead && (notPairs >> (64 - 16 * lead))) break;
            unsigned ascii = static_cast<unsigned>(
                tk::detail::CountTrailingZeros32(other >> lead | 1u << (16 - lead)));
            i += lead;
            pos += 2 * lead;
            if (kWrite) Narrow16(s + i, out + pos);
            i += ascii;
            pos += ascii;
            if (lead + ascii == 16) break;  // the ASCII may go on: the runs take it
        }
        if (i >= n || s[i] < 0x80) continue;
        // One character the words could not take: a single byte, one the
        // page lacks, or a pair near the end of the text or the buffer.
        if (!EncodeOne<kWrite>(codes, s, n, i, out, limit, pos, defaultChar, r)) break;
    }
    r.length = pos;
    return r;
}

}  // namespace

void ReleaseCodePageTables() {
    for (auto& codec : g_codecs) delete codec.exchange(nullptr);
}

TableConversion DecodeWithTable(const CodePageTable& table, const unsigned char* src, std::size_t n,
                                char16_t* out, std::size_t cap) {
    const PageCodec& codec = CodecFor(table);
    if (!codec.Pairs())
        return out ? DecodeSingleByte<true>(codec, src, n, out, cap)
                   : DecodeSingleByte<false>(codec, src, n, nullptr, 0);
    return out ? DecodeDoubleByte<true>(codec, src, n, out, cap)
               : DecodeDoubleByte<false>(codec, src, n, nullptr, 0);
}

TableConversion EncodeWithTable(const CodePageTable& table, const char16_t* src, std::size_t n,
                                char* out, std::size_t cap, char defaultChar) {
    const PageCodec& codec = CodecFor(table);
    if (!codec.Pairs())
        return out ? EncodeSingleByte<true>(codec, src, n, out, cap, defaultChar)
                   : EncodeSingleByte<false>(codec, src, n, nullptr, 0, defaultChar);
    return out ? EncodeDoubleByte<true>(codec, src, n, out, cap, defaultChar)
               : EncodeDoubleByte<false>(codec, src, n, nullptr, 0, defaultChar);
}

}  // namespace tk::platform::detail
