// Destroying and deep-copying whole trees of the model without recursion, so
// that a document nests as deep as memory allows (a key path of a million
// segments makes a million levels) and every walk stays linear in its nodes.
//
// Destruction needs no memory at all, as it may run when none is left: it
// goes down by pointer reversal. A record being emptied no longer needs its
// text (a value's) or its message (an object's), so that word holds the link
// back to the record above while the walk is below it. Leaves go as soon as
// their container is entered; the containers among the children are then
// taken from the end of the list, and deleted once they have nothing left,
// which their own destructors then find at once.
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

// Deletes every leaf of a list in one pass, first to last (the order they
// were made in, kind to the allocators); the children that have children of
// their own close up at the front, in order. True when nothing is left.
inline bool DeleteLeafChildren(CMyJsonValueImp::ElementList& elements) {
    CMyJsonValue** slots = elements.Data();
    const int n = elements.Size();
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        CMyJsonValue* child = slots[i];
        if (HasChildren(TKJsonAccess::Of(*child)))
            slots[kept++] = child;
        else
            delete child;
    }
    elements.ForgetFrom(kept);
    return kept == 0;
}

inline bool DeleteLeafChildren(RelocList<JsonItem>& items) {
    JsonItem* slots = items.Data();
    const int n = items.Size();
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        JsonItem& item = slots[i];
        if (HasChildren(TKJsonAccess::Of(*item.value))) {
            if (kept != i)  // items move as bytes (see RelocList)
                std::memcpy(static_cast<void*>(&slots[kept]), &item, sizeof item);
            ++kept;
        } else {
            delete item.value;
            item.key.~CTKString();
        }
    }
    items.ForgetFrom(kept);
    return kept == 0;
}

// Whether a value with children keeps some once its own leaf children are
// deleted (a held object that ends up empty goes too).
inline bool KeepsChildren(CMyJsonValueImp& value) {
    if (value.type == CMyJsonValue::eArr) return !DeleteLeafChildren(value.elements);
    if (!DeleteLeafChildren(TKJsonAccess::Of(*value.object).items)) return true;
    delete value.object;
    value.object = nullptr;
    return false;
}

// As DeleteLeafChildren, one level further: a child whose own children are
// all leaves goes as well. Most containers hold leaves, or containers of
// leaves, and go in this one pass.
template <typename List, typename ValueOf, typename DropKey>
bool DeleteShallowChildren(List& list, ValueOf valueOf, DropKey dropKey) {
    auto* slots = list.Data();
    const int n = list.Size();
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        CMyJsonValue* child = valueOf(slots[i]);
        CMyJsonValueImp& inner = TKJsonAccess::Of(*child);
        if (HasChildren(inner) && KeepsChildren(inner)) {
            if (kept != i)  // entries move as bytes (see RelocList)
                std::memcpy(static_cast<void*>(&slots[kept]), &slots[i], sizeof slots[i]);
            ++kept;
        } else {
            delete child;
            dropKey(slots[i]);
        }
    }
    list.ForgetFrom(kept);
    return kept == 0;
}

inline bool DeleteLeaves(CMyJsonValueImp::ElementList& elements) {
    return DeleteShallowChildren(
        elements, [](CMyJsonValue* v) { return v; }, [](CMyJsonValue*) {});
}

inline bool DeleteLeaves(RelocList<JsonItem>& items) {
    return DeleteShallowChildren(
        items, [](const JsonItem& item) { return item.value; },
        [](JsonItem& item) { item.key.~CTKString(); });
}

// Whether a value the walk is about to enter keeps children once the
// shallow ones are deleted. A held object is swept when the walk enters it.
inline bool KeepsDeepChildren(CMyJsonValueImp& value) {
    return value.type != CMyJsonValue::eArr || !DeleteLeaves(value.elements);
}

// Empties root of everything below it. Each record is entered once: its
// leaves go at once, then its remaining children from the last.
void Dismantle(const Link root) {
    Link current = root;
    for (;;) {
        if (IsObject(current)) {
            CMyJsonObjImp& object = ObjectAt(current);
            if (!object.items.Empty()) {
                CMyJsonValue* child = object.items.Back().value;
                CMyJsonValueImp& inner = TKJsonAccess::Of(*child);
                if (HasChildren(inner) && KeepsDeepChildren(inner)) {
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
                if (HasChildren(inner) && KeepsDeepChildren(inner)) {
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
                if (!inner.items.Empty() && !DeleteLeaves(inner.items)) {
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

// A value with no children to copy.
inline bool IsFlat(const CMyJsonValueImp& value) {
    if (value.type == CMyJsonValue::eArr) return value.elements.Empty();
    return value.type != CMyJsonValue::eObj || !value.object ||
           TKJsonAccess::Of(*value.object).items.Empty();
}

// The value's own fields: its kind, text, flag and number; for an object,
// a new empty one with the message of src's.
void CopyOwnFields(CMyJsonValueImp& dst, const CMyJsonValueImp& src) {
    dst.text = src.text;
    dst.flag = src.flag;
    switch (src.type) {
        case CMyJsonValue::eNumber:
            dst.MakeNumber(src.number);
            break;
        case CMyJsonValue::eArr:
            dst.MakeArray().Reserve(src.elements.Size());  // no slot fails to come later
            break;
        case CMyJsonValue::eObj:
            dst.type = CMyJsonValue::eObj;
            if (src.object) {
                dst.object = new CMyJsonObj;
                CMyJsonObjImp& object = TKJsonAccess::Of(*dst.object);
                const CMyJsonObjImp& from = TKJsonAccess::Of(*src.object);
                object.error = from.error;
                object.items.Reserve(from.items.Size());
            }
            break;
        default:
            dst.type = src.type;
    }
}

// The job that copies the children of a container whose own fields are in
// place.
CopyJob JobFor(CMyJsonValueImp& dst, const CMyJsonValueImp& src) {
    if (src.type == CMyJsonValue::eArr) return {&dst, &src, 0, false};
    return {&TKJsonAccess::Of(*dst.object), &TKJsonAccess::Of(*src.object), 0, true};
}

// Copies depth first and in order, as a recursive copy would, each node
// allocated right before its own children. The container being copied is
// the local job; the ones it is nested in wait on the stack.
void CopyChildren(CopyJob job) {
    WalkStack<CopyJob> jobs;
    for (;;) {
        CMyJsonValueImp* innerDst = nullptr;
        const CMyJsonValueImp* innerSrc = nullptr;
        if (job.object) {
            auto& dst = *static_cast<CMyJsonObjImp*>(job.dst);
            const auto& src = *static_cast<const CMyJsonObjImp*>(job.src);
            while (job.next < src.items.Size()) {
                const JsonItem& item = src.items[job.next++];
                // The value exists before its slot; the key copy shares the
                // body (a model's keys are never locked), so it cannot fail.
                CMyJsonValue* placed = new CMyJsonValue;
                new (dst.items.EmplaceSlot()) JsonItem{item.key, placed};
                CMyJsonValueImp& to = TKJsonAccess::Of(*placed);
                const CMyJsonValueImp& from = TKJsonAccess::Of(*item.value);
                CopyOwnFields(to, from);
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
                CMyJsonValue* element = new CMyJsonValue;  // before its slot exists
                new (dst.elements.EmplaceSlot()) CMyJsonValue*(element);
                CMyJsonValueImp& to = TKJsonAccess::Of(*element);
                CopyOwnFields(to, from);
                if (!IsFlat(from)) {
                    innerDst = &to;
                    innerSrc = &from;
                    break;
                }
            }
        }
        if (innerDst) {
            jobs.Push(job);
            job = JobFor(*innerDst, *innerSrc);
            continue;
        }
        if (jobs.Empty()) return;
        job = jobs.Top();
        jobs.Pop();
    }
}

}  // namespace

void DestroyDescendants(CMyJsonValueImp& value) {
    if (value.type == CMyJsonValue::eArr && DeleteLeaves(value.elements)) return;
    if (HasChildren(value)) Dismantle(LinkTo(value));
}

void DestroyDescendants(CMyJsonObjImp& object) {
    if (!object.items.Empty() && !DeleteLeaves(object.items)) Dismantle(LinkTo(object));
}

void CopyTree(CMyJsonValueImp& dst, const CMyJsonValueImp& src) {
    CopyOwnFields(dst, src);
    if (!IsFlat(src)) CopyChildren(JobFor(dst, src));
}

void CopyItems(CMyJsonObjImp& dst, const CMyJsonObjImp& src) {
    if (src.items.Empty()) return;
    dst.items.Reserve(dst.items.Size() + src.items.Size());
    CopyChildren({&dst, &src, 0, true});
}

}  // namespace tk::detail
