// A table from pointers to small values, for the handle records of the
// internet layer: open addressing with linear probing in one array, so that
// adding and removing a handle allocate nothing once the table has grown to
// the number of handles open at once. Not synchronised: callers lock.
#ifndef TAVIKFCU_NET_POINTER_TABLE_H
#define TAVIKFCU_NET_POINTER_TABLE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tk::detail {

template <class Value>
class PointerTable {
  public:
    // Adds key or replaces its value. Null keys are not stored.
    void Set(const void* key, Value value) {
        if (!key) return;
        if ((m_count + 1) * 2 > m_slots.size()) Grow();
        std::size_t i = Find(key);
        if (!m_slots[i].key) ++m_count;
        m_slots[i] = {key, value};
    }

    // The value of key, or null when it is absent.
    const Value* Get(const void* key) const {
        if (m_slots.empty() || !key) return nullptr;
        const Slot& slot = m_slots[Find(key)];
        return slot.key ? &slot.value : nullptr;
    }

    void Remove(const void* key) {
        if (m_slots.empty() || !key) return;
        std::size_t hole = Find(key);
        if (!m_slots[hole].key) return;
        --m_count;
        // Shift back the entries of the run after the hole whose home is not
        // between the hole and themselves, so that no probe stops early.
        std::size_t mask = m_slots.size() - 1;
        for (std::size_t next = (hole + 1) & mask; m_slots[next].key; next = (next + 1) & mask) {
            std::size_t home = Home(m_slots[next].key);
            bool stays =
                hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
            if (stays) continue;
            m_slots[hole] = m_slots[next];
            hole = next;
        }
        m_slots[hole] = Slot{};
    }

    std::size_t Size() const { return m_count; }

  private:
    struct Slot {
        const void* key = nullptr;
        Value value{};
    };

    std::size_t Home(const void* key) const {
        // Fibonacci hashing of the address: allocations share their low bits.
        std::uint64_t h =
            std::uint64_t(reinterpret_cast<std::uintptr_t>(key)) * 0x9E3779B97F4A7C15ull;
        return std::size_t(h >> 32) & (m_slots.size() - 1);
    }

    // The slot holding key, or the empty slot where it would go.
    std::size_t Find(const void* key) const {
        std::size_t mask = m_slots.size() - 1;
        std::size_t i = Home(key);
        while (m_slots[i].key && m_slots[i].key != key) i = (i + 1) & mask;
        return i;
    }

    void Grow() {
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.resize(old.empty() ? 64 : old.size() * 2);
        m_count = 0;
        for (const Slot& slot : old)
            if (slot.key) Set(slot.key, slot.value);
    }

    std::vector<Slot> m_slots;
    std::size_t m_count = 0;
};

}  // namespace tk::detail

#endif  // TAVIKFCU_NET_POINTER_TABLE_H
