// Buffers for whole files, their decoded text and long strings (megabytes
// at a time). Large ones are mapped straight from the kernel on a 2 MB
// boundary and asked for huge pages, so filling them costs a few page
// faults instead of one per 4 KiB page.
#ifndef TAVIKFCU_PLATFORM_LARGE_BUFFER_H
#define TAVIKFCU_PLATFORM_LARGE_BUFFER_H

#include <cstddef>

namespace tk::platform {

// Room for bytes; throws std::bad_alloc. Contents undefined.
void* AllocLargeBuffer(std::size_t bytes);
// Frees a buffer of AllocLargeBuffer; bytes must be the size asked for.
void FreeLargeBuffer(void* buffer, std::size_t bytes);
// A buffer of AllocLargeBuffer (bytes asked for) resized to newBytes, as
// if AllocLargeBuffer(newBytes) had made it, the first bytes kept. A mapped
// buffer shrinks where it lies and grows by moving its pages, without a
// copy. Throws std::bad_alloc; the buffer is then unchanged.
void* ResizeLargeBuffer(void* buffer, std::size_t bytes, std::size_t newBytes);

// Asks the kernel to back the whole 2 MB pages within [p, p + bytes) with
// huge pages where it has them; a hint, for memory of any origin.
void AdviseHugePages(void* p, std::size_t bytes);

// Asks the kernel to map every page within [p, p + bytes) for writing now,
// in one call, instead of one page fault at a time while the memory is
// filled; a hint, for memory of any origin. Pages already mapped stay as
// they are.
void PrefaultForWrite(void* p, std::size_t bytes);

// Lets the kernel take back the whole pages within [p, p + bytes) when it
// runs short of memory, while the range stays ours: until the next write,
// a page reads as it was or as zeros. Memory kept for reuse costs then
// nothing under pressure, and a page written before the kernel took it
// back costs no fault. A hint, for memory of any origin.
void LetKernelReclaim(void* p, std::size_t bytes);

// Owns one large buffer of T.
template <typename T>
class LargeBuffer {
  public:
    explicit LargeBuffer(std::size_t count)
        : m_data(static_cast<T*>(AllocLargeBuffer(count * sizeof(T)))),
          m_bytes(count * sizeof(T)) {}
    ~LargeBuffer() { FreeLargeBuffer(m_data, m_bytes); }
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;
    T* get() const { return m_data; }

  private:
    T* m_data;
    std::size_t m_bytes;
};

}  // namespace tk::platform

#endif  // TAVIKFCU_PLATFORM_LARGE_BUFFER_H
