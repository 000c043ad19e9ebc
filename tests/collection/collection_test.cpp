#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "memory/heap.h"
#include "tavikfcu/TKCollection.h"

namespace {

using Items = std::vector<std::uint64_t>;

// Records every hook call in order ("c1 " cloned item 1, "r2 " removed item
// 2), so tests can see which items were cloned or removed and in what order.
class Log : public CTKCollection {
  public:
    std::uint64_t OnCloneItem(std::uint64_t item) const override {
        calls += "c" + std::to_string(item) + " ";
        return item + 100;  // makes clones recognisable
    }
    void OnRemoveItem(std::uint64_t item) override { calls += "r" + std::to_string(item) + " "; }

    Items Contents() const { return Items(constDataPtr(), constDataPtr() + Count()); }

    static std::string calls;  // shared: the order across collections counts
};
std::string Log::calls;

// Add runs no hook, so the log starts empty.
void Fill(Log& log, const Items& items) {
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

// Every change that drops, clones or refuses, from the same two collections:
// the hooks run in index order, removals before clones, before items leave.
TEST(Collection, HookCallsAndContents) {
    struct Row {
        const char* name;
        void (*act)(Log& c, Log& o);
        std::string calls;
        Items left;  // in c
    };
    const Row rows[] = {
        {"RemoveAt middle", [](Log& c, Log&) { c.RemoveAt(1); }, "r2 ", {1, 3, 4}},
        {"RemoveAll", [](Log& c, Log&) { c.RemoveAll(); }, "r1 r2 r3 r4 ", {}},
        {"logical shrink", [](Log& c, Log&) { c.SetLogicalLength(1); }, "r2 r3 r4 ", {1}},
        {"logical grow, zeros",
         [](Log& c, Log&) { c.SetLogicalLength(6); },
         "",
         {1, 2, 3, 4, 0, 0}},
        {"physical shrink", [](Log& c, Log&) { c.SetPhysicalLength(2); }, "r3 r4 ", {1, 2}},
        {"physical grow", [](Log& c, Log&) { c.SetPhysicalLength(50); }, "", {1, 2, 3, 4}},
        {"negative physical length throws before any hook",
         [](Log& c, Log&) {
             try {
                 c.SetPhysicalLength(-1);
                 ADD_FAILURE() << "no exception";
             } catch (const std::length_error& e) {
                 EXPECT_STREQ(e.what(), "vector<T> too long");
             }
         },
         "",
         {1, 2, 3, 4}},
        {"negative logical length",
         [](Log& c, Log&) { EXPECT_THROW(c.SetLogicalLength(-3), std::length_error); },
         "",
         {1, 2, 3, 4}},
        {"Append: source's hook",
         [](Log& c, Log& o) { c.Append(o); },
         "c8 c9 ",
         {1, 2, 3, 4, 108, 109}},
        {"Append itself: count read once",
         [](Log& c, Log&) { c.Append(c); },
         "c1 c2 c3 c4 ",
         {1, 2, 3, 4, 101, 102, 103, 104}},
        {"CopyFrom: remove, then clone",
         [](Log& c, Log& o) { c.CopyFrom(o); },
         "r1 r2 r3 r4 c8 c9 ",
         {108, 109}},
        {"CopyFrom itself: nothing", [](Log& c, Log&) { c.CopyFrom(c); }, "", {1, 2, 3, 4}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Log c, o;
        Fill(c, {1, 2, 3, 4});
        Fill(o, {8, 9});
        Log::calls.clear();
        row.act(c, o);
        EXPECT_EQ(Log::calls, row.calls);
        EXPECT_EQ(c.Contents(), row.left);
        EXPECT_EQ(o.Contents(), (Items{8, 9}));
    }
}

TEST(Collection, CopiesHaveTheirOwnStorage) {
    Log src;
    Fill(src, {1, 2});
    src.SetErrorCode(CTKObject::eInvalidContent);

    Log::calls.clear();
    CTKCollection copy(src);  // filled through the source's clone hook
    EXPECT_EQ(Log::calls, "c1 c2 ");
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

    const TKWCHAR* first = src->GetStr(0);
    EXPECT_EQ(src->Release(), 0);
    for (const CTKStringCollection* c : {&viaCopyFrom, &viaCtor, &viaAssign}) {
        ASSERT_EQ(c->Count(), 3);
        EXPECT_NE(c->GetStr(0), first);
        EXPECT_EQ(Str(c->GetStr(0)) + Str(c->GetStr(1)) + Str(c->GetStr(2)), u"ab<null>");
    }
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
