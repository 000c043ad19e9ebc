// Length-prefixed UTF-16 strings with the OleAut32 BSTR contract: a 4-byte
// byte count, the units, a NUL unit; the pointer handed out is to the units.
#include <cstdlib>
#include <cstring>

#include "tavikfcu/TKTypes.h"

namespace {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);

std::uint32_t* PrefixOf(BSTR s) {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(s) - kPrefix);
}

// Byte counts must fit the 32-bit prefix.
bool LengthFits(unsigned int len) {
    return len <= (0xFFFFFFFFu - kPrefix - 2) / 2;
}

BSTR Fill(void* block, const TKWCHAR* src, unsigned int len) {
    *static_cast<std::uint32_t*>(block) = len * 2;
    auto* chars = reinterpret_cast<TKWCHAR*>(static_cast<char*>(block) + kPrefix);
    if (src) std::memmove(chars, src, static_cast<std::size_t>(len) * 2);
    chars[len] = 0;
    return chars;
}

}  // namespace

extern "C" {

TK_API BSTR tkSysAllocStringLen(const TKWCHAR* src, unsigned int len) {
    if (!LengthFits(len)) return nullptr;
    void* block = std::malloc(kPrefix + (static_cast<std::size_t>(len) + 1) * 2);
    return block ? Fill(block, src, len) : nullptr;
}

TK_API int tkSysReAllocStringLen(BSTR* pbstr, const TKWCHAR* src, unsigned int len) {
    if (!pbstr) return 0;
    // A fresh block first: src may point into the old string.
    BSTR fresh = tkSysAllocStringLen(src, len);
    if (!fresh) return 0;
    tkSysFreeString(*pbstr);
    *pbstr = fresh;
    return 1;
}

TK_API void tkSysFreeString(BSTR bstr) {
    if (bstr) std::free(PrefixOf(bstr));
}

TK_API unsigned int tkSysStringLen(BSTR bstr) {
    return bstr ? *PrefixOf(bstr) / 2 : 0;
}

}  // extern "C"
