// Table-driven conversion for the Windows code pages: one lookup per
// character, ASCII runs sixteen at a time.
#include "platform/codepage_table_codec.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ascii_runs.h"

namespace tk::platform::detail {

namespace {

// What a page needs at run time, built from its table on first use: a row
// of 256 cells for every byte (so reading a character is two loads and no
// range test) and the unit -> bytes table for writing. About 130 KB for a
// double-byte page, 3 KB for a single-byte one; only pages in use pay.
class PageCodec {
  public:
    // Writing codes: one byte (< 0x100), lead << 8 | trail, or kUnmapped.
    // No page has FF as a lead byte, so FFFF is never a pair.
    static constexpr std::uint16_t kUnmapped = 0xFFFF;

    explicit PageCodec(const CodePageTable& table) : codes_(256, kUnmapped) {
        std::fill(std::begin(index_), std::end(index_), std::uint16_t{0});
        for (unsigned b = 0; b < 0x80; ++b) {
            single_[b] = static_cast<char16_t>(b);
            Set(static_cast<char16_t>(b), static_cast<std::uint16_t>(b));
        }
        std::size_t leads = 0;
        for (unsigned b = 0x80; b <= 0xFF; ++b) {
            char16_t c = table.high[b - 0x80];
            single_[b] = c == kNoChar ? u'?' : c;  // undefined byte, or lone lead byte
            if (c != kNoChar) Set(c, static_cast<std::uint16_t>(b));
            leads += table.rows && c == kNoChar;
        }
        // Row 0 holds no pair: every byte that leads none points at it.
        cells_.assign((leads + 1) * 256, kNoChar);
        std::fill(std::begin(rows_), std::end(rows_), cells_.data());
        char16_t* next = cells_.data() + 256;
        for (unsigned lead = 0x80; table.rows && lead <= 0xFF; ++lead) {
            if (table.high[lead - 0x80] != kNoChar) continue;
            rows_[lead] = next;
            const DbcsRow& row = table.rows[lead - 0x80];
            for (unsigned k = 0; k < row.count; ++k) {
                char16_t c = table.cells[row.offset + k];
                next[row.first + k] = c;
                if (c != kNoChar) Set(c, static_cast<std::uint16_t>(lead << 8 | (row.first + k)));
            }
            next += 256;
        }
        // Where several sequences read as one character, the Windows choice.
        for (std::size_t k = 0; k < table.preferredCount; ++k)
            Set(table.preferred[k].ch, table.preferred[k].bytes);
    }

    // The character of byte b read alone ('?' when it has none).
    const char16_t* Single() const { return single_; }
    // The 256 cells of the pairs byte b leads (kNoChar: no pair).
    const char16_t* const* Rows() const { return rows_; }

    std::uint16_t Code(char16_t c) const {
        return codes_[static_cast<std::size_t>(index_[c >> 8]) * 256 + (c & 0xFF)];
    }

  private:
    // Two levels: the high byte of a unit picks a block of 256 codes (block
    // 0 holds none), the low byte the code inside it.
    void Set(char16_t c, std::uint16_t code) {
        std::uint16_t& block = index_[c >> 8];
        if (block == 0) {
            block = static_cast<std::uint16_t>(codes_.size() / 256);
            codes_.resize(codes_.size() + 256, kUnmapped);
        }
        codes_[static_cast<std::size_t>(block) * 256 + (c & 0xFF)] = code;
    }

    char16_t single_[256];
    const char16_t* rows_[256];
    std::vector<char16_t> cells_;
    std::uint16_t index_[256];
    std::vector<std::uint16_t> codes_;
};

// One codec per table, built by the first thread that needs it.
struct CodecSlot {
    std::once_flag once;
    std::unique_ptr<const PageCodec> codec;
};
CodecSlot g_codecs[kCodePageTableCount];

const PageCodec& CodecFor(const CodePageTable& table) {
    CodecSlot& slot = g_codecs[&table - kCodePageTables];
    std::call_once(slot.once, [&] { slot.codec = std::make_unique<const PageCodec>(table); });
    return *slot.codec;
}

// ---- reading ------------------------------------------------------------------

template <bool kWrite>
TableConversion Decode(const PageCodec& codec, const unsigned char* s, std::size_t n, char16_t* out,
                       std::size_t cap) {
    const char16_t* const single = codec.Single();
    const char16_t* const* const rows = codec.Rows();
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
        // Each step reads at most two bytes and writes one unit, so for
        // `steps` steps a lead byte can always look at the next byte and
        // the buffer always has room.
        std::size_t steps = std::min((n - i - 1) / 2, limit - pos);
        for (; steps > 0 && s[i] >= 0x80; --steps) {
            char16_t c = rows[s[i]][s[i + 1]];
            if (c != kNoChar) {
                i += 2;
            } else {
                c = single[s[i]];  // '?' for a lead byte without a pair: the
                ++i;               // next byte is read afresh
            }
            if (kWrite) out[pos] = c;
            ++pos;
        }
        if (steps > 0 || s[i] < 0x80) continue;
        // Near the end of the text or of the buffer: one character at a time.
        if (pos == limit) {
            r.full = true;
            break;
        }
        char16_t c = i + 1 < n ? rows[s[i]][s[i + 1]] : kNoChar;
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

template <bool kWrite>
TableConversion Encode(const PageCodec& codec, const char16_t* s, std::size_t n, char* out,
                       std::size_t cap, char defaultChar) {
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
        // buffer has room; near its end, each character is measured.
        std::size_t steps = std::min(n - i, (limit - pos) / 2);
        bool measure = steps == 0;
        if (measure) steps = 1;
        for (; steps > 0 && i < n && s[i] >= 0x80; --steps) {
            std::uint16_t code = codec.Code(s[i]);
            ++i;
            if (code == PageCodec::kUnmapped) {
                code = static_cast<unsigned char>(defaultChar);
                r.usedDefault = true;
                if (IsHighSurrogate(s[i - 1]) && i < n && IsLowSurrogate(s[i])) ++i;
            }
            if (measure && limit - pos < (code > 0xFF ? 2u : 1u)) {  // a pair is never split
                r.full = true;
                r.length = pos;
                return r;
            }
            if (code > 0xFF) {
                if (kWrite) out[pos] = static_cast<char>(code >> 8);
                ++pos;
            }
            if (kWrite) out[pos] = static_cast<char>(code);
            ++pos;
        }
    }
    r.length = pos;
    return r;
}

}  // namespace

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
