// CMyJsonObj: items, key lookup and key paths, copies.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "json/json_blocks.h"
#include "json/json_records.h"
#include "text/wide_crt.h"

using tk::detail::ItemList;
using tk::detail::ItemsOf;
using tk::detail::JsonItem;
using tk::detail::RelocList;
using tk::detail::ValueView;

void CMyJsonObjImp::ReleaseItems() {
    tk::detail::DestroyDescendants(*this);
    items.Clear();
}

namespace tk::detail {

const CTKString& ErrorOf(const CMyJsonObj& o) {
    return IsCompact(o) ? EmptyText() : TKJsonAccess::Of(o).error;
}

CMyJsonObjImp& Promote(CMyJsonObj& object) {
    const std::uintptr_t word = TKJsonAccess::Word(object);
    if (!CompactWord::IsCompact(word)) {
        WillChange(TKJsonAccess::Of(object));
        return TKJsonAccess::Of(object);
    }
    DocumentStore::Of(&object)->MarkEdited();
    auto* record = new CMyJsonObjImp;
    record->where =
        (word & CompactWord::kEscaped) ? Placement::kPromotedEscaped : Placement::kPromoted;
    // The item list moves as bytes (json_records.h).
    std::memcpy(static_cast<void*>(&record->items), TKJsonAccess::Payload(object), sizeof(void*));
    TKJsonAccess::SetWord(object, reinterpret_cast<std::uintptr_t>(record));
    return *record;
}

}  // namespace tk::detail

namespace {

// The record of a handle under construction (see json_blocks.h).
inline CMyJsonObjImp* RecordFor(const CMyJsonObj* handle) {
    return tk::detail::NewRecord<CMyJsonObj, CMyJsonObjImp>(handle, tk::detail::Pending().object);
}

constexpr TKWCHAR kPathSeparator = '\\';

// The index of the item for key s[0..n) in one object, or -1. The first
// pass compares code unit for code unit; the second, when exact is false,
// uses the C runtime's case-insensitive wide comparison (Unicode simple case
// folding, ending at the first NUL). An exact match anywhere beats an
// earlier case-insensitive one.
int FindKey(const CMyJsonObj& obj, const TKWCHAR* s, int n, bool exact) {
    const ItemList& items = ItemsOf(obj);
    for (int i = 0; i < items.Size(); ++i) {
        const CTKString& key = items[i].key;
        if (key.GetLength() == n &&
            std::memcmp(static_cast<const TKWCHAR*>(key), s, n * sizeof(TKWCHAR)) == 0)
            return i;
    }
    if (exact || items.Empty()) return -1;
    const CTKString segment(s, n);  // a path segment is not NUL-terminated
    for (int i = 0; i < items.Size(); ++i)
        if (tk::platform::_wcsicmp(items[i].key, segment) == 0) return i;
    return -1;
}

// One segment of a key path: [begin, begin + length), and whether it is the
// last one.
struct Segment {
    const TKWCHAR* begin;
    int length;
    bool last;
};

inline Segment SegmentAt(const TKWCHAR* s) {
    const TKWCHAR* p = s;
    while (*p && *p != kPathSeparator) ++p;
    return {s, static_cast<int>(p - s), *p == 0};
}

// The value under a key path, or null.
CMyJsonValue* FindPath(const CMyJsonObj& root, const TKWCHAR* key, bool exact) {
    if (!key) return nullptr;
    const CMyJsonObj* current = &root;
    for (const TKWCHAR* s = key;;) {
        Segment segment = SegmentAt(s);
        int i = FindKey(*current, segment.begin, segment.length, exact);
        if (i < 0) return nullptr;
        CMyJsonValue* value = ItemsOf(*current)[i].value;
        if (segment.last) return value;
        current = ValueView(*value).HeldObject();
        if (!current) return nullptr;
        s = segment.begin + segment.length + 1;
    }
}

void AppendItem(CMyJsonObj& obj, const TKWCHAR* key, int n, CMyJsonValue* value) {
    tk::detail::MarkStoreEdited(obj);
    new (ItemsOf(obj).EmplaceSlot()) JsonItem{CTKString(key, n), value};
}

}  // namespace

// ---- construction ---------------------------------------------------------------

CMyJsonObj::CMyJsonObj() : m_imp(RecordFor(this)) {}

CMyJsonObj::CMyJsonObj(const CMyJsonObj& src) : m_imp(RecordFor(this)) {
    try {
        m_imp->error = tk::detail::ErrorOf(src);
        tk::detail::CopyItems(m_imp->items, src);
    } catch (...) {
        m_imp->ReleaseItems();
        tk::detail::DeleteRecord(m_imp, this);
        throw;
    }
}

CMyJsonObj& CMyJsonObj::operator=(const CMyJsonObj& src) {
    if (this == &src) return *this;
    CopyFrom(&src);
    tk::detail::Promote(*this).error = tk::detail::ErrorOf(src);
    return *this;
}

CMyJsonObj::~CMyJsonObj() {
    if (tk::detail::IsCompact(*this)) {
        tk::detail::DestroyCompact(*this);
        return;
    }
    // Items read from text go with their store while it is untouched.
    if (!tk::detail::InUntouchedStore(*m_imp)) m_imp->ReleaseItems();
    tk::detail::DeleteRecord(m_imp, this);
}

// ---- appending ------------------------------------------------------------------

bool CMyJsonObj::AddItem(const TKWCHAR* key, CMyJsonValue* value) {
    if (!key || !value) return false;
    AppendItem(*this, key, tk::platform::lstrlenW(key), value);
    return true;
}

namespace {

// Appends a value that the overload built itself; released if that fails.
bool AddBuilt(CMyJsonObj& obj, const TKWCHAR* key, CMyJsonValue* built) {
    std::unique_ptr<CMyJsonValue> value(built);
    if (!obj.AddItem(key, value.get())) return false;
    value.release();
    return true;
}

}  // namespace

bool CMyJsonObj::AddItem(const TKWCHAR* key) {
    return key && AddBuilt(*this, key, new CMyJsonValue);
}
bool CMyJsonObj::AddItem(const TKWCHAR* key, const TKWCHAR* text) {
    return key && AddBuilt(*this, key, new CMyJsonValue(text));
}
bool CMyJsonObj::AddItem(const TKWCHAR* key, double number) {
    return key && AddBuilt(*this, key, new CMyJsonValue(number));
}
bool CMyJsonObj::AddItem(const TKWCHAR* key, int number) {
    return key && AddBuilt(*this, key, new CMyJsonValue(number));
}
bool CMyJsonObj::AddItem(const TKWCHAR* key, bool flag) {
    return key && AddBuilt(*this, key, new CMyJsonValue(flag));
}
bool CMyJsonObj::AddItem(const TKWCHAR* key, CMyJsonValue* const* items, int n) {
    return key && AddBuilt(*this, key, new CMyJsonValue(items, n));
}
bool CMyJsonObj::AddItem(const TKWCHAR* key, const double* numbers, int n) {
    return key && AddBuilt(*this, key, new CMyJsonValue(numbers, n));
}
bool CMyJsonObj::AddItem(const TKWCHAR* key, const int* numbers, int n) {
    return key && AddBuilt(*this, key, new CMyJsonValue(numbers, n));
}
bool CMyJsonObj::AddItem(const TKWCHAR* key, CMyJsonObj* obj) {
    return key && AddBuilt(*this, key, new CMyJsonValue(obj));
}

// ---- storing under a path ---------------------------------------------------------

bool CMyJsonObj::SetItem(const TKWCHAR* key, CMyJsonValue* value, bool exact, bool mustExist) {
    if (!key || !value) return false;
    CMyJsonObj* current = this;
    for (const TKWCHAR* s = key;;) {
        Segment segment = SegmentAt(s);
        int i = FindKey(*current, segment.begin, segment.length, exact);
        if (i >= 0) {
            CMyJsonValue*& slot = ItemsOf(*current)[i].value;
            if (segment.last) {
                if (slot != value) {
                    tk::detail::MarkStoreEdited(*current);
                    CMyJsonValue* old = slot;
                    slot = value;
                    delete old;
                }
                return true;
            }
            current = ValueView(*slot).HeldObject();
            if (!current) return false;
        } else {
            if (mustExist) return false;
            if (segment.last) {
                AppendItem(*current, segment.begin, segment.length, value);
                return true;
            }
            // A missing level: a new empty object, then go on inside it.
            std::unique_ptr<CMyJsonValue> level(new CMyJsonValue(new CMyJsonObj));
            CMyJsonObj* inner = TKJsonAccess::Of(*level).object;
            AppendItem(*current, segment.begin, segment.length, level.get());
            level.release();
            current = inner;
        }
        s = segment.begin + segment.length + 1;
    }
}

namespace {

// Stores a value that the overload built itself; released if that fails.
bool SetBuilt(CMyJsonObj& obj, const TKWCHAR* key, CMyJsonValue* built, bool exact,
              bool mustExist) {
    std::unique_ptr<CMyJsonValue> value(built);
    if (!obj.SetItem(key, value.get(), exact, mustExist)) return false;
    value.release();
    return true;
}

}  // namespace

bool CMyJsonObj::SetItem(const TKWCHAR* key, const TKWCHAR* text, bool exact, bool mustExist) {
    return key && SetBuilt(*this, key, new CMyJsonValue(text), exact, mustExist);
}
bool CMyJsonObj::SetItem(const TKWCHAR* key, double number, bool exact, bool mustExist) {
    return key && SetBuilt(*this, key, new CMyJsonValue(number), exact, mustExist);
}
bool CMyJsonObj::SetItem(const TKWCHAR* key, int number, bool exact, bool mustExist) {
    return key && SetBuilt(*this, key, new CMyJsonValue(number), exact, mustExist);
}
bool CMyJsonObj::SetItem(const TKWCHAR* key, bool flag, bool exact, bool mustExist) {
    return key && SetBuilt(*this, key, new CMyJsonValue(flag), exact, mustExist);
}
bool CMyJsonObj::SetItem(const TKWCHAR* key, CMyJsonValue* const* items, int n, bool exact,
                         bool mustExist) {
    return key && SetBuilt(*this, key, new CMyJsonValue(items, n), exact, mustExist);
}
bool CMyJsonObj::SetItem(const TKWCHAR* key, const double* numbers, int n, bool exact,
                         bool mustExist) {
    return key && SetBuilt(*this, key, new CMyJsonValue(numbers, n), exact, mustExist);
}
bool CMyJsonObj::SetItem(const TKWCHAR* key, const int* numbers, int n, bool exact,
                         bool mustExist) {
    return key && SetBuilt(*this, key, new CMyJsonValue(numbers, n), exact, mustExist);
}
bool CMyJsonObj::SetItem(const TKWCHAR* key, CMyJsonObj* obj, bool exact, bool mustExist) {
    return key && SetBuilt(*this, key, new CMyJsonValue(obj), exact, mustExist);
}
bool CMyJsonObj::SetItem2Empty(const TKWCHAR* key, bool exact, bool mustExist) {
    return key && SetBuilt(*this, key, new CMyJsonValue, exact, mustExist);
}

// ---- removing ----------------------------------------------------------------------

void CMyJsonObj::DelItemEx(const TKWCHAR* key, bool exact) {
    if (!key) return;
    int i = FindKey(*this, key, tk::platform::lstrlenW(key), exact);
    if (i < 0) return;
    tk::detail::MarkStoreEdited(*this);
    ItemList& items = ItemsOf(*this);
    CMyJsonValue* value = items[i].value;
    items.Erase(i);
    delete value;
}

void CMyJsonObj::DelItem(const TKWCHAR* key) {
    DelItemEx(key, true);
}

// ---- reading -----------------------------------------------------------------------

int CMyJsonObj::ValueCount() const {
    return ItemsOf(*this).Size();
}

bool CMyJsonObj::Item(int i, CTKString& key, CMyJsonValue*& value) const {
    const ItemList& items = ItemsOf(*this);
    if (i < 0 || i >= items.Size()) return false;
    key = CTKString(items[i].key);  // a key read from text is copied out (json_store.h)
    value = items[i].value;
    return true;
}

bool CMyJsonObj::ValueEx(const TKWCHAR* key, CMyJsonValue*& value, bool exact) const {
    CMyJsonValue* found = FindPath(*this, key, exact);
    if (!found) return false;
    value = found;
    return true;
}

bool CMyJsonObj::Value(const TKWCHAR* key, CMyJsonValue*& value) const {
    return ValueEx(key, value, true);
}

namespace {

// The value under a key path when it has the wanted kind, else null.
const CMyJsonValue* FindOfKind(const CMyJsonObj& root, const TKWCHAR* key, bool exact,
                               CMyJsonValue::EValueType kind) {
    const CMyJsonValue* found = FindPath(root, key, exact);
    return found && ValueView(*found).Kind() == kind ? found : nullptr;
}

}  // namespace

bool CMyJsonObj::ValueEx(const TKWCHAR* key, bool& out, bool exact) const {
    const CMyJsonValue* found = FindOfKind(*this, key, exact, CMyJsonValue::eBool);
    if (!found) return false;
    out = ValueView(*found).Flag();
    return true;
}

bool CMyJsonObj::ValueEx(const TKWCHAR* key, int& out, bool exact) const {
    const CMyJsonValue* found = FindOfKind(*this, key, exact, CMyJsonValue::eNumber);
    if (!found) return false;
    const double number = ValueView(*found).Number();
    // Truncation toward zero is defined only for numbers that fit an int.
    if (!(number > -2147483649.0 && number < 2147483648.0)) return false;
    out = static_cast<int>(number);
    return true;
}

bool CMyJsonObj::ValueEx(const TKWCHAR* key, double& out, bool exact) const {
    const CMyJsonValue* found = FindOfKind(*this, key, exact, CMyJsonValue::eNumber);
    if (!found) return false;
    out = ValueView(*found).Number();
    return true;
}

bool CMyJsonObj::ValueEx(const TKWCHAR* key, CTKString& out, bool exact) const {
    const CMyJsonValue* found = FindOfKind(*this, key, exact, CMyJsonValue::eStr);
    if (!found) return false;
    out =
        CTKString(ValueView(*found).Text());  // a text read from text is copied out (json_store.h)
    return true;
}

bool CMyJsonObj::ValueEx(const TKWCHAR* key, const TKWCHAR*& out, bool exact) const {
    const CMyJsonValue* found = FindOfKind(*this, key, exact, CMyJsonValue::eStr);
    if (!found) return false;
    out = ValueView(*found).Text();
    return true;
}

bool CMyJsonObj::ValueEx(const TKWCHAR* key, CMyJsonObj*& out, bool exact) const {
    const CMyJsonValue* found = FindOfKind(*this, key, exact, CMyJsonValue::eObj);
    if (!found) return false;
    out = ValueView(*found).Object();
    return true;
}

CTKString CMyJsonObj::GetErrMsg() {
    return tk::detail::ErrorOf(*this);
}

// ---- copies --------------------------------------------------------------------------

CMyJsonObj* CMyJsonObj::Clone() const {
    return new CMyJsonObj(*this);
}

void CMyJsonObj::CopyFrom(const CMyJsonObj* src) {
    if (src == this) return;
    tk::detail::MarkStoreEdited(*this);
    // Built aside first: src may live inside this object.
    CMyJsonObjImp fresh;
    if (src) {
        try {
            tk::detail::CopyItems(fresh.items, *src);
        } catch (...) {
            fresh.ReleaseItems();
            throw;
        }
    }
    ItemsOf(*this).Swap(fresh.items);
    fresh.ReleaseItems();  // what this object held before
}

// ---- text ------------------------------------------------------------------------------

bool CMyJsonObj::Load(const TKWCHAR* text) {
    CMyJsonObjImp& mine = tk::detail::Promote(*this);
    return tk::detail::ReadDocumentObject(text, mine, mine.error);
}

CTKString CMyJsonObj::CreateJson(bool formatted) {
    return tk::detail::WriteObjectText(*this, formatted);
}

char* CMyJsonObj::CreateUTF8Json(bool formatted) const {
    return tk::detail::ToUtf8Buffer(tk::detail::WriteObjectText(*this, formatted));
}
