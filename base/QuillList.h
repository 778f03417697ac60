// Owning doubly linked list of element pointers. A cursor remembers the node visited last, so
// walks by increasing (or decreasing) index cost one step per element.
#pragma once
#include <cstdint>

#include "base/SString.h"

namespace Quill {

struct ListNode {
    ListNode* next;
    ListNode* prev;
    void* data;
};

class ListBase {
public:
    ListBase() = default;
    ListBase(const ListBase&) = delete;
    ListBase& operator=(const ListBase&) = delete;
    // Frees the nodes only: elements are deleted by the typed list's destructor.
    virtual ~ListBase();

    int32_t Count() const { return count_; }
    // Null when index is out of range (the cursor then stays); otherwise moves the cursor there.
    void* GetAt(int32_t index);
    ListNode* NodeAt(int32_t index);
    // A null element is never stored.
    void Add(void* element, bool atFront = false);
    void InsertAt(void* element, int32_t index);
    void RemoveAt(int32_t index, bool deleteElement);
    void Remove(void* element, bool deleteElement);
    void Clear(bool deleteElement);
    int32_t IndexOf(const void* element) const;
    bool Contains(const void* element) const { return IndexOf(element) >= 0; }
    // Exchanges the nodes themselves, so node pointers held elsewhere follow their data.
    void Swap(int32_t index1, int32_t index2);
    // Keeps the first occurrence of every element; later ones are unlinked, not deleted.
    void RemoveDuplicates();
    // Moves every node of other behind element's node (behind the last when absent).
    void SpliceAfter(void* element, ListBase& other);

    ListNode* Head() const { return head_; }
    ListNode* Cursor() const { return cursor_; }
    int32_t CursorIndex() const { return cursorIndex_; }

protected:
    virtual void DeleteElement(void* element) = 0;

private:
    ListNode* NodeOf(const void* element) const;
    void Unlink(ListNode* node);
    void CursorToHead();

    ListNode* cursor_ = nullptr;
    int32_t count_ = 0;
    int32_t cursorIndex_ = 0;
    ListNode* head_ = nullptr;
};

// How a List<T> deletes its elements. Specialise it for element types that are not freed with
// delete, e.g. widgets, which GTK owns: such lists are emptied with Clear(false) by their owner.
template <typename T>
struct ListElementDeleter {
    static void Delete(T* element)
    {
        static_assert(sizeof(T) > 0, "specialise Quill::ListElementDeleter for incomplete types");
        delete element;
    }
};

template <typename T>
class List : public ListBase {
public:
    ~List() override { Clear(true); }

    T* GetAt(int32_t index) { return static_cast<T*>(ListBase::GetAt(index)); }
    void Add(T* element, bool atFront = false) { ListBase::Add(element, atFront); }
    void InsertAt(T* element, int32_t index) { ListBase::InsertAt(element, index); }
    void Remove(T* element, bool deleteElement) { ListBase::Remove(element, deleteElement); }
    int32_t IndexOf(const T* element) const { return ListBase::IndexOf(element); }
    bool Contains(const T* element) const { return ListBase::Contains(element); }
    void SpliceAfter(T* element, List<T>& other) { ListBase::SpliceAfter(element, other); }

protected:
    void DeleteElement(void* element) override
    {
        ListElementDeleter<T>::Delete(static_cast<T*>(element));
    }
};

}  // namespace Quill
