#include "recoding/XmlStreamWriter.h"

#include "recoding/TextRecoding.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <glib.h>

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kBase64Pad = '=';

struct Escape {
    char c;
    const char* entity;
};

const Escape kEscapes[] = {
    {'"', "&quot;"}, {'&', "&amp;"}, {'\'', "&apos;"}, {'<', "&lt;"}, {'>', "&gt;"},
};
const char kNbspEntity[] = "&nbsp;";

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

const char* EscapeOf(char c)
{
    for (const Escape& e : kEscapes)
        if (e.c == c)
            return e.entity;
    return nullptr;
}

}  // namespace

XmlStreamWriter* XmlStreamWriter::Create()
{
    return new (std::nothrow) XmlStreamWriter();
}

XmlStreamWriter::XmlStreamWriter()
{
    pending_.reserve(kXmlWriterFileBuffer);
}

XmlStreamWriter::~XmlStreamWriter()
{
    CloseFile();
    TextRecodingRelease(recoder_);
}

void XmlStreamWriter::CloseFile()
{
    if (!file_)
        return;
    FlushPending();
    fclose(file_);
    file_ = nullptr;
}

int XmlStreamWriter::Failed(const char* what, int error)
{
    error_.Assign(what);
    if (error) {
        error_.Append(": ");
        error_.Append(g_strerror(error));
    }
    return kXmlWriteFailed;
}

int XmlStreamWriter::OpenFile(const char* path)
{
    CloseFile();
    kind_ = Sink::None;
    broken_ = false;
    error_.Clear();
    if (!path)
        return Failed("no file name", 0);
    file_ = fopen(path, "wb");
    if (!file_)
        return Failed(path, errno);
    kind_ = Sink::File;
    last_ = '\n';
    column_ = 0;
    depth_ = 0;
    return kXmlWriteOk;
}

void XmlStreamWriter::OpenString()
{
    CloseFile();
    kind_ = Sink::String;
    broken_ = false;
    error_.Clear();
    string_.Clear();
    last_ = '\n';
    column_ = 0;
    depth_ = 0;
}

void XmlStreamWriter::SetCodepages(int32_t input, int32_t output)
{
    if (input == input_ && output == output_)
        return;
    input_ = input;
    output_ = output;
    TextRecodingRelease(recoder_);
    recoder_ = nullptr;
    if (input_ != output_ && CodepageIsKnown(input_) && CodepageIsKnown(output_))
        recoder_ = TextRecodingGet(input_, output_, kLineBreakKeep);
    SString nbsp = TextNoBreakSpace(output_);
    nbsp_.assign(nbsp.Text(), nbsp.Length());
}

int XmlStreamWriter::FlushPending()
{
    if (pending_.empty() || !file_)
        return kXmlWriteOk;
    size_t want = pending_.size();
    size_t n = fwrite(pending_.data(), 1, want, file_);
    int e = errno;
    pending_.clear();
    if (n < want)
        return Failed("write", e);
    if (fflush(file_) != 0)
        return Failed("write", errno);
    return kXmlWriteOk;
}

int XmlStreamWriter::Put(const char* text, size_t length)
{
    if (broken_)
        return kXmlWriteFailed;
    if (length == 0)
        return kXmlWriteOk;
    if (kind_ == Sink::None) {
        broken_ = true;
        return Failed("no output open", 0);
    }
    for (size_t i = 0; i < length; ++i)
        column_ = text[i] == '\n' ? 0 : column_ + 1;
    last_ = text[length - 1];
    if (kind_ == Sink::String) {
        uint32_t had = string_.Length();
        string_.Append(text, (int32_t)length);
        if (string_.Length() != had + length) {
            broken_ = true;
            return Failed("out of memory", 0);
        }
        return kXmlWriteOk;
    }
    while (length > 0) {
        size_t n = kXmlWriterFileBuffer - pending_.size();
        if (n > length)
            n = length;
        pending_.append(text, n);
        text += n;
        length -= n;
        if (pending_.size() >= kXmlWriterFileBuffer && FlushPending() != kXmlWriteOk) {
            broken_ = true;
            return kXmlWriteFailed;
        }
    }
    return kXmlWriteOk;
}

int XmlStreamWriter::NewLine()
{
    if (options_ & kXmlWriteNoIndent)
        return kXmlWriteOk;
    if (last_ != '\n' && Put("\n", 1) != kXmlWriteOk)
        return kXmlWriteFailed;
    std::string tabs(depth_, '\t');
    return Put(tabs);
}

std::string XmlStreamWriter::Recode(const char* text, int32_t length) const
{
    if (!text)
        return std::string();
    size_t n = length < 0 ? strlen(text) : (size_t)length;
    if (!recoder_ || n == 0)
        return std::string(text, n);
    uint32_t outLength = 0;
    char* recoded = TextRecodeToNew(recoder_, text, (int32_t)n, &outLength);
    if (!recoded)
        return std::string();
    std::string result(recoded, outLength);
    free(recoded);
    return result;
}

int XmlStreamWriter::PutEscaped(const std::string& text, bool inText, bool wrap)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    // Where the line stands after what is in out; wrapping decides on it.
    uint32_t column = column_;
    auto emit = [&](const char* s, size_t n) {
        out.append(s, n);
        for (size_t i = 0; i < n; ++i)
            column = s[i] == '\n' ? 0 : column + 1;
    };
    size_t i = 0;
    while (i < text.size()) {
        if (!nbsp_.empty() && text.compare(i, nbsp_.size(), nbsp_) == 0) {
            emit(kNbspEntity, strlen(kNbspEntity));
            i += nbsp_.size();
            continue;
        }
        char c = text[i];
        if (inText && IsSpace(c)) {
            while (i < text.size() && IsSpace(text[i]))
                ++i;
            if (wrap && column >= kXmlWrapColumn && !(options_ & kXmlWriteNoIndent)) {
                emit("\n", 1);
                std::string tabs(depth_, '\t');
                emit(tabs.data(), tabs.size());
            } else {
                emit(" ", 1);
            }
            continue;
        }
        const char* entity = EscapeOf(c);
        if (entity)
            emit(entity, strlen(entity));
        else
            emit(&c, 1);
        ++i;
    }
    return Put(out);
}

int XmlStreamWriter::Declaration(const char* rootName)
{
    const char* name = CodepageName(output_);
    std::string decl = "<?xml version=\"1.0\"";
    if (name) {
        decl += " encoding=\"";
        decl += name;
        decl += "\"";
    }
    decl += "?>\n";
    if (Put(decl) != kXmlWriteOk)
        return kXmlWriteFailed;
    // The line belongs to every declaration, also one without a root name.
    return Put("<!DOCTYPE " + Recode(rootName ? rootName : "", -1) + ">\n");
}

int XmlStreamWriter::Element(const char* name, const XmlAttribute* attributes, bool empty)
{
    if (!name || !*name)
        return kXmlWriteOk;
    if (NewLine() != kXmlWriteOk || Put("<" + Recode(name, -1)) != kXmlWriteOk)
        return kXmlWriteFailed;
    for (const XmlAttribute* a = attributes; a && a->name; ++a) {
        if (!*a->name || a->name[0] == '"' || a->name[0] == '\'')
            continue;
        if (Put(" " + Recode(a->name, -1) + "=\"") != kXmlWriteOk ||
            PutEscaped(Recode(a->value, -1), false, false) != kXmlWriteOk || Put("\"", 1) != kXmlWriteOk)
            return kXmlWriteFailed;
    }
    if (empty)
        return Put(" />", 3);
    if (Put(">", 1) != kXmlWriteOk)
        return kXmlWriteFailed;
    if (!(options_ & kXmlWriteNoIndent))
        ++depth_;
    return kXmlWriteOk;
}

int XmlStreamWriter::OpenElement(const char* name, const XmlAttribute* attributes)
{
    return Element(name, attributes, false);
}

int XmlStreamWriter::OpenElement(const char* name, std::initializer_list<XmlAttribute> attributes)
{
    std::vector<XmlAttribute> list(attributes);
    list.push_back(XmlAttribute{nullptr, nullptr});
    return Element(name, list.data(), false);
}

int XmlStreamWriter::EmptyElement(const char* name, const XmlAttribute* attributes)
{
    return Element(name, attributes, true);
}

int XmlStreamWriter::EmptyElement(const char* name, std::initializer_list<XmlAttribute> attributes)
{
    std::vector<XmlAttribute> list(attributes);
    list.push_back(XmlAttribute{nullptr, nullptr});
    return Element(name, list.data(), true);
}

int XmlStreamWriter::CloseElement(const char* name)
{
    if (!name || !*name)
        return kXmlWriteOk;
    if (depth_ > 0 && !(options_ & kXmlWriteNoIndent))
        --depth_;
    if (NewLine() != kXmlWriteOk)
        return kXmlWriteFailed;
    return Put("</" + Recode(name, -1) + ">");
}

int XmlStreamWriter::Text(const char* text, int32_t length, bool wrap)
{
    if (!text)
        return kXmlWriteOk;
    if (NewLine() != kXmlWriteOk)
        return kXmlWriteFailed;
    return PutEscaped(Recode(text, length), true, wrap);
}

int XmlStreamWriter::TextAttrSafe(const char* text, int32_t length)
{
    if (!text)
        return kXmlWriteOk;
    return PutEscaped(Recode(text, length), false, false);
}

int XmlStreamWriter::Block(const char* open, const char* text, const char* close)
{
    if (NewLine() != kXmlWriteOk || Put(open, strlen(open)) != kXmlWriteOk ||
        Put(Recode(text, -1)) != kXmlWriteOk)
        return kXmlWriteFailed;
    return Put(close, strlen(close));
}

int XmlStreamWriter::Comment(const char* text)
{
    return Block("<!--", text, "-->");
}

int XmlStreamWriter::CData(const char* text)
{
    return Block("<![CDATA[", text, "]]>");
}

int XmlStreamWriter::Base64(const void* data, uint32_t count)
{
    const uint8_t* bytes = (const uint8_t*)data;
    if (!bytes || count == 0)
        return kXmlWriteOk;
    if (NewLine() != kXmlWriteOk)
        return kXmlWriteFailed;
    std::string breakLine = "\n";
    if (!(options_ & kXmlWriteNoIndent))
        breakLine.append(depth_, '\t');
    std::string out;
    uint32_t onLine = 0;
    for (uint32_t i = 0; i < count; i += 3) {
        uint32_t n = count - i < 3 ? count - i : 3;
        uint32_t group = (uint32_t)bytes[i] << 16;
        if (n > 1)
            group |= (uint32_t)bytes[i + 1] << 8;
        if (n > 2)
            group |= bytes[i + 2];
        if (onLine + 4 > kXmlBase64LineLength) {
            out += breakLine;
            onLine = 0;
        }
        for (uint32_t k = 0; k < 4; ++k)
            out += k <= n ? kBase64Alphabet[(group >> (18 - 6 * k)) & 0x3F] : kBase64Pad;
        onLine += 4;
    }
    return Put(out);
}

int XmlStreamWriter::EndDocument()
{
    if (last_ != '\n' && Put("\n", 1) != kXmlWriteOk)
        return kXmlWriteFailed;
    if (broken_)
        return kXmlWriteFailed;
    if (kind_ == Sink::File && FlushPending() != kXmlWriteOk) {
        broken_ = true;
        return kXmlWriteFailed;
    }
    return kind_ == Sink::None ? Failed("no output open", 0) : kXmlWriteOk;
}
