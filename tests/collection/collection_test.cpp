#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/heap.h"
#include "tavikfcu/TKCollection.h"

namespace {

using Items = std::vector<std::uint64_t>;

// Records every hook call, so tests can see which items were cloned or
// removed and in what order.
class HookLog : public CTKCollection {
  public:
    std::uint64_t OnCloneItem(std::uint64_t item) const override {
        cloned.push_back(item);
        return item + 100;  // makes clones recognisable
    }
    void OnRemoveItem(std::uint64_t item) override { removed.push_back(item); }

    Items Contents() const { return Items(constDataPtr(), constDataPtr() + Count()); }

    mutable Items cloned;
    Items removed;
};

// Add runs no hook, so the logs start empty.
void Fill(HookLog& log, const Items& items) {
    for (std::uint64_t item : items) log.Add(item);
}

std::u16string Str(const TKWCHAR* s) {
    return s ? std::u16string(s) : u"<null>";
}

// Records its own destruction; its count is read through AddRef/Release.
class Tracked : public CTKObject {
  public:
    explicit Tracked(bool* destroyed) : m_destroyed(destroyed) {}
    ~Tracked() override { *m_destroyed = true; }
    int Count() {
        AddRef();
        return Release();
    }

  private:
    bool* m_destroyed;
};

}  // namespace

TEST(ClassRecords, ChainsEndAtTheObjectRecord) {
    CTKObject object;
    CTKCollection plain;
    CTKStringCollection strings;
    CTKObjectCollection objects;
    struct Row {
        const char* name;
        const CTKObject* obj;
        std::vector<std::string> chain;
    };
    const Row rows[] = {
        {"object", &object, {"CTKObject"}},
        {"collection", &plain, {"CTKCollection", "CTKObject"}},
        {"strings", &strings, {"CTKStringCollection", "CTKCollection", "CTKObject"}},
        {"objects", &objects, {"CTKObjectCollection", "CTKCollection", "CTKObject"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> chain;
        for (const CTKObjClass* c = row.obj->GetThisClass(); c; c = c->m_base)
            chain.push_back(c->m_name);
        EXPECT_EQ(chain, row.chain);
    }
}

TEST(Collection, NewAddFindInsert) {
    CTKCollection c;
    EXPECT_EQ(c.Count(), 0);
    EXPECT_EQ(c.PhysicalLength(), 0);
    EXPECT_EQ(c.DataPtr(), nullptr);

    EXPECT_EQ(c.Add(10), 0);
    EXPECT_EQ(c.Add(20), 1);
    EXPECT_EQ(c.Add(10), 2);
    struct Row {
        const char* name;
        std::uint64_t item;
        int start;
        int expected;
    };
    const Row rows[] = {
        {"second from 0", 20, 0, 1},
        {"second from 2", 20, 2, -1},
        {"repeat finds the later one", 10, 1, 2},
        {"from the count", 10, 3, -1},
        {"negative start counts as 0", 10, -5, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(c.Find(row.item, row.start), row.expected);
        EXPECT_EQ(c.Contains(row.item, row.start), row.expected >= 0);
    }

    c.InsertAt(0, 5);
    c.InsertAt(c.Count(), 30);
    EXPECT_EQ(Items(c.DataPtr(), c.DataPtr() + c.Count()), (Items{5, 10, 20, 10, 30}));
    EXPECT_THROW(c.InsertAt(6, 1), std::out_of_range);
    EXPECT_THROW(c.RemoveAt(5), std::out_of_range);
    EXPECT_THROW(c.RemoveAt(-1), std::out_of_range);
}

TEST(Collection, RemovalHooksRunInIndexOrderBeforeItemsLeave) {
    struct Row {
        const char* name;
        void (*act)(HookLog&);
        Items removed;
        Items left;
    };
    const Row rows[] = {
        {"RemoveAt middle", [](HookLog& c) { c.RemoveAt(1); }, {2}, {1, 3, 4}},
        {"RemoveAll", [](HookLog& c) { c.RemoveAll(); }, {1, 2, 3, 4}, {}},
        {"logical shrink", [](HookLog& c) { c.SetLogicalLength(1); }, {2, 3, 4}, {1}},
        {"logical grow fills zeros",
         [](HookLog& c) { c.SetLogicalLength(6); },
         {},
         {1, 2, 3, 4, 0, 0}},
        {"physical shrink", [](HookLog& c) { c.SetPhysicalLength(2); }, {3, 4}, {1, 2}},
        {"physical grow keeps items",
         [](HookLog& c) { c.SetPhysicalLength(50); },
         {},
         {1, 2, 3, 4}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HookLog c;
        Fill(c, {1, 2, 3, 4});
        row.act(c);
        EXPECT_EQ(c.removed, row.removed);
        EXPECT_EQ(c.Contents(), row.left);
        EXPECT_TRUE(c.cloned.empty());
    }
}

TEST(Collection, NegativeLengthsThrowBeforeAnyHook) {
    HookLog c;
    Fill(c, {1, 2});
    c.removed.clear();
    try {
        c.SetPhysicalLength(-1);
        FAIL() << "no exception";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "vector<T> too long");
    }
    EXPECT_THROW(c.SetLogicalLength(-3), std::length_error);
    EXPECT_TRUE(c.removed.empty());
    EXPECT_EQ(c.Count(), 2);
}

TEST(Collection, AppendClonesThroughTheSourceHook) {
    HookLog src;
    Fill(src, {1, 2});
    CTKCollection dst;
    dst.Add(7);
    dst.Append(src);
    EXPECT_EQ(src.cloned, (Items{1, 2}));
    EXPECT_EQ(Items(dst.DataPtr(), dst.DataPtr() + dst.Count()), (Items{7, 101, 102}));

    // The count is read once: appending a collection to itself doubles it.
    src.cloned.clear();
    src.Append(src);
    EXPECT_EQ(src.cloned, (Items{1, 2}));
    EXPECT_EQ(src.Contents(), (Items{1, 2, 101, 102}));

    // CopyFrom removes first, then clones; onto itself it does nothing.
    HookLog target;
    Fill(target, {8, 9});
    HookLog other;
    Fill(other, {3});
    target.CopyFrom(other);
    EXPECT_EQ(target.removed, (Items{8, 9}));
    EXPECT_EQ(target.Contents(), (Items{103}));
    target.removed.clear();
    target.CopyFrom(target);
    EXPECT_TRUE(target.removed.empty());
    EXPECT_EQ(target.Contents(), (Items{103}));
}

TEST(Collection, CopiesHaveTheirOwnStorage) {
    HookLog src;
    Fill(src, {1, 2});
    src.SetErrorCode(CTKObject::eInvalidContent);

    CTKCollection copy(src);  // filled through the source's clone hook
    EXPECT_EQ(src.cloned, (Items{1, 2}));
    EXPECT_EQ(copy.GetErrorCode(), CTKObject::eInvalidContent);
    copy.Item(0) = 55;
    copy.Add(3);
    EXPECT_EQ(src.Contents(), (Items{1, 2}));
    EXPECT_NE(copy.DataPtr(), src.DataPtr());
}

TEST(StringCollection, CloneAddGetStrFind) {
    CTKStringCollection c;
    EXPECT_EQ(c.CloneAdd(TKL("a")), 0);
    EXPECT_EQ(c.CloneAdd(TKL("b")), 1);
    EXPECT_EQ(c.CloneAdd(nullptr), 2);
    EXPECT_EQ(c.Add(tk::detail::HeapCopy(TKL("Straße"), 6)), 3);  // taken over
    EXPECT_EQ(c.CloneAdd(TKL("Ärger")), 4);
    EXPECT_EQ(Str(c.GetStr(1)), u"b");
    EXPECT_EQ(c.GetStr(2), nullptr);
    struct Row {
        const char* name;
        const TKWCHAR* text;
        bool caseSensitive;
        int start;
        int expected;
    };
    const Row rows[] = {
        {"exact", TKL("b"), true, 0, 1},
        {"case differs, exact", TKL("B"), true, 0, -1},
        {"case differs, ignoring case", TKL("B"), false, 0, 1},
        {"one unit folds to one unit (ß is not ss)", TKL("STRASSE"), false, 0, -1},
        {"ß matches itself", TKL("sTRAßE"), false, 0, 3},
        {"non-ascii letters fold", TKL("äRGER"), false, 0, 4},
        {"non-ascii case differs, exact", TKL("äRGER"), true, 0, -1},
        {"start past it", TKL("a"), true, 1, -1},
        {"negative start", TKL("a"), true, -2, 0},
        {"null text", nullptr, true, 0, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(c.Find(row.text, row.caseSensitive, row.start), row.expected);
    }
}

// Run under ASan: every string must be freed exactly once.
TEST(StringCollection, OwnsItsStrings) {
    auto* src = new CTKStringCollection;
    src->CloneAdd(TKL("a"));
    src->CloneAdd(TKL("b"));
    src->CloneAdd(nullptr);

    CTKStringCollection viaCopyFrom;
    viaCopyFrom.CloneAdd(TKL("old"));
    viaCopyFrom.CopyFrom(*src);
    CTKStringCollection viaCtor(*src);
    CTKStringCollection viaAssign;
    viaAssign = *src;
    CTKStringCollection& same = viaAssign;  // self-assignment, without the x = x warning
    viaAssign = same;
    CTKStringCollection appended;
    appended.Append(*src);
    appended.Append(appended);

    for (const CTKStringCollection* c : {&viaCopyFrom, &viaCtor, &viaAssign}) {
        EXPECT_EQ(c->Count(), 3);
        EXPECT_NE(c->GetStr(0), src->GetStr(0));
        EXPECT_EQ(c->GetStr(2), nullptr);
    }
    EXPECT_EQ(src->Release(), 0);
    EXPECT_EQ(Str(viaCopyFrom.GetStr(1)), u"b");
    EXPECT_EQ(Str(viaCtor.GetStr(0)), u"a");
    EXPECT_EQ(Str(viaAssign.GetStr(1)), u"b");
    ASSERT_EQ(appended.Count(), 6);
    EXPECT_EQ(Str(appended.GetStr(4)), u"b");
    EXPECT_NE(appended.GetStr(4), appended.GetStr(1));

    // Shrinking frees what it drops; removal frees; the destructor frees the rest.
    viaCtor.SetPhysicalLength(1);
    EXPECT_EQ(viaCtor.Count(), 1);
    viaAssign.SetLogicalLength(2);
    viaCopyFrom.RemoveAt(0);
    EXPECT_EQ(Str(viaCopyFrom.GetStr(0)), u"b");
    appended.RemoveAll();
}

TEST(ObjectCollection, HoldsOneReferencePerItem) {
    bool destroyed = false;
    auto* obj = new Tracked(&destroyed);

    auto* src = new CTKObjectCollection;
    src->Add(obj);  // takes the creator's reference
    src->Add(nullptr);
    EXPECT_EQ(obj->Count(), 1);
    EXPECT_EQ(src->GetObj(0), obj);

    CTKObjectCollection dst;
    dst.Append(*src);
    EXPECT_EQ(obj->Count(), 2);
    dst.RemoveAll();
    EXPECT_EQ(obj->Count(), 1);

    {
        CTKObjectCollection copy(*src);
        CTKObjectCollection assigned;
        assigned = copy;
        EXPECT_EQ(obj->Count(), 3);
        EXPECT_EQ(assigned.GetObj(0), obj);  // the same object, not a copy
    }
    EXPECT_EQ(obj->Count(), 1);

    dst.CopyFrom(*src);
    EXPECT_EQ(src->Release(), 0);
    EXPECT_FALSE(destroyed);
    dst.RemoveAt(0);  // the last reference
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(dst.Count(), 1);
}
