// Destroying and deep-copying whole trees of the model without recursion, so
// that a document nests as deep as memory allows (a key path of a million
// segments makes a million levels) and every walk stays linear in its nodes.
//
// Destruction needs no memory at all, as it may run when none is left: it
// goes down by pointer reversal. A record being emptied no longer needs its
// text (a value's) or its message (an object's), so that word holds the link
// back to the record above while the walk is below it. Leaves go as soon as
// their container is entered; the containers among the children are taken
// from the end of the list, and deleted once they have nothing left, which
// their own destructors then find at once.
//
// Copying allocates anyway and keeps its open containers on an explicit
// stack. Every node is put in place (empty) before it is filled, so a copy
// that runs out of memory part way is still a sound tree its owner destroys.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

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

inline bool HasChildren(const CMyJsonValueImp& value) {
    return (value.type == CMyJsonValue::eArr && !value.elements.Empty()) ||
           (value.type == CMyJsonValue::eObj && value.object);
}

// Deletes the leaves at the front of a list, first to last (the order they
// were made in, kind to the allocators), up to the first child that has
// children of its own; the rest moves to the front. True when the list is
// then empty. Most containers hold only leaves, and go in this one loop.
inline bool DeleteLeadingLeaves(CMyJsonValueImp::ElementList& elements) {
    const int n = elements.Size();
    int i = 0;
    for (; i < n; ++i) {
        CMyJsonValue* child = elements[i];
        if (HasChildren(TKJsonAccess::Of(*child))) break;
        delete child;
    }
    if (i == n) {
        elements.ForgetFrom(0);
        return true;
    }
    elements.ForgetFirst(i);
    return false;
}

inline bool DeleteLeadingLeaves(RelocList<JsonItem>& items) {
    const int n = items.Size();
    int i = 0;
    for (; i < n; ++i) {
        JsonItem& item = items[i];
        if (HasChildren(TKJsonAccess::Of(*item.value))) break;
        delete item.value;
        item.key.~CTKString();
    }
    if (i == n) {
        items.ForgetFrom(0);
        return true;
    }
    items.ForgetFirst(i);
    return false;
}

// Whether a record still has children once its leading leaves are gone.
inline bool KeepsChildren(CMyJsonValueImp& value) {
    if (value.type == CMyJsonValue::eArr) return !DeleteLeadingLeaves(value.elements);
    return value.type == CMyJsonValue::eObj && value.object;
}

// Empties root of everything below it. Each record is entered once: its
// leading leaves go at once, then its remaining children from the last.
void Dismantle(const Link root) {
    Link current = root;
    for (;;) {
        if (IsObject(current)) {
            CMyJsonObjImp& object = ObjectAt(current);
            if (!object.items.Empty()) {
                CMyJsonValue* child = object.items.Back().value;
                CMyJsonValueImp& inner = TKJsonAccess::Of(*child);
                if (HasChildren(inner) && KeepsChildren(inner)) {
                    Park(inner.text, current);
                    current = LinkTo(inner);
                    continue;
                }
                object.items.Erase(object.items.Size() - 1);
                delete child;  // a leaf now: its destructor walks nothing
                continue;
            }
        } else {
            CMyJsonValueImp& value = ValueAt(current);
            if (value.type == CMyJsonValue::eArr && !value.elements.Empty()) {
                CMyJsonValue* child = value.elements.Back();
                CMyJsonValueImp& inner = TKJsonAccess::Of(*child);
                if (HasChildren(inner) && KeepsChildren(inner)) {
                    Park(inner.text, current);
                    current = LinkTo(inner);
                    continue;
                }
                value.elements.ForgetFrom(value.elements.Size() - 1);
                delete child;
                continue;
            }
            if (value.type == CMyJsonValue::eObj && value.object) {
                CMyJsonObjImp& inner = TKJsonAccess::Of(*value.object);
                if (!inner.items.Empty() && !DeleteLeadingLeaves(inner.items)) {
                    Park(inner.error, current);
                    current = LinkTo(inner);
                    continue;
                }
                delete value.object;
                value.object = nullptr;
                continue;
            }
        }
        // Nothing left below current: back up to its parent.
        if (current == root) return;
        current = Unpark(SpareWord(current));
    }
}

// One container being copied: its children before `next` are in place.
struct CopyJob {
    void* dst;  // CMyJsonValueImp (an array) or CMyJsonObjImp
    const void* src;
    int next;
    bool object;
};

void PushObject(WalkStack<CopyJob>& jobs, CMyJsonObjImp& dst, const CMyJsonObjImp& src) {
    const int n = src.items.Size();
    if (n == 0) return;
    dst.items.Reserve(dst.items.Size() + n);  // no slot fails to come later
    jobs.Push({&dst, &src, 0, true});
}

// Fills the fresh record dst from src; a container's children are left to
// the job it pushes.
void CopyValue(CMyJsonValueImp& dst, const CMyJsonValueImp& src, WalkStack<CopyJob>& jobs) {
    dst.text = src.text;
    dst.flag = src.flag;
    switch (src.type) {
        case CMyJsonValue::eNumber:
            dst.MakeNumber(src.number);
            break;
        case CMyJsonValue::eObj:
            if (src.object) {
                dst.MakeObject(new CMyJsonObj);
                CMyJsonObjImp& object = TKJsonAccess::Of(*dst.object);
                const CMyJsonObjImp& from = TKJsonAccess::Of(*src.object);
                object.error = from.error;
                PushObject(jobs, object, from);
            }
            dst.type = CMyJsonValue::eObj;
            break;
        case CMyJsonValue::eArr: {
            const int n = src.elements.Size();
            dst.MakeArray().Reserve(n);
            if (n > 0) jobs.Push({&dst, &src, 0, false});
            break;
        }
        default:
            dst.type = src.type;
    }
}

// Copies child by child, depth first and in order, as a recursive copy
// would: each node is allocated right before its own children.
void CopyNodes(WalkStack<CopyJob>& jobs) {
    while (!jobs.Empty()) {
        CopyJob& job = jobs.Top();
        const int i = job.next;
        if (job.object) {
            auto& dst = *static_cast<CMyJsonObjImp*>(job.dst);
            const auto& src = *static_cast<const CMyJsonObjImp*>(job.src);
            if (i == src.items.Size()) {
                jobs.Pop();
                continue;
            }
            ++job.next;  // job is not used again: CopyValue may push
            std::unique_ptr<CMyJsonValue> value(new CMyJsonValue);
            const CTKString key(src.items[i].key);  // before its slot exists
            CMyJsonValue* placed = value.release();
            new (dst.items.EmplaceSlot()) JsonItem{key, placed};
            CopyValue(TKJsonAccess::Of(*placed), TKJsonAccess::Of(*src.items[i].value), jobs);
        } else {
            auto& dst = *static_cast<CMyJsonValueImp*>(job.dst);
            const auto& src = *static_cast<const CMyJsonValueImp*>(job.src);
            if (i == src.elements.Size()) {
                jobs.Pop();
                continue;
            }
            ++job.next;
            CMyJsonValue* element = new CMyJsonValue;  // before its slot exists
            new (dst.elements.EmplaceSlot()) CMyJsonValue*(element);
            CopyValue(TKJsonAccess::Of(*element), TKJsonAccess::Of(*src.elements[i]), jobs);
        }
    }
}

}  // namespace

void DestroyDescendants(CMyJsonValueImp& value) {
    if (value.type == CMyJsonValue::eArr && DeleteLeadingLeaves(value.elements)) return;
    if (HasChildren(value)) Dismantle(LinkTo(value));
}

void DestroyDescendants(CMyJsonObjImp& object) {
    if (!object.items.Empty() && !DeleteLeadingLeaves(object.items)) Dismantle(LinkTo(object));
}

void CopyTree(CMyJsonValueImp& dst, const CMyJsonValueImp& src) {
    WalkStack<CopyJob> jobs;
    CopyValue(dst, src, jobs);
    CopyNodes(jobs);
}

void CopyItems(CMyJsonObjImp& dst, const CMyJsonObjImp& src) {
    WalkStack<CopyJob> jobs;
    PushObject(jobs, dst, src);
    CopyNodes(jobs);
}

}  // namespace tk::detail
