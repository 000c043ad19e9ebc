// CMyJsonValue: construction, kinds, copies and array editing.
#include <memory>
#include <utility>

#include "json/json_blocks.h"
#include "json/json_records.h"

using tk::detail::RelocList;

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
    return TKJsonAccess::Of(*v).type;
}

// An array accepts a kind when it is empty or its element 0 has that kind.
inline bool Accepts(const CMyJsonValueImp& array, CMyJsonValue::EValueType kind) {
    return array.elements.Empty() || KindOf(array.elements[0]) == kind;
}  // (array is eArr)

// Inserts v before index at; the array owns v once this returns. Room is
// made first, so when that fails v is still the caller's.
inline void InsertElement(CMyJsonValueImp& array, int at, std::unique_ptr<CMyJsonValue>&& v) {
    tk::detail::WillChange(array);
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
        tk::detail::CopyTree(*m_imp, *src.m_imp);
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
    tk::detail::DeleteRecord(m_imp, this);
}

// ---- kind and fields ---------------------------------------------------------------

CMyJsonValue::EValueType CMyJsonValue::Type() {
    return m_imp->type;
}
bool CMyJsonValue::IsType(EValueType type) const {
    return m_imp->type == type;
}
bool CMyJsonValue::IsEmpty() const {
    return m_imp->type == eEmpty;
}
bool CMyJsonValue::IsStr() const {
    return m_imp->type == eStr;
}
bool CMyJsonValue::IsNumber() const {
    return m_imp->type == eNumber;
}
bool CMyJsonValue::IsArr() const {
    return m_imp->type == eArr;
}
bool CMyJsonValue::IsBool() const {
    return m_imp->type == eBool;
}
bool CMyJsonValue::IsObj() const {
    return m_imp->type == eObj;
}

bool CMyJsonValue::ValueBool() const {
    return m_imp->flag;
}
double CMyJsonValue::ValueNumber() const {
    return m_imp->type == eNumber ? m_imp->number : 0.0;
}
const TKWCHAR* CMyJsonValue::ValueStr() const {
    return m_imp->text;
}
CMyJsonObj* CMyJsonValue::ValueObj() const {
    return m_imp->HeldObject();
}

int CMyJsonValue::ValueArrLength() const {
    return m_imp->ElementCount();
}

CMyJsonValue* CMyJsonValue::ValueArrItem(int i) const {
    if (i < 0 || i >= m_imp->ElementCount()) return nullptr;
    return m_imp->elements[i];
}

void CMyJsonValue::ValueArr(CMyJsonValue** buffer, int& n) const {
    int count = m_imp->ElementCount();
    if (buffer) {
        int stored = n < count ? n : count;
        for (int i = 0; i < stored; ++i) buffer[i] = m_imp->elements[i];
    }
    n = count;
}

// ---- copies ----------------------------------------------------------------------------

CMyJsonValue* CMyJsonValue::Clone() const {
    return new CMyJsonValue(*this);
}

void CMyJsonValue::CopyFrom(const CMyJsonValue* src) {
    if (!src || src == this) return;
    tk::detail::WillChange(*m_imp);
    // Built aside first: src may be one of the elements released below.
    std::unique_ptr<CMyJsonValueImp> fresh(new CMyJsonValueImp);
    tk::detail::CopyTree(*fresh, *src->m_imp);  // on failure fresh releases its part
    m_imp->SwapContents(*fresh);
    // fresh now holds what this value held before and releases it.
}

// ---- array insertion ---------------------------------------------------------------------

bool CMyJsonValue::AddToArr(const CMyJsonValue* v, int pos) {
    if (m_imp->type != eArr || !v) return false;
    const CMyJsonValueImp& source = *v->m_imp;
    if (source.type != eArr) {
        if (!Accepts(*m_imp, source.type)) return false;
        InsertElement(*m_imp, InsertionIndex(pos, m_imp->elements.Size()),
                      std::unique_ptr<CMyJsonValue>(v->Clone()));
        return true;
    }
    if (v == this) {
        // Splicing an array into itself: work from a snapshot.
        std::unique_ptr<CMyJsonValue> snapshot(v->Clone());
        return AddToArr(snapshot.get(), pos);
    }
    const int at = InsertionIndex(pos, m_imp->elements.Size());
    // From the last element to the first, each inserted at the same index,
    // so they end up in v's order.
    for (int k = source.elements.Size() - 1; k >= 0; --k) {
        const CMyJsonValue* element = source.elements[k];
        if (!Accepts(*m_imp, KindOf(element))) return false;
        InsertElement(*m_imp, at, std::unique_ptr<CMyJsonValue>(element->Clone()));
    }
    return true;
}

bool CMyJsonValue::AddToArr(const CMyJsonObj* obj, int pos) {
    if (m_imp->type != eArr || !obj || !Accepts(*m_imp, eObj)) return false;
    std::unique_ptr<CMyJsonObj> copy(obj->Clone());
    std::unique_ptr<CMyJsonValue> value(new CMyJsonValue(copy.get()));
    copy.release();
    InsertElement(*m_imp, InsertionIndex(pos, m_imp->elements.Size()), std::move(value));
    return true;
}

bool CMyJsonValue::AddToArr(const TKWCHAR* text, int pos) {
    EValueType kind = text ? eStr : eEmpty;
    if (m_imp->type != eArr || !Accepts(*m_imp, kind)) return false;
    InsertElement(*m_imp, InsertionIndex(pos, m_imp->elements.Size()),
                  std::unique_ptr<CMyJsonValue>(new CMyJsonValue(text)));
    return true;
}

bool CMyJsonValue::AddToArr(double number, int pos) {
    if (m_imp->type != eArr || !Accepts(*m_imp, eNumber)) return false;
    InsertElement(*m_imp, InsertionIndex(pos, m_imp->elements.Size()),
                  std::unique_ptr<CMyJsonValue>(new CMyJsonValue(number)));
    return true;
}

bool CMyJsonValue::AddToArr(int number, int pos) {
    return AddToArr(static_cast<double>(number), pos);
}

bool CMyJsonValue::AddToArr(bool flag, int pos) {
    if (m_imp->type != eArr || !Accepts(*m_imp, eBool)) return false;
    InsertElement(*m_imp, InsertionIndex(pos, m_imp->elements.Size()),
                  std::unique_ptr<CMyJsonValue>(new CMyJsonValue(flag)));
    return true;
}

bool CMyJsonValue::MoveToArr(CMyJsonValue* v, int pos) {
    if (m_imp->type != eArr || !v || v == this) return false;
    CMyJsonValueImp& source = *v->m_imp;
    tk::detail::WillChange(*m_imp);
    tk::detail::WillChange(source);  // v's elements leave it
    RelocList<CMyJsonValue*>& mine = m_imp->elements;
    const int at = InsertionIndex(pos, mine.Size());
    if (source.type != eArr) {
        if (!Accepts(*m_imp, source.type)) return false;
        mine.Reserve(mine.Size() + 1);
        new (mine.InsertSlot(at)) CMyJsonValue*(v);
        return true;
    }
    const int n = source.elements.Size();
    if (n > 0) {
        // Every element must pass before any moves, so that a refusal leaves
        // each element owned once. Inserting from the last one at a fixed
        // index makes each check compare with the array's element 0, or,
        // for an empty array, with v's last element.
        EValueType kind = mine.Empty() ? KindOf(source.elements[n - 1]) : KindOf(mine[0]);
        for (int k = 0; k < n; ++k)
            if (KindOf(source.elements[k]) != kind || source.elements[k] == this) return false;
        mine.Reserve(mine.Size() + n);  // no allocation failure half way
        for (int k = n - 1; k >= 0; --k) {
            // An element read from text now hangs from this array, and v,
            // which held it in its store, goes.
            tk::detail::Escape(*source.elements[k]->m_imp);
            new (mine.InsertSlot(at)) CMyJsonValue*(source.elements[k]);
        }
        source.elements.ForgetAll();
    }
    delete v;  // an array without elements now
    return true;
}

bool CMyJsonValue::MoveToArr(CMyJsonObj* obj, int pos) {
    if (m_imp->type != eArr || !obj || !Accepts(*m_imp, eObj)) return false;
    RelocList<CMyJsonValue*>& mine = m_imp->elements;
    tk::detail::WillChange(*m_imp);
    mine.Reserve(mine.Size() + 1);  // if this fails the caller still has obj
    auto* value = new CMyJsonValue(obj);
    new (mine.InsertSlot(InsertionIndex(pos, mine.Size()))) CMyJsonValue*(value);
    return true;
}

void CMyJsonValue::RemoveFromArr(int i, bool destroy) {
    if (m_imp->type != eArr || i < 0 || i >= m_imp->elements.Size()) return;
    tk::detail::WillChange(*m_imp);
    CMyJsonValue* element = m_imp->elements[i];
    m_imp->elements.Forget(i);
    if (destroy)
        delete element;
    else
        tk::detail::Escape(*element->m_imp);  // the caller's now, however long the array lives
}

// ---- text ------------------------------------------------------------------------------------

bool CMyJsonValue::Load(const TKWCHAR* text, CTKString& error) {
    return tk::detail::ReadDocumentValue(text, *m_imp, error);
}

CTKString CMyJsonValue::CreateJson(bool formatted) {
    return tk::detail::WriteValueText(*this, formatted);
}

char* CMyJsonValue::CreateUTF8Json(bool formatted) const {
    return tk::detail::ToUtf8Buffer(tk::detail::WriteValueText(*this, formatted));
}
