// CTKObjectCollection: one counted reference per CTKObject item.
#include "collection/collection_items.h"
#include "tavikfcu/TKCollection.h"

namespace {

using tk::detail::PointerAsItem;

CTKObject* AsObject(std::uint64_t item) {
    return tk::detail::ItemAsPointer<CTKObject>(item);
}

}  // namespace

CTKObjectCollection::CTKObjectCollection(const CTKObjectCollection& src)
    : CTKCollection(static_cast<const CTKObject&>(src)) {
    tk::detail::AppendOrUndo(*this, src);
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
    return CTKCollection::Add(PointerAsItem(obj));
}

CTKObject* CTKObjectCollection::GetObj(int index) const {
    return AsObject(Item(index));
}
