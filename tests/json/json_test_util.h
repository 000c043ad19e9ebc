// Small helpers shared by the JSON tests.
#ifndef TAVIKFCU_TESTS_JSON_TEST_UTIL_H
#define TAVIKFCU_TESTS_JSON_TEST_UTIL_H

#include <gtest/gtest.h>

#include <string>

#include "tavikfcu/TKJson.h"
#include "tavikfcu/TKString.h"

// The text of a CTKString (header length) as a std::u16string, so that
// gtest can compare and print it.
inline std::u16string U16(const CTKString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(static_cast<const TKWCHAR*>(s)),
                          static_cast<std::size_t>(s.GetLength()));
}

inline std::u16string U16(const TKWCHAR* s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}

// ASCII / UTF-8 literal widened to UTF-16 (tests keep to ASCII where they
// build text at run time).
inline std::u16string Widen(const std::string& s) {
    std::u16string out;
    for (unsigned char c : s) out.push_back(c);
    return out;
}

inline const TKWCHAR* W(const std::u16string& s) {
    return reinterpret_cast<const TKWCHAR*>(s.c_str());
}

// The value at a key path of obj, which must be there.
inline CMyJsonValue* At(const CMyJsonObj& obj, const TKWCHAR* path) {
    CMyJsonValue* v = nullptr;
    EXPECT_TRUE(obj.Value(path, v));
    return v;
}

#endif  // TAVIKFCU_TESTS_JSON_TEST_UTIL_H
