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

// Deleted through a specialised deleter, as lists of widgets are.
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
using Items = Quill::List<Item>;
using Values = std::vector<int>;

// Values front to back, checking every back link and the count on the way.
Values Walk(Quill::ListBase& list)
{
    Values values;
    Quill::ListNode* prev = nullptr;
    for (Quill::ListNode* n = list.Head(); n; prev = n, n = n->next) {
        EXPECT_EQ(n->prev, prev);
        values.push_back(static_cast<Item*>(n->data)->value);
    }
    EXPECT_EQ((int32_t)values.size(), list.Count());
    return values;
}

void Fill(Items& list, Values values)
{
    for (int v : values)
        list.Add(new Item(v));
}
}  // namespace

TEST(List, AddInsertCursorAndRemove)
{
    {
        Items list;
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
        list.InsertAt(new Item(-1), 0);
        list.InsertAt(new Item(7), 99);
        EXPECT_EQ(Walk(list), (Values{-1, 0, 1, 9, 2, 3, 7}));
        list.GetAt(3);
        EXPECT_EQ(list.GetAt(-1), nullptr);
        EXPECT_EQ(list.GetAt(list.Count()), nullptr);
        EXPECT_EQ(list.CursorIndex(), 3);
        EXPECT_EQ(list.IndexOf(first), 2);
        EXPECT_EQ(list.IndexOf(nullptr), -1);
        std::unique_ptr<Item> second(list.GetAt(1));
        list.RemoveAt(0, true);
        EXPECT_TRUE(list.Head()->data == second.get() && list.CursorIndex() == 0);
        list.RemoveAt(7, true);
        list.Remove(second.get(), false);
        EXPECT_EQ(Walk(list), (Values{1, 9, 2, 3, 7}));
        EXPECT_EQ(Item::alive, 6);
    }
    EXPECT_EQ(Item::alive, 0);  // the destructor deleted every element
    Items list;
    Fill(list, {1, 2});
    std::unique_ptr<Item> kept[] = {std::unique_ptr<Item>(list.GetAt(0)), std::unique_ptr<Item>(list.GetAt(1))};
    list.Clear(false);
    EXPECT_TRUE(list.Count() == 0 && !list.Head() && !list.Cursor());
    EXPECT_EQ(Item::alive, 2);  // still alive, owned by kept
    Fill(list, {5});
    EXPECT_EQ(Walk(list), (Values{5}));
}

TEST(List, WalksBothWaysOneStepPerElement)
{
    const int n = 50000;
    Items list;
    for (int i = 0; i < n; ++i)
        list.Add(new Item(i));
    // A walk restarting from the head would take n*n/2 steps, far beyond the bound.
    auto start = std::chrono::steady_clock::now();
    for (int i = n - 1; i >= 0; --i)
        ASSERT_EQ(list.GetAt(i)->value, i);
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(list.GetAt(i)->value, i);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(List, SwapSpliceAndDuplicates)
{
    struct Case {
        int a, b;
        Values expected;
    } const swaps[] = {{0, 1, {1, 0, 2, 3, 4}}, {1, 3, {0, 3, 2, 1, 4}}, {4, 0, {4, 1, 2, 3, 0}},
                       {3, 4, {0, 1, 2, 4, 3}}, {2, 2, {0, 1, 2, 3, 4}}, {1, 5, {0, 1, 2, 3, 4}}};
    for (const Case& c : swaps) {
        Items list;
        Fill(list, {0, 1, 2, 3, 4});
        Quill::ListNode* nodeA = list.NodeAt(c.a);
        list.Swap(c.a, c.b);
        EXPECT_EQ(Walk(list), c.expected) << c.a << "," << c.b;
        EXPECT_TRUE(!nodeA || c.b >= list.Count() || list.NodeAt(c.b) == nodeA) << "node moved";
    }
    // {index in the target to splice after, -1 for an absent element; result}
    const std::pair<int, Values> splices[] = {{0, {1, 7, 8, 2, 3}}, {2, {1, 2, 3, 7, 8}}, {-1, {1, 2, 3, 7, 8}}};
    for (const auto& c : splices) {
        Items target, other;
        Fill(target, {1, 2, 3});
        Fill(other, {7, 8});
        Item absent(0);
        target.SpliceAfter(c.first >= 0 ? target.GetAt(c.first) : &absent, other);
        EXPECT_EQ(Walk(target), c.second);
        EXPECT_TRUE(other.Count() == 0 && !other.Head() && other.CursorIndex() == -1);
        EXPECT_TRUE(target.GetAt(4)->value == c.second[4] && target.GetAt(1)->value == c.second[1]) << "cursor";
    }
    Items empty, other;
    Fill(other, {4});
    empty.SpliceAfter(nullptr, other);
    EXPECT_EQ(Walk(empty), (Values{4}));

    Items list;
    Fill(list, {1, 2, 3});
    list.Add(list.GetAt(0));
    list.Add(list.GetAt(1));
    list.Add(list.GetAt(0));
    int alive = Item::alive;
    list.RemoveDuplicates();
    EXPECT_EQ(Walk(list), (Values{1, 2, 3}));
    EXPECT_EQ(Item::alive, alive) << "duplicates are unlinked, not deleted";
}

TEST(List, ElementTypesDecideDeletion)
{
    // Strings and pairs are freed by the list: the sanitizer build's leak checker sees it.
    Quill::List<SString> strings;
    strings.Add(new SString("one"));
    Quill::List<StringsPair_t> pairs;
    pairs.Add(new StringsPair_t{SString("k"), SString("v")});
    pairs.RemoveAt(0, true);
    borrowedDeletes = 0;
    Borrowed widgets[2] = {{1}, {2}};
    {
        Quill::List<Borrowed> list;
        list.Add(&widgets[0]);
        list.Add(&widgets[1]);
        list.RemoveAt(0, true);
    }
    EXPECT_EQ(borrowedDeletes, 2);
}
