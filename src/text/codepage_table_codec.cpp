// Table-driven conversion for the Windows code pages: one lookup per
// character, ASCII runs sixteen at a time.
#include "text/codepage_table_codec.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

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

// ---- reading ------------------------------------------------------------------

template <bool kWrite>
TableConversion Decode(const PageCodec& codec, const unsigned char* s, std::size_t n, char16_t* out,
                       std::size_t cap) {
    const char16_t* const single = codec.Single();
    const char16_t* const pairs = codec.Pairs();
    const std::size_t limit = kWrite ? cap : SIZE_MAX;
    TableConversion r;
    std::size_t i = 0, pos = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            std::size_t room = std::min(n - i, limit - pos);
            std::size_t run = WidenAsciiRun(s + i, room, kWrite ? out + pos : nullptr);
            i += run;
            pos += run;
            if (i >= n) break;
            if (s[i] < 0x80) {  // the run stopped for want of room
                r.full = true;
                break;
            }
        }
        // Each character reads at most two bytes and writes one unit, so for
        // `steps` characters a lead byte can always look at the byte after
        // it and the buffer always has room. A few ASCII bytes (digits, a
        // newline in Chinese text) are read here, a long stretch goes back
        // to the runs.
        std::size_t steps = std::min((n - i - 1) / 2, limit - pos);
        const unsigned char* p = s + i;
        const std::size_t end = pos + steps;
        if (pairs) {
            for (; pos < end; ++pos) {
                char16_t c = pairs[PageCodec::PairIndex(p[0], p[1])];
                if (c != kNoChar) {
                    p += 2;
                } else {
                    if (p[0] < 0x80 && s + n - p >= 16 && IsAsciiBlock(p)) break;
                    c = single[p[0]];  // '?' for a lead byte without a pair: the
                    ++p;               // byte after it is read afresh
                }
                if (kWrite) out[pos] = c;
            }
        } else {
            for (; pos < end; ++pos) {
                if (p[0] < 0x80 && s + n - p >= 16 && IsAsciiBlock(p)) break;
                if (kWrite) out[pos] = single[p[0]];
                ++p;
            }
        }
        steps = end - pos;
        i = static_cast<std::size_t>(p - s);
        if (steps > 0 || s[i] < 0x80) continue;
        // Near the end of the text or of the buffer: one character at a time.
        if (pos == limit) {
            r.full = true;
            break;
        }
        char16_t c = pairs && i + 1 < n ? pairs[PageCodec::PairIndex(s[i], s[i + 1])] : kNoChar;
        if (c != kNoChar) {
            i += 2;
        } else {
            c = single[s[i]];
            ++i;
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

template <bool kWrite>
TableConversion Encode(const PageCodec& codec, const char16_t* s, std::size_t n, char* out,
                       std::size_t cap, char defaultChar) {
    const std::uint16_t* const codes = codec.Codes();
    const std::size_t limit = kWrite ? cap : SIZE_MAX;
    TableConversion r;
    std::size_t i = 0, pos = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            std::size_t room = std::min(n - i, limit - pos);
            std::size_t run = NarrowAsciiRun(s + i, room, kWrite ? out + pos : nullptr);
            i += run;
            pos += run;
            if (i >= n) break;
            if (s[i] < 0x80) {  // the run stopped for want of room
                r.full = true;
                break;
            }
        }
        // A character takes at most two bytes: for `steps` characters the
        // buffer has room. A few ASCII units are written here, a long
        // stretch goes back to the runs.
        std::size_t steps = std::min(n - i, (limit - pos) / 2);
        const char16_t* p = s + i;
        const char16_t* end = p + steps;
        while (p < end) {
            char16_t u = *p;
            if (u < 0x80 && s + n - p >= 16 && IsAsciiBlock(p)) break;
            std::uint16_t code = codes[u];
            ++p;
            if (code == PageCodec::kUnmapped) {
                i = static_cast<std::size_t>(p - s);
                code = Unmapped(s, n, i, defaultChar, r);
                p = s + i;
                end = std::min(end, s + n);  // a surrogate pair took two units
            }
            if (code > 0xFF) {
                if (kWrite) {
                    const char pair[2] = {static_cast<char>(code >> 8), static_cast<char>(code)};
                    std::memcpy(out + pos, pair, 2);
                }
                pos += 2;
            } else {
                if (kWrite) out[pos] = static_cast<char>(code);
                ++pos;
            }
        }
        steps = p < end ? static_cast<std::size_t>(end - p) : 0;
        i = static_cast<std::size_t>(p - s);
        if (steps > 0 || i >= n) continue;
        // Near the end of the buffer: one character, measured.
        char16_t u = s[i];
        std::uint16_t code = codes[u];
        std::size_t next = i + 1;
        if (code == PageCodec::kUnmapped) code = Unmapped(s, n, next, defaultChar, r);
        std::size_t size = code > 0xFF ? 2 : 1;
        if (limit - pos < size) {  // a pair is never split
            r.full = true;
            break;
        }
        if (kWrite) {
            if (size == 2) out[pos] = static_cast<char>(code >> 8);
            out[pos + size - 1] = static_cast<char>(code);
        }
        pos += size;
        i = next;
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
    return out ? Decode<true>(codec, src, n, out, cap) : Decode<false>(codec, src, n, nullptr, 0);
}

TableConversion EncodeWithTable(const CodePageTable& table, const char16_t* src, std::size_t n,
                                char* out, std::size_t cap, char defaultChar) {
    const PageCodec& codec = CodecFor(table);
    return out ? Encode<true>(codec, src, n, out, cap, defaultChar)
               : Encode<false>(codec, src, n, nullptr, 0, defaultChar);
}

}  // namespace tk::platform::detail
