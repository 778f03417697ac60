#include "base/QuillList.h"

#include <new>

#include "base/Messages.h"

namespace Quill {

ListBase::~ListBase()
{
    // DeleteElement cannot be reached from here any more; typed lists delete before.
    Clear(false);
}

ListNode* ListBase::NodeAt(int32_t index)
{
    if (index < 0 || index >= count_)
        return nullptr;
    if (index == 0) {
        cursor_ = head_;
    } else {
        while (cursorIndex_ < index) {
            cursor_ = cursor_->next;
            ++cursorIndex_;
        }
        while (cursorIndex_ > index) {
            cursor_ = cursor_->prev;
            --cursorIndex_;
        }
    }
    cursorIndex_ = index;
    return cursor_;
}

void* ListBase::GetAt(int32_t index)
{
    ListNode* node = NodeAt(index);
    return node ? node->data : nullptr;
}

void ListBase::Add(void* element, bool atFront)
{
    if (!element)
        return;
    ListNode* node = new (std::nothrow) ListNode{nullptr, nullptr, element};
    if (!node) {
        DiagNoMem("Quill::ListBase::Add");
        return;
    }
    if (!head_) {
        head_ = node;
        cursorIndex_ = 0;
    } else if (atFront) {
        node->next = head_;
        head_->prev = node;
        head_ = node;
        cursorIndex_ = 0;
    } else {
        ListNode* last = NodeAt(count_ - 1);
        last->next = node;
        node->prev = last;
        cursorIndex_ = count_;
    }
    cursor_ = node;
    ++count_;
}

void ListBase::InsertAt(void* element, int32_t index)
{
    if (!element)
        return;
    if (index < 1) {
        Add(element, true);
        return;
    }
    if (index >= count_) {
        Add(element, false);
        return;
    }
    ListNode* at = NodeAt(index);
    ListNode* node = new (std::nothrow) ListNode{at, at->prev, element};
    if (!node) {
        DiagNoMem("Quill::ListBase::InsertAt");
        return;
    }
    at->prev->next = node;
    at->prev = node;
    cursor_ = node;
    cursorIndex_ = index;
    ++count_;
}

void ListBase::Unlink(ListNode* node)
{
    if (node->prev)
        node->prev->next = node->next;
    else
        head_ = node->next;
    if (node->next)
        node->next->prev = node->prev;
    delete node;
    --count_;
}

void ListBase::CursorToHead()
{
    cursor_ = head_;
    cursorIndex_ = 0;
}

void ListBase::RemoveAt(int32_t index, bool deleteElement)
{
    ListNode* node = NodeAt(index);
    if (!node)
        return;
    if (deleteElement)
        DeleteElement(node->data);
    Unlink(node);
    CursorToHead();
}

void ListBase::Remove(void* element, bool deleteElement)
{
    int32_t index = IndexOf(element);
    if (index >= 0)
        RemoveAt(index, deleteElement);
}

void ListBase::Clear(bool deleteElement)
{
    // Detached first, so the list is already consistent while elements are deleted.
    ListNode* node = head_;
    head_ = nullptr;
    count_ = 0;
    CursorToHead();
    while (node) {
        ListNode* next = node->next;
        if (deleteElement)
            DeleteElement(node->data);
        delete node;
        node = next;
    }
}

ListNode* ListBase::NodeOf(const void* element) const
{
    if (!element)
        return nullptr;
    for (ListNode* node = head_; node; node = node->next)
        if (node->data == element)
            return node;
    return nullptr;
}

int32_t ListBase::IndexOf(const void* element) const
{
    if (!element)
        return -1;
    int32_t index = 0;
    for (ListNode* node = head_; node; node = node->next, ++index)
        if (node->data == element)
            return index;
    return -1;
}

void ListBase::Swap(int32_t index1, int32_t index2)
{
    if (index1 == index2 || index1 < 0 || index2 < 0 || index1 >= count_ || index2 >= count_)
        return;
    if (index1 > index2) {
        int32_t t = index1;
        index1 = index2;
        index2 = t;
    }
    ListNode* a = NodeAt(index1);
    ListNode* b = NodeAt(index2);
    ListNode* before = a->prev;
    ListNode* after = b->next;
    if (a->next == b) {
        b->prev = before;
        b->next = a;
        a->prev = b;
        a->next = after;
    } else {
        ListNode* aNext = a->next;
        ListNode* bPrev = b->prev;
        b->prev = before;
        b->next = aNext;
        aNext->prev = b;
        a->prev = bPrev;
        a->next = after;
        bPrev->next = a;
    }
    if (before)
        before->next = b;
    else
        head_ = b;
    if (after)
        after->prev = a;
    CursorToHead();
}

void ListBase::RemoveDuplicates()
{
    if (count_ < 2)
        return;
    ListNode* node = NodeAt(count_ - 1);
    while (node && node != head_) {
        ListNode* prev = node->prev;
        for (ListNode* earlier = head_; earlier != node; earlier = earlier->next) {
            if (earlier->data == node->data) {
                Unlink(node);
                break;
            }
        }
        node = prev;
    }
    CursorToHead();
}

void ListBase::SpliceAfter(void* element, ListBase& other)
{
    if (&other == this)
        return;
    if (other.count_ > 0) {
        ListNode* first = other.head_;
        ListNode* last = other.NodeAt(other.count_ - 1);
        ListNode* at = NodeOf(element);
        if (!at && count_ > 0)
            at = NodeAt(count_ - 1);
        if (at) {
            last->next = at->next;
            if (at->next)
                at->next->prev = last;
            at->next = first;
            first->prev = at;
        } else {
            head_ = first;
        }
        count_ += other.count_;
        CursorToHead();
    }
    other.head_ = nullptr;
    other.cursor_ = nullptr;
    other.count_ = 0;
    other.cursorIndex_ = -1;
}

}  // namespace Quill
