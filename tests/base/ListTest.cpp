#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "base/QuillList.h"

namespace {
struct Item {
    explicit Item(int v) : value(v) { ++alive; }
    ~Item() { --alive; }
    int value;
    static int alive;
};
int Item::alive = 0;

// Element type whose deletion goes through a specialised deleter, as widget lists do.
struct Borrowed {
    int value;
};
int borrowedDeletes = 0;
}  // namespace

template <>
struct Quill::ListElementDeleter<Borrowed> {
    static void Delete(Borrowed*) { ++borrowedDeletes; }
};

namespace {
// Values front to back, checking every back link and the count on the way.
std::vector<int> Values(Quill::ListBase& list)
{
    std::vector<int> values;
    Quill::ListNode* prev = nullptr;
    for (Quill::ListNode* n = list.Head(); n; prev = n, n = n->next) {
        EXPECT_EQ(n->prev, prev);
        values.push_back(static_cast<Item*>(n->data)->value);
    }
    EXPECT_EQ((int32_t)values.size(), list.Count());
    return values;
}

void Fill(Quill::List<Item>& list, std::initializer_list<int> values)
{
    for (int v : values)
        list.Add(new Item(v));
}
}  // namespace

TEST(List, AddInsertAndCursorRules)
{
    {
        Quill::List<Item> list;
        Item* first = new Item(1);
        list.Add(first);
        EXPECT_EQ(list.Head(), list.Cursor());
        list.Add(nullptr);
        Fill(list, {2, 3});
        EXPECT_EQ(list.CursorIndex(), 2);
        list.Add(new Item(0), true);
        EXPECT_EQ(list.CursorIndex(), 0);
        list.InsertAt(new Item(9), 2);
        EXPECT_EQ(list.CursorIndex(), 2);
        EXPECT_EQ(list.GetAt(2)->value, 9);
        list.InsertAt(new Item(-1), 0);
        list.InsertAt(new Item(7), 99);
        EXPECT_EQ(Values(list), (std::vector<int>{-1, 0, 1, 9, 2, 3, 7}));

        list.GetAt(3);
        EXPECT_EQ(list.GetAt(-1), nullptr);
        EXPECT_EQ(list.GetAt(list.Count()), nullptr);
        EXPECT_EQ(list.CursorIndex(), 3);
        EXPECT_EQ(list.IndexOf(first), 2);
        EXPECT_TRUE(list.Contains(first));
        EXPECT_EQ(list.IndexOf(nullptr), -1);
        EXPECT_EQ(Item::alive, 7);
    }
    EXPECT_EQ(Item::alive, 0);  // the destructor deleted every element
}

TEST(List, WalksBothWaysOneStepPerElement)
{
    const int n = 50000;
    Quill::List<Item> list;
    for (int i = 0; i < n; ++i)
        list.Add(new Item(i));
    // A walk that restarted from the head would take n*n/2 steps, far beyond these bounds.
    using std::chrono::milliseconds;
    auto walk = [&](int from, int to, int step) {
        auto start = std::chrono::steady_clock::now();
        for (int i = from; i != to; i += step)
            if (list.GetAt(i)->value != i)
                return milliseconds(3600000);
        return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    };
    auto bound = milliseconds(500);
    EXPECT_LT(walk(n - 1, -1, -1), bound);
    EXPECT_LT(walk(0, n, 1), bound);
}

TEST(List, RemoveAndClear)
{
    Quill::List<Item> list;
    Fill(list, {1, 2, 3, 4});
    Item* second = list.GetAt(1);
    list.RemoveAt(0, true);
    EXPECT_EQ(list.Head()->data, second);
    EXPECT_EQ(list.CursorIndex(), 0);
    list.RemoveAt(7, true);
    list.Remove(second, false);
    EXPECT_EQ(Values(list), (std::vector<int>{3, 4}));
    EXPECT_EQ(Item::alive, 3);
    delete second;

    std::vector<std::unique_ptr<Item>> keep;
    for (int i = 0; i < list.Count(); ++i)
        keep.emplace_back(list.GetAt(i));
    list.Clear(false);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Head(), nullptr);
    EXPECT_EQ(list.Cursor(), nullptr);
    EXPECT_EQ(Item::alive, 2);  // not deleted: still owned by keep
    list.RemoveAt(0, true);
    Fill(list, {5});
    EXPECT_EQ(Values(list), (std::vector<int>{5}));
}

TEST(List, SwapExchangesNodes)
{
    struct Case {
        int a, b;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {0, 1, {1, 0, 2, 3, 4}}, {1, 3, {0, 3, 2, 1, 4}}, {4, 0, {4, 1, 2, 3, 0}},
        {3, 4, {0, 1, 2, 4, 3}}, {2, 2, {0, 1, 2, 3, 4}}, {-1, 2, {0, 1, 2, 3, 4}},
        {1, 5, {0, 1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        Quill::List<Item> list;
        Fill(list, {0, 1, 2, 3, 4});
        Quill::ListNode* nodeA = list.NodeAt(c.a);
        list.Swap(c.a, c.b);
        EXPECT_EQ(Values(list), c.expected) << c.a << "," << c.b;
        if (nodeA && c.b >= 0 && c.b < list.Count()) {
            EXPECT_EQ(list.NodeAt(c.b), nodeA) << "the node moved, not its data";
        }
    }
}

TEST(List, RemoveDuplicatesKeepsFirstAndDeletesNothing)
{
    Quill::List<Item> list;
    Fill(list, {1, 2});
    Item* a = list.GetAt(0);
    Item* b = list.GetAt(1);
    Fill(list, {3});
    list.Add(a);
    list.Add(b);
    list.Add(a);
    list.RemoveDuplicates();
    EXPECT_EQ(Values(list), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(Item::alive, 3);
    EXPECT_EQ(list.GetAt(2)->value, 3);
}

TEST(List, SpliceAfter)
{
    struct Case {
        int after;  // index in the target, -1 for an absent element
        std::vector<int> expected;
    };
    const Case cases[] = {{0, {1, 7, 8, 2, 3}}, {2, {1, 2, 3, 7, 8}}, {-1, {1, 2, 3, 7, 8}}};
    for (const Case& c : cases) {
        Quill::List<Item> target, other;
        Fill(target, {1, 2, 3});
        Fill(other, {7, 8});
        Item absent(0);
        target.SpliceAfter(c.after >= 0 ? target.GetAt(c.after) : &absent, other);
        EXPECT_EQ(Values(target), c.expected);
        EXPECT_EQ(other.Count(), 0);
        EXPECT_EQ(other.Head(), nullptr);
        EXPECT_EQ(other.CursorIndex(), -1);
        EXPECT_EQ(target.GetAt(4)->value, c.expected[4]);
        EXPECT_EQ(target.GetAt(0)->value, 1);
    }
    Quill::List<Item> empty, other;
    Fill(other, {4});
    empty.SpliceAfter(nullptr, other);
    EXPECT_EQ(Values(empty), (std::vector<int>{4}));
    other.Add(new Item(5));
    EXPECT_EQ(Values(other), (std::vector<int>{5}));
}

TEST(List, ElementTypesDecideDeletion)
{
    // Strings and pairs are freed by the list: the leak checker of the sanitizer build sees it.
    Quill::List<SString> strings;
    strings.Add(new SString("one"));
    Quill::List<StringsPair_t> pairs;
    pairs.Add(new StringsPair_t{SString("k"), SString("v")});
    pairs.RemoveAt(0, true);
    EXPECT_EQ(pairs.Count(), 0);

    Borrowed widgets[2] = {{1}, {2}};
    {
        Quill::List<Borrowed> list;
        list.Add(&widgets[0]);
        list.Add(&widgets[1]);
        list.RemoveAt(0, true);
    }
    EXPECT_EQ(borrowedDeletes, 2);
}
