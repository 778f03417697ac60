// Text recoders between the code pages, with optional line-break normalisation, shared
// through a reference-counted registry. The registry is not locked: recoders are taken and
// given back by one thread at a time.
#pragma once
#include "recoding/Codepage.h"
#include "recoding/CodepageCodecs.h"
#include "base/SString.h"

#include <cstdint>

// Line-break modes: CR, LF and CR LF in the input each become one break of the mode.
const int32_t kLineBreakKeep = 0;
const int32_t kLineBreakCR = 1;
const int32_t kLineBreakLF = 2;
const int32_t kLineBreakCRLF = 3;
const int32_t kLineBreakModes = 4;

// Block size of the whole-text conversions.
const uint32_t kRecodeBlockSize = 10240;

class TextRecoding {
public:
    virtual bool IsValid() const = 0;
    virtual ~TextRecoding() = default;
    // Converts as much as fits; the pointers advance and the counts decrease. An incomplete
    // multi-byte sequence at the end of the source stays there.
    virtual void Recode(char*& destination, uint32_t& room, const char*& source,
                        uint32_t& available) = 0;

    int32_t LineBreakMode() const { return lineBreakMode_; }
    void SetLineBreakMode(int32_t mode) { lineBreakMode_ = mode; }

protected:
    enum class BreakStep { NotABreak, Done, NoRoom };
    // Writes the mode's break when the next source byte is CR or LF; a CR LF pair is one break.
    BreakStep LineBreakStep(char*& destination, uint32_t& room, const char*& source,
                            uint32_t& available) const;

    int32_t lineBreakMode_ = kLineBreakKeep;
};

// Between two single-byte code pages: one translation table.
class TextRecoding_11 : public TextRecoding {
public:
    TextRecoding_11(int32_t from, int32_t to);
    bool IsValid() const override { return valid_; }
    void Recode(char*& destination, uint32_t& room, const char*& source, uint32_t& available) override;

private:
    bool valid_ = false;
    uint8_t table_[256];
};

// Between any two known code pages through the repertoire position.
class TextRecoding_any : public TextRecoding {
public:
    TextRecoding_any(int32_t from, int32_t to);
    bool IsValid() const override { return get_ && put_; }
    void Recode(char*& destination, uint32_t& room, const char*& source, uint32_t& available) override;

private:
    const TE_Codepage_Get* get_;
    const TE_Codepage_Put* put_;
};

// For an unknown code page: bytes pass unchanged (line breaks still follow the mode).
class TextRecoding_self : public TextRecoding {
public:
    bool IsValid() const override { return true; }
    void Recode(char*& destination, uint32_t& room, const char*& source, uint32_t& available) override;
};

// One registry entry. The key is from * 16 + to + mode * 256.
struct TextRecodingListCell_t {
    TextRecoding* recoder = nullptr;  // owned
    int32_t count = 0;
    int32_t key = 0;
    ~TextRecodingListCell_t() { delete recoder; }
};

// A shared recoder for the pair and line-break mode, or null when none can be made.
TextRecoding* TextRecodingGet(int32_t from, int32_t to, int32_t lineBreakMode);
// Gives a recoder back; the last release deletes it. A recoder not in the registry is deleted.
void TextRecodingRelease(TextRecoding* recoder);
// Number of recoders currently in the registry (for diagnostics and tests).
int32_t TextRecodingRegistryCount();

// The whole text converted into a new NUL-terminated buffer that the caller frees with
// free(); length -1 means up to the NUL. Null for a null recoder or when memory runs out.
char* TextRecodeToNew(TextRecoding* recoder, const char* text, int32_t length, uint32_t* outLength);
// Converts in blocks and writes each block whole to the descriptor (writes interrupted by a
// signal are repeated). False for a null recoder or when a write fails (errno tells why).
bool TextRecodeWrite(TextRecoding* recoder, int fd, const char* text, int32_t length);

// What the no-break space (byte FF of CP866) is in a code page: that byte for CP866, its
// conversion for the other known pages, empty when it cannot be converted.
SString TextNoBreakSpace(int32_t codepage);
