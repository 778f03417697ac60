#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
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
Values Walk(Items& list)
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
}  // namespace

// Random edits, each index one out of range on either side as often as inside, against a vector.
TEST(List, EditsMatchAVector)
{
    {
        std::mt19937 rng(7);
        Items list;
        Values model;
        list.Add(nullptr);
        for (int step = 0, next = 0; step < 400; ++step) {
            const int n = (int)model.size(), i = (int)(rng() % (n + 3)) - 1;
            const bool inside = i >= 0 && i < n, front = rng() % 2;
            Item* at = list.GetAt(i);
            ASSERT_EQ(at ? at->value : -1, inside ? model[i] : -1) << step;
            if (rng() % 3) {
                list.Add(new Item(next), front);
                model.insert(front ? model.begin() : model.end(), next++);
            } else {
                list.RemoveAt(i, true);
                if (inside)
                    model.erase(model.begin() + i);
            }
            ASSERT_EQ(Walk(list), model) << step;
            ASSERT_EQ(Item::alive, (int)model.size()) << step;
        }
    }
    EXPECT_EQ(Item::alive, 0);  // the destructor deleted every element
    Items list;
    list.Add(new Item(1));
    std::unique_ptr<Item> kept(list.GetAt(0));
    list.Clear(false);
    EXPECT_TRUE(list.Count() == 0 && !list.Head() && Item::alive == 1);
    list.Add(new Item(5));
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

TEST(List, ElementTypesDecideDeletion)
{
    // Strings are freed by the list: the sanitizer build's leak checker sees it.
    Quill::List<SString> strings;
    strings.Add(new SString("one"));
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
