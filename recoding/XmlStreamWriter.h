// Streaming XML writer for files written once from start to end: declaration, elements,
// attributes, text, comments, CDATA and base64 data, indented by tabs, straight to a file or
// into a string. Every text is recoded from the input to the output code page first.
#pragma once
#include "base/SString.h"
#include "recoding/XmlEventReader.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>

class TextRecoding;

// Results of every writing operation: 0 is success.
const int kXmlWriteOk = 0;
const int kXmlWriteFailed = 1;

// Option bit 0: no indentation, no depth counting and no line breaks of the writer's own.
const uint32_t kXmlWriteNoIndent = 1u << 0;

// File output is written out whenever this much is pending.
const size_t kXmlWriterFileBuffer = 51200;
// A blank in wrapped text after this many characters of the line becomes a line break.
const uint32_t kXmlWrapColumn = 75;
const uint32_t kXmlBase64LineLength = 76;

class XmlStreamWriter {
public:
    // Null when memory ran out.
    static XmlStreamWriter* Create();
    XmlStreamWriter();
    // Writes out what is pending and closes the file it opened.
    ~XmlStreamWriter();
    XmlStreamWriter(const XmlStreamWriter&) = delete;
    XmlStreamWriter& operator=(const XmlStreamWriter&) = delete;

    // Opens the file for binary writing ("wb"), replacing its content.
    int OpenFile(const char* path);
    // Output goes into a string from now on (see Output()).
    void OpenString();
    const SString& Output() const { return string_; }

    // Code page ids (0 = none); the declaration names the output code page.
    void SetCodepages(int32_t input, int32_t output);
    void SetOptions(uint32_t flags) { options_ = flags; }

    // The XML declaration, then "<!DOCTYPE root>" (also with an empty or null rootName).
    int Declaration(const char* rootName);
    // Attribute lists end with a null name; a null list means none. Pairs with an empty name
    // or one that begins with a quote are left out. A null or empty element name writes nothing.
    int OpenElement(const char* name, const XmlAttribute* attributes = nullptr);
    int OpenElement(const char* name, std::initializer_list<XmlAttribute> attributes);
    int EmptyElement(const char* name, const XmlAttribute* attributes = nullptr);
    int EmptyElement(const char* name, std::initializer_list<XmlAttribute> attributes);
    int CloseElement(const char* name);
    // Text on its own indented line; runs of white space become one blank, and with wrap a
    // blank after kXmlWrapColumn characters of the line becomes a line break instead.
    int Text(const char* text, int32_t length = -1, bool wrap = false);
    // Escaped like an attribute value, where the writer stands: no new line, white space kept.
    int TextAttrSafe(const char* text, int32_t length = -1);
    int Comment(const char* text);
    int CData(const char* text);
    // RFC 4648 base64 with padding, in lines of at most kXmlBase64LineLength characters. The
    // event reader decodes whole groups only: give it a multiple of three bytes to read back.
    int Base64(const void* data, uint32_t count);
    // A final line break when needed, then everything pending is written out.
    int EndDocument();

    // What made the last operation fail; empty when none did.
    const char* ErrorText() const { return error_.Text(); }
    uint32_t Depth() const { return depth_; }

private:
    enum class Sink { None, File, String };

    int Element(const char* name, const XmlAttribute* attributes, bool empty);
    int Block(const char* open, const char* text, const char* close);
    int NewLine();
    int Put(const char* text, size_t length);
    int Put(const std::string& text) { return Put(text.data(), text.size()); }
    int PutEscaped(const std::string& text, bool inText, bool wrap);
    int FlushPending();
    void CloseFile();
    std::string Recode(const char* text, int32_t length) const;
    int Failed(const char* what, int error);

    Sink kind_ = Sink::None;
    SString string_;
    FILE* file_ = nullptr;
    std::string pending_;
    int32_t input_ = 0;
    int32_t output_ = 0;
    TextRecoding* recoder_ = nullptr;
    uint32_t options_ = 0;
    uint32_t depth_ = 0;
    char last_ = '\n';
    uint32_t column_ = 0;
    bool broken_ = false;  // a write failed; the file's content is no longer what was asked
    std::string nbsp_;
    SString error_;
};
