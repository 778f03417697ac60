#include "recoding/TiXmlDocumentRecode.h"

#include "recoding/TextRecoding.h"

#include <cstdlib>
#include <string>

namespace {

struct DocEncoding {
    int32_t encoding;
    int32_t codepage;
};

const DocEncoding kDocEncodings[] = {
    {kDocEncodingCP866, kCodepageCP866},
    {kDocEncodingKOI8R, kCodepageKOI8R},
    {kDocEncodingWindows1251, kCodepageWindows1251},
    {kDocEncodingUTF8, kCodepageUTF8},
    {kDocEncodingXSwdCyrillic, kCodepageXSwdCyrillic},
};

const char kDefaultVersion[] = "1.0";

// The text converted, or the empty text when the conversion gives nothing.
std::string Converted(TextRecoding* recoder, const char* text)
{
    uint32_t n = 0;
    char* converted = TextRecodeToNew(recoder, text, -1, &n);
    if (!converted)
        return std::string();
    std::string result(converted, n);
    free(converted);
    return result;
}

void RecodeNode(TiXmlNode* node, TextRecoding* recoder, const TiXmlDeclaration& replacement)
{
    node->SetValue(Converted(recoder, node->Value()).c_str());
    if (TiXmlElement* element = node->ToElement()) {
        for (TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
            a->SetName(Converted(recoder, a->Name()).c_str());
            a->SetValue(Converted(recoder, a->Value()).c_str());
        }
    }
    if (TiXmlDeclaration* declaration = node->ToDeclaration())
        *declaration = replacement;
}

// Depth first, children in order, without recursion so deep documents cannot exhaust the stack.
void RecodeTree(TiXmlDocument* doc, TextRecoding* recoder, const TiXmlDeclaration& replacement)
{
    TiXmlNode* node = doc->FirstChild();
    while (node) {
        RecodeNode(node, recoder, replacement);
        if (node->FirstChild()) {
            node = node->FirstChild();
            continue;
        }
        while (node && node != doc && !node->NextSibling())
            node = node->Parent();
        node = (node && node != doc) ? node->NextSibling() : nullptr;
    }
}

}  // namespace

bool TiXmlVisitorFindDeclaration::Visit(const TiXmlDeclaration& declaration)
{
    found_ = &declaration;
    return false;
}

bool TiXmlPrinterRecode::VisitEnter(const TiXmlDocument& doc)
{
    TiXmlPrinter::VisitEnter(doc);
    if (declaration_)
        TiXmlPrinter::Visit(*declaration_);
    return true;
}

bool TiXmlPrinterRecode::Visit(const TiXmlDeclaration&)
{
    return true;
}

TiXmlDocumentRecode::TiXmlDocumentRecode(int32_t memoryEncoding) : memoryEncoding_(memoryEncoding) {}

TiXmlDocumentRecode::TiXmlDocumentRecode(const char* fileName, int32_t memoryEncoding)
    : TiXmlDocument(fileName), memoryEncoding_(memoryEncoding)
{
}

TiXmlDocumentRecode::TiXmlDocumentRecode(const TiXmlDocumentRecode& copy)
    : TiXmlDocument(copy), memoryEncoding_(copy.memoryEncoding_)
{
}

TiXmlDocumentRecode& TiXmlDocumentRecode::operator=(const TiXmlDocumentRecode& copy)
{
    if (this != &copy) {
        TiXmlDocument::operator=(copy);
        memoryEncoding_ = copy.memoryEncoding_;
    }
    return *this;
}

TiXmlDocumentRecode::~TiXmlDocumentRecode() = default;

const char* TiXmlDocumentRecode::EncodingName(int32_t documentEncoding)
{
    const char* name = CodepageName(EncodingCodepage(documentEncoding));
    return name ? name : "";
}

int32_t TiXmlDocumentRecode::EncodingCodepage(int32_t documentEncoding)
{
    for (const DocEncoding& e : kDocEncodings)
        if (e.encoding == documentEncoding)
            return e.codepage;
    return kCodepageUnknown;
}

bool TiXmlDocumentRecode::LoadFile(const char* fileName, bool keepEncoding)
{
    if (fileName)
        SetValue(fileName);
    FILE* file = fileName ? fopen(fileName, "rb") : nullptr;
    if (!file) {
        SetError(TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
        return false;
    }
    bool ok = LoadFile(file, keepEncoding);
    fclose(file);
    return ok;
}

bool TiXmlDocumentRecode::LoadFile(bool keepEncoding)
{
    std::string name = Value();
    return LoadFile(name.c_str(), keepEncoding);
}

bool TiXmlDocumentRecode::LoadFile(FILE* file, bool keepEncoding)
{
    if (!TiXmlDocument::LoadFile(file, TIXML_DEFAULT_ENCODING))
        return false;
    if (keepEncoding || memoryEncoding_ == kDocEncodingNone)
        return true;

    TiXmlVisitorFindDeclaration finder;
    Accept(&finder);
    int32_t filePage = finder.Found() ? CodepageFromName(finder.Found()->Encoding()) : kCodepageUnknown;
    if (filePage == kCodepageUnknown)
        return true;
    int32_t memoryPage = EncodingCodepage(memoryEncoding_);
    if (memoryPage == kCodepageUnknown || memoryPage == filePage)
        return true;
    TextRecoding* recoder = TextRecodingGet(filePage, memoryPage, kLineBreakKeep);
    if (!recoder)
        return true;

    TiXmlDeclaration replacement("", CodepageName(memoryPage), "");
    RecodeTree(this, recoder, replacement);
    TextRecodingRelease(recoder);
    return true;
}

bool TiXmlDocumentRecode::SaveFile(const char* fileName, int32_t fileEncoding) const
{
    FILE* file = fileName ? fopen(fileName, "w") : nullptr;
    if (!file)
        return false;
    bool ok = SaveFile(file, fileEncoding);
    if (fclose(file) != 0)
        ok = false;
    return ok;
}

bool TiXmlDocumentRecode::SaveFile(int32_t fileEncoding) const
{
    std::string name = Value();
    return SaveFile(name.c_str(), fileEncoding);
}

bool TiXmlDocumentRecode::SaveFile(FILE* file, int32_t fileEncoding) const
{
    if (!file)
        return false;
    int32_t memoryPage = EncodingCodepage(memoryEncoding_);
    if (fileEncoding == kDocEncodingNone || memoryPage == kCodepageUnknown)
        return TiXmlDocument::SaveFile(file);

    int32_t filePage = EncodingCodepage(fileEncoding);
    if (filePage == kCodepageUnknown)
        filePage = memoryPage;
    TextRecoding* recoder = nullptr;
    if (filePage != memoryPage)
        recoder = TextRecodingGet(memoryPage, filePage, kLineBreakKeep);

    TiXmlVisitorFindDeclaration finder;
    Accept(&finder);
    const TiXmlDeclaration* found = finder.Found();
    // A declaration left by a recoding load has no version; a saved file gets one again.
    const char* version = found && *found->Version() ? found->Version() : kDefaultVersion;
    TiXmlDeclaration replacement(version, CodepageName(filePage), found ? found->Standalone() : "");

    TiXmlPrinterRecode printer(&replacement);
    printer.SetIndent("\t");
    printer.SetLineBreak("\n");
    Accept(&printer);
    const std::string& text = printer.Str();

    bool ok = true;
    if (recoder) {
        // The text goes to the descriptor beneath the stream, so the stream must be empty first.
        ok = fflush(file) == 0 && TextRecodeWrite(recoder, fileno(file), text.data(), (int32_t)text.size());
        TextRecodingRelease(recoder);
    } else {
        ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    }
    if (fflush(file) != 0)
        ok = false;
    return ok && !ferror(file);
}
