// Fuzzes both JSON Load entry points. Beyond "no crash, no leak, no
// overrun", it checks the round trip: a document that Load accepts, and
// whose keys hold no quote or backslash (keys are written unescaped), is
// written compact and formatted into text that Load accepts again, with the
// same kinds, array lengths, keys and strings. Numbers are not compared:
// the writer keeps 15 decimals. An element taken out of a document must
// outlive the document unchanged, and a document changed at the bottom
// copies and goes like any other.
//
// Input: the first byte picks how the rest becomes UTF-16: each byte one
// unit (ASCII-friendly), or byte pairs as little-endian units.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "tavikfcu/TKCore.h"
#include "tavikfcu/TKJson.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    __builtin_printf("round trip broken: %s\n", what);
    std::abort();
}

bool SameText(const CTKString& a, const CTKString& b) {
    if (a.GetLength() != b.GetLength()) return false;
    for (int i = 0; i < a.GetLength(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

bool SameText(const TKWCHAR* a, const TKWCHAR* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

bool KeysWritable(const CMyJsonValue* v);

bool KeysWritable(const CMyJsonObj* obj) {
    CTKString key;
    CMyJsonValue* value;
    for (int i = 0; i < obj->ValueCount(); ++i) {
        obj->Item(i, key, value);
        for (int k = 0; k < key.GetLength(); ++k)
            if (key[k] == '"' || key[k] == '\\') return false;
        if (!KeysWritable(value)) return false;
    }
    return true;
}

bool KeysWritable(const CMyJsonValue* v) {
    if (v->IsObj()) return KeysWritable(v->ValueObj());
    for (int i = 0; i < v->ValueArrLength(); ++i)
        if (!KeysWritable(v->ValueArrItem(i))) return false;
    return true;
}

void Compare(const CMyJsonValue* a, const CMyJsonValue* b);

void Compare(const CMyJsonObj* a, const CMyJsonObj* b) {
    if (a->ValueCount() != b->ValueCount()) Fail("item count");
    CTKString ka, kb;
    CMyJsonValue *va, *vb;
    for (int i = 0; i < a->ValueCount(); ++i) {
        a->Item(i, ka, va);
        b->Item(i, kb, vb);
        if (!SameText(ka, kb)) Fail("key");
        Compare(va, vb);
    }
}

void Compare(const CMyJsonValue* a, const CMyJsonValue* b) {
    for (auto kind : {CMyJsonValue::eEmpty, CMyJsonValue::eStr, CMyJsonValue::eNumber,
                      CMyJsonValue::eArr, CMyJsonValue::eBool, CMyJsonValue::eObj}) {
        if (a->IsType(kind) != b->IsType(kind)) Fail("kind");
    }
    if (a->IsStr() && !SameText(a->ValueStr(), b->ValueStr())) Fail("string");
    if (a->IsBool() && a->ValueBool() != b->ValueBool()) Fail("bool");
    if (a->IsObj()) Compare(a->ValueObj(), b->ValueObj());
    if (a->ValueArrLength() != b->ValueArrLength()) Fail("array length");
    for (int i = 0; i < a->ValueArrLength(); ++i) Compare(a->ValueArrItem(i), b->ValueArrItem(i));
}

void CheckObject(const std::vector<TKWCHAR>& text) {
    CMyJsonObj obj;
    if (!obj.Load(text.data())) {
        if (obj.ValueCount() != 0 || obj.GetErrMsg().IsEmpty()) Fail("failed load not empty");
        return;
    }
    std::unique_ptr<CMyJsonObj> clone(obj.Clone());
    Compare(&obj, clone.get());
    char* utf8 = obj.CreateUTF8Json(false);
    tkFreeMem(utf8);
    if (KeysWritable(&obj)) {
        for (bool formatted : {false, true}) {
            CTKString written = obj.CreateJson(formatted);
            CMyJsonObj back;
            if (!back.Load(written)) Fail("object text not read back");
            Compare(&obj, &back);
        }
    }
    // A change at the bottom of the first entries: copies see it, and the
    // document then goes through a walk of every level.
    if (obj.ValueCount() == 0) return;
    CTKString key;
    CMyJsonValue* bottom;
    obj.Item(0, key, bottom);
    for (;;) {
        if (bottom->IsArr() && bottom->ValueArrLength() > 0) {
            bottom = bottom->ValueArrItem(0);
        } else if (bottom->IsObj() && bottom->ValueObj()->ValueCount() > 0) {
            bottom->ValueObj()->Item(0, key, bottom);
        } else {
            break;
        }
    }
    CTKString error;
    if (!bottom->Load(TKL("[true,{\"k\":\"v\"}]"), error)) Fail("edit not read");
    std::unique_ptr<CMyJsonObj> edited(obj.Clone());
    Compare(&obj, edited.get());
}

// The first non-empty array met going down first entries, or null.
CMyJsonValue* FirstArray(CMyJsonValue* v) {
    CTKString key;
    for (;;) {
        if (v->IsArr()) return v->ValueArrLength() > 0 ? v : nullptr;
        if (!v->IsObj() || v->ValueObj()->ValueCount() == 0) return nullptr;
        v->ValueObj()->Item(0, key, v);
    }
}

void CheckValue(const std::vector<TKWCHAR>& text) {
    auto value = std::make_unique<CMyJsonValue>();
    CTKString error;
    if (!value->Load(text.data(), error)) {
        if (!value->IsEmpty()) Fail("failed load not empty");
        return;
    }
    CMyJsonValue copy(*value);
    Compare(value.get(), &copy);
    char* utf8 = value->CreateUTF8Json(true);
    tkFreeMem(utf8);
    if (KeysWritable(value.get())) {
        for (bool formatted : {false, true}) {
            // A top-level number needs a delimiter behind it to be read.
            CTKString written = value->CreateJson(formatted);
            written += TKL(" ");
            CMyJsonValue back;
            if (!back.Load(written, error)) Fail("value text not read back");
            Compare(value.get(), &back);
        }
    }
    // An element taken out of the document outlives it, unchanged.
    if (CMyJsonValue* array = FirstArray(value.get())) {
        std::unique_ptr<CMyJsonValue> taken(array->ValueArrItem(0));
        array->RemoveFromArr(0, false);
        value.reset();
        Compare(taken.get(), FirstArray(&copy)->ValueArrItem(0));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::vector<TKWCHAR> text;
    if (data[0] & 1) {
        for (std::size_t i = 1; i + 1 < size; i += 2)
            text.push_back(static_cast<TKWCHAR>(data[i] | (data[i + 1] << 8)));
    } else {
        for (std::size_t i = 1; i < size; ++i) text.push_back(static_cast<TKWCHAR>(data[i]));
    }
    text.push_back(0);
    CheckObject(text);
    CheckValue(text);
    return 0;
}
