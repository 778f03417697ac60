#include "recoding/XmlEventReader.h"

#include "recoding/TextRecoding.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <glib.h>

namespace {

const size_t kReadPiece = 1024;

const char kCDataOpen[] = "<![CDATA[";
const char kCDataClose[] = "]]>";
const char kCommentOpen[] = "<!--";
const char kCommentClose[] = "-->";
const char kDoctypeOpen[] = "<!DOCTYPE";
const char kPiClose[] = "?>";
const char kDeclarationName[] = "?xml";
const char kEncodingAttr[] = "encoding";
// Editors put this mark in front of UTF-8 files; it is not text of the document.
const char kUtf8Bom[] = "\xEF\xBB\xBF";

struct Entity {
    const char* name;
    const char* replacement;  // null: the no-break space of the output code page
};

const Entity kEntities[] = {
    {"amp", "&"}, {"apos", "'"}, {"quot", "\""}, {"gt", ">"}, {"lt", "<"}, {"nbsp", nullptr},
};

// Longest run of characters looked at between "&" and ";".
const size_t kEntityMaxLength = 16;

const signed char kBase64Invalid = -1;

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

signed char Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return (signed char)(c - 'A');
    if (c >= 'a' && c <= 'z')
        return (signed char)(c - 'a' + 26);
    if (c >= '0' && c <= '9')
        return (signed char)(c - '0' + 52);
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return kBase64Invalid;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "#x41" or "#66", digits of any number: the low 8 bits of the number, 0 included (a text
// handler then sees the text end there); -1 when it is not a character reference.
int CharacterReference(const char* body, size_t length)
{
    if (length < 2 || body[0] != '#')
        return -1;
    bool hex = body[1] == 'x' || body[1] == 'X';
    size_t i = hex ? 2 : 1;
    if (i >= length)
        return -1;
    unsigned value = 0;
    for (; i < length; ++i) {
        int d = hex ? HexValue(body[i]) : (body[i] >= '0' && body[i] <= '9' ? body[i] - '0' : -1);
        if (d < 0)
            return -1;
        value = (value * (hex ? 16 : 10) + (unsigned)d) & 0xFF;
    }
    return (int)value;
}

std::string NormaliseSpace(const std::string& text, bool keepEnds)
{
    std::string out;
    out.reserve(text.size());
    bool inSpace = false;
    for (char c : text) {
        if (IsSpace(c)) {
            inSpace = true;
            continue;
        }
        if (inSpace && (keepEnds || !out.empty()))
            out += ' ';
        inSpace = false;
        out += c;
    }
    if (inSpace && keepEnds)
        out += ' ';
    return out;
}

}  // namespace

// Position in the input; every move counts the line breaks it passes.
struct XmlEventReader::Cursor {
    const char* p;
    const char* end;
    uint32_t* line;

    size_t Left() const { return (size_t)(end - p); }
    bool StartsWith(const char* s) const
    {
        size_t n = strlen(s);
        return Left() >= n && memcmp(p, s, n) == 0;
    }
    // The first occurrence of s at or after from, or null.
    const char* Find(const char* from, const char* s) const
    {
        size_t n = strlen(s);
        const char* q = std::search(from, end, s, s + n);
        return q == end ? nullptr : q;
    }
    void MoveTo(const char* q)
    {
        *line += (uint32_t)std::count(p, q, '\n');
        p = q;
    }
    void SkipSpace()
    {
        const char* q = p;
        while (q < end && IsSpace(*q))
            ++q;
        MoveTo(q);
    }
};

struct XmlEventReader::Tag {
    std::string name;
    bool end = false;
    bool empty = false;
    std::vector<std::string> names;
    std::vector<std::string> values;
    std::vector<bool> hasValue;
};

XmlEventReader* XmlEventReader::Create()
{
    return new (std::nothrow) XmlEventReader();
}

XmlEventReader::XmlEventReader() = default;

XmlEventReader::~XmlEventReader()
{
    TextRecodingRelease(recoder_);
}

void XmlEventReader::SetCodepages(int32_t input, int32_t output, bool followDeclaration)
{
    followDeclaration_ = followDeclaration;
    configuredInput_ = input;
    if (input == input_ && output == output_)
        return;
    input_ = input;
    output_ = output;
    RebuildRecoder();
    SString nbsp = TextNoBreakSpace(output_);
    nbsp_.assign(nbsp.Text(), nbsp.Length());
}

void XmlEventReader::RebuildRecoder()
{
    TextRecodingRelease(recoder_);
    recoder_ = nullptr;
    if (input_ != output_ && CodepageIsKnown(input_) && CodepageIsKnown(output_))
        recoder_ = TextRecodingGet(input_, output_, kLineBreakKeep);
}

void XmlEventReader::SetBase64Target(void* buffer, uint32_t size, uint32_t* count)
{
    base64Buffer_ = (uint8_t*)buffer;
    base64Size_ = buffer ? size : 0;
    base64Count_ = count;
}

int XmlEventReader::Fail(int result, const char* what)
{
    char where[32];
    snprintf(where, sizeof where, "line %u: ", line_ + 1);
    error_.Assign(where);
    error_.Append(what);
    return result;
}

int XmlEventReader::ParseFile(const char* path)
{
    error_.Clear();
    line_ = 0;
    if (!path)
        return kXmlReadOk;
    FILE* f = fopen(path, "rb");
    if (!f) {
        int e = errno;
        error_.Assign(path);
        error_.Append(": ");
        error_.Append(g_strerror(e));
        return kXmlReadCannotOpen;
    }
    std::string data;
    int result = kXmlReadOk;
    try {
        char piece[kReadPiece];
        size_t n;
        while ((n = fread(piece, 1, sizeof piece, f)) > 0)
            data.append(piece, n);
        if (ferror(f)) {
            error_.Assign(path);
            error_.Append(": read error");
            result = kXmlReadCannotOpen;
        }
    } catch (const std::bad_alloc&) {
        result = Fail(kXmlReadNoMemory, "out of memory");
    }
    fclose(f);
    if (result != kXmlReadOk)
        return result;
    return Parse(data.data(), data.size());
}

int XmlEventReader::ParseText(const char* text, int32_t length)
{
    error_.Clear();
    line_ = 0;
    if (!text)
        return kXmlReadOk;
    return Parse(text, length < 0 ? strlen(text) : (size_t)length);
}

int XmlEventReader::Parse(const char* text, size_t length)
{
    if (length == 0)
        return kXmlReadOk;
    int result = kXmlReadOk;
    try {
        if (input_ != configuredInput_) {
            input_ = configuredInput_;
            RebuildRecoder();
        }
        Cursor c{text, text + length, &line_};
        if (c.StartsWith(kUtf8Bom))
            c.MoveTo(c.p + strlen(kUtf8Bom));
        while (result == kXmlReadOk && c.p < c.end) {
            if (*c.p == '<') {
                result = ParseMarkup(c);
            } else {
                const char* stop = std::find(c.p, c.end, '<');
                result = ParseCharacterData(c, stop);
            }
        }
        if (onEndDocument_ && onEndDocument_(*this) != 0 && result == kXmlReadOk)
            result = Fail(kXmlReadStopped, "stopped by the end-of-document handler");
    } catch (const std::bad_alloc&) {
        result = Fail(kXmlReadNoMemory, "out of memory");
    }
    return result;
}

int XmlEventReader::ParseMarkup(Cursor& c)
{
    struct Block {
        const char* open;
        const char* close;
        BlockHandler XmlEventReader::*handler;
    };
    const Block blocks[] = {
        {kCDataOpen, kCDataClose, &XmlEventReader::onCData_},
        {kCommentOpen, kCommentClose, &XmlEventReader::onComment_},
    };
    for (const Block& b : blocks) {
        if (!c.StartsWith(b.open))
            continue;
        const char* body = c.p + strlen(b.open);
        const char* close = c.Find(body, b.close);
        if (!close) {
            // An unterminated section takes the rest of the input without a call.
            c.MoveTo(c.end);
            return kXmlReadOk;
        }
        c.MoveTo(close + strlen(b.close));
        const BlockHandler& h = this->*b.handler;
        if (h) {
            std::string content = Recode(body, (size_t)(close - body));
            if (h(*this, content.c_str(), (uint32_t)content.size()) != 0)
                return Fail(kXmlReadStopped, "stopped by a handler");
        }
        return kXmlReadOk;
    }
    if (c.StartsWith(kDoctypeOpen)) {
        c.MoveTo(c.p + strlen(kDoctypeOpen));
        c.SkipSpace();
        const char* q = c.p;
        while (q < c.end && !IsSpace(*q) && *q != '>' && *q != '[')
            ++q;
        std::string name = Recode(c.p, (size_t)(q - c.p));
        const char* close = std::find(q, c.end, '>');
        if (close == c.end)
            return Fail(kXmlReadMalformed, "unterminated document type declaration");
        c.MoveTo(close + 1);
        if (onDoctype_ && onDoctype_(*this, name.c_str()) != 0)
            return Fail(kXmlReadStopped, "stopped by a handler");
        return kXmlReadOk;
    }
    if (c.StartsWith("<!")) {
        const char* close = std::find(c.p, c.end, '>');
        if (close == c.end)
            return Fail(kXmlReadMalformed, "unterminated markup declaration");
        c.MoveTo(close + 1);
        return kXmlReadOk;
    }
    return ParseTag(c);
}

int XmlEventReader::ParseTag(Cursor& c)
{
    Tag tag;
    c.MoveTo(c.p + 1);
    if (c.p < c.end && *c.p == '/') {
        tag.end = true;
        c.MoveTo(c.p + 1);
    }
    const char* q = c.p;
    while (q < c.end && !IsSpace(*q) && *q != '/' && *q != '>')
        ++q;
    if (q == c.p)
        return Fail(kXmlReadMalformed, "tag without a name");
    tag.name.assign(c.p, q);
    c.MoveTo(q);
    bool pi = tag.name[0] == '?';
    for (;;) {
        c.SkipSpace();
        if (c.p >= c.end)
            return Fail(kXmlReadMalformed, "unterminated tag");
        if (*c.p == '>') {
            c.MoveTo(c.p + 1);
            break;
        }
        if (c.StartsWith("/>") || (pi && c.StartsWith(kPiClose))) {
            tag.empty = !pi;
            c.MoveTo(c.p + 2);
            break;
        }
        q = c.p;
        while (q < c.end && !IsSpace(*q) && *q != '=' && *q != '>' && *q != '/' && !(pi && *q == '?'))
            ++q;
        if (q == c.p) {
            // A stray "=", "/" or "?": step over it.
            c.MoveTo(c.p + 1);
            continue;
        }
        tag.names.emplace_back(c.p, q);
        tag.values.emplace_back();
        tag.hasValue.push_back(false);
        c.MoveTo(q);
        c.SkipSpace();
        if (c.p >= c.end || *c.p != '=')
            continue;
        c.MoveTo(c.p + 1);
        c.SkipSpace();
        if (c.p >= c.end)
            return Fail(kXmlReadMalformed, "unterminated tag");
        const char* valueEnd;
        if (*c.p == '"' || *c.p == '\'') {
            valueEnd = std::find(c.p + 1, c.end, *c.p);
            if (valueEnd == c.end)
                return Fail(kXmlReadMalformed, "unterminated attribute value");
            tag.values.back().assign(c.p + 1, valueEnd);
            ++valueEnd;
        } else {
            valueEnd = c.p;
            while (valueEnd < c.end && !IsSpace(*valueEnd) && *valueEnd != '>' &&
                   !(*valueEnd == '/' && valueEnd + 1 < c.end && valueEnd[1] == '>'))
                ++valueEnd;
            tag.values.back().assign(c.p, valueEnd);
        }
        tag.hasValue.back() = true;
        c.MoveTo(valueEnd);
    }
    if (pi)
        return tag.name == kDeclarationName ? HandleDeclaration(tag) : kXmlReadOk;
    return HandleTag(tag);
}

int XmlEventReader::HandleDeclaration(const Tag& tag)
{
    if (!followDeclaration_)
        return kXmlReadOk;
    int32_t page = kCodepageUnknown;
    for (size_t i = 0; i < tag.names.size(); ++i)
        if (tag.names[i] == kEncodingAttr && tag.hasValue[i])
            page = CodepageFromName(tag.values[i].c_str());
    if (page != input_) {
        input_ = page;
        RebuildRecoder();
    }
    return kXmlReadOk;
}

int XmlEventReader::HandleTag(const Tag& tag)
{
    std::string name = Recode(tag.name.data(), tag.name.size());
    if (tag.end) {
        if (onEnd_ && onEnd_(*this, name.c_str()) != 0)
            return Fail(kXmlReadStopped, "stopped by a handler");
        return kXmlReadOk;
    }
    std::vector<std::string> names, values;
    names.reserve(tag.names.size());
    values.reserve(tag.names.size());
    for (size_t i = 0; i < tag.names.size(); ++i) {
        names.push_back(Recode(tag.names[i].data(), tag.names[i].size()));
        values.push_back(DecodeEntities(Recode(tag.values[i].data(), tag.values[i].size())));
    }
    std::vector<XmlAttribute> list;
    list.reserve(names.size() + 1);
    for (size_t i = 0; i < names.size(); ++i)
        list.push_back(XmlAttribute{names[i].c_str(), tag.hasValue[i] ? values[i].c_str() : nullptr});
    list.push_back(XmlAttribute{nullptr, nullptr});

    int stop = 0;
    if (tag.empty && onEmpty_) {
        stop = onEmpty_(*this, name.c_str(), list.data());
    } else {
        if (onStart_)
            stop = onStart_(*this, name.c_str(), list.data());
        if (stop == 0 && tag.empty && onEnd_)
            stop = onEnd_(*this, name.c_str());
    }
    return stop != 0 ? Fail(kXmlReadStopped, "stopped by a handler") : kXmlReadOk;
}

int XmlEventReader::ParseCharacterData(Cursor& c, const char* stop)
{
    const char* data = c.p;
    c.MoveTo(stop);
    if (base64Buffer_ || base64Count_) {
        DecodeBase64(data, (size_t)(stop - data));
        return kXmlReadOk;
    }
    return DeliverText(DecodeEntities(Recode(data, (size_t)(stop - data))));
}

int XmlEventReader::DeliverText(std::string text)
{
    if (text.empty())
        return kXmlReadOk;
    if (onRawText_ && onRawText_(*this, text.c_str()) != 0)
        return Fail(kXmlReadStopped, "stopped by a handler");
    std::string normal = NormaliseSpace(text, (options_ & kXmlReadKeepWhiteSpace) != 0);
    if (!normal.empty() && onText_ && onText_(*this, normal.c_str()) != 0)
        return Fail(kXmlReadStopped, "stopped by a handler");
    return kXmlReadOk;
}

void XmlEventReader::DecodeBase64(const char* data, size_t length)
{
    uint32_t written = 0;
    uint32_t group = 0;
    int have = 0;
    for (size_t i = 0; i < length && written < base64Size_; ++i) {
        signed char v = Base64Value(data[i]);
        if (v == kBase64Invalid)
            continue;
        group = (group << 6) | (uint32_t)v;
        if (++have < 4)
            continue;
        for (int k = 2; k >= 0 && written < base64Size_; --k)
            base64Buffer_[written++] = (uint8_t)(group >> (8 * k));
        group = 0;
        have = 0;
    }
    // A last group of fewer than four characters gives nothing: "=" is no alphabet character,
    // so padded data reads back only in whole groups of three bytes.
    if (base64Count_)
        *base64Count_ = written;
    base64Buffer_ = nullptr;
    base64Size_ = 0;
    base64Count_ = nullptr;
}

std::string XmlEventReader::Recode(const char* text, size_t length) const
{
    if (!recoder_ || length == 0)
        return std::string(text, length);
    std::string out;
    char block[kRecodeBlockSize];
    uint32_t available = (uint32_t)length;
    while (available > 0) {
        char* dst = block;
        uint32_t room = sizeof block;
        uint32_t before = available;
        recoder_->Recode(dst, room, text, available);
        out.append(block, (size_t)(dst - block));
        if (available == before)
            break;
    }
    // A sequence cut off at the end of a name, value or text counts as unknown characters,
    // so that a name never vanishes.
    const CodepageSequence& unknown = CodepageRepertoire(output_)[kRepertoireUnknown];
    for (; available > 0; --available)
        out.append((const char*)unknown.bytes, unknown.length);
    return out;
}

std::string XmlEventReader::DecodeEntities(const std::string& text) const
{
    if (text.find('&') == std::string::npos)
        return text;
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        size_t semi = text.find(';', i + 1);
        bool replaced = false;
        // A character reference may run past the window: its digits alone decide.
        const bool numeric = i + 1 < text.size() && text[i + 1] == '#';
        if (semi != std::string::npos && (numeric || semi - i - 1 <= kEntityMaxLength)) {
            const char* body = text.data() + i + 1;
            size_t n = semi - i - 1;
            int ch = CharacterReference(body, n);
            if (ch >= 0) {
                out += (char)ch;
                replaced = true;
            }
            for (const Entity& e : kEntities) {
                if (replaced || strlen(e.name) != n || memcmp(e.name, body, n) != 0)
                    continue;
                out += e.replacement ? e.replacement : nbsp_;
                replaced = true;
            }
        }
        if (replaced) {
            i = semi + 1;
        } else {
            out += text[i++];
        }
    }
    return out;
}

const char* XmlEventReader::AttrText(const XmlAttribute* attributes, const char* name)
{
    if (!attributes)
        return nullptr;
    if (!name)
        name = "";
    for (const XmlAttribute* a = attributes; a->name; ++a)
        if (strcmp(a->name, name) == 0)
            return a->value;
    return nullptr;
}

long XmlEventReader::AttrInt(const XmlAttribute* attributes, const char* name, long def)
{
    const char* text = AttrText(attributes, name);
    return text ? strtol(text, nullptr, 0) : def;
}

bool XmlEventReader::AttrDouble(const XmlAttribute* attributes, const char* name, double* value)
{
    const char* text = AttrText(attributes, name);
    if (!text || !value)
        return false;
    *value = g_ascii_strtod(text, nullptr);
    return true;
}

bool XmlEventReader::AttrFloat(const XmlAttribute* attributes, const char* name, float* value)
{
    double d = 0;
    if (!value || !AttrDouble(attributes, name, &d))
        return false;
    *value = (float)d;
    return true;
}

bool XmlEventReader::AttrTextTo(const XmlAttribute* attributes, const char* name, SString* value)
{
    const char* text = AttrText(attributes, name);
    if (!text || !value)
        return false;
    value->Assign(text);
    return true;
}

bool XmlEventReader::AttrIntTo(const XmlAttribute* attributes, const char* name, long* value)
{
    const char* text = AttrText(attributes, name);
    if (!text || !value)
        return false;
    *value = strtol(text, nullptr, 0);
    return true;
}
