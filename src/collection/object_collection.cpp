// CTKObjectCollection: one counted reference per CTKObject item.
#include "tavikfcu/TKCollection.h"

namespace {

CTKObject* AsObject(std::uint64_t item) {
    return reinterpret_cast<CTKObject*>(static_cast<std::uintptr_t>(item));
}

std::uint64_t AsItem(const CTKObject* obj) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(obj));
}

}  // namespace

CTKObjectCollection::CTKObjectCollection(const CTKObjectCollection& src)
    : CTKCollection(static_cast<const CTKObject&>(src)) {
    // As for strings: a copy failing half-way is undone by this class's hook.
    try {
        Append(src);
    } catch (...) {
        RemoveAll();
        throw;
    }
}

CTKObjectCollection& CTKObjectCollection::operator=(const CTKObjectCollection& src) {
    CTKCollection::operator=(src);
    return *this;
}

CTKObjectCollection::~CTKObjectCollection() {
    RemoveAll();
}

CTKObjClass* CTKObjectCollection::GetThisClass() const {
    return &m_class;
}

std::uint64_t CTKObjectCollection::OnCloneItem(std::uint64_t item) const {
    if (CTKObject* obj = AsObject(item)) obj->AddRef();
    return item;
}

void CTKObjectCollection::OnRemoveItem(std::uint64_t item) {
    if (CTKObject* obj = AsObject(item)) obj->Release();
}

int CTKObjectCollection::Add(CTKObject* obj) {
    return CTKCollection::Add(AsItem(obj));
}

CTKObject* CTKObjectCollection::GetObj(int index) const {
    return AsObject(Item(index));
}
