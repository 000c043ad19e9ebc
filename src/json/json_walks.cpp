// Destroying and deep-copying whole trees of the model without recursion, so
// that a document nests as deep as memory allows (a key path of a million
// segments makes a million levels) and every walk stays linear in its nodes.
//
// Destruction needs no memory at all, as it may run when none is left: it
// goes down by pointer reversal. A record being emptied no longer needs its
// text (a value's) or its message (an object's), so that word holds the link
// back to the record above while the walk is below it. An entry is deleted
// once it has nothing left below it, which its own destructor then finds at
// once.
//
// Copying allocates anyway and keeps its open containers on an explicit
// stack. Every node is put in place (empty) before it is filled, so a copy
// that runs out of memory part way is still a sound tree its owner destroys.
#include <cstdint>
#include <cstring>
#include <new>

#include "json/json_blocks.h"
#include "json/json_records.h"
#include "json/walk_stack.h"

namespace tk::detail {

namespace {

// A record on the way down, tagged: bit 0 set for an object record (records
// are at least pointer-aligned).
using Link = std::uintptr_t;
static_assert(alignof(CMyJsonValueImp) >= 2 && alignof(CMyJsonObjImp) >= 2, "a free tag bit");
static_assert(sizeof(CTKString) == sizeof(Link), "a link fits a string's word");

inline Link LinkTo(CMyJsonValueImp& value) {
    return reinterpret_cast<Link>(&value);
}
inline Link LinkTo(CMyJsonObjImp& object) {
    return reinterpret_cast<Link>(&object) | 1;
}
inline bool IsObject(Link link) {
    return link & 1;
}
inline CMyJsonValueImp& ValueAt(Link link) {
    return *reinterpret_cast<CMyJsonValueImp*>(link);
}
inline CMyJsonObjImp& ObjectAt(Link link) {
    return *reinterpret_cast<CMyJsonObjImp*>(link & ~Link(1));
}

// The word a record lends to the walk while it is being emptied.
inline CTKString& SpareWord(Link link) {
    return IsObject(link) ? ObjectAt(link).error : ValueAt(link).text;
}

// Drops the word's text and parks the link there.
inline void Park(CTKString& word, Link up) {
    word.~CTKString();
    std::memcpy(static_cast<void*>(&word), &up, sizeof up);
}

// Takes the link back and leaves the word an empty string again.
inline Link Unpark(CTKString& word) {
    Link up;
    std::memcpy(&up, static_cast<const void*>(&word), sizeof up);
    new (&word) CTKString();
    return up;
}

// What a record read from text holds goes with its store while nothing in
// that store has changed: such a value counts as a leaf.
inline bool HasChildren(const CMyJsonValueImp& value) {
    return ((value.type == CMyJsonValue::eArr && !value.elements.Empty()) ||
            (value.type == CMyJsonValue::eObj && value.object)) &&
           !InUntouchedStore(value);
}

inline bool HoldsOnlyLeaves(const CMyJsonValueImp::ElementList& elements) {
    for (int i = 0, n = elements.Size(); i < n; ++i)
        if (HasChildren(TKJsonAccess::Of(*elements[i]))) return false;
    return true;
}

inline bool HoldsOnlyLeaves(const RelocList<JsonItem>& items) {
    for (int i = 0, n = items.Size(); i < n; ++i)
        if (HasChildren(TKJsonAccess::Of(*items[i].value))) return false;
    return true;
}

// Deletes a list of leaves first to last (an object's keys after its
// values, as a plain destructor would), leaving it empty.
inline void DeleteLeaves(CMyJsonValueImp::ElementList& elements) {
    for (int i = 0, n = elements.Size(); i < n; ++i) delete elements[i];
    elements.ForgetFrom(0);
}

inline void DeleteLeaves(RelocList<JsonItem>& items) {
    const int n = items.Size();
    for (int i = 0; i < n; ++i) delete items[i].value;
    for (int i = 0; i < n; ++i) items[i].key.~CTKString();
    items.ForgetFrom(0);
}

// Empties a value whose entries are all leaves (most containers), in one
// forward loop; false, and nothing done, when one of them is not a leaf.
inline bool EmptyIfShallow(CMyJsonValueImp& value) {
    if (value.type == CMyJsonValue::eArr) {
        if (!HoldsOnlyLeaves(value.elements)) return false;
        DeleteLeaves(value.elements);
        return true;
    }
    if (value.type != CMyJsonValue::eObj || !value.object) return true;
    CMyJsonObjImp& object = TKJsonAccess::Of(*value.object);
    if (InUntouchedStore(object)) {
        delete value.object;  // the object read from text goes with its store
        value.object = nullptr;
        return true;
    }
    if (!HoldsOnlyLeaves(object.items)) return false;
    DeleteLeaves(object.items);
    delete value.object;
    value.object = nullptr;
    return true;
}

// Reverses a list in place, entries moved as bytes (see RelocList), so that
// taking entries from its end takes them first to last.
template <typename T>
void Reverse(RelocList<T>& list) {
    T* items = list.Data();
    for (int i = 0, j = list.Size() - 1; i < j; ++i, --j) {
        unsigned char held[sizeof(T)];
        std::memcpy(held, static_cast<void*>(&items[i]), sizeof(T));
        std::memcpy(static_cast<void*>(&items[i]), &items[j], sizeof(T));
        std::memcpy(static_cast<void*>(&items[j]), held, sizeof(T));
    }
}

// Reverses the list the walk is about to take from (a held object's items
// are reversed when the walk enters that object).
inline void Enter(CMyJsonValueImp& value) {
    if (value.type == CMyJsonValue::eArr) Reverse(value.elements);
}

// Empties root of everything below it, in the order a recursive
// destruction would free it: each entry's subtree, then the entry, first
// to last (the order matters: the pools hand blocks out again in reverse,
// and the next document then lies in memory as the last one did). Each list
// is reversed when the walk enters it, so taking from its end runs forward.
void Dismantle(const Link root) {
    Link current = root;
    if (IsObject(root))
        Reverse(ObjectAt(root).items);
    else
        Enter(ValueAt(root));
    for (;;) {
        Link down = 0;
        if (IsObject(current)) {
            RelocList<JsonItem>& items = ObjectAt(current).items;
            while (!items.Empty()) {
                JsonItem& item = items.Back();
                CMyJsonValueImp& inner = TKJsonAccess::Of(*item.value);
                if (HasChildren(inner) && !EmptyIfShallow(inner)) {
                    Enter(inner);
                    Park(inner.text, current);
                    down = LinkTo(inner);
                    break;
                }
                delete item.value;  // a leaf: its destructor walks nothing
                items.Erase(items.Size() - 1);
            }
        } else {
            CMyJsonValueImp& value = ValueAt(current);
            if (value.type == CMyJsonValue::eArr) {
                CMyJsonValueImp::ElementList& elements = value.elements;
                while (!elements.Empty()) {
                    CMyJsonValue* child = elements.Back();
                    CMyJsonValueImp& inner = TKJsonAccess::Of(*child);
                    if (HasChildren(inner) && !EmptyIfShallow(inner)) {
                        Enter(inner);
                        Park(inner.text, current);
                        down = LinkTo(inner);
                        break;
                    }
                    delete child;
                    elements.ForgetFrom(elements.Size() - 1);
                }
            } else if (value.type == CMyJsonValue::eObj && value.object) {
                CMyJsonObjImp& inner = TKJsonAccess::Of(*value.object);
                if (!inner.items.Empty()) {
                    Reverse(inner.items);
                    Park(inner.error, current);
                    down = LinkTo(inner);
                } else {
                    delete value.object;
                    value.object = nullptr;
                }
            }
        }
        if (down) {
            current = down;
            continue;
        }
        // Nothing left below current: back up to its parent, whose last
        // entry (current's) is a leaf now.
        if (current == root) return;
        current = Unpark(SpareWord(current));
    }
}

// One container being copied: its children before `next` are in place.
// `outside`: the container's record is not in the copy's store (it is the
// record the copy was asked to fill, or the copy has no store).
struct CopyJob {
    void* dst;  // CMyJsonValueImp (an array) or CMyJsonObjImp
    const void* src;
    int next;
    bool object;
    bool outside;
};

// A value with no children to copy.
inline bool IsFlat(const CMyJsonValueImp& value) {
    if (value.type == CMyJsonValue::eArr) return value.elements.Empty();
    return value.type != CMyJsonValue::eObj || !value.object ||
           TKJsonAccess::Of(*value.object).items.Empty();
}

// Whether a container was read from text: it or its first entry lives in a
// store.
inline bool ReadFromText(const CMyJsonObjImp& object) {
    return IsStored(object) ||
           (!object.items.Empty() && IsStored(TKJsonAccess::Of(*object.items[0].value)));
}
inline bool ReadFromText(const CMyJsonValueImp& value) {
    if (IsStored(value)) return true;
    if (value.type == CMyJsonValue::eArr)
        return !value.elements.Empty() && IsStored(TKJsonAccess::Of(*value.elements[0]));
    return value.type == CMyJsonValue::eObj && value.object &&
           ReadFromText(TKJsonAccess::Of(*value.object));
}

// Whether the entries below a container number at least kStoredCopyNodes.
// A store takes a page at least, so a copy of a few values (an element
// copied into another document) stays in pool and heap blocks; the count
// stops there, so it costs at most that many steps.
constexpr int kStoredCopyNodes = 64;

class NodeCount {
  public:
    bool AtLeastLimit(const CMyJsonObjImp& object) {
        Add(object);
        return Run();
    }
    bool AtLeastLimit(const CMyJsonValueImp& value) {
        Add(value);
        return Run();
    }

  private:
    // Counts the entries of a container and queues the ones that have
    // entries of their own.
    void Add(const CMyJsonValueImp& value) {
        if (value.type == CMyJsonValue::eArr) {
            for (int i = 0, n = value.elements.Size(); i < n && m_nodes < kStoredCopyNodes; ++i) {
                ++m_nodes;
                Queue(TKJsonAccess::Of(*value.elements[i]));
            }
        } else if (value.type == CMyJsonValue::eObj && value.object) {
            Add(TKJsonAccess::Of(*value.object));
        }
    }
    void Add(const CMyJsonObjImp& object) {
        for (int i = 0, n = object.items.Size(); i < n && m_nodes < kStoredCopyNodes; ++i) {
            ++m_nodes;
            Queue(TKJsonAccess::Of(*object.items[i].value));
        }
    }
    void Queue(const CMyJsonValueImp& value) {
        if (!IsFlat(value) && m_queued < kStoredCopyNodes) m_queue[m_queued++] = &value;
    }
    bool Run() {
        for (int i = 0; i < m_queued && m_nodes < kStoredCopyNodes; ++i) Add(*m_queue[i]);
        return m_nodes >= kStoredCopyNodes;
    }

    int m_nodes = 0;
    int m_queued = 0;
    const CMyJsonValueImp* m_queue[kStoredCopyNodes];
};

// Where one copy puts its nodes, lists and texts.
//
// A copy of a tree read from text (of kStoredCopyNodes values or more) is
// built the way the reader builds one: everything below the record being
// filled is carved from a store of its own, in order, and the entries of
// that record escape the store (hold a reference on it), so the copy goes
// with a few frees while nothing in it changes. Its texts are fixed bodies
// of that store, each distinct body of the source copied once; a counted
// text (one a caller put in after the read) is shared as any copy shares
// it, and then the store is marked
// edited so that its records are destroyed one by one and let go of it.
//
// Any other copy takes pool and heap blocks node by node. A text read from
// text sits in a fixed body that a copy cannot share, and a document read
// from text shows one fixed body for all its equal short texts (every
// repeated key): such a body is copied once per copy and the copies share
// it, as the counted bodies of any other document are shared. The record
// being filled gets its texts that way in both cases.
class CopyTarget {
  public:
    explicit CopyTarget(bool stored) : m_store(stored ? DocumentStore::Create() : nullptr) {}
    ~CopyTarget() {
        if (m_store) m_store->Release();  // the copy's entries hold it from here
    }
    CopyTarget(const CopyTarget&) = delete;
    CopyTarget& operator=(const CopyTarget&) = delete;

    // A new empty entry of a container; outside: that container's record is
    // not in the store.
    CMyJsonValue* NewValue(bool outside) {
        if (!m_store) return new CMyJsonValue;
        auto* value = NewStoredHandle<CMyJsonValue, CMyJsonValueImp>(*m_store, Pending().value);
        if (outside) Escape(TKJsonAccess::Of(*value));
        return value;
    }
    // A new empty object held by a value record.
    CMyJsonObj* NewObject(bool outside) {
        if (!m_store) return new CMyJsonObj;
        auto* object = NewStoredHandle<CMyJsonObj, CMyJsonObjImp>(*m_store, Pending().object);
        if (outside) Escape(TKJsonAccess::Of(*object));
        return object;
    }
    // Room for n entries in the empty list of a record.
    template <typename T>
    void Reserve(RelocList<T>& list, int n, bool outside) {
        if (m_store && !outside)
            list.ReserveStored(*m_store, n);
        else
            list.Reserve(n);
    }
    // The empty text dst of a record takes src.
    void Text(CTKString& dst, const CTKString& src, bool outside) {
        if (src.IsEmpty()) return;
        if (!m_store || outside) {
            dst = SharedCopy(src);
        } else if (src.GetAllocLength() != 0) {
            dst = src;
            m_store->MarkEdited();
        } else {
            DocumentStore::ShowFixed(dst, FixedCopy(src));
        }
    }

  private:
    static constexpr int kSlots = 128;
    static std::size_t SlotOf(const TKWCHAR* chars) {
        return (reinterpret_cast<std::uintptr_t>(chars) >> 3) % kSlots;
    }

    const CTKString& SharedCopy(const CTKString& src) {
        if (src.GetAllocLength() != 0) return src;  // counted: shared as is
        const TKWCHAR* chars = src;
        Shared& slot = m_shared[SlotOf(chars)];
        if (slot.source != chars) {
            slot.copy = CTKString(src);
            slot.source = chars;
        }
        return slot.copy;
    }

    TKWCHAR* FixedCopy(const CTKString& src) {
        const TKWCHAR* chars = src;
        Fixed& slot = m_fixed[SlotOf(chars)];
        if (slot.source != chars) {
            const int n = src.GetLength();
            slot.copy = m_store->NewFixedText(n);
            std::memcpy(slot.copy, chars, static_cast<std::size_t>(n) * sizeof(TKWCHAR));
            slot.source = chars;
        }
        return slot.copy;
    }

    struct Shared {
        const TKWCHAR* source = nullptr;
        CTKString copy;
    };
    struct Fixed {
        const TKWCHAR* source = nullptr;
        TKWCHAR* copy = nullptr;
    };
    DocumentStore* const m_store;
    Shared m_shared[kSlots];
    Fixed m_fixed[kSlots];
};

// The value's own fields: its kind, text, flag and number; for an object,
// a new empty one with the message of src's; for a container, room for its
// entries.
void CopyOwnFields(CMyJsonValueImp& dst, const CMyJsonValueImp& src, CopyTarget& copy,
                   bool outside) {
    copy.Text(dst.text, src.text, outside);
    dst.flag = src.flag;
    switch (src.type) {
        case CMyJsonValue::eNumber:
            dst.MakeNumber(src.number);
            break;
        case CMyJsonValue::eArr:
            // no slot fails to come later
            copy.Reserve(dst.MakeArray(), src.elements.Size(), outside);
            break;
        case CMyJsonValue::eObj:
            dst.type = CMyJsonValue::eObj;
            if (src.object) {
                dst.object = copy.NewObject(outside);
                CMyJsonObjImp& object = TKJsonAccess::Of(*dst.object);
                const CMyJsonObjImp& from = TKJsonAccess::Of(*src.object);
                copy.Text(object.error, from.error, false);
                copy.Reserve(object.items, from.items.Size(), false);
            }
            break;
        default:
            dst.type = src.type;
    }
}

// The job that copies the children of a container whose own fields are in
// place.
CopyJob JobFor(CMyJsonValueImp& dst, const CMyJsonValueImp& src, bool outside) {
    if (src.type == CMyJsonValue::eArr) return {&dst, &src, 0, false, outside};
    return {&TKJsonAccess::Of(*dst.object), &TKJsonAccess::Of(*src.object), 0, true, false};
}

// Copies depth first and in order, as a recursive copy would, each node
// allocated right before its own children. The container being copied is
// the local job; the ones it is nested in wait on the stack. Every node is
// in its slot before anything of its own is copied.
void CopyChildren(CopyJob job, CopyTarget& copy) {
    WalkStack<CopyJob> jobs;
    for (;;) {
        CMyJsonValueImp* innerDst = nullptr;
        const CMyJsonValueImp* innerSrc = nullptr;
        if (job.object) {
            auto& dst = *static_cast<CMyJsonObjImp*>(job.dst);
            const auto& src = *static_cast<const CMyJsonObjImp*>(job.src);
            while (job.next < src.items.Size()) {
                const JsonItem& item = src.items[job.next++];
                CMyJsonValue* placed = copy.NewValue(job.outside);
                auto* slot = new (dst.items.EmplaceSlot()) JsonItem{CTKString(), placed};
                copy.Text(slot->key, item.key, job.outside);
                CMyJsonValueImp& to = TKJsonAccess::Of(*placed);
                const CMyJsonValueImp& from = TKJsonAccess::Of(*item.value);
                CopyOwnFields(to, from, copy, false);
                if (!IsFlat(from)) {
                    innerDst = &to;
                    innerSrc = &from;
                    break;
                }
            }
        } else {
            auto& dst = *static_cast<CMyJsonValueImp*>(job.dst);
            const auto& src = *static_cast<const CMyJsonValueImp*>(job.src);
            while (job.next < src.elements.Size()) {
                const CMyJsonValueImp& from = TKJsonAccess::Of(*src.elements[job.next++]);
                CMyJsonValue* element = copy.NewValue(job.outside);  // before its slot exists
                new (dst.elements.EmplaceSlot()) CMyJsonValue*(element);
                CMyJsonValueImp& to = TKJsonAccess::Of(*element);
                CopyOwnFields(to, from, copy, false);
                if (!IsFlat(from)) {
                    innerDst = &to;
                    innerSrc = &from;
                    break;
                }
            }
        }
        if (innerDst) {
            jobs.Push(job);
            job = JobFor(*innerDst, *innerSrc, false);
            continue;
        }
        if (jobs.Empty()) return;
        job = jobs.Top();
        jobs.Pop();
    }
}

}  // namespace

void DestroyDescendants(CMyJsonValueImp& value) {
    if (HasChildren(value) && !EmptyIfShallow(value)) Dismantle(LinkTo(value));
}

void DestroyDescendants(CMyJsonObjImp& object) {
    if (HoldsOnlyLeaves(object.items))
        DeleteLeaves(object.items);
    else
        Dismantle(LinkTo(object));
}

void CopyTree(CMyJsonValueImp& dst, const CMyJsonValueImp& src) {
    CopyTarget copy(!IsFlat(src) && ReadFromText(src) && NodeCount().AtLeastLimit(src));
    CopyOwnFields(dst, src, copy, true);
    if (!IsFlat(src)) CopyChildren(JobFor(dst, src, true), copy);
}

void CopyItems(CMyJsonObjImp& dst, const CMyJsonObjImp& src) {
    if (src.items.Empty()) return;
    dst.items.Reserve(dst.items.Size() + src.items.Size());
    CopyTarget copy(ReadFromText(src) && NodeCount().AtLeastLimit(src));
    CopyChildren({&dst, &src, 0, true, true}, copy);
}

}  // namespace tk::detail
