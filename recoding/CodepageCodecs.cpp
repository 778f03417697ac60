#include "recoding/CodepageCodecs.h"

#include <cstring>

namespace {

const uint8_t kNoPosition = 0xFF;
const uint8_t kUtf8NumeroLead = 0xE2;

}  // namespace

TE_Codepage_Single_Get::TE_Codepage_Single_Get(int32_t id)
{
    for (uint32_t b = 0; b < 256; ++b) {
        status_[b] = b < 0x80 ? kCodecAscii : kCodecCharacter;
        position_[b] = b < 0x80 ? (uint8_t)b : (uint8_t)kRepertoireUnknown;
    }
    const CodepageSequence* table = CodepageRepertoire(id);
    if (!table || !CodepageIsSingleByte(id))
        return;
    for (uint32_t p = 0; p < kRepertoireSize; ++p)
        position_[table[p].bytes[0]] = (uint8_t)p;
    valid_ = true;
}

uint32_t TE_Codepage_Single_Get::Get(const uint8_t* source, uint32_t available, uint32_t& used,
                                     int& status) const
{
    if (available == 0) {
        used = 0;
        status = kCodecIncomplete;
        return 0;
    }
    used = 1;
    status = status_[source[0]];
    return position_[source[0]];
}

TE_Codepage_Single_Put::TE_Codepage_Single_Put(int32_t id)
{
    memset(bytes_, '?', sizeof bytes_);
    const CodepageSequence* table = CodepageRepertoire(id);
    if (!table || !CodepageIsSingleByte(id))
        return;
    for (uint32_t p = 0; p <= kRepertoireSize; ++p)
        bytes_[p] = table[p].bytes[0];
    valid_ = true;
}

int TE_Codepage_Single_Put::Put(uint32_t value, uint8_t* destination, uint32_t room,
                                uint32_t& written) const
{
    written = 0;
    if (room < 1)
        return kCodecNoRoom;
    destination[0] = bytes_[value <= kRepertoireSize ? value : kRepertoireUnknown];
    written = 1;
    return kCodecWritten;
}

TE_Codepage_Pair_Get::TE_Codepage_Pair_Get(int32_t id, uint8_t lead0, uint8_t lead1)
{
    lead_[0] = lead0;
    lead_[1] = lead1;
    memset(position_, kNoPosition, sizeof position_);
    const CodepageSequence* table = CodepageRepertoire(id);
    if (!table)
        return;
    for (uint32_t p = 0; p < kRepertoireSize; ++p) {
        const CodepageSequence& s = table[p];
        if (s.length != 2)
            continue;
        for (int k = 0; k < 2; ++k)
            if (s.bytes[0] == lead_[k])
                position_[k][s.bytes[1]] = (uint8_t)p;
    }
    valid_ = true;
}

uint32_t TE_Codepage_Pair_Get::Get(const uint8_t* source, uint32_t available, uint32_t& used,
                                   int& status) const
{
    used = 0;
    if (available == 0) {
        status = kCodecIncomplete;
        return 0;
    }
    uint8_t b = source[0];
    if (b < 0x80) {
        used = 1;
        status = kCodecAscii;
        return b;
    }
    status = kCodecCharacter;
    for (int k = 0; k < 2; ++k) {
        if (b != lead_[k])
            continue;
        if (available < 2) {
            status = kCodecIncomplete;
            return 0;
        }
        used = 2;
        uint8_t p = position_[k][source[1]];
        return p == kNoPosition ? kRepertoireUnknown : p;
    }
    used = 1;
    return kRepertoireUnknown;
}

uint32_t TE_Codepage_U_Get::Get(const uint8_t* source, uint32_t available, uint32_t& used,
                                int& status) const
{
    if (available == 0 || source[0] != kUtf8NumeroLead)
        return TE_Codepage_Pair_Get::Get(source, available, used, status);
    // Only the numero sign is known among the three-byte sequences; any other lead byte E2
    // is an unknown character by itself, and its continuation bytes follow as unknowns too.
    const CodepageSequence& numero = CodepageRepertoire(kCodepageUTF8)[kRepertoireNumero];
    uint32_t n = available < numero.length ? available : numero.length;
    bool prefix = memcmp(source, numero.bytes, n) == 0;
    status = kCodecCharacter;
    if (prefix && n == numero.length) {
        used = numero.length;
        return kRepertoireNumero;
    }
    if (prefix) {
        used = 0;
        status = kCodecIncomplete;
        return 0;
    }
    used = 1;
    return kRepertoireUnknown;
}

TE_Codepage_Sequence_Put::TE_Codepage_Sequence_Put(int32_t id) : table_(CodepageRepertoire(id)) {}

int TE_Codepage_Sequence_Put::Put(uint32_t value, uint8_t* destination, uint32_t room,
                                  uint32_t& written) const
{
    written = 0;
    if (!table_)
        return kCodecNoRoom;
    const CodepageSequence& s = table_[value <= kRepertoireSize ? value : kRepertoireUnknown];
    if (room < s.length)
        return kCodecNoRoom;
    memcpy(destination, s.bytes, s.length);
    written = s.length;
    return kCodecWritten;
}

namespace {

struct Codecs {
    TE_Codepage_Single_Get getCP866{kCodepageCP866};
    TE_Codepage_Single_Get getKOI8R{kCodepageKOI8R};
    TE_Codepage_Single_Get getWindows1251{kCodepageWindows1251};
    TE_Codepage_S_Get getXSwd;
    TE_Codepage_U_Get getUTF8;
    TE_Codepage_Single_Put putCP866{kCodepageCP866};
    TE_Codepage_Single_Put putKOI8R{kCodepageKOI8R};
    TE_Codepage_Single_Put putWindows1251{kCodepageWindows1251};
    TE_Codepage_S_Put putXSwd;
    TE_Codepage_U_Put putUTF8;

    const TE_Codepage_Get* getters[kCodepageLast + 1] = {
        nullptr, &getCP866, &getKOI8R, &getWindows1251, &getXSwd, &getUTF8};
    const TE_Codepage_Put* putters[kCodepageLast + 1] = {
        nullptr, &putCP866, &putKOI8R, &putWindows1251, &putXSwd, &putUTF8};
};

// Built on first use, which C++ makes thread-safe; immutable afterwards.
const Codecs& AllCodecs()
{
    static const Codecs codecs;
    return codecs;
}

}  // namespace

const TE_Codepage_Get* CodepageGetCodec(int32_t id)
{
    return CodepageIsKnown(id) ? AllCodecs().getters[id] : nullptr;
}

const TE_Codepage_Put* CodepagePutCodec(int32_t id)
{
    return CodepageIsKnown(id) ? AllCodecs().putters[id] : nullptr;
}
