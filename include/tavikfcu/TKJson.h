// TKJson.h — a JSON document in memory, a lenient reader and a writer.
//
// CMyJsonValue is one value of six kinds (empty, string, number, array,
// boolean, object); CMyJsonObj is an ordered list of (key, value) items.
// Both are handles to a private record. Elements of arrays and item values
// of objects are separate heap CMyJsonValues owned by their container:
//
//     CMyJsonObj doc;
//     if (!doc.Load(TKL("{\"name\":\"Tavik\",\"size\":[3,4]}"))) {
//         CTKString why = doc.GetErrMsg();   // e.g. "Can't find ':' : ..."
//     }
//     doc.SetItem(TKL("owner\\city"), TKL("Xi'an"), true, false);  // path
//     double width;
//     CMyJsonValue* size;
//     if (doc.Value(TKL("size"), size)) width = size->ValueArrItem(0)->ValueNumber();
//     CTKString text = doc.CreateJson(true);   // CR LF lines, TAB indents
//     char* utf8 = doc.CreateUTF8Json(false);  // release with tkFreeMem
//     tkFreeMem(utf8);
//
// Ownership: operations that take a CMyJsonValue* or CMyJsonObj* either copy
// it or take it over, as each declaration says; whatever is taken over must
// come from a plain `new` and must not be handed to a second container.
// Pointers returned into a document (Value, ValueArrItem, ValueStr,
// ValueObj...) stay owned by it and are valid until that item or element is
// replaced, removed or destroyed.
//
// Memory: a document read from text keeps its values, lists and strings in
// large blocks of its own, given back all at once when the last of it goes;
// each value or object read takes two words there until the first change
// to it, which gives it a record of its own on the heap;
// a copy of it (Clone, CopyFrom, a copying insert) gets blocks of its own
// the same way. A value taken out of such a document (RemoveFromArr without
// destroying) keeps those blocks until it is destroyed too. Keys and texts
// handed out (Item, ValueEx into a CTKString) are always copies of the
// caller's own. The blocks of a document that went are kept for the next
// documents read, never more than the last document that went took (and at
// most 1 GB), so a program that reads document after document does not wait
// for fresh memory each time; the kernel may take kept blocks back when it
// runs short of memory. The text CreateJson writes goes straight into the
// result's body; a result of many megabytes is a large string body, and a
// program that writes large documents one after another writes each into
// the block kept from the last large string that went (TKString.h).
//
// Depth: a document built through this interface may nest as deep as memory
// allows (a key path of a million segments makes a million levels). Every
// walk of a whole document (destroying, Clone, CopyFrom, CreateJson, key
// paths) runs in a loop, not by recursion, in time linear in its nodes, so
// no depth exhausts the thread's stack; destroying allocates nothing. The
// reader refuses text nested deeper than 512 levels.
//
// Threads: a document takes no locks; use one document from one thread at a
// time. Strings inside a document are CTKStrings, whose shared bodies may be
// copied out and used on other threads.
//
// Reading is lenient in its loops and strict elsewhere (keys need quotes, a
// number needs a blank, ",", "]" or "}" behind it). What it accepts beyond
// strict JSON, rule by rule:
//   optional commas       {"a":1 "b":2} and [1 2] need no comma between entries
//   trailing comma        {"a":1,} and [1,]
//   text after the end    {"a":1} junk: text after the top-level value is ignored
//   missing member value  {"a":} and {"a":,"b":1}: a is an empty value
//   empty element is 0    [1,,2] is [1,0,2]; [,1] is [0,1]
//   null element is 0     [null] is [0] (a member's null is an empty value)
//   number prefix         a number token counts by its longest numeric prefix
//                         (1e5, .5, +5, 0x1A); a token without one (abc) is 0
//   literal escapes       \t \r \n decode; any other escaped unit stands for
//                         itself: \u0041 is the five units u0041, \b is b
//   raw control units     control units inside strings are taken as they are
//   duplicate keys        {"a":1,"a":2} keeps both items, in text order
//   top-level word prefix a top-level value starting with true or false is
//                         that boolean, whatever follows ("trueish")
// Writing never uses \u escapes or exponent form and does not escape keys;
// numbers are "%.15f" less trailing zeros (108.94 is written
// 108.939999999999998: the 15 decimals of the double nearest to 108.94).
#ifndef TAVIKFCU_TKJSON_H
#define TAVIKFCU_TKJSON_H

#include <cstddef>
#include <cstdint>

#include "TKString.h"
#include "TKTypes.h"

class CMyJsonObj;
class CMyJsonValueImp;
class CMyJsonObjImp;

// ---- CMyJsonValue --------------------------------------------------------------

class TK_API CMyJsonValue {
  public:
    // The kind of a value; the numbers are part of the interface.
    enum EValueType : std::int32_t {
        eEmpty = 0,   // no value; written "null" inside objects, nothing in arrays
        eStr = 1,     // text
        eNumber = 2,  // always a double
        eArr = 3,     // ordered elements, each a heap CMyJsonValue
        eBool = 4,
        eObj = 5,  // holds one CMyJsonObj
    };

    // -- construction --
    // An empty value.
    CMyJsonValue();
    // A string holding a copy of text; a null text gives an empty value.
    CMyJsonValue(const TKWCHAR* text);
    CMyJsonValue(double number);
    // The int is held as a double.
    CMyJsonValue(int number);
    CMyJsonValue(bool flag);
    // Takes obj over (it is destroyed with this value); null gives an empty value.
    CMyJsonValue(CMyJsonObj* obj);
    // An array whose elements are the n pointers themselves, taken over in
    // order (no copies, no kind check). n = 0 gives an empty array.
    CMyJsonValue(CMyJsonValue* const* items, int n);
    // Arrays of n new numbers, each element converted to double, in order.
    CMyJsonValue(const float* numbers, int n);
    CMyJsonValue(const double* numbers, int n);
    CMyJsonValue(const int* numbers, int n);
    CMyJsonValue(const unsigned int* numbers, int n);
    CMyJsonValue(const unsigned short* numbers, int n);
    CMyJsonValue(const short* numbers, int n);
    CMyJsonValue(const unsigned char* numbers, int n);
    // Deep copy: the new value owns copies of every element and object.
    CMyJsonValue(const CMyJsonValue& src);
    // Deep copy, as CopyFrom; assigning a value to itself changes nothing.
    CMyJsonValue& operator=(const CMyJsonValue& src);
    // Destroys every element and the held object, depth first.
    ~CMyJsonValue();

    // Values come from the library's block pool, their private record in
    // the same block; delete pairs with it. Placement new stays available.
    static void* operator new(std::size_t size);
    static void operator delete(void* p, std::size_t size);
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}

    // -- kind --
    EValueType Type();
    bool IsType(EValueType type) const;
    bool IsEmpty() const;
    bool IsStr() const;
    bool IsNumber() const;
    bool IsArr() const;
    bool IsBool() const;
    bool IsObj() const;

    // -- fields (not checked against the kind: test the kind first) --
    // The flag; unspecified for other kinds.
    bool ValueBool() const;
    // The number; unspecified for other kinds.
    double ValueNumber() const;
    // The held text, never null (empty for a value that never held a string).
    const TKWCHAR* ValueStr() const;
    // The held object (still owned by this value), or null.
    CMyJsonObj* ValueObj() const;

    // -- array elements --
    // Number of elements; 0 for anything but an array.
    int ValueArrLength() const;
    // Element i (owned by this array); null when i is outside 0 .. length - 1.
    CMyJsonValue* ValueArrItem(int i) const;
    // Stores the element count in n. When buffer is not null, n on entry is
    // its capacity in pointers and the first min(capacity, count) element
    // pointers are stored there.
    void ValueArr(CMyJsonValue** buffer, int& n) const;

    // -- copies --
    // A new heap value (release with delete) that deep-copies this one.
    CMyJsonValue* Clone() const;
    // Makes this value a deep copy of src: src's kind, flag, number, text, a
    // clone of its object and clones of its elements. What this value held
    // before is released afterwards, so src may even live inside this value.
    // A null src or src == this changes nothing.
    void CopyFrom(const CMyJsonValue* src);

    // -- array insertion --
    // Each inserts into this array before the element at pos; a pos outside
    // 0 .. length (e.g. -1) appends. Refused (false, nothing changed) when
    // this value is not an array, or when the array is not empty and the new
    // element's kind differs from element 0's kind.
    //
    // A copy of v. When v is an array its elements are spliced in (not
    // nested): from v's last element to its first, each is checked against
    // the current element 0 and a copy inserted at pos, so they end up in
    // v's order. A refused element stops the splice and returns false; the
    // copies inserted before it stay. An empty v succeeds and changes
    // nothing. A null v is refused.
    bool AddToArr(const CMyJsonValue* v, int pos = -1);
    // A new object value holding a copy of obj (null is refused).
    bool AddToArr(const CMyJsonObj* obj, int pos = -1);
    // A new string value (a null text makes an empty value).
    bool AddToArr(const TKWCHAR* text, int pos = -1);
    bool AddToArr(double number, int pos = -1);
    bool AddToArr(int number, int pos = -1);
    bool AddToArr(bool flag, int pos = -1);
    // Like AddToArr but taking v over instead of copying it. When v is an
    // array, its elements themselves are spliced in and v is destroyed; all
    // of them are checked before any moves, so a refusal changes nothing. On
    // success the caller must not use v again; on failure the caller keeps it.
    bool MoveToArr(CMyJsonValue* v, int pos = -1);
    // Inserts a new value holding obj itself (taken over on success; a null
    // obj is refused and the caller keeps obj on failure).
    bool MoveToArr(CMyJsonObj* obj, int pos = -1);
    // Removes element i (later elements move up) and destroys it when
    // destroy is true; otherwise whoever holds its pointer now owns it. Any
    // i outside 0 .. length - 1, or a non-array, does nothing.
    void RemoveFromArr(int i, bool destroy);

    // -- text --
    // Reads a document whose top level is any value. On success this value
    // holds it and error is not touched; on failure this value is empty and
    // error holds the reason. A top-level array cut off before its "]"
    // leaves error as the caller passed it.
    bool Load(const TKWCHAR* text, CTKString& error);
    // The value as JSON text: an empty value gives "", an object its object
    // text, a string its quoted escaped text, a number its fixed form with
    // 15 decimals ("%.15f" of its exact binary value, correctly rounded)
    // less trailing zeros and point, an array its array text. So 2 is "2",
    // 0.5 "0.5", but 108.94, which no double holds exactly, is
    // "108.939999999999998", and 1e-20 is "0". formatted lays containers out over
    // CR LF lines with TAB indents. A text longer than a string can hold
    // (2^31 - 2 units; the TAB indents of a formatted document grow with the
    // square of its depth) throws std::bad_alloc.
    CTKString CreateJson(bool formatted);
    // CreateJson as NUL-terminated UTF-8 in a new buffer; release it with
    // tkFreeMem.
    char* CreateUTF8Json(bool formatted) const;

  private:
    friend class CMyJsonObj;
    friend struct TKJsonAccess;
    CMyJsonValueImp* m_imp;
};

// ---- CMyJsonObj ----------------------------------------------------------------

// Key lookups: a key may be a path whose segments are separated by a
// backslash ("owner\\city"); every segment but the last must name an object
// value. Each segment matches the first item whose key equals it exactly;
// with exact false, when no key equals it exactly, the first key that equals
// it ignoring ASCII case. Keys are not unique: AddItem and Load append.
class TK_API CMyJsonObj {
  public:
    // An object without items and with an empty error message.
    CMyJsonObj();
    // Deep copy of the items and the error message.
    CMyJsonObj(const CMyJsonObj& src);
    // Deep copy of the items (as CopyFrom); the error message is copied too.
    CMyJsonObj& operator=(const CMyJsonObj& src);
    // Destroys every item value, depth first.
    ~CMyJsonObj();

    // Objects come from the library's block pool, their private record in
    // the same block; delete pairs with it. Placement new stays available.
    static void* operator new(std::size_t size);
    static void operator delete(void* p, std::size_t size);
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}

    // -- appending items (no lookup of an existing key, no path splitting) --
    // Each returns false and adds nothing when key is null.
    // An empty value.
    bool AddItem(const TKWCHAR* key);
    // A string; a null text adds an empty value.
    bool AddItem(const TKWCHAR* key, const TKWCHAR* text);
    bool AddItem(const TKWCHAR* key, double number);
    bool AddItem(const TKWCHAR* key, int number);
    bool AddItem(const TKWCHAR* key, bool flag);
    // value is taken over when added; a null value adds nothing (false).
    bool AddItem(const TKWCHAR* key, CMyJsonValue* value);
    // An array taking the n pointers over, as CMyJsonValue(items, n).
    bool AddItem(const TKWCHAR* key, CMyJsonValue* const* items, int n);
    bool AddItem(const TKWCHAR* key, const double* numbers, int n);
    bool AddItem(const TKWCHAR* key, const int* numbers, int n);
    // obj is taken over; a null obj adds an empty value.
    bool AddItem(const TKWCHAR* key, CMyJsonObj* obj);

    // -- storing under a key path --
    // Stores value under key, replacing the value of an existing item in its
    // slot (the old value is destroyed) or appending a new item. Missing
    // segments before the last get new empty objects, unless mustExist is
    // true: then any missing segment makes the call fail. Fails, changing
    // nothing, when key or value is null or a segment before the last is not
    // an object. value is taken over on success; the caller keeps it on
    // failure.
    bool SetItem(const TKWCHAR* key, CMyJsonValue* value, bool exact = true,
                 bool mustExist = false);
    // The overloads below build the value as AddItem does and release it
    // again when the store fails (for obj and items: they are destroyed too).
    bool SetItem(const TKWCHAR* key, const TKWCHAR* text, bool exact = true,
                 bool mustExist = false);
    bool SetItem(const TKWCHAR* key, double number, bool exact = true, bool mustExist = false);
    bool SetItem(const TKWCHAR* key, int number, bool exact = true, bool mustExist = false);
    bool SetItem(const TKWCHAR* key, bool flag, bool exact = true, bool mustExist = false);
    bool SetItem(const TKWCHAR* key, CMyJsonValue* const* items, int n, bool exact = true,
                 bool mustExist = false);
    bool SetItem(const TKWCHAR* key, const double* numbers, int n, bool exact = true,
                 bool mustExist = false);
    bool SetItem(const TKWCHAR* key, const int* numbers, int n, bool exact = true,
                 bool mustExist = false);
    bool SetItem(const TKWCHAR* key, CMyJsonObj* obj, bool exact = true, bool mustExist = false);
    // Stores an empty value.
    bool SetItem2Empty(const TKWCHAR* key, bool exact = true, bool mustExist = false);

    // -- removing --
    // Removes the first item of this object (no path) whose key matches and
    // destroys its value; no match does nothing.
    void DelItemEx(const TKWCHAR* key, bool exact);
    // DelItemEx(key, true).
    void DelItem(const TKWCHAR* key);

    // -- reading --
    int ValueCount() const;
    // Copies key i and gives value i (owned by this object). False, with
    // key and value untouched, when i is outside 0 .. count - 1.
    bool Item(int i, CTKString& key, CMyJsonValue*& value) const;
    // Finds the value under a key path; false and value untouched when there
    // is none (or key is null).
    bool ValueEx(const TKWCHAR* key, CMyJsonValue*& value, bool exact = true) const;
    // ValueEx(key, value, true).
    bool Value(const TKWCHAR* key, CMyJsonValue*& value) const;
    // Typed lookups: false, with out untouched, when the key is missing or
    // the value has another kind (no conversions).
    bool ValueEx(const TKWCHAR* key, bool& out, bool exact = true) const;
    // The number truncated toward zero; refused when it is not within the
    // int range (or not a number at all).
    bool ValueEx(const TKWCHAR* key, int& out, bool exact = true) const;
    bool ValueEx(const TKWCHAR* key, double& out, bool exact = true) const;
    bool ValueEx(const TKWCHAR* key, CTKString& out, bool exact = true) const;
    // Points at the held text.
    bool ValueEx(const TKWCHAR* key, const TKWCHAR*& out, bool exact = true) const;
    // The held object, still owned by its value.
    bool ValueEx(const TKWCHAR* key, CMyJsonObj*& out, bool exact = true) const;

    // The message of the last failed Load (empty after a successful one).
    CTKString GetErrMsg();

    // -- copies --
    // A new heap object (release with delete): same message, keys and
    // copies of every value, in order.
    CMyJsonObj* Clone() const;
    // Replaces every item by copies of src's items (src may live inside this
    // object); a null src leaves this object empty. The message is kept.
    void CopyFrom(const CMyJsonObj* src);

    // -- text --
    // Reads a document whose top level is an object. On success this object
    // holds exactly its items, in text order, and the message is empty; on
    // failure it is empty and GetErrMsg tells why. Nesting deeper than 512
    // levels is refused.
    bool Load(const TKWCHAR* text);
    // The object as JSON text; formatted lays it out over CR LF lines with
    // TAB indents. Keys are written as they are, unescaped.
    CTKString CreateJson(bool formatted);
    // CreateJson as NUL-terminated UTF-8 in a new buffer; release it with
    // tkFreeMem.
    char* CreateUTF8Json(bool formatted) const;

  private:
    friend class CMyJsonValue;
    friend struct TKJsonAccess;
    CMyJsonObjImp* m_imp;
};

// ---- JSON files ----------------------------------------------------------------
//
// Reading: a file that starts with the UTF-8 byte-order mark is UTF-8, any
// other file is text in the ANSI code page (tkSetAnsiCodePage); a zero byte
// ends the text. Files of fewer than 11 or more than 52,428,800 bytes are
// refused. Saving writes the formatted text (CR LF, TABs) in the ANSI code
// page, or as UTF-8 with the mark (SaveJsonFileEx with utf8).
//
// Saving never destroys the old file when writing fails part way (a full
// disk): the text goes to a temporary file beside it that replaces it only
// once it is complete on disk. Symbolic links are followed and permission
// bits kept.
//
// Failures return false and, when error is not null, store a new error handle
// (close it with tkCloseHandle): status 2 (eNotFound) when the file or its
// folder is missing, 14 (eAccessFailed) for other open, read or write
// failures, 5 (eInvalidContent) for a refused length or text that does not
// parse. File-system failures also go to the debugger output
// (tkSetDebugOutputSink). Paths are UTF-16; on POSIX '\' is read as '/'.
namespace TKJsonUtils {

TK_API bool ReadJsonFile(const TKWCHAR* path, CMyJsonObj& obj, std::uint64_t* error);
TK_API bool ReadJsonFileEx(const TKWCHAR* path, CMyJsonValue& value, std::uint64_t* error);
TK_API bool SaveJsonFile(const TKWCHAR* path, const CMyJsonObj& obj, std::uint64_t* error);
TK_API bool SaveJsonFileEx(const TKWCHAR* path, const CMyJsonValue& value, bool utf8,
                           std::uint64_t* error);

}  // namespace TKJsonUtils

#endif  // TAVIKFCU_TKJSON_H
