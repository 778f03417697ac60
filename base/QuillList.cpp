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

}  // namespace Quill
