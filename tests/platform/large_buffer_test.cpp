// Large buffers: mapped ones start on a huge page's boundary, and a resize
// keeps the bytes it covers, whether it moves pages, cuts them back or
// crosses to or from the general heap.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/large_buffer.h"

namespace {

constexpr std::size_t kMB = std::size_t(1) << 20;

// Bytes that tell one offset from another.
unsigned char Pattern(std::size_t i) {
    return static_cast<unsigned char>((i * 131) ^ (i >> 12));
}

void Fill(void* p, std::size_t bytes) {
    auto* b = static_cast<unsigned char*>(p);
    for (std::size_t i = 0; i < bytes; i += 509) b[i] = Pattern(i);
    b[bytes - 1] = Pattern(bytes - 1);
}

// Whether the first `bytes` of a buffer Fill filled with `filled` hold.
bool Holds(const void* p, std::size_t bytes, std::size_t filled) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < bytes; i += 509)
        if (b[i] != Pattern(i)) return false;
    return bytes < filled || b[bytes - 1] == Pattern(bytes - 1);
}

}  // namespace

TEST(LargeBuffer, ResizesKeepTheBytesTheyCover) {
    struct Row {
        const char* name;
        std::size_t from, to;
    } rows[] = {
        {"mapped, grown by moving its pages", 6 * kMB, 40 * kMB},
        {"mapped, grown by less than a page", 8 * kMB, 8 * kMB + 100},
        {"mapped, cut back where it lies", 40 * kMB, 6 * kMB + 4097},
        {"from the heap to a mapping", 1 * kMB, 12 * kMB},
        {"from a mapping to the heap", 12 * kMB, 1 * kMB},
    };
    for (const Row& row : rows) {
        void* p = tk::platform::AllocLargeBuffer(row.from);
        Fill(p, row.from);
        void* q = tk::platform::ResizeLargeBuffer(p, row.from, row.to);
        const std::size_t kept = row.from < row.to ? row.from : row.to;
        EXPECT_TRUE(Holds(q, kept, row.from)) << row.name;
        if (row.to >= 4 * kMB) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(q) % (2 * kMB), 0u) << row.name;
        }
        std::memset(static_cast<char*>(q) + kept, 0x5A, row.to - kept);  // all of it writable
        tk::platform::FreeLargeBuffer(q, row.to);
    }
}
