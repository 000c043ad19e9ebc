// What the JSON benchmarks share: the peers' types, the heap in use, the
// count of values in a document, and the check that a peer read the same
// document as TavikFCU before either side is timed.
//
// "The same document": the same kinds in the same order, the same keys and
// strings, numbers within one part in 1e15 (RapidJSON's default number
// reading is not always correctly rounded). This library keeps \u escapes
// as the letters they are written with; a peer decodes them, so where the
// strings differ, ours is compared with every u and four hex digits read as
// that code unit.
#ifndef TAVIKFCU_BENCH_JSON_PEERS_H
#define TAVIKFCU_BENCH_JSON_PEERS_H

#include <malloc.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"

#if HAVE_RAPIDJSON
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#endif
#if HAVE_NLOHMANN
#include <nlohmann/json.hpp>
#endif

namespace tkjsonbench {

#if HAVE_RAPIDJSON
using RapidUtf16 = rapidjson::UTF16<char16_t>;
using RapidDocument = rapidjson::GenericDocument<RapidUtf16>;
using RapidValue = rapidjson::GenericValue<RapidUtf16>;
#endif

inline std::size_t HeapInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    // Blocks in use, those the allocator mapped on its own included.
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#else
    const struct mallinfo info = mallinfo();
    return static_cast<std::size_t>(info.uordblks) + static_cast<std::size_t>(info.hblkhd);
#endif
}

inline std::u16string U16(const TKWCHAR* s, int n) {
    return std::u16string(reinterpret_cast<const char16_t*>(s), static_cast<std::size_t>(n));
}

inline std::u16string Utf8To16(const std::string& utf8) {
    int units = TKStringUtils::UTF82Unicode(utf8.c_str(), nullptr, 0);
    if (units <= 1) return std::u16string();
    std::u16string out(static_cast<std::size_t>(units), u'\0');
    TKStringUtils::UTF82Unicode(utf8.c_str(), reinterpret_cast<TKWCHAR*>(&out[0]), units);
    out.resize(static_cast<std::size_t>(units - 1));
    return out;
}

inline std::string Utf16To8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Values in a document, containers included.
inline std::size_t CountValues(const CMyJsonObj& obj);
inline std::size_t CountValues(CMyJsonValue& v) {
    std::size_t n = 1;
    if (v.IsArr())
        for (int i = 0; i < v.ValueArrLength(); ++i) n += CountValues(*v.ValueArrItem(i));
    else if (v.IsObj() && v.ValueObj())
        n += CountValues(*v.ValueObj()) - 1;
    return n;
}
inline std::size_t CountValues(const CMyJsonObj& obj) {
    std::size_t n = 1;
    CTKString key;
    CMyJsonValue* value;
    for (int i = 0; obj.Item(i, key, value); ++i) n += CountValues(*value);
    return n;
}

inline bool SameNumber(double a, double b) {
    return a == b || std::fabs(a - b) <= 1e-15 * std::fmax(std::fabs(a), std::fabs(b));
}

inline int HexDigit(char16_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline bool SameText(const std::u16string& ours, const std::u16string& peer) {
    if (ours == peer) return true;
    std::u16string decoded;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (ours[i] == 'u' && i + 4 < ours.size()) {
            int d[4];
            bool hex = true;
            for (int k = 0; hex && k < 4; ++k) hex = (d[k] = HexDigit(ours[i + 1 + k])) >= 0;
            if (hex) {
                decoded += static_cast<char16_t>(d[0] << 12 | d[1] << 8 | d[2] << 4 | d[3]);
                i += 4;
                continue;
            }
        }
        decoded += ours[i];
    }
    return decoded == peer;
}

// A peer document seen through what the comparison needs.
#if HAVE_RAPIDJSON
struct RapidView {
    static bool Same(CMyJsonValue& ours, const RapidValue& peer);
    static bool Same(const CMyJsonObj& ours, const RapidValue& peer) {
        if (!peer.IsObject() || static_cast<int>(peer.MemberCount()) != ours.ValueCount())
            return false;
        int i = 0;
        for (auto m = peer.MemberBegin(); m != peer.MemberEnd(); ++m, ++i) {
            CTKString key;
            CMyJsonValue* value;
            if (!ours.Item(i, key, value)) return false;
            if (!SameText(U16(key, key.GetLength()),
                          std::u16string(m->name.GetString(), m->name.GetStringLength())) ||
                !Same(*value, m->value))
                return false;
        }
        return true;
    }
};

inline bool RapidView::Same(CMyJsonValue& ours, const RapidValue& peer) {
    switch (ours.Type()) {
        case CMyJsonValue::eEmpty:
            return peer.IsNull();
        case CMyJsonValue::eStr: {
            const TKWCHAR* s = ours.ValueStr();
            std::u16string mine(reinterpret_cast<const char16_t*>(s));
            return peer.IsString() &&
                   SameText(mine, std::u16string(peer.GetString(), peer.GetStringLength()));
        }
        case CMyJsonValue::eNumber:
            return peer.IsNumber() && SameNumber(ours.ValueNumber(), peer.GetDouble());
        case CMyJsonValue::eBool:
            return peer.IsBool() && peer.GetBool() == ours.ValueBool();
        case CMyJsonValue::eArr: {
            if (!peer.IsArray() || static_cast<int>(peer.Size()) != ours.ValueArrLength())
                return false;
            for (int i = 0; i < ours.ValueArrLength(); ++i)
                if (!Same(*ours.ValueArrItem(i), peer[static_cast<rapidjson::SizeType>(i)]))
                    return false;
            return true;
        }
        case CMyJsonValue::eObj:
            return ours.ValueObj() && Same(*ours.ValueObj(), peer);
    }
    return false;
}
#endif

#if HAVE_NLOHMANN
struct NlohmannView {
    static bool Same(CMyJsonValue& ours, const nlohmann::json& peer);
    static bool Same(const CMyJsonObj& ours, const nlohmann::json& peer) {
        // nlohmann::json keeps one value per key in key order; a document
        // with repeated keys cannot match, which the generated ones avoid.
        if (!peer.is_object() || static_cast<int>(peer.size()) != ours.ValueCount()) return false;
        CTKString key;
        CMyJsonValue* value;
        for (int i = 0; ours.Item(i, key, value); ++i) {
            std::string k = Utf16To8(U16(key, key.GetLength()));
            auto it = peer.find(k);
            if (it == peer.end() || !Same(*value, *it)) return false;
        }
        return true;
    }
};

inline bool NlohmannView::Same(CMyJsonValue& ours, const nlohmann::json& peer) {
    switch (ours.Type()) {
        case CMyJsonValue::eEmpty:
            return peer.is_null();
        case CMyJsonValue::eStr:
            return peer.is_string() &&
                   SameText(std::u16string(reinterpret_cast<const char16_t*>(ours.ValueStr())),
                            Utf8To16(peer.get_ref<const std::string&>()));
        case CMyJsonValue::eNumber:
            return peer.is_number() && SameNumber(ours.ValueNumber(), peer.get<double>());
        case CMyJsonValue::eBool:
            return peer.is_boolean() && peer.get<bool>() == ours.ValueBool();
        case CMyJsonValue::eArr: {
            if (!peer.is_array() || static_cast<int>(peer.size()) != ours.ValueArrLength())
                return false;
            for (int i = 0; i < ours.ValueArrLength(); ++i)
                if (!Same(*ours.ValueArrItem(i), peer[static_cast<std::size_t>(i)])) return false;
            return true;
        }
        case CMyJsonValue::eObj:
            return ours.ValueObj() && Same(*ours.ValueObj(), peer);
    }
    return false;
}
#endif

}  // namespace tkjsonbench

#endif  // TAVIKFCU_BENCH_JSON_PEERS_H
