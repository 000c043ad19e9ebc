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

// ---- reading ------------------------------------------------------------------

// One byte sequence at s[0..n), s[0] >= 0x80: its character ('?' when it
// has none) and how many bytes it took.
inline char16_t DecodeHigh(const CodePageTable& table, const unsigned char* s, std::size_t n,
                           std::size_t& used) {
    unsigned b = s[0] - 0x80u;
    char16_t c = table.high[b];
    used = 1;
    if (c != kNoChar) return c;
    if (table.rows && n > 1) {
        const DbcsRow& row = table.rows[b];
        unsigned k = static_cast<unsigned>(s[1]) - row.first;
        if (k < row.count) {
            char16_t pair = table.cells[row.offset + k];
            if (pair != kNoChar) {
                used = 2;
                return pair;
            }
        }
    }
    return u'?';  // an undefined byte, or a lead byte without its trail
}

template <bool kWrite>
TableConversion Decode(const CodePageTable& table, const unsigned char* s, std::size_t n,
                       char16_t* out, std::size_t cap) {
    TableConversion r;
    std::size_t i = 0, pos = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            std::size_t room = kWrite ? std::min(n - i, cap - pos) : n - i;
            std::size_t run = WidenAsciiRun(s + i, room, kWrite ? out + pos : nullptr);
            i += run;
            pos += run;
            if (i >= n) break;
            if (s[i] < 0x80) {  // the run stopped for want of room
                r.full = true;
                break;
            }
        }
        // Every sequence gives one unit, so room is one test per character.
        while (i < n && s[i] >= 0x80) {
            if (kWrite && pos == cap) {
                r.full = true;
                r.length = pos;
                return r;
            }
            std::size_t used;
            char16_t c = DecodeHigh(table, s + i, n - i, used);
            if (kWrite) out[pos] = c;
            ++pos;
            i += used;
        }
    }
    r.length = pos;
    return r;
}

// ---- writing ------------------------------------------------------------------

// Unit -> bytes: 0 none, below 0x100 one byte, else lead << 8 | trail. Two
// levels: the high byte of a unit picks a block of 256 codes (block 0 is
// empty), the low byte the code inside it.
class Encoder {
  public:
    explicit Encoder(const CodePageTable& table) : codes_(256, 0) {
        std::fill(std::begin(index_), std::end(index_), std::uint16_t{0});
        for (unsigned b = 0x80; b <= 0xFF; ++b) {
            char16_t c = table.high[b - 0x80];
            if (c != kNoChar) Set(c, static_cast<std::uint16_t>(b));
        }
        if (table.rows) {
            for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
                const DbcsRow& row = table.rows[lead - 0x80];
                for (unsigned k = 0; k < row.count; ++k) {
                    char16_t c = table.cells[row.offset + k];
                    if (c != kNoChar)
                        Set(c, static_cast<std::uint16_t>(lead << 8 | (row.first + k)));
                }
            }
        }
        // Where several sequences read as one character, the Windows choice.
        for (std::size_t k = 0; k < table.preferredCount; ++k)
            Set(table.preferred[k].ch, table.preferred[k].bytes);
    }

    std::uint16_t Lookup(char16_t c) const {
        return codes_[static_cast<std::size_t>(index_[c >> 8]) * 256 + (c & 0xFF)];
    }

  private:
    void Set(char16_t c, std::uint16_t code) {
        std::uint16_t& block = index_[c >> 8];
        if (block == 0) {
            block = static_cast<std::uint16_t>(codes_.size() / 256);
            codes_.resize(codes_.size() + 256, 0);
        }
        codes_[static_cast<std::size_t>(block) * 256 + (c & 0xFF)] = code;
    }

    std::uint16_t index_[256];
    std::vector<std::uint16_t> codes_;
};

// One encoder per table, built by the first thread that needs it.
struct EncoderSlot {
    std::once_flag once;
    std::unique_ptr<const Encoder> encoder;
};
EncoderSlot g_encoders[kCodePageTableCount];

const Encoder& EncoderFor(const CodePageTable& table) {
    EncoderSlot& slot = g_encoders[&table - kCodePageTables];
    std::call_once(slot.once, [&] { slot.encoder = std::make_unique<const Encoder>(table); });
    return *slot.encoder;
}

inline bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

template <bool kWrite>
TableConversion Encode(const Encoder& encoder, const char16_t* s, std::size_t n, char* out,
                       std::size_t cap, char defaultChar) {
    TableConversion r;
    std::size_t i = 0, pos = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            std::size_t room = kWrite ? std::min(n - i, cap - pos) : n - i;
            std::size_t run = NarrowAsciiRun(s + i, room, kWrite ? out + pos : nullptr);
            i += run;
            pos += run;
            if (i >= n) break;
            if (s[i] < 0x80) {  // the run stopped for want of room
                r.full = true;
                break;
            }
        }
        while (i < n && s[i] >= 0x80) {
            std::uint16_t code = encoder.Lookup(s[i]);
            std::size_t used = 1;
            if (code == 0) {
                code = static_cast<unsigned char>(defaultChar);
                r.usedDefault = true;
                if (IsHighSurrogate(s[i]) && i + 1 < n && IsLowSurrogate(s[i + 1])) used = 2;
            }
            std::size_t size = code > 0xFF ? 2 : 1;
            if (kWrite) {
                if (cap - pos < size) {  // a pair is never split
                    r.full = true;
                    r.length = pos;
                    return r;
                }
                if (size == 2) out[pos] = static_cast<char>(code >> 8);
                out[pos + size - 1] = static_cast<char>(code & 0xFF);
            }
            pos += size;
            i += used;
        }
    }
    r.length = pos;
    return r;
}

}  // namespace

TableConversion DecodeWithTable(const CodePageTable& table, const unsigned char* src, std::size_t n,
                                char16_t* out, std::size_t cap) {
    return out ? Decode<true>(table, src, n, out, cap) : Decode<false>(table, src, n, nullptr, 0);
}

TableConversion EncodeWithTable(const CodePageTable& table, const char16_t* src, std::size_t n,
                                char* out, std::size_t cap, char defaultChar) {
    const Encoder& encoder = EncoderFor(table);
    return out ? Encode<true>(encoder, src, n, out, cap, defaultChar)
               : Encode<false>(encoder, src, n, nullptr, 0, defaultChar);
}

}  // namespace tk::platform::detail
