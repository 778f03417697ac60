#include "recoding/TextRecoding.h"

#include "base/QuillList.h"
#include "base/SString.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

const char kCR = '\r';
const char kLF = '\n';
const int32_t kKeyToShift = 16;
const int32_t kKeyModeShift = 256;

// The process-wide registry, emptied with deletion (cells delete their recoders) at exit.
Quill::List<TextRecodingListCell_t>& Registry()
{
    static Quill::List<TextRecodingListCell_t> registry;
    return registry;
}

// Units of a many-unit run load and save their settings documents on their own threads; the
// recoders are immutable once made, only the registry's cells and counts need the lock.
std::mutex& RegistryLock()
{
    static std::mutex lock;
    return lock;
}

int32_t FindCell(TextRecoding* recoder)
{
    Quill::List<TextRecodingListCell_t>& reg = Registry();
    for (int32_t i = 0; i < reg.Count(); ++i)
        if (reg.GetAt(i)->recoder == recoder)
            return i;
    return -1;
}

TextRecoding* CreateRecoder(int32_t from, int32_t to)
{
    if (CodepageIsSingleByte(from) && CodepageIsSingleByte(to))
        return new TextRecoding_11(from, to);
    if (CodepageIsKnown(from) && CodepageIsKnown(to))
        return new TextRecoding_any(from, to);
    return new TextRecoding_self();
}

}  // namespace

TextRecoding::BreakStep TextRecoding::LineBreakStep(char*& destination, uint32_t& room,
                                                    const char*& source, uint32_t& available) const
{
    if (available == 0 || (*source != kCR && *source != kLF))
        return BreakStep::NotABreak;
    uint32_t need = lineBreakMode_ == kLineBreakCRLF ? 2 : 1;
    if (room < need)
        return BreakStep::NoRoom;
    if (lineBreakMode_ == kLineBreakCR || lineBreakMode_ == kLineBreakCRLF)
        *destination++ = kCR;
    if (lineBreakMode_ == kLineBreakLF || lineBreakMode_ == kLineBreakCRLF)
        *destination++ = kLF;
    room -= need;
    char consumed = *source++;
    --available;
    if (consumed == kCR && available > 0 && *source == kLF) {
        ++source;
        --available;
    }
    return BreakStep::Done;
}

TextRecoding_11::TextRecoding_11(int32_t from, int32_t to)
{
    for (uint32_t b = 0; b < 256; ++b)
        table_[b] = b < 0x80 ? (uint8_t)b : (uint8_t)'?';
    const CodepageSequence* src = CodepageRepertoire(from);
    const CodepageSequence* dst = CodepageRepertoire(to);
    if (!src || !dst || !CodepageIsSingleByte(from) || !CodepageIsSingleByte(to))
        return;
    for (uint32_t p = 0; p < kRepertoireSize; ++p)
        table_[src[p].bytes[0]] = dst[p].bytes[0];
    valid_ = true;
}

void TextRecoding_11::Recode(char*& destination, uint32_t& room, const char*& source,
                             uint32_t& available)
{
    if (lineBreakMode_ == kLineBreakKeep) {
        uint32_t n = room < available ? room : available;
        for (uint32_t i = 0; i < n; ++i)
            destination[i] = (char)table_[(uint8_t)source[i]];
        destination += n;
        source += n;
        room -= n;
        available -= n;
        return;
    }
    while (room > 0 && available > 0) {
        BreakStep step = LineBreakStep(destination, room, source, available);
        if (step == BreakStep::NoRoom)
            return;
        if (step == BreakStep::Done)
            continue;
        *destination++ = (char)table_[(uint8_t)*source++];
        --room;
        --available;
    }
}

TextRecoding_any::TextRecoding_any(int32_t from, int32_t to)
    : get_(CodepageGetCodec(from)), put_(CodepagePutCodec(to))
{
}

void TextRecoding_any::Recode(char*& destination, uint32_t& room, const char*& source,
                              uint32_t& available)
{
    while (room > 0 && available > 0) {
        if (lineBreakMode_ != kLineBreakKeep) {
            BreakStep step = LineBreakStep(destination, room, source, available);
            if (step == BreakStep::NoRoom)
                return;
            if (step == BreakStep::Done)
                continue;
        }
        uint32_t used = 0;
        int status = kCodecAscii;
        uint32_t value = get_->Get((const uint8_t*)source, available, used, status);
        if (status == kCodecIncomplete)
            return;
        if (status == kCodecAscii) {
            *destination++ = (char)value;
            --room;
        } else {
            uint32_t written = 0;
            if (put_->Put(value, (uint8_t*)destination, room, written) == kCodecNoRoom)
                return;
            destination += written;
            room -= written;
        }
        source += used;
        available -= used;
    }
}

void TextRecoding_self::Recode(char*& destination, uint32_t& room, const char*& source,
                               uint32_t& available)
{
    if (lineBreakMode_ == kLineBreakKeep) {
        uint32_t n = room < available ? room : available;
        memcpy(destination, source, n);
        destination += n;
        source += n;
        room -= n;
        available -= n;
        return;
    }
    while (room > 0 && available > 0) {
        BreakStep step = LineBreakStep(destination, room, source, available);
        if (step == BreakStep::NoRoom)
            return;
        if (step == BreakStep::Done)
            continue;
        *destination++ = *source++;
        --room;
        --available;
    }
}

TextRecoding* TextRecodingGet(int32_t from, int32_t to, int32_t lineBreakMode)
{
    if (lineBreakMode < 0 || lineBreakMode >= kLineBreakModes)
        lineBreakMode = kLineBreakKeep;
    int32_t key = from * kKeyToShift + to + lineBreakMode * kKeyModeShift;
    std::lock_guard<std::mutex> hold(RegistryLock());
    Quill::List<TextRecodingListCell_t>& reg = Registry();
    for (int32_t i = 0; i < reg.Count(); ++i) {
        TextRecodingListCell_t* cell = reg.GetAt(i);
        if (cell->key == key) {
            ++cell->count;
            return cell->recoder;
        }
    }
    TextRecoding* recoder = CreateRecoder(from, to);
    if (!recoder->IsValid()) {
        delete recoder;
        return nullptr;
    }
    recoder->SetLineBreakMode(lineBreakMode);
    TextRecodingListCell_t* cell = new TextRecodingListCell_t;
    cell->recoder = recoder;
    cell->count = 1;
    cell->key = key;
    reg.Add(cell);
    return recoder;
}

void TextRecodingRelease(TextRecoding* recoder)
{
    if (!recoder)
        return;
    std::lock_guard<std::mutex> hold(RegistryLock());
    int32_t index = FindCell(recoder);
    if (index < 0) {
        delete recoder;
        return;
    }
    Quill::List<TextRecodingListCell_t>& reg = Registry();
    TextRecodingListCell_t* cell = reg.GetAt(index);
    if (--cell->count <= 0)
        reg.RemoveAt(index, true);
}

int32_t TextRecodingRegistryCount()
{
    std::lock_guard<std::mutex> hold(RegistryLock());
    return Registry().Count();
}

char* TextRecodeToNew(TextRecoding* recoder, const char* text, int32_t length, uint32_t* outLength)
{
    if (outLength)
        *outLength = 0;
    if (!recoder)
        return nullptr;
    uint32_t available = !text ? 0 : length < 0 ? (uint32_t)strlen(text) : (uint32_t)length;
    SString result;
    char scratch[kRecodeBlockSize];
    while (available > 0) {
        char* out = scratch;
        uint32_t room = sizeof scratch;
        uint32_t before = available;
        recoder->Recode(out, room, text, available);
        uint32_t produced = (uint32_t)(out - scratch);
        if (produced > 0) {
            uint32_t had = result.Length();
            result.Append(scratch, (int32_t)produced);
            if (result.Length() != had + produced)
                return nullptr;
        }
        if (available == before)
            break;
    }
    uint32_t n = 0;
    char* storage = result.Release(&n);
    if (!storage) {
        storage = (char*)malloc(1);
        if (!storage)
            return nullptr;
        storage[0] = '\0';
        n = 0;
    }
    if (outLength)
        *outLength = n;
    return storage;
}

bool TextRecodeWrite(TextRecoding* recoder, int fd, const char* text, int32_t length)
{
    if (!recoder)
        return false;
    uint32_t available = !text ? 0 : length < 0 ? (uint32_t)strlen(text) : (uint32_t)length;
    char block[kRecodeBlockSize];
    while (available > 0) {
        char* out = block;
        uint32_t room = sizeof block;
        uint32_t before = available;
        recoder->Recode(out, room, text, available);
        size_t pending = (size_t)(out - block);
        const char* p = block;
        while (pending > 0) {
            ssize_t w = write(fd, p, pending);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            p += w;
            pending -= (size_t)w;
        }
        if (available == before)
            break;
    }
    return true;
}

SString TextNoBreakSpace(int32_t codepage)
{
    const char nbsp866[] = "\xFF";
    if (codepage == kCodepageCP866)
        return SString(nbsp866, 1);
    SString result;
    if (!CodepageIsKnown(codepage))
        return result;
    TextRecoding* recoder = TextRecodingGet(kCodepageCP866, codepage, kLineBreakKeep);
    uint32_t n = 0;
    char* text = TextRecodeToNew(recoder, nbsp866, 1, &n);
    TextRecodingRelease(recoder);
    if (text)
        result.Assign(text, (int32_t)n);
    free(text);
    return result;
}
