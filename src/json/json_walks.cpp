// Destroying and deep-copying whole trees of the model without recursion, so
// that a document nests as deep as memory allows (a key path of a million
// segments makes a million levels) and every walk stays linear in its nodes.
//
// Destruction needs no memory at all, as it may run when none is left: it
// goes down by pointer reversal. A record being emptied no longer needs its
// text (a value's) or its message (an object's), so that word holds the link
// back to the record above while the walk is below it; children are taken
// from the end of their lists, and a child is deleted once it has none left,
// which its own destructor then finds at once.
//
// Copying allocates anyway and keeps its pending work on an explicit stack.
// Every node is put in place (empty) before it is filled, so a copy that
// runs out of memory part way is still a sound tree its owner destroys.
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

// Empties root of everything below it.
void Dismantle(const Link root) {
    Link current = root;
    for (;;) {
        if (IsObject(current)) {
            CMyJsonObjImp& object = ObjectAt(current);
            if (!object.items.Empty()) {
                CMyJsonValue* child = object.items.Back().value;
                CMyJsonValueImp& inner = TKJsonAccess::Of(*child);
                if (HasChildren(inner)) {
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
                if (HasChildren(inner)) {
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
                if (!inner.items.Empty()) {
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

// One pending copy: fill the empty dst from src.
struct CopyJob {
    void* dst;
    const void* src;
    enum Kind { kValue, kObject, kItemsOnly } kind;
};

CMyJsonValue* NewEmptyValue() {
    return new CMyJsonValue;
}

void CopyNodes(WalkStack<CopyJob>& jobs) {
    while (!jobs.Empty()) {
        const CopyJob job = jobs.Top();
        jobs.Pop();
        if (job.kind != CopyJob::kValue) {
            auto& dst = *static_cast<CMyJsonObjImp*>(job.dst);
            const auto& src = *static_cast<const CMyJsonObjImp*>(job.src);
            if (job.kind == CopyJob::kObject) dst.error = src.error;
            const int first = dst.items.Size();
            const int n = src.items.Size();
            dst.items.Reserve(first + n);
            for (int i = 0; i < n; ++i) {
                std::unique_ptr<CMyJsonValue> value(NewEmptyValue());
                const CTKString key(src.items[i].key);  // before its slot exists
                new (dst.items.EmplaceSlot()) JsonItem{key, value.release()};
            }
            // Pushed last to first, so the items are filled in order.
            for (int i = n - 1; i >= 0; --i)
                jobs.Push({&TKJsonAccess::Of(*dst.items[first + i].value),
                           &TKJsonAccess::Of(*src.items[i].value), CopyJob::kValue});
            continue;
        }
        auto& dst = *static_cast<CMyJsonValueImp*>(job.dst);
        const auto& src = *static_cast<const CMyJsonValueImp*>(job.src);
        dst.text = src.text;
        dst.flag = src.flag;
        switch (src.type) {
            case CMyJsonValue::eNumber:
                dst.MakeNumber(src.number);
                break;
            case CMyJsonValue::eObj:
                if (src.object) {
                    dst.MakeObject(new CMyJsonObj);
                    jobs.Push({&TKJsonAccess::Of(*dst.object), &TKJsonAccess::Of(*src.object),
                               CopyJob::kObject});
                }
                dst.type = CMyJsonValue::eObj;
                break;
            case CMyJsonValue::eArr: {
                CMyJsonValueImp::ElementList& elements = dst.MakeArray();
                const int n = src.elements.Size();
                elements.Reserve(n);
                for (int i = 0; i < n; ++i) {
                    CMyJsonValue* element = NewEmptyValue();  // before its slot exists
                    new (elements.EmplaceSlot()) CMyJsonValue*(element);
                }
                for (int i = n - 1; i >= 0; --i)
                    jobs.Push({&TKJsonAccess::Of(*elements[i]), &TKJsonAccess::Of(*src.elements[i]),
                               CopyJob::kValue});
                break;
            }
            default:
                dst.type = src.type;
        }
    }
}

}  // namespace

void DestroyDescendants(CMyJsonValueImp& value) {
    if (HasChildren(value)) Dismantle(LinkTo(value));
}

void DestroyDescendants(CMyJsonObjImp& object) {
    if (!object.items.Empty()) Dismantle(LinkTo(object));
}

void CopyTree(CMyJsonValueImp& dst, const CMyJsonValueImp& src) {
    WalkStack<CopyJob> jobs;
    jobs.Push({&dst, &src, CopyJob::kValue});
    CopyNodes(jobs);
}

void CopyItems(CMyJsonObjImp& dst, const CMyJsonObjImp& src) {
    WalkStack<CopyJob> jobs;
    jobs.Push({&dst, &src, CopyJob::kItemsOnly});
    CopyNodes(jobs);
}

}  // namespace tk::detail
