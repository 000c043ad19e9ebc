// Destroying and deep-copying whole trees of the model without recursion, so
// that a document nests as deep as memory allows (a key path of a million
// segments makes a million levels) and every walk stays linear in its nodes.
//
// Destruction needs no memory at all, as it may run when none is left: it
// goes down by pointer reversal. A container being emptied no longer needs
// its text (a value record's), its message (an object record's) or its tag
// (a compact handle's, which the link to it repeats), so that word holds the
// link back to the container above while the walk is below it. An entry is deleted
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

// A container on the way down, tagged in its low three bits (records and
// store blocks are 8-aligned): a value record (an array), an object record,
// or a compact handle, an array value or an object, with whether it escaped
// its store. Value records holding an object are never on the way: the walk
// goes from the entry straight into the object.
using Link = std::uintptr_t;
enum LinkKind : Link {
    kValueRecord = 0,
    kObjectRecord = 1,
    kCompactArray = 2,
    kCompactObject = 4,
    kEscapedBit = 1,  // with a compact kind
};
constexpr Link kKindBits = 7;
static_assert(alignof(CMyJsonValueImp) >= 8 && alignof(CMyJsonObjImp) >= 8, "three tag bits");
static_assert(sizeof(CTKString) == sizeof(Link), "a link fits a string's word");

inline LinkKind KindOf(Link link) {
    return static_cast<LinkKind>(link & kKindBits);
}
inline bool IsObject(Link link) {
    return KindOf(link) == kObjectRecord || (KindOf(link) & ~kEscapedBit) == kCompactObject;
}
inline bool IsCompactLink(Link link) {
    return KindOf(link) >= kCompactArray;
}
inline void* Node(Link link) {
    return reinterpret_cast<void*>(link & ~kKindBits);
}

inline Link LinkTo(CMyJsonValueImp& value) {
    return reinterpret_cast<Link>(&value) | kValueRecord;
}
inline Link LinkTo(CMyJsonObjImp& object) {
    return reinterpret_cast<Link>(&object) | kObjectRecord;
}
// An array value or an object, whichever form its handle has.
inline Link LinkToArray(CMyJsonValue& value) {
    const std::uintptr_t word = TKJsonAccess::Word(value);
    if (!CompactWord::IsCompact(word)) return LinkTo(TKJsonAccess::Of(value));
    return reinterpret_cast<Link>(&value) | Link(kCompactArray) |
           ((word & CompactWord::kEscaped) ? Link(kEscapedBit) : 0);
}
inline Link LinkToObject(CMyJsonObj& object) {
    const std::uintptr_t word = TKJsonAccess::Word(object);
    if (!CompactWord::IsCompact(word)) return LinkTo(TKJsonAccess::Of(object));
    return reinterpret_cast<Link>(&object) | Link(kCompactObject) |
           ((word & CompactWord::kEscaped) ? Link(kEscapedBit) : 0);
}

// A container's list. A compact handle's own word may hold a parked link
// by now, so its form comes from the link, not from the handle.
inline ItemList& ItemsAt(Link link) {
    if (KindOf(link) == kObjectRecord) return static_cast<CMyJsonObjImp*>(Node(link))->items;
    return *static_cast<ItemList*>(TKJsonAccess::Payload(*static_cast<CMyJsonObj*>(Node(link))));
}
inline ElementList& ElementsAt(Link link) {
    if (KindOf(link) == kValueRecord) return static_cast<CMyJsonValueImp*>(Node(link))->elements;
    return *static_cast<ElementList*>(
        TKJsonAccess::Payload(*static_cast<CMyJsonValue*>(Node(link))));
}

// The word a container lends to the walk while it is being emptied: a
// value record's text, an object record's message, a compact handle's own
// word (what it says is in the link that points to it).
inline void* SpareWord(Link link) {
    switch (KindOf(link)) {
        case kValueRecord:
            return &static_cast<CMyJsonValueImp*>(Node(link))->text;
        case kObjectRecord:
            return &static_cast<CMyJsonObjImp*>(Node(link))->error;
        default:
            return Node(link);
    }
}

// Parks the link up in the spare word of node (a record's text is dropped).
inline void Park(Link node, Link up) {
    void* word = SpareWord(node);
    if (!IsCompactLink(node)) static_cast<CTKString*>(word)->~CTKString();
    std::memcpy(word, &up, sizeof up);
}

// Takes the link back from node's spare word and leaves that word as it
// was: an empty string, or the compact handle's tag.
inline Link Unpark(Link node) {
    void* word = SpareWord(node);
    Link up;
    std::memcpy(&up, word, sizeof up);
    if (!IsCompactLink(node)) {
        new (word) CTKString();
    } else {
        std::uintptr_t tag = (KindOf(node) & ~kEscapedBit) == kCompactObject
                                 ? CompactWord::kObject
                                 : CompactWord::Value(CMyJsonValue::eArr);
        if (KindOf(node) & kEscapedBit) tag |= CompactWord::kEscaped;
        std::memcpy(word, &tag, sizeof tag);
    }
    return up;
}

// What a value read from text holds goes with its store while nothing in
// that store has changed: such a value counts as a leaf.
inline bool HasChildren(const CMyJsonValue& value) {
    const ValueView view(value);
    const CMyJsonValue::EValueType kind = view.Kind();
    return ((kind == CMyJsonValue::eArr && !view.Elements().Empty()) ||
            (kind == CMyJsonValue::eObj && view.Object())) &&
           !InUntouchedStoreHandle(value);
}

inline bool HoldsOnlyLeaves(const ElementList& elements) {
    for (int i = 0, n = elements.Size(); i < n; ++i)
        if (HasChildren(*elements[i])) return false;
    return true;
}

inline bool HoldsOnlyLeaves(const ItemList& items) {
    for (int i = 0, n = items.Size(); i < n; ++i)
        if (HasChildren(*items[i].value)) return false;
    return true;
}

// Deletes a list of leaves first to last (an object's keys after its
// values, as a plain destructor would), leaving it empty.
inline void DeleteLeaves(ElementList& elements) {
    for (int i = 0, n = elements.Size(); i < n; ++i) delete elements[i];
    elements.ForgetFrom(0);
}

inline void DeleteLeaves(ItemList& items) {
    const int n = items.Size();
    for (int i = 0; i < n; ++i) delete items[i].value;
    for (int i = 0; i < n; ++i) items[i].key.~CTKString();
    items.ForgetFrom(0);
}

// The word of a value that holds an object.
inline CMyJsonObj*& ObjectWord(CMyJsonValue& value) {
    if (IsCompact(value)) return *static_cast<CMyJsonObj**>(TKJsonAccess::Payload(value));
    return TKJsonAccess::Of(value).object;
}

// Empties a value whose entries are all leaves (most containers), in one
// forward loop; false, and nothing done, when one of them is not a leaf.
inline bool EmptyIfShallow(CMyJsonValue& value) {
    const ValueView view(value);
    if (view.Kind() == CMyJsonValue::eArr) {
        if (!HoldsOnlyLeaves(view.Elements())) return false;
        DeleteLeaves(view.Elements());
        return true;
    }
    if (view.Kind() != CMyJsonValue::eObj || !view.Object()) return true;
    CMyJsonObj*& object = ObjectWord(value);
    if (!InUntouchedStoreHandle(*object)) {
        ItemList& items = ItemsOf(*object);
        if (!HoldsOnlyLeaves(items)) return false;
        DeleteLeaves(items);
    }  // else the object read from text goes with its store
    delete object;
    object = nullptr;
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

// Reverses the list the walk is about to take from.
inline void Enter(Link link) {
    if (IsObject(link))
        Reverse(ItemsAt(link));
    else
        Reverse(ElementsAt(link));
}

// The container below an entry that is not a leaf: its array, or the object
// it holds.
inline Link Below(CMyJsonValue& value) {
    const ValueView view(value);
    if (view.Kind() == CMyJsonValue::eArr) return LinkToArray(value);
    return LinkToObject(*view.Object());
}

// Empties root of everything below it, in the order a recursive
// destruction would free it: each entry's subtree, then the entry, first
// to last (the order matters: the pools hand blocks out again in reverse,
// and the next document then lies in memory as the last one did). Each list
// is reversed when the walk enters it, so taking from its end runs forward.
void Dismantle(const Link root) {
    Link current = root;
    Enter(root);
    for (;;) {
        Link down = 0;
        if (IsObject(current)) {
            ItemList& items = ItemsAt(current);
            while (!items.Empty()) {
                JsonItem& item = items.Back();
                if (HasChildren(*item.value) && !EmptyIfShallow(*item.value)) {
                    down = Below(*item.value);
                    break;
                }
                delete item.value;  // a leaf: its destructor walks nothing
                items.Erase(items.Size() - 1);
            }
        } else {
            ElementList& elements = ElementsAt(current);
            while (!elements.Empty()) {
                CMyJsonValue* child = elements.Back();
                if (HasChildren(*child) && !EmptyIfShallow(*child)) {
                    down = Below(*child);
                    break;
                }
                delete child;
                elements.ForgetFrom(elements.Size() - 1);
            }
        }
        if (down) {
            Enter(down);
            Park(down, current);
            current = down;
            continue;
        }
        // Nothing left below current: back up to its parent, whose last
        // entry (current's, or the value holding current) is a leaf now.
        if (current == root) return;
        current = Unpark(current);
    }
}

// One container being copied: its children before `next` are in place.
// `outside`: the container's record is not in the copy's store (it is the
// record the copy was asked to fill, or the copy has no store).
struct CopyJob {
    void* dst;        // the ElementList or ItemList being filled
    const void* src;  // the list it copies
    int next;
    bool object;
    bool outside;
};

// A value with no children to copy.
inline bool IsFlat(const ValueView& value) {
    if (value.Kind() == CMyJsonValue::eArr) return value.Elements().Empty();
    return value.Kind() != CMyJsonValue::eObj || !value.Object() ||
           ItemsOf(*value.Object()).Empty();
}

// Whether a container was read from text: it or its first entry lives in a
// store.
inline bool ReadFromText(const CMyJsonObj& object) {
    const ItemList& items = ItemsOf(object);
    return InStore(object) || (!items.Empty() && InStore(*items[0].value));
}
inline bool ReadFromText(const CMyJsonValue& value) {
    if (InStore(value)) return true;
    const ValueView view(value);
    if (view.Kind() == CMyJsonValue::eArr)
        return !view.Elements().Empty() && InStore(*view.Elements()[0]);
    return view.Kind() == CMyJsonValue::eObj && view.Object() && ReadFromText(*view.Object());
}

// Whether the entries below a container number at least kStoredCopyNodes.
// A store takes a page at least, so a copy of a few values (an element
// copied into another document) stays in pool and heap blocks; the count
// stops there, so it costs at most that many steps.
constexpr int kStoredCopyNodes = 64;

class NodeCount {
  public:
    bool AtLeastLimit(const CMyJsonObj& object) {
        Add(object);
        return Run();
    }
    bool AtLeastLimit(const CMyJsonValue& value) {
        Add(value);
        return Run();
    }

  private:
    // Counts the entries of a container and queues the ones that have
    // entries of their own.
    void Add(const CMyJsonValue& value) {
        const ValueView view(value);
        if (view.Kind() == CMyJsonValue::eArr) {
            const ElementList& elements = view.Elements();
            for (int i = 0, n = elements.Size(); i < n && m_nodes < kStoredCopyNodes; ++i) {
                ++m_nodes;
                Queue(*elements[i]);
            }
        } else if (view.Kind() == CMyJsonValue::eObj && view.Object()) {
            Add(*view.Object());
        }
    }
    void Add(const CMyJsonObj& object) {
        const ItemList& items = ItemsOf(object);
        for (int i = 0, n = items.Size(); i < n && m_nodes < kStoredCopyNodes; ++i) {
            ++m_nodes;
            Queue(*items[i].value);
        }
    }
    void Queue(const CMyJsonValue& value) {
        if (!IsFlat(ValueView(value)) && m_queued < kStoredCopyNodes) m_queue[m_queued++] = &value;
    }
    bool Run() {
        for (int i = 0; i < m_queued && m_nodes < kStoredCopyNodes; ++i) Add(*m_queue[i]);
        return m_nodes >= kStoredCopyNodes;
    }

    int m_nodes = 0;
    int m_queued = 0;
    const CMyJsonValue* m_queue[kStoredCopyNodes];
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
        if (outside) Escape(*value);
        return value;
    }
    // A new empty object held by a value record.
    CMyJsonObj* NewObject(bool outside) {
        if (!m_store) return new CMyJsonObj;
        auto* object = NewStoredHandle<CMyJsonObj, CMyJsonObjImp>(*m_store, Pending().object);
        if (outside) Escape(*object);
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
void CopyOwnFields(CMyJsonValueImp& dst, const ValueView& src, CopyTarget& copy, bool outside) {
    copy.Text(dst.text, src.Text(), outside);
    dst.flag = src.Flag();
    switch (src.Kind()) {
        case CMyJsonValue::eNumber:
            dst.MakeNumber(src.Number());
            break;
        case CMyJsonValue::eArr:
            // no slot fails to come later
            copy.Reserve(dst.MakeArray(), src.Elements().Size(), outside);
            break;
        case CMyJsonValue::eObj:
            dst.type = CMyJsonValue::eObj;
            if (src.Object()) {
                dst.object = copy.NewObject(outside);
                CMyJsonObjImp& object = TKJsonAccess::Of(*dst.object);
                copy.Text(object.error, ErrorOf(*src.Object()), false);
                copy.Reserve(object.items, ItemsOf(*src.Object()).Size(), false);
            }
            break;
        default:
            dst.type = src.Kind();
    }
}

// The job that copies the children of a container whose own fields are in
// place.
CopyJob JobFor(CMyJsonValueImp& dst, const ValueView& src, bool outside) {
    if (src.Kind() == CMyJsonValue::eArr)
        return {&dst.elements, &src.Elements(), 0, false, outside};
    return {&TKJsonAccess::Of(*dst.object).items, &ItemsOf(*src.Object()), 0, true, false};
}

// Copies depth first and in order, as a recursive copy would, each node
// allocated right before its own children. The container being copied is
// the local job; the ones it is nested in wait on the stack. Every node is
// in its slot before anything of its own is copied.
void CopyChildren(CopyJob job, CopyTarget& copy) {
    WalkStack<CopyJob> jobs;
    for (;;) {
        CMyJsonValueImp* innerDst = nullptr;
        const CMyJsonValue* innerSrc = nullptr;
        if (job.object) {
            auto& dst = *static_cast<ItemList*>(job.dst);
            const auto& src = *static_cast<const ItemList*>(job.src);
            while (job.next < src.Size()) {
                const JsonItem& item = src[job.next++];
                CMyJsonValue* placed = copy.NewValue(job.outside);
                auto* slot = new (dst.EmplaceSlot()) JsonItem{CTKString(), placed};
                copy.Text(slot->key, item.key, job.outside);
                CMyJsonValueImp& to = TKJsonAccess::Of(*placed);
                const ValueView from(*item.value);
                CopyOwnFields(to, from, copy, false);
                if (!IsFlat(from)) {
                    innerDst = &to;
                    innerSrc = item.value;
                    break;
                }
            }
        } else {
            auto& dst = *static_cast<ElementList*>(job.dst);
            const auto& src = *static_cast<const ElementList*>(job.src);
            while (job.next < src.Size()) {
                const CMyJsonValue* source = src[job.next++];
                const ValueView from(*source);
                CMyJsonValue* element = copy.NewValue(job.outside);  // before its slot exists
                new (dst.EmplaceSlot()) CMyJsonValue*(element);
                CMyJsonValueImp& to = TKJsonAccess::Of(*element);
                CopyOwnFields(to, from, copy, false);
                if (!IsFlat(from)) {
                    innerDst = &to;
                    innerSrc = source;
                    break;
                }
            }
        }
        if (innerDst) {
            jobs.Push(job);
            job = JobFor(*innerDst, ValueView(*innerSrc), false);
            continue;
        }
        if (jobs.Empty()) return;
        job = jobs.Top();
        jobs.Pop();
    }
}

}  // namespace

void DestroyDescendants(CMyJsonValueImp& value) {
    if (InUntouchedStore(value)) return;
    if (value.type == CMyJsonValue::eArr) {
        if (HoldsOnlyLeaves(value.elements))
            DeleteLeaves(value.elements);
        else
            Dismantle(LinkTo(value));
    } else if (value.type == CMyJsonValue::eObj && value.object) {
        CMyJsonObj* held = value.object;
        value.object = nullptr;
        delete held;  // its destructor walks its items
    }
}

void DestroyDescendants(CMyJsonObjImp& object) {
    if (HoldsOnlyLeaves(object.items))
        DeleteLeaves(object.items);
    else
        Dismantle(LinkTo(object));
}

void DestroyCompact(CMyJsonValue& value) {
    const std::uintptr_t word = TKJsonAccess::Word(value);
    if (!DocumentStore::Of(&value)->IsUntouched()) {
        void* payload = TKJsonAccess::Payload(value);
        switch (CompactWord::Kind(word)) {
            case CMyJsonValue::eArr: {
                ElementList& elements = *static_cast<ElementList*>(payload);
                if (HoldsOnlyLeaves(elements))
                    DeleteLeaves(elements);
                else
                    Dismantle(LinkToArray(value));
                elements.ForgetAll();
                break;
            }
            case CMyJsonValue::eObj: {
                CMyJsonObj*& held = *static_cast<CMyJsonObj**>(payload);
                delete held;
                held = nullptr;
                break;
            }
            case CMyJsonValue::eStr:
                static_cast<CTKString*>(payload)->~CTKString();
                break;
            default:
                break;
        }
    }
    LetGoCompact(word, &value);
}

void DestroyCompact(CMyJsonObj& object) {
    const std::uintptr_t word = TKJsonAccess::Word(object);
    if (!DocumentStore::Of(&object)->IsUntouched()) {
        ItemList& items = ItemsOf(object);
        if (HoldsOnlyLeaves(items))
            DeleteLeaves(items);
        else
            Dismantle(LinkToObject(object));
        items.Clear();
    }
    LetGoCompact(word, &object);
}

void CopyTree(CMyJsonValueImp& dst, const CMyJsonValue& src) {
    const ValueView view(src);
    CopyTarget copy(!IsFlat(view) && ReadFromText(src) && NodeCount().AtLeastLimit(src));
    CopyOwnFields(dst, view, copy, true);
    if (!IsFlat(view)) CopyChildren(JobFor(dst, view, true), copy);
}

void CopyItems(ItemList& dst, const CMyJsonObj& src) {
    const ItemList& items = ItemsOf(src);
    if (items.Empty()) return;
    dst.Reserve(dst.Size() + items.Size());
    CopyTarget copy(ReadFromText(src) && NodeCount().AtLeastLimit(src));
    CopyChildren({&dst, &items, 0, true, true}, copy);
}

}  // namespace tk::detail
