// Helpers shared by the codec tests: ownership of returned buffers, text
// conversions and the list of code paths this machine can run.
#ifndef TAVIKFCU_TESTS_CODEC_TEST_UTIL_H
#define TAVIKFCU_TESTS_CODEC_TEST_UTIL_H

#include <memory>
#include <string>
#include <vector>

#include "codec/codec_kernels.h"
#include "tavikfcu/TKCodec.h"
#include "tavikfcu/TKCore.h"

namespace codec_test {

using WString = std::basic_string<TKWCHAR>;

struct FreeMem {
    void operator()(void* p) const { tkFreeMem(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeMem>;

inline WString Widen(const std::string& s) {
    WString w;
    for (unsigned char c : s) w.push_back(c);
    return w;
}

inline std::string Narrow(const TKWCHAR* s) {
    std::string n;
    for (; *s; ++s) n.push_back(static_cast<char>(*s));
    return n;
}

inline std::vector<unsigned char> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// Every code path tier the CPU supports, portable first.
inline std::vector<tk::detail::CodecPath> SupportedPaths() {
    std::vector<tk::detail::CodecPath> paths;
    for (int i = 0; i < tk::detail::kCodecPathCount; ++i) {
        const auto p = static_cast<tk::detail::CodecPath>(i);
        if (tk::detail::CodecPathSupported(p)) paths.push_back(p);
    }
    return paths;
}

// Caps the code path for one scope.
class ScopedPath {
  public:
    explicit ScopedPath(tk::detail::CodecPath cap) : m_previous(tk::detail::LimitCodecPath(cap)) {}
    ~ScopedPath() { tk::detail::LimitCodecPath(m_previous); }
    ScopedPath(const ScopedPath&) = delete;
    ScopedPath& operator=(const ScopedPath&) = delete;

  private:
    tk::detail::CodecPath m_previous;
};

// What a decoder returned, in a form that compares and prints.
struct Decoded {
    int count = 0;
    bool null = true;
    std::vector<unsigned char> bytes;  // the first count bytes
    unsigned char spare = 0;           // the byte after them
    bool operator==(const Decoded& o) const {
        return count == o.count && null == o.null && bytes == o.bytes && spare == o.spare;
    }
};

template <typename Unit>
Decoded Decode(int (*fn)(const Unit*, unsigned int, unsigned char**), const Unit* text,
               unsigned int length) {
    unsigned char* out = reinterpret_cast<unsigned char*>(&out);  // must be overwritten
    Decoded d;
    d.count = fn(text, length, &out);
    Owned<unsigned char> owned(out);
    d.null = out == nullptr;
    if (out) {
        d.bytes.assign(out, out + d.count);
        d.spare = out[d.count];
    }
    return d;
}

}  // namespace codec_test

#endif  // TAVIKFCU_TESTS_CODEC_TEST_UTIL_H
