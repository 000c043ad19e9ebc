// CTKStringCollection: owned heap UTF-16 strings. Strings come from and go
// back to the library heap, the one tkFreeMem frees, so a caller may hand
// over any text the library allocated.
#include "collection/collection_items.h"
#include "memory/heap.h"
#include "text/wide_crt.h"
#include "tavikfcu/TKCollection.h"

namespace {

using tk::detail::PointerAsItem;

TKWCHAR* AsText(std::uint64_t item) {
    return tk::detail::ItemAsPointer<TKWCHAR>(item);
}

bool EqualExact(const TKWCHAR* a, const TKWCHAR* b) {
    return tk::platform::wcscmp(a, b) == 0;
}

bool EqualIgnoringCase(const TKWCHAR* a, const TKWCHAR* b) {
    return tk::platform::_wcsicmp(a, b) == 0;
}

}  // namespace

CTKStringCollection::CTKStringCollection(const CTKStringCollection& src)
    : CTKCollection(static_cast<const CTKObject&>(src)) {
    tk::detail::AppendOrUndo(*this, src);
}

CTKStringCollection& CTKStringCollection::operator=(const CTKStringCollection& src) {
    CTKCollection::operator=(src);
    return *this;
}

CTKStringCollection::~CTKStringCollection() {
    RemoveAll();
}

CTKObjClass* CTKStringCollection::GetThisClass() const {
    return &m_class;
}

std::uint64_t CTKStringCollection::OnCloneItem(std::uint64_t item) const {
    const TKWCHAR* text = AsText(item);
    if (!text) return 0;
    return PointerAsItem(tk::detail::HeapCopy(text, tk::platform::lstrlenW(text)));
}

void CTKStringCollection::OnRemoveItem(std::uint64_t item) {
    tk::detail::HeapFree(AsText(item));
}

int CTKStringCollection::Add(TKWCHAR* text) {
    return CTKCollection::Add(PointerAsItem(text));
}

int CTKStringCollection::CloneAdd(const TKWCHAR* text) {
    std::uint64_t copy = OnCloneItem(PointerAsItem(text));
    try {
        return CTKCollection::Add(copy);
    } catch (...) {
        OnRemoveItem(copy);
        throw;
    }
}

const TKWCHAR* CTKStringCollection::GetStr(int index) const {
    return AsText(Item(index));
}

int CTKStringCollection::Find(const TKWCHAR* text, bool caseSensitive, int start) const {
    if (!text) return -1;
    const int n = Count();
    for (int i = start < 0 ? 0 : start; i < n; ++i) {
        const TKWCHAR* s = AsText(Item(i));
        if (s && (caseSensitive ? EqualExact(s, text) : EqualIgnoringCase(s, text))) return i;
    }
    return -1;
}
