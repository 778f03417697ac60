// Per code page readers (bytes -> repertoire position) and writers (position -> bytes).
// One immutable instance per code page and direction, shared by every recoder.
#pragma once
#include "recoding/Codepage.h"

#include <cstdint>

// Results of TE_Codepage_Get::Get.
const int kCodecAscii = 0;       // value is the byte itself, one byte used
const int kCodecCharacter = 1;   // value is a repertoire position (kRepertoireUnknown included)
const int kCodecIncomplete = 2;  // the source ends inside a sequence; nothing used
// Results of TE_Codepage_Put::Put.
const int kCodecWritten = 1;
const int kCodecNoRoom = 2;

class TE_Codepage_Get {
public:
    virtual ~TE_Codepage_Get() = default;
    virtual bool IsValid() const = 0;
    virtual uint32_t Get(const uint8_t* source, uint32_t available, uint32_t& used, int& status) const = 0;
};

class TE_Codepage_Put {
public:
    virtual ~TE_Codepage_Put() = default;
    virtual bool IsValid() const = 0;
    virtual int Put(uint32_t value, uint8_t* destination, uint32_t room, uint32_t& written) const = 0;
};

// CP866, KOI8-R and WINDOWS-1251.
class TE_Codepage_Single_Get : public TE_Codepage_Get {
public:
    explicit TE_Codepage_Single_Get(int32_t id);
    bool IsValid() const override { return valid_; }
    uint32_t Get(const uint8_t* source, uint32_t available, uint32_t& used, int& status) const override;

private:
    bool valid_ = false;
    uint8_t status_[256];
    uint8_t position_[256];
};

class TE_Codepage_Single_Put : public TE_Codepage_Put {
public:
    explicit TE_Codepage_Single_Put(int32_t id);
    bool IsValid() const override { return valid_; }
    int Put(uint32_t value, uint8_t* destination, uint32_t room, uint32_t& written) const override;

private:
    bool valid_ = false;
    uint8_t bytes_[kRepertoireSize + 1];
};

// Two-byte schemes: each letter is a lead byte out of a pair and a second byte looked up in
// the lead byte's table. Any other byte from 0x80 up is an unknown character by itself.
class TE_Codepage_Pair_Get : public TE_Codepage_Get {
public:
    TE_Codepage_Pair_Get(int32_t id, uint8_t lead0, uint8_t lead1);
    bool IsValid() const override { return valid_; }
    uint32_t Get(const uint8_t* source, uint32_t available, uint32_t& used, int& status) const override;

private:
    bool valid_ = false;
    uint8_t lead_[2];
    uint8_t position_[2][256];
};

// Writes each position's sequence whole, or nothing when the room is too small.
class TE_Codepage_Sequence_Put : public TE_Codepage_Put {
public:
    explicit TE_Codepage_Sequence_Put(int32_t id);
    bool IsValid() const override { return table_ != nullptr; }
    int Put(uint32_t value, uint8_t* destination, uint32_t room, uint32_t& written) const override;

private:
    const CodepageSequence* table_;
};

// X-SWD-CYRILLIC: lead bytes C2 and C3.
class TE_Codepage_S_Get : public TE_Codepage_Pair_Get {
public:
    TE_Codepage_S_Get() : TE_Codepage_Pair_Get(kCodepageXSwdCyrillic, 0xC2, 0xC3) {}
};

class TE_Codepage_S_Put : public TE_Codepage_Sequence_Put {
public:
    TE_Codepage_S_Put() : TE_Codepage_Sequence_Put(kCodepageXSwdCyrillic) {}
};

// UTF-8: lead bytes D0 and D1, plus the three-byte numero sign E2 84 96.
class TE_Codepage_U_Get : public TE_Codepage_Pair_Get {
public:
    TE_Codepage_U_Get() : TE_Codepage_Pair_Get(kCodepageUTF8, 0xD0, 0xD1) {}
    uint32_t Get(const uint8_t* source, uint32_t available, uint32_t& used, int& status) const override;
};

class TE_Codepage_U_Put : public TE_Codepage_Sequence_Put {
public:
    TE_Codepage_U_Put() : TE_Codepage_Sequence_Put(kCodepageUTF8) {}
};

// The shared codecs of a code page; null outside 1 to 5.
const TE_Codepage_Get* CodepageGetCodec(int32_t id);
const TE_Codepage_Put* CodepagePutCodec(int32_t id);
