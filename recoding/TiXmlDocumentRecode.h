// XML documents that keep their text in one memory encoding whatever the file declares:
// loading converts from the declared encoding, saving converts into a chosen one.
#pragma once
#include <cstdint>
#include <cstdio>

#include <tinyxml.h>

// Document encodings; note that 4 and 5 are exchanged against the code page ids.
const int32_t kDocEncodingNone = 0;
const int32_t kDocEncodingCP866 = 1;
const int32_t kDocEncodingKOI8R = 2;
const int32_t kDocEncodingWindows1251 = 3;
const int32_t kDocEncodingUTF8 = 4;
const int32_t kDocEncodingXSwdCyrillic = 5;
const int32_t kDocEncodingLast = kDocEncodingXSwdCyrillic;

// Stops a walk at the first declaration and keeps it.
class TiXmlVisitorFindDeclaration : public TiXmlVisitor {
public:
    bool Visit(const TiXmlDeclaration& declaration) override;
    const TiXmlDeclaration* Found() const { return found_; }

private:
    const TiXmlDeclaration* found_ = nullptr;
};

// Prints a document with the given declaration first and its own declarations left out.
class TiXmlPrinterRecode : public TiXmlPrinter {
public:
    explicit TiXmlPrinterRecode(const TiXmlDeclaration* declaration) : declaration_(declaration) {}
    bool VisitEnter(const TiXmlDocument& doc) override;
    bool Visit(const TiXmlDeclaration& declaration) override;
    using TiXmlPrinter::Visit;
    using TiXmlPrinter::VisitEnter;

private:
    const TiXmlDeclaration* declaration_;  // not owned
};

class TiXmlDocumentRecode : public TiXmlDocument {
public:
    explicit TiXmlDocumentRecode(int32_t memoryEncoding);
    TiXmlDocumentRecode(const char* fileName, int32_t memoryEncoding);
    TiXmlDocumentRecode(const TiXmlDocumentRecode& copy);
    TiXmlDocumentRecode& operator=(const TiXmlDocumentRecode& copy);
    ~TiXmlDocumentRecode() override;

    int32_t MemoryEncoding() const { return memoryEncoding_; }

    // Opens the file for binary reading and loads it; false with the library's "cannot open"
    // error when it cannot be opened. Unless keepEncoding, texts are converted from the
    // declared encoding into the memory encoding and the declaration then names the latter.
    bool LoadFile(const char* fileName, bool keepEncoding);
    bool LoadFile(bool keepEncoding);
    bool LoadFile(FILE* file, bool keepEncoding);

    // Saves in the file encoding (0: the library's own output); false when the file cannot
    // be opened or a write fails.
    bool SaveFile(const char* fileName, int32_t fileEncoding) const;
    bool SaveFile(int32_t fileEncoding) const;
    bool SaveFile(FILE* file, int32_t fileEncoding) const;

    // Name of a document encoding; empty for 0 or out of range.
    static const char* EncodingName(int32_t documentEncoding);
    // Code page id of a document encoding; 0 for 0 or out of range.
    static int32_t EncodingCodepage(int32_t documentEncoding);

private:
    bool LoadChecked(FILE* file);
    int32_t memoryEncoding_;
};
