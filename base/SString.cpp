#include "base/SString.h"

#include <cstdlib>
#include <cstring>

namespace {
uint32_t TextLength(const char* text, int32_t length)
{
    if (!text)
        return 0;
    return length < 0 ? (uint32_t)strlen(text) : (uint32_t)length;
}
}  // namespace

SString::SString(const char* text, int32_t length)
{
    if (!text)
        return;
    uint32_t n = TextLength(text, length);
    char* storage = (char*)malloc((size_t)n + 1);
    if (!storage)
        return;
    memcpy(storage, text, n);
    storage[n] = '\0';
    text_ = storage;
    capacity_ = n;
    length_ = n;
}

SString::SString(const SString& other) : SString(other.text_, (int32_t)other.length_) {}

SString::SString(SString&& other) noexcept
    : text_(other.text_), capacity_(other.capacity_), length_(other.length_)
{
    other.text_ = nullptr;
    other.capacity_ = 0;
    other.length_ = 0;
}

SString& SString::operator=(const SString& other)
{
    if (this != &other)
        Assign(other.Text(), (int32_t)other.length_);
    return *this;
}

SString& SString::operator=(SString&& other) noexcept
{
    if (this != &other) {
        free(text_);
        text_ = other.text_;
        capacity_ = other.capacity_;
        length_ = other.length_;
        other.text_ = nullptr;
        other.capacity_ = 0;
        other.length_ = 0;
    }
    return *this;
}

SString::~SString()
{
    free(text_);
}

void SString::Assign(const char* text, int32_t length)
{
    uint32_t n = TextLength(text, length);
    if (text && text == text_ && n == length_)
        return;
    if (capacity_ == 0 || capacity_ < n) {
        // The new storage is filled before the old is freed: text may point into it.
        char* storage = (char*)malloc((size_t)n + 1);
        if (!storage)
            return;
        if (n)
            memcpy(storage, text, n);
        storage[n] = '\0';
        free(text_);
        text_ = storage;
        capacity_ = n;
    } else {
        if (n)
            memmove(text_, text, n);
        text_[n] = '\0';
    }
    length_ = n;
}

bool SString::Grow(uint32_t n)
{
    if (text_ && (uint64_t)n + 1 < capacity_)
        return true;
    while ((uint64_t)6 * step_ < n)
        step_ *= 2;
    uint64_t size = (uint64_t)n + 1 + step_;
    if (size > UINT32_MAX)
        return false;
    char* storage = (char*)malloc((size_t)size);
    if (!storage)
        return false;
    if (text_)
        memcpy(storage, text_, (size_t)length_ + 1);
    else
        storage[0] = '\0';
    free(text_);
    text_ = storage;
    capacity_ = (uint32_t)(size - 1);
    return true;
}

void SString::Append(const char* text, int32_t length)
{
    Insert(length_, text, length);
}

void SString::Insert(uint32_t position, const char* text, int32_t length)
{
    uint32_t count = TextLength(text, length);
    if (count == 0)
        return;
    if ((uint64_t)length_ + count >= UINT32_MAX)
        return;
    if (position > length_)
        position = length_;
    // A text taken from this very string would move or vanish while growing: copy it first.
    SString own;
    uintptr_t from = (uintptr_t)text, begin = (uintptr_t)text_;
    if (text_ && from >= begin && from <= begin + capacity_) {
        own.Assign(text, (int32_t)count);
        if (own.length_ != count)
            return;
        text = own.text_;
    }
    uint32_t n = length_ + count;
    if (!Grow(n))
        return;
    memmove(text_ + position + count, text_ + position, (size_t)(length_ - position) + 1);
    memcpy(text_ + position, text, count);
    length_ = n;
}

void SString::Delete(uint32_t position, uint32_t count)
{
    if (!text_ || position >= length_ || count == 0)
        return;
    if (count > length_ - position)
        count = length_ - position;
    memmove(text_ + position, text_ + position + count, (size_t)(length_ - position - count) + 1);
    length_ -= count;
}

void SString::Clear()
{
    if (text_ && capacity_ > 0) {
        text_[0] = '\0';
        length_ = 0;
        return;
    }
    char* storage = (char*)malloc(1);
    free(text_);
    text_ = storage;
    if (text_)
        text_[0] = '\0';
    capacity_ = 0;
    length_ = 0;
}

void SString::Reset()
{
    free(text_);
    text_ = nullptr;
    capacity_ = 0;
    length_ = 0;
}

char* SString::Release(uint32_t* length)
{
    char* storage = text_;
    if (length)
        *length = length_;
    text_ = nullptr;
    capacity_ = 0;
    length_ = 0;
    return storage;
}

bool SString::operator==(const char* other) const
{
    if (!other)
        other = "";
    size_t n = strlen(other);
    return n == length_ && memcmp(Text(), other, n) == 0;
}
