#include "recoding/TiXmlDocumentRecode.h"

#include "recoding/TextRecoding.h"

#include <glib.h>

#include <cstdlib>
#include <cstring>
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

// Whether the library could read the text in UTF-8 mode: after a byte order mark, or when a
// declaration names no encoding or UTF-8. Every declaration counts, not only the first, so
// one hidden in a comment cannot turn the check off; text without any stays in byte mode.
bool MayParseAsUtf8(const std::string& bytes)
{
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return true;
    for (size_t at = 0; (at = bytes.find("<?", at)) != std::string::npos; at += 2) {
        if (g_ascii_strncasecmp(bytes.c_str() + at + 2, "xml", 3) != 0)
            continue;
        size_t end = bytes.find('>', at);
        std::string decl = bytes.substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::string lower(decl.size(), ' ');
        for (size_t i = 0; i < decl.size(); ++i)
            lower[i] = g_ascii_tolower(decl[i]);
        size_t name = lower.find("encoding");
        if (name == std::string::npos)
            return true;
        size_t quote = lower.find_first_of("\"'", name);
        if (quote == std::string::npos)
            return true;
        size_t close = lower.find(lower[quote], quote + 1);
        std::string enc = lower.substr(quote + 1, close == std::string::npos ? std::string::npos : close - quote - 1);
        if (enc.empty() || enc == "utf-8" || enc == "utf8")
            return true;
    }
    return false;
}

bool ReadRest(FILE* file, std::string* bytes)
{
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->append(chunk, n);
    return !ferror(file);
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

bool TiXmlDocumentRecode::LoadChecked(FILE* file)
{
    // The library steps over a multi-byte sequence by its lead byte alone: text cut off inside
    // one, or not UTF-8 at all, would make it read past the end of its buffer.
    bool seekable = fseek(file, 0, SEEK_SET) == 0;
    std::string bytes;
    if (!ReadRest(file, &bytes)) {
        SetError(TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
        return false;
    }
    if (MayParseAsUtf8(bytes) && !g_utf8_validate(bytes.data(), (gssize)bytes.size(), nullptr)) {
        SetError(TIXML_ERROR_PARSING_DECLARATION, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
        return false;
    }
    if (seekable && fseek(file, 0, SEEK_SET) == 0)
        return TiXmlDocument::LoadFile(file, TIXML_DEFAULT_ENCODING);
    // A pipe cannot be read twice: the library reads the same bytes from a scratch file.
    FILE* copy = tmpfile();
    bool ok = copy && fwrite(bytes.data(), 1, bytes.size(), copy) == bytes.size() && fflush(copy) == 0 &&
              fseek(copy, 0, SEEK_SET) == 0;
    if (ok)
        ok = TiXmlDocument::LoadFile(copy, TIXML_DEFAULT_ENCODING);
    else
        SetError(TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
    if (copy)
        fclose(copy);
    return ok;
}

bool TiXmlDocumentRecode::LoadFile(FILE* file, bool keepEncoding)
{
    if (!file) {
        SetError(TIXML_ERROR_OPENING_FILE, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
        return false;
    }
    if (!LoadChecked(file))
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
