// CTKCollection: a growable array of 64-bit items with clone and removal
// hooks. The storage is a heap std::vector; removal hooks always run before
// items leave it, in index order.
#include <stdexcept>

#include "tavikfcu/TKCollection.h"

namespace {

// The text the standard vector gives for an impossible size; callers of
// SetPhysicalLength know it from there.
constexpr const char* kTooLong = "vector<T> too long";

}  // namespace

CTKCollection::CTKCollection() : m_pData(new std::vector<std::uint64_t>) {}

CTKCollection::CTKCollection(const CTKObject& status)
    : CTKObject(status), m_pData(new std::vector<std::uint64_t>) {}

CTKCollection::CTKCollection(const CTKCollection& src)
    : CTKObject(src), m_pData(new std::vector<std::uint64_t>) {
    // A plain CTKCollection's clone hook cannot fail; the library's subclasses
    // copy through their own constructors, where a failed clone can be undone.
    try {
        Append(src);
    } catch (...) {
        delete m_pData;
        throw;
    }
}

CTKCollection& CTKCollection::operator=(const CTKCollection& src) {
    if (this != &src) {
        CTKObject::operator=(src);
        CopyFrom(src);
    }
    return *this;
}

CTKCollection::~CTKCollection() {
    delete m_pData;
}

CTKObjClass* CTKCollection::GetThisClass() const {
    return &m_class;
}

void CTKCollection::CopyFrom(const CTKCollection& src) {
    if (&src == this) return;
    RemoveAll();
    Append(src);
}

int CTKCollection::Add(std::uint64_t item) {
    m_pData->push_back(item);
    return static_cast<int>(m_pData->size()) - 1;
}

void CTKCollection::ReserveFor(std::size_t extra) {
    std::vector<std::uint64_t>& v = *m_pData;
    std::size_t needed = v.size() + extra;
    if (needed <= v.capacity()) return;
    std::size_t doubled = v.capacity() * 2;
    v.reserve(needed > doubled || doubled > v.max_size() ? needed : doubled);
}

void CTKCollection::Append(const CTKCollection& src) {
    // Read the source's count once (src may be this collection) and make all
    // the room first: every clone the hook makes is then stored, never lost.
    const int n = src.Count();
    if (n <= 0) return;
    ReserveFor(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) m_pData->push_back(src.OnCloneItem(src.Item(i)));
}

void CTKCollection::InsertAt(int index, std::uint64_t item) {
    if (index < 0 || index > Count()) throw std::out_of_range("CTKCollection::InsertAt");
    m_pData->insert(m_pData->begin() + index, item);
}

int CTKCollection::Count() const {
    return static_cast<int>(m_pData->size());
}

void CTKCollection::RemoveAt(int index) {
    if (index < 0 || index >= Count()) throw std::out_of_range("CTKCollection::RemoveAt");
    OnRemoveItem((*m_pData)[static_cast<std::size_t>(index)]);
    m_pData->erase(m_pData->begin() + index);
}

void CTKCollection::RemoveAll() {
    for (std::size_t i = 0; i < m_pData->size(); ++i) OnRemoveItem((*m_pData)[i]);
    m_pData->clear();
}

std::uint64_t CTKCollection::OnCloneItem(std::uint64_t item) const {
    return item;
}

void CTKCollection::OnRemoveItem(std::uint64_t) {}

int CTKCollection::GrowLength() const {
    return 1;
}

void CTKCollection::SetGrowLength(int) {}

int CTKCollection::LogicalLength() const {
    return Count();
}

void CTKCollection::SetLogicalLength(int n) {
    if (n < 0) throw std::length_error(kTooLong);
    for (std::size_t i = static_cast<std::size_t>(n); i < m_pData->size(); ++i)
        OnRemoveItem((*m_pData)[i]);
    m_pData->resize(static_cast<std::size_t>(n), 0);
}

int CTKCollection::PhysicalLength() const {
    return static_cast<int>(m_pData->capacity());
}

void CTKCollection::SetPhysicalLength(int n) {
    if (n < 0) throw std::length_error(kTooLong);
    const std::size_t size = static_cast<std::size_t>(n);
    if (size < m_pData->size()) {
        for (std::size_t i = size; i < m_pData->size(); ++i) OnRemoveItem((*m_pData)[i]);
        m_pData->resize(size);
    }
    if (m_pData->capacity() < size) m_pData->reserve(size);
}

int CTKCollection::Find(std::uint64_t item, int start) const {
    const int n = Count();
    for (int i = start < 0 ? 0 : start; i < n; ++i)
        if ((*m_pData)[static_cast<std::size_t>(i)] == item) return i;
    return -1;
}

bool CTKCollection::Contains(std::uint64_t item, int start) const {
    return Find(item, start) >= 0;
}

const std::uint64_t& CTKCollection::Item(int index) const {
    return (*m_pData)[static_cast<std::size_t>(index)];
}

std::uint64_t& CTKCollection::Item(int index) {
    return (*m_pData)[static_cast<std::size_t>(index)];
}

const std::uint64_t& CTKCollection::operator[](int index) const {
    return (*m_pData)[static_cast<std::size_t>(index)];
}

std::uint64_t& CTKCollection::operator[](int index) {
    return (*m_pData)[static_cast<std::size_t>(index)];
}

std::uint64_t* CTKCollection::DataPtr() {
    return m_pData->data();
}

const std::uint64_t* CTKCollection::constDataPtr() const {
    return m_pData->data();
}
