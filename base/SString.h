// Growable, owning, NUL-terminated byte string used for every text of the program
// (UTF-8 in the interface, raw bytes in buffers).
#pragma once
#include <cstdint>
#include <cstddef>

class SString {
public:
    static const uint32_t kDefaultStep = 64;

    SString() = default;
    // Copies exactly length bytes; length -1 means up to the first NUL.
    SString(const char* text, int32_t length = -1);
    SString(const SString& other);
    SString(SString&& other) noexcept;
    SString& operator=(const SString& other);
    SString& operator=(SString&& other) noexcept;
    ~SString();

    void Assign(const char* text, int32_t length = -1);
    void Append(const char* text, int32_t length = -1);
    void Append(const SString& s) { Append(s.Text(), (int32_t)s.Length()); }
    void Append(char c) { Append(&c, 1); }
    void Insert(uint32_t position, const char* text, int32_t length = -1);
    void Delete(uint32_t position, uint32_t count);
    void Clear();
    // Frees the storage: text null, capacity 0, length 0; the step is kept.
    void Reset();

    // Never null: the empty text for a null text.
    const char* Text() const { return text_ ? text_ : ""; }
    // May be null (no storage yet).
    char* Data() { return text_; }
    const char* RawText() const { return text_; }
    uint32_t Length() const { return length_; }
    uint32_t Capacity() const { return capacity_; }
    uint32_t Step() const { return step_; }
    bool IsEmpty() const { return length_ == 0; }

    // Hands the storage to the caller (who frees it with free()); the string becomes reset.
    char* Release(uint32_t* length = nullptr);

    bool operator==(const char* other) const;
    bool operator==(const SString& other) const { return *this == other.Text(); }
    bool operator!=(const char* other) const { return !(*this == other); }

private:
    // Makes room for a string of n characters by the growth rule; false when memory ran out.
    bool Grow(uint32_t n);

    char* text_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t length_ = 0;
    uint32_t step_ = kDefaultStep;
};

struct StringsPair_t {
    SString first;
    SString second;
};
