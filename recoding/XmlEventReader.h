// Event-driven XML reader for files that are read once from start to end (the user settings
// and dialog places). It reads the whole input, walks it once and calls the owner's handlers
// for each construct, recoding every name, value and text from the input code page (which the
// declaration may switch) to the output code page.
#pragma once
#include "base/SString.h"

#include <cstdint>
#include <functional>
#include <string>

class TextRecoding;

// One attribute of a tag; lists end with a null name. A value is null for an attribute
// written without "=".
struct XmlAttribute {
    const char* name;
    const char* value;
};

// Parse results: 0 is success.
const int kXmlReadOk = 0;
const int kXmlReadCannotOpen = 1;
const int kXmlReadMalformed = 2;
const int kXmlReadStopped = 3;  // a handler returned non-zero
const int kXmlReadNoMemory = 4;

// Option bit 0: keep the leading and trailing white space of text (runs still collapse).
const uint32_t kXmlReadKeepWhiteSpace = 1u << 0;

class XmlEventReader {
public:
    // Every handler returns 0 to let the parse go on; any other value stops it with failure.
    using DoctypeHandler = std::function<int(XmlEventReader& reader, const char* name)>;
    using EndDocumentHandler = std::function<int(XmlEventReader& reader)>;
    using ElementHandler =
        std::function<int(XmlEventReader& reader, const char* name, const XmlAttribute* attributes)>;
    using ElementEndHandler = std::function<int(XmlEventReader& reader, const char* name)>;
    using BlockHandler = std::function<int(XmlEventReader& reader, const char* text, uint32_t length)>;
    using TextHandler = std::function<int(XmlEventReader& reader, const char* text)>;

    // Null when memory ran out.
    static XmlEventReader* Create();
    XmlEventReader();
    ~XmlEventReader();
    XmlEventReader(const XmlEventReader&) = delete;
    XmlEventReader& operator=(const XmlEventReader&) = delete;

    void SetUserData(void* user) { user_ = user; }
    void* UserData() const { return user_; }

    void SetDoctypeHandler(DoctypeHandler h) { onDoctype_ = std::move(h); }
    void SetEndDocumentHandler(EndDocumentHandler h) { onEndDocument_ = std::move(h); }
    // Also called for an empty-element tag when no empty-element handler is set.
    void SetElementStartHandler(ElementHandler h) { onStart_ = std::move(h); }
    // Also called after the start call of an empty-element tag when no empty-element handler is set.
    void SetElementEndHandler(ElementEndHandler h) { onEnd_ = std::move(h); }
    void SetEmptyElementHandler(ElementHandler h) { onEmpty_ = std::move(h); }
    void SetCDataHandler(BlockHandler h) { onCData_ = std::move(h); }
    void SetCommentHandler(BlockHandler h) { onComment_ = std::move(h); }
    // Text after recoding, entity decoding and white-space normalisation, when not empty.
    void SetTextHandler(TextHandler h) { onText_ = std::move(h); }
    // The same text before normalisation; the text handler follows when this one returns 0.
    void SetRawTextHandler(TextHandler h) { onRawText_ = std::move(h); }

    // Code page ids (0 = none: no recoding). With followDeclaration the encoding named by the
    // XML declaration becomes the input code page for the rest of the input.
    void SetCodepages(int32_t input, int32_t output, bool followDeclaration = true);
    int32_t InputCodepage() const { return input_; }
    int32_t OutputCodepage() const { return output_; }
    void SetOptions(uint32_t flags) { options_ = flags; }

    // The next text is decoded as base64 into buffer (at most size bytes) instead of reaching
    // the text handlers; the number of bytes written goes to *count and the target is cleared.
    // Only whole groups of four alphabet characters give bytes (three each): what
    // XmlStreamWriter::Base64 wrote reads back in full when its byte count was a multiple of
    // three; otherwise the last one or two bytes, in the padded group, are not read.
    void SetBase64Target(void* buffer, uint32_t size, uint32_t* count);

    // Reads the file ("rb") whole and parses it; a null path parses nothing and succeeds.
    int ParseFile(const char* path);
    // length -1 means up to the NUL.
    int ParseText(const char* text, int32_t length = -1);

    // Line breaks passed so far (the line of an error is Line() + 1).
    uint32_t Line() const { return line_; }
    // What made the last parse fail; empty after a success.
    const char* ErrorText() const { return error_.Text(); }

    // Attribute lookups. A null name looks up the empty name.
    static const char* AttrText(const XmlAttribute* attributes, const char* name);
    // strtol with base 0; def when absent.
    static long AttrInt(const XmlAttribute* attributes, const char* name, long def);
    // The out value is left unchanged (and the result is false) when the attribute is absent.
    static bool AttrDouble(const XmlAttribute* attributes, const char* name, double* value);
    static bool AttrFloat(const XmlAttribute* attributes, const char* name, float* value);
    static bool AttrTextTo(const XmlAttribute* attributes, const char* name, SString* value);
    static bool AttrIntTo(const XmlAttribute* attributes, const char* name, long* value);

private:
    struct Cursor;
    struct Tag;

    int Parse(const char* text, size_t length);
    int ParseMarkup(Cursor& c);
    int ParseTag(Cursor& c);
    int ParseCharacterData(Cursor& c, const char* stop);
    int HandleTag(const Tag& tag);
    int HandleDeclaration(const Tag& tag);
    int DeliverText(std::string text);
    void DecodeBase64(const char* data, size_t length);
    std::string Recode(const char* text, size_t length) const;
    std::string DecodeEntities(const std::string& text) const;
    void RebuildRecoder();
    int Fail(int result, const char* what);

    // Base64 target of the next text.
    uint8_t* base64Buffer_ = nullptr;
    uint32_t base64Size_ = 0;
    uint32_t* base64Count_ = nullptr;

    int32_t input_ = 0;
    int32_t configuredInput_ = 0;  // a declaration's switch lasts for one parse only
    int32_t output_ = 0;
    bool followDeclaration_ = true;
    TextRecoding* recoder_ = nullptr;
    std::string nbsp_;
    uint32_t line_ = 0;
    uint32_t options_ = 0;

    DoctypeHandler onDoctype_;
    EndDocumentHandler onEndDocument_;
    ElementHandler onStart_;
    ElementEndHandler onEnd_;
    ElementHandler onEmpty_;
    BlockHandler onCData_;
    BlockHandler onComment_;
    TextHandler onText_;
    TextHandler onRawText_;
    void* user_ = nullptr;

    SString error_;
};
