// The explicit stack of the model's whole-document walks (copying, writing):
// a model may nest as deep as memory allows, so no walk recurses. The first
// levels live in the object itself; deeper ones move to the heap.
#ifndef TAVIKFCU_JSON_WALK_STACK_H
#define TAVIKFCU_JSON_WALK_STACK_H

#include <cstring>
#include <type_traits>

#include "memory/heap.h"

namespace tk::detail {

template <typename T, int kInline = 32>
class WalkStack {
    static_assert(std::is_trivially_copyable<T>::value, "entries move with memcpy");

  public:
    WalkStack() = default;
    WalkStack(const WalkStack&) = delete;
    WalkStack& operator=(const WalkStack&) = delete;
    ~WalkStack() {
        if (m_items != m_inline) HeapFree(m_items);
    }

    bool Empty() const { return m_size == 0; }
    // Valid until the next Push.
    T& Top() { return m_items[m_size - 1]; }
    void Pop() { --m_size; }
    // Throws std::bad_alloc when the stack cannot grow; it is unchanged then.
    void Push(const T& item) {
        if (m_size == m_capacity) Grow();
        m_items[m_size++] = item;
    }

  private:
    void Grow() {
        std::size_t capacity = static_cast<std::size_t>(m_capacity) * 2;
        T* items = static_cast<T*>(HeapAlloc(capacity * sizeof(T)));
        std::memcpy(static_cast<void*>(items), m_items, m_size * sizeof(T));
        if (m_items != m_inline) HeapFree(m_items);
        m_items = items;
        m_capacity = capacity;
    }

    T m_inline[kInline];
    T* m_items = m_inline;
    std::size_t m_size = 0;
    std::size_t m_capacity = kInline;
};

}  // namespace tk::detail

#endif  // TAVIKFCU_JSON_WALK_STACK_H
