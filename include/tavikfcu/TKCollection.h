// TKCollection.h — growable arrays of 64-bit items on the object root.
//
// CTKCollection is a reference-counted (CTKObject) array of std::uint64_t
// items with two hooks: OnCloneItem decides what an item becomes when it is
// copied into a collection, OnRemoveItem what happens to an item that leaves
// one. The base class never owns its items; its two subclasses do:
// CTKStringCollection owns heap UTF-16 strings, CTKObjectCollection holds one
// counted reference per CTKObject.
//
//     CTKStringCollection names;
//     names.CloneAdd(TKL("alpha"));             // the collection owns a copy
//     names.CloneAdd(TKL("Beta"));
//     int i = names.Find(TKL("beta"), false);   // 1: case-insensitive
//     CTKStringCollection copy(names);          // its own copies
//
// Every operation is virtual, so a caller may derive collections of other
// item kinds by overriding the two hooks (and GetThisClass). Removal hooks
// run before items leave the storage, in index order; the base destructor
// runs no hook, so a derived class releases its items in its own destructor.
//
// Threads: none of this is locked; one thread uses a collection at a time.
// Ownership: strings handed to CTKStringCollection::Add must come from the
// library's heap (they are freed like tkFreeMem frees); objects handed to
// CTKObjectCollection::Add give the collection the caller's reference.
#ifndef TAVIKFCU_TKCOLLECTION_H
#define TAVIKFCU_TKCOLLECTION_H

#include <cstdint>
#include <vector>

#include "TKCore.h"
#include "TKTypes.h"

// A growable array of 64-bit items. Indexes and lengths are int counts.
//
// Copying makes a real copy: the copy has count 1, the source's error status
// and its own storage filled with the source's OnCloneItem of every item.
// Assignment copies the error status and then CopyFrom(src).
class TK_API CTKCollection : public CTKObject {
  public:
    // Count 1, no error, empty storage.
    CTKCollection();
    CTKCollection(const CTKCollection& src);
    CTKCollection& operator=(const CTKCollection& src);

    // The record named "CTKCollection", based on CTKObject's.
    CTKObjClass* GetThisClass() const override;
    // Deletes the storage; runs no hook.
    ~CTKCollection() override;

    // RemoveAll(), then Append(src). Copying a collection onto itself changes
    // nothing.
    virtual void CopyFrom(const CTKCollection& src);
    // Appends item unchanged (no clone hook); returns its index.
    virtual int Add(std::uint64_t item);
    // Appends src.OnCloneItem(item) for each of src's items in order. src's
    // count is read once, so appending a collection to itself doubles it.
    virtual void Append(const CTKCollection& src);
    // Inserts item unchanged before index (0 to Count()). Throws
    // std::out_of_range for any other index.
    virtual void InsertAt(int index, std::uint64_t item);
    // The number of items (the logical length).
    virtual int Count() const;
    // OnRemoveItem(item index), then closes the gap. Throws std::out_of_range
    // for an index outside 0 to Count() - 1.
    virtual void RemoveAt(int index);
    // OnRemoveItem on every item in index order, then empties the storage;
    // its capacity stays.
    virtual void RemoveAll();
    // What an item becomes when copied into a collection: here, itself.
    virtual std::uint64_t OnCloneItem(std::uint64_t item) const;
    // What happens to an item that leaves the collection: here, nothing.
    virtual void OnRemoveItem(std::uint64_t item);
    // Always 1: growth is left to the storage.
    virtual int GrowLength() const;
    // Does nothing.
    virtual void SetGrowLength(int grow);
    // The number of items.
    virtual int LogicalLength() const;
    // Below the count: OnRemoveItem on the items from n on, then the count
    // becomes n. Above it: appends zero items up to n. A negative n throws
    // std::length_error before any hook runs.
    virtual void SetLogicalLength(int n);
    // The capacity of the storage.
    virtual int PhysicalLength() const;
    // Below the count: OnRemoveItem on the items from n on and removes them.
    // Then raises the capacity to at least n. A negative n throws
    // std::length_error ("vector<T> too long") before any hook runs.
    virtual void SetPhysicalLength(int n);
    // The first index from start on whose item equals item; -1 when there is
    // none or start is not below the count. A negative start counts as 0.
    virtual int Find(std::uint64_t item, int start = 0) const;
    // Whether Find(item, start) finds one.
    virtual bool Contains(std::uint64_t item, int start = 0) const;
    // Item index; the index is not checked (keep it within 0 and Count() - 1).
    virtual const std::uint64_t& Item(int index) const;
    virtual std::uint64_t& Item(int index);
    virtual const std::uint64_t& operator[](int index) const;
    virtual std::uint64_t& operator[](int index);
    // The first item; null while the storage never held an item.
    virtual std::uint64_t* DataPtr();
    virtual const std::uint64_t* constDataPtr() const;

    // CTKCollection's runtime class record.
    static CTKObjClass m_class;

  protected:
    // Empty storage and a copy of status's error code and messages. Derived
    // copy constructors start here and Append the source in their own body,
    // so that a clone hook failing half-way is undone by their own
    // OnRemoveItem (the base constructor cannot reach it).
    explicit CTKCollection(const CTKObject& status);

  private:
    // Makes room for extra more items in one step, growing geometrically,
    // so that cloned items can be stored without another allocation.
    void ReserveFor(std::size_t extra);

    std::vector<std::uint64_t>* m_pData;
};

// A collection of NUL-terminated UTF-16 heap strings that it owns. Items are
// TKWCHAR* stored as 64-bit values; null items are allowed and ignored by the
// hooks. Removing an item frees its string.
class TK_API CTKStringCollection : public CTKCollection {
  public:
    CTKStringCollection() = default;
    // Its own copies of src's strings.
    CTKStringCollection(const CTKStringCollection& src);
    CTKStringCollection& operator=(const CTKStringCollection& src);
    // Frees every string.
    ~CTKStringCollection() override;

    // The record named "CTKStringCollection", based on CTKCollection's.
    CTKObjClass* GetThisClass() const override;
    // A new heap copy of the string (null stays null).
    std::uint64_t OnCloneItem(std::uint64_t item) const override;
    // Frees the string (null is ignored).
    void OnRemoveItem(std::uint64_t item) override;

    // The base class's raw-item Add and Find stay visible beside the text
    // overloads below instead of being hidden by them. (A bare 0 argument is
    // ambiguous between the two: write nullptr for a null text.)
    using CTKCollection::Add;
    using CTKCollection::Find;

    // Appends text and takes it over: it must be a heap block of the library
    // (from a library function whose result is freed with tkFreeMem). Returns
    // its index. When the storage cannot grow (std::bad_alloc) the text stays
    // the caller's.
    int Add(TKWCHAR* text);
    // Appends a copy of text that the collection owns; returns its index.
    int CloneAdd(const TKWCHAR* text);
    // The string at index, still owned by the collection; the index is not
    // checked.
    const TKWCHAR* GetStr(int index) const;
    // The first index from start on whose string equals text: code unit by
    // code unit when caseSensitive, else as _wcsicmp compares (simple case
    // folding, one unit for one unit: "Ä" finds "ä", "SS" does not find
    // "ß"). A negative start counts as 0; -1 when start is not below the
    // count or nothing matches. Null items and a null text match nothing.
    int Find(const TKWCHAR* text, bool caseSensitive = true, int start = 0) const;

    // CTKStringCollection's runtime class record.
    static CTKObjClass m_class;
};

// A collection of CTKObject references: each non-null item holds one
// reference owned by the collection, released when the item leaves.
class TK_API CTKObjectCollection : public CTKCollection {
  public:
    CTKObjectCollection() = default;
    // Holds one more reference to each of src's objects.
    CTKObjectCollection(const CTKObjectCollection& src);
    CTKObjectCollection& operator=(const CTKObjectCollection& src);
    // Releases every object.
    ~CTKObjectCollection() override;

    // The record named "CTKObjectCollection", based on CTKCollection's.
    CTKObjClass* GetThisClass() const override;
    // AddRef on the object (null is ignored); the same pointer.
    std::uint64_t OnCloneItem(std::uint64_t item) const override;
    // Release on the object (null is ignored).
    void OnRemoveItem(std::uint64_t item) override;

    // The base class's raw-item Add stays visible beside the object overload
    // below instead of being hidden by it (write nullptr for a null object).
    using CTKCollection::Add;

    // Appends obj and takes over the caller's reference (no AddRef). Returns
    // its index. When the storage cannot grow (std::bad_alloc) the reference
    // stays the caller's.
    int Add(CTKObject* obj);
    // The object at index (no AddRef); the index is not checked.
    CTKObject* GetObj(int index) const;

    // CTKObjectCollection's runtime class record.
    static CTKObjClass m_class;
};

#endif  // TAVIKFCU_TKCOLLECTION_H
