// CMyJsonValue: construction, kinds, copies and array editing.
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "json/json_blocks.h"
#include "json/json_records.h"

using tk::detail::RelocList;
using tk::detail::ValueView;

namespace {

// The record of a handle under construction (see json_blocks.h).
inline CMyJsonValueImp* RecordFor(const CMyJsonValue* handle) {
    return tk::detail::NewRecord<CMyJsonValue, CMyJsonValueImp>(handle,
                                                                tk::detail::Pending().value);
}

// Where an insertion at pos goes in a list of the given length: pos itself
// when it is within 0 .. length, else the end.
inline int InsertionIndex(int pos, int length) {
    return pos >= 0 && pos <= length ? pos : length;
}

inline CMyJsonValue::EValueType KindOf(const CMyJsonValue* v) {
    return ValueView(*v).Kind();
}

// An array accepts a kind when it is empty or its element 0 has that kind.
inline bool Accepts(const ValueView& array, CMyJsonValue::EValueType kind) {
    const RelocList<CMyJsonValue*>& elements = array.Elements();
    return elements.Empty() || KindOf(elements[0]) == kind;
}  // (array is eArr)
inline bool Accepts(const CMyJsonValueImp& array, CMyJsonValue::EValueType kind) {
    return array.elements.Empty() || KindOf(array.elements[0]) == kind;
}

// Inserts v before index at; the array owns v once this returns. Room is
// made first, so when that fails v is still the caller's.
inline void InsertElement(CMyJsonValueImp& array, int at, std::unique_ptr<CMyJsonValue>&& v) {
    array.elements.Reserve(array.elements.Size() + 1);
    new (array.elements.InsertSlot(at)) CMyJsonValue*(v.release());
}

template <typename Number>
void FillNumbers(CMyJsonValueImp& imp, const Number* numbers, int n) {
    CMyJsonValueImp::ElementList& elements = imp.MakeArray();
    if (!numbers || n <= 0) return;
    elements.Reserve(n);
    for (int i = 0; i < n; ++i)
        new (elements.EmplaceSlot())
            CMyJsonValue*(new CMyJsonValue(static_cast<double>(numbers[i])));
}

}  // namespace

namespace tk::detail {

const CTKString& EmptyText() {
    static const CTKString empty;
    return empty;
}

CMyJsonValueImp& Promote(CMyJsonValue& value) {
    const std::uintptr_t word = TKJsonAccess::Word(value);
    if (!CompactWord::IsCompact(word)) {
        WillChange(TKJsonAccess::Of(value));
        return TKJsonAccess::Of(value);
    }
    DocumentStore::Of(&value)->MarkEdited();
    auto* record = new CMyJsonValueImp;
    record->where =
        (word & CompactWord::kEscaped) ? Placement::kPromotedEscaped : Placement::kPromoted;
    const void* payload = TKJsonAccess::Payload(value);
    // The word moves as bytes: a fixed text, a stored list and an object
    // pointer are all relocatable, and the compact form is never read again.
    switch (CompactWord::Kind(word)) {
        case CMyJsonValue::eStr:
            record->text.~CTKString();
            std::memcpy(static_cast<void*>(&record->text), payload, sizeof(void*));
            record->type = CMyJsonValue::eStr;
            break;
        case CMyJsonValue::eNumber:
            record->MakeNumber(*static_cast<const double*>(payload));
            break;
        case CMyJsonValue::eBool:
            record->MakeBool((word & CompactWord::kFlag) != 0);
            break;
        case CMyJsonValue::eArr:
            record->MakeArray();
            std::memcpy(static_cast<void*>(&record->elements), payload, sizeof(void*));
            break;
        case CMyJsonValue::eObj:
            record->type = CMyJsonValue::eObj;
            record->object = *static_cast<CMyJsonObj* const*>(payload);
            break;
        default:
            break;
    }
    TKJsonAccess::SetWord(value, reinterpret_cast<std::uintptr_t>(record));
    return *record;
}

}  // namespace tk::detail

// ---- construction ----------------------------------------------------------------

CMyJsonValue::CMyJsonValue() : m_imp(RecordFor(this)) {}

CMyJsonValue::CMyJsonValue(const TKWCHAR* text) : m_imp(RecordFor(this)) {
    if (!text) return;
    m_imp->text = text;
    m_imp->type = eStr;
}

CMyJsonValue::CMyJsonValue(double number) : m_imp(RecordFor(this)) {
    m_imp->MakeNumber(number);
}

CMyJsonValue::CMyJsonValue(int number) : CMyJsonValue(static_cast<double>(number)) {}

CMyJsonValue::CMyJsonValue(bool flag) : m_imp(RecordFor(this)) {
    m_imp->MakeBool(flag);
}

CMyJsonValue::CMyJsonValue(CMyJsonObj* obj) : m_imp(RecordFor(this)) {
    m_imp->MakeObject(obj);
}

CMyJsonValue::CMyJsonValue(CMyJsonValue* const* items, int n) : m_imp(RecordFor(this)) {
    m_imp->MakeArray().AdoptRelocated(items, items ? n : 0);
}

CMyJsonValue::CMyJsonValue(const float* numbers, int n) : m_imp(RecordFor(this)) {
    FillNumbers(*m_imp, numbers, n);
}
CMyJsonValue::CMyJsonValue(const double* numbers, int n) : m_imp(RecordFor(this)) {
    FillNumbers(*m_imp, numbers, n);
}
CMyJsonValue::CMyJsonValue(const int* numbers, int n) : m_imp(RecordFor(this)) {
    FillNumbers(*m_imp, numbers, n);
}
CMyJsonValue::CMyJsonValue(const unsigned int* numbers, int n) : m_imp(RecordFor(this)) {
    FillNumbers(*m_imp, numbers, n);
}
CMyJsonValue::CMyJsonValue(const unsigned short* numbers, int n) : m_imp(RecordFor(this)) {
    FillNumbers(*m_imp, numbers, n);
}
CMyJsonValue::CMyJsonValue(const short* numbers, int n) : m_imp(RecordFor(this)) {
    FillNumbers(*m_imp, numbers, n);
}
CMyJsonValue::CMyJsonValue(const unsigned char* numbers, int n) : m_imp(RecordFor(this)) {
    FillNumbers(*m_imp, numbers, n);
}

CMyJsonValue::CMyJsonValue(const CMyJsonValue& src) : m_imp(RecordFor(this)) {
    try {
        tk::detail::CopyTree(*m_imp, src);
    } catch (...) {
        tk::detail::DeleteRecord(m_imp, this);
        throw;
    }
}

CMyJsonValue& CMyJsonValue::operator=(const CMyJsonValue& src) {
    CopyFrom(&src);
    return *this;
}

CMyJsonValue::~CMyJsonValue() {
    if (tk::detail::IsCompact(*this))
        tk::detail::DestroyCompact(*this);
    else
        tk::detail::DeleteRecord(m_imp, this);
}

// ---- kind and fields ---------------------------------------------------------------

CMyJsonValue::EValueType CMyJsonValue::Type() {
    return ValueView(*this).Kind();
}
bool CMyJsonValue::IsType(EValueType type) const {
    return ValueView(*this).Kind() == type;
}
bool CMyJsonValue::IsEmpty() const {
    return ValueView(*this).Kind() == eEmpty;
}
bool CMyJsonValue::IsStr() const {
    return ValueView(*this).Kind() == eStr;
}
bool CMyJsonValue::IsNumber() const {
    return ValueView(*this).Kind() == eNumber;
}
bool CMyJsonValue::IsArr() const {
    return ValueView(*this).Kind() == eArr;
}
bool CMyJsonValue::IsBool() const {
    return ValueView(*this).Kind() == eBool;
}
bool CMyJsonValue::IsObj() const {
    return ValueView(*this).Kind() == eObj;
}

bool CMyJsonValue::ValueBool() const {
    return ValueView(*this).Flag();
}
double CMyJsonValue::ValueNumber() const {
    const ValueView view(*this);
    return view.Kind() == eNumber ? view.Number() : 0.0;
}
const TKWCHAR* CMyJsonValue::ValueStr() const {
    return ValueView(*this).Text();
}
CMyJsonObj* CMyJsonValue::ValueObj() const {
    return ValueView(*this).HeldObject();
}

int CMyJsonValue::ValueArrLength() const {
    return ValueView(*this).ElementCount();
}

CMyJsonValue* CMyJsonValue::ValueArrItem(int i) const {
    const ValueView view(*this);
    if (i < 0 || i >= view.ElementCount()) return nullptr;
    return view.Elements()[i];
}

void CMyJsonValue::ValueArr(CMyJsonValue** buffer, int& n) const {
    const ValueView view(*this);
    int count = view.ElementCount();
    if (buffer) {
        int stored = n < count ? n : count;
        for (int i = 0; i < stored; ++i) buffer[i] = view.Elements()[i];
    }
    n = count;
}

// ---- copies ----------------------------------------------------------------------------

CMyJsonValue* CMyJsonValue::Clone() const {
    return new CMyJsonValue(*this);
}

void CMyJsonValue::CopyFrom(const CMyJsonValue* src) {
    if (!src || src == this) return;
    CMyJsonValueImp& mine = tk::detail::Promote(*this);
    // Built aside first: src may be one of the elements released below.
    std::unique_ptr<CMyJsonValueImp> fresh(new CMyJsonValueImp);
    tk::detail::CopyTree(*fresh, *src);  // on failure fresh releases its part
    mine.SwapContents(*fresh);
    // fresh now holds what this value held before and releases it.
}

// ---- array insertion ---------------------------------------------------------------------

// Every check below reads through a view; a value read from text gets its
// record (Promote) only once a change is certain.

bool CMyJsonValue::AddToArr(const CMyJsonValue* v, int pos) {
    const ValueView self(*this);
    if (self.Kind() != eArr || !v) return false;
    const ValueView source(*v);
    if (source.Kind() != eArr) {
        if (!Accepts(self, source.Kind())) return false;
        std::unique_ptr<CMyJsonValue> copy(v->Clone());
        CMyJsonValueImp& mine = tk::detail::Promote(*this);
        InsertElement(mine, InsertionIndex(pos, mine.elements.Size()), std::move(copy));
        return true;
    }
    if (v == this) {
        // Splicing an array into itself: work from a snapshot.
        std::unique_ptr<CMyJsonValue> snapshot(v->Clone());
        return AddToArr(snapshot.get(), pos);
    }
    const int n = source.Elements().Size();
    if (n == 0) return true;
    CMyJsonValueImp& mine = tk::detail::Promote(*this);
    const int at = InsertionIndex(pos, mine.elements.Size());
    // From the last element to the first, each inserted at the same index,
    // so they end up in v's order.
    for (int k = n - 1; k >= 0; --k) {
        const CMyJsonValue* element = source.Elements()[k];
        if (!Accepts(mine, KindOf(element))) return false;
        InsertElement(mine, at, std::unique_ptr<CMyJsonValue>(element->Clone()));
    }
    return true;
}

bool CMyJsonValue::AddToArr(const CMyJsonObj* obj, int pos) {
    if (!IsArr() || !obj || !Accepts(ValueView(*this), eObj)) return false;
    std::unique_ptr<CMyJsonObj> copy(obj->Clone());
    std::unique_ptr<CMyJsonValue> value(new CMyJsonValue(copy.get()));
    copy.release();
    CMyJsonValueImp& mine = tk::detail::Promote(*this);
    InsertElement(mine, InsertionIndex(pos, mine.elements.Size()), std::move(value));
    return true;
}

bool CMyJsonValue::AddToArr(const TKWCHAR* text, int pos) {
    EValueType kind = text ? eStr : eEmpty;
    if (!IsArr() || !Accepts(ValueView(*this), kind)) return false;
    std::unique_ptr<CMyJsonValue> value(new CMyJsonValue(text));
    CMyJsonValueImp& mine = tk::detail::Promote(*this);
    InsertElement(mine, InsertionIndex(pos, mine.elements.Size()), std::move(value));
    return true;
}

bool CMyJsonValue::AddToArr(double number, int pos) {
    if (!IsArr() || !Accepts(ValueView(*this), eNumber)) return false;
    std::unique_ptr<CMyJsonValue> value(new CMyJsonValue(number));
    CMyJsonValueImp& mine = tk::detail::Promote(*this);
    InsertElement(mine, InsertionIndex(pos, mine.elements.Size()), std::move(value));
    return true;
}

bool CMyJsonValue::AddToArr(int number, int pos) {
    return AddToArr(static_cast<double>(number), pos);
}

bool CMyJsonValue::AddToArr(bool flag, int pos) {
    if (!IsArr() || !Accepts(ValueView(*this), eBool)) return false;
    std::unique_ptr<CMyJsonValue> value(new CMyJsonValue(flag));
    CMyJsonValueImp& mine = tk::detail::Promote(*this);
    InsertElement(mine, InsertionIndex(pos, mine.elements.Size()), std::move(value));
    return true;
}

bool CMyJsonValue::MoveToArr(CMyJsonValue* v, int pos) {
    if (!IsArr() || !v || v == this) return false;
    const ValueView source(*v);
    if (source.Kind() != eArr) {
        if (!Accepts(ValueView(*this), source.Kind())) return false;
        CMyJsonValueImp& mine = tk::detail::Promote(*this);
        mine.elements.Reserve(mine.elements.Size() + 1);
        new (mine.elements.InsertSlot(InsertionIndex(pos, mine.elements.Size()))) CMyJsonValue*(v);
        return true;
    }
    RelocList<CMyJsonValue*>& theirs = source.Elements();
    const int n = theirs.Size();
    if (n > 0) {
        // Every element must pass before any moves, so that a refusal leaves
        // each element owned once. Inserting from the last one at a fixed
        // index makes each check compare with the array's element 0, or,
        // for an empty array, with v's last element.
        const ValueView self(*this);
        EValueType kind =
            self.Elements().Empty() ? KindOf(theirs[n - 1]) : KindOf(self.Elements()[0]);
        for (int k = 0; k < n; ++k)
            if (KindOf(theirs[k]) != kind || theirs[k] == this) return false;
        RelocList<CMyJsonValue*>& mine = tk::detail::Promote(*this).elements;
        tk::detail::MarkStoreEdited(*v);  // v's elements leave it
        const int at = InsertionIndex(pos, mine.Size());
        mine.Reserve(mine.Size() + n);  // no allocation failure half way
        for (int k = n - 1; k >= 0; --k) {
            // An element read from text now hangs from this array, and v,
            // which held it in its store, goes.
            tk::detail::Escape(*theirs[k]);
            new (mine.InsertSlot(at)) CMyJsonValue*(theirs[k]);
        }
        theirs.ForgetAll();
    }
    delete v;  // an array without elements now
    return true;
}

bool CMyJsonValue::MoveToArr(CMyJsonObj* obj, int pos) {
    if (!IsArr() || !obj || !Accepts(ValueView(*this), eObj)) return false;
    RelocList<CMyJsonValue*>& mine = tk::detail::Promote(*this).elements;
    mine.Reserve(mine.Size() + 1);  // if this fails the caller still has obj
    auto* value = new CMyJsonValue(obj);
    new (mine.InsertSlot(InsertionIndex(pos, mine.Size()))) CMyJsonValue*(value);
    return true;
}

void CMyJsonValue::RemoveFromArr(int i, bool destroy) {
    if (i < 0 || i >= ValueView(*this).ElementCount()) return;
    RelocList<CMyJsonValue*>& mine = tk::detail::Promote(*this).elements;
    CMyJsonValue* element = mine[i];
    mine.Forget(i);
    if (destroy)
        delete element;
    else
        tk::detail::Escape(*element);  // the caller's now, however long the array lives
}

// ---- text ------------------------------------------------------------------------------------

bool CMyJsonValue::Load(const TKWCHAR* text, CTKString& error) {
    return tk::detail::ReadDocumentValue(text, tk::detail::Promote(*this), error);
}

CTKString CMyJsonValue::CreateJson(bool formatted) {
    return tk::detail::WriteValueText(*this, formatted);
}

char* CMyJsonValue::CreateUTF8Json(bool formatted) const {
    return tk::detail::ToUtf8Buffer(tk::detail::WriteValueText(*this, formatted));
}
