#include <gtest/gtest.h>

#include <algorithm>
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
}  // namespace

// Random edits, each index one out of range on either side as often as inside, against a vector.
TEST(List, EditsMatchAVectorAndTheCursorWalksOneStepPerElement)
{
    {
        std::mt19937 rng(7);
        Items list;
        Values model;
        list.Add(nullptr);
        list.InsertAt(nullptr, 0);
        for (int step = 0, next = 0; step < 400; ++step) {
            const int n = (int)model.size(), i = (int)(rng() % (n + 3)) - 1, j = (int)(rng() % (n + 1));
            const bool inside = i >= 0 && i < n, front = rng() % 2;
            Item* at = list.GetAt(i);
            ASSERT_EQ(at ? at->value : -1, inside ? model[i] : -1) << step;
            ASSERT_TRUE(list.IndexOf(at) == (inside ? i : -1) && (!inside || list.CursorIndex() == i)) << step;
            switch (step == 0 ? 4 : rng() % 6) {
            case 0:
                list.Add(new Item(next), front);
                model.insert(front ? model.begin() : model.end(), next++);
                ASSERT_EQ(list.CursorIndex(), front ? 0 : n) << step;
                break;
            case 1:
                list.InsertAt(new Item(next), i);
                model.insert(model.begin() + std::min(std::max(i, 0), n), next++);
                ASSERT_EQ(list.CursorIndex(), std::min(std::max(i, 0), n)) << step;
                break;
            case 2:
                if (front)
                    list.RemoveAt(i, true);
                else
                    list.Remove(at, true);
                if (inside)
                    model.erase(model.begin() + i);
                ASSERT_TRUE(!inside || list.CursorIndex() == 0) << step;
                break;
            case 4: {  // behind the element, behind the last when absent
                Items other;
                other.Add(new Item(next));
                other.Add(new Item(next + 1));
                list.SpliceAfter(at, other);
                model.insert(model.begin() + (inside ? i + 1 : n), {next, next + 1});
                next += 2;
                ASSERT_TRUE(other.Count() == 0 && !other.Head() && other.CursorIndex() == -1) << step;
                break;
            }
            case 5:  // later occurrences are unlinked, not deleted
                list.Add(at);
                list.InsertAt(at, j);
                list.RemoveDuplicates();
                if (inside && j <= i) {
                    model.erase(model.begin() + i);
                    model.insert(model.begin() + j, at->value);
                }
                break;
            default:
                Quill::ListNode* node = list.NodeAt(i);
                list.Swap(i, j);
                if (inside && j < n)
                    std::swap(model[i], model[j]);
                ASSERT_TRUE(!inside || j >= n || list.NodeAt(j) == node) << "node moved with its data, step " << step;
            }
            ASSERT_EQ(Walk(list), model) << step;
            ASSERT_EQ(Item::alive, (int)model.size()) << step;
        }
    }
    EXPECT_EQ(Item::alive, 0);  // the destructor deleted every element
    Items list;
    list.Add(new Item(1));
    list.Add(new Item(2));
    std::unique_ptr<Item> kept[] = {std::unique_ptr<Item>(list.GetAt(0)), std::unique_ptr<Item>(list.GetAt(1))};
    list.Clear(false);
    EXPECT_TRUE(list.Count() == 0 && !list.Head() && !list.Cursor());
    EXPECT_EQ(Item::alive, 2);  // still alive, owned by kept
    list.Add(new Item(5));
    EXPECT_EQ(Walk(list), (Values{5}));

    // Indexed walks both ways take one step per element: restarting from the head would take
    // n*n/2 steps, far beyond the bound.
    const int n = 50000;
    for (int i = 1; i < n; ++i)
        list.Add(new Item(i));
    auto start = std::chrono::steady_clock::now();
    for (int i = n - 1; i >= 0; --i)
        ASSERT_EQ(list.GetAt(i)->value, i ? i : 5);
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(list.GetAt(i)->value, i ? i : 5);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}
