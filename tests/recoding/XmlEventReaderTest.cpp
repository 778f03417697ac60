// The event reader: handler order, entities, white space, encoding switch, base64 targets,
// unterminated constructs and malformed input.
#include "recoding/XmlEventReader.h"
#include "recoding/XmlStreamWriter.h"
#include "recoding/Codepage.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records every event as one line so a whole sequence can be compared at once.
struct Recorder {
    std::vector<std::string> events;

    static std::string Attrs(const XmlAttribute* a)
    {
        std::string s;
        for (; a && a->name; ++a)
            s += std::string(" ") + a->name + "=" + (a->value ? a->value : "<none>");
        return s;
    }

    void Attach(XmlEventReader& r, bool withEmpty)
    {
        r.SetUserData(this);
        auto self = [](XmlEventReader& rd) { return static_cast<Recorder*>(rd.UserData()); };
        r.SetElementStartHandler([self](XmlEventReader& rd, const char* n, const XmlAttribute* a) {
            self(rd)->events.push_back(std::string("start ") + n + Attrs(a));
            return 0;
        });
        r.SetElementEndHandler([self](XmlEventReader& rd, const char* n) {
            self(rd)->events.push_back(std::string("end ") + n);
            return 0;
        });
        if (withEmpty)
            r.SetEmptyElementHandler([self](XmlEventReader& rd, const char* n, const XmlAttribute* a) {
                self(rd)->events.push_back(std::string("empty ") + n + Attrs(a));
                return 0;
            });
        r.SetTextHandler([self](XmlEventReader& rd, const char* t) {
            self(rd)->events.push_back(std::string("text [") + t + "]");
            return 0;
        });
        r.SetCommentHandler([self](XmlEventReader& rd, const char* t, uint32_t n) {
            self(rd)->events.push_back("comment [" + std::string(t, n) + "]");
            return 0;
        });
        r.SetCDataHandler([self](XmlEventReader& rd, const char* t, uint32_t n) {
            self(rd)->events.push_back("cdata [" + std::string(t, n) + "]");
            return 0;
        });
        r.SetDoctypeHandler([self](XmlEventReader& rd, const char* n) {
            self(rd)->events.push_back(std::string("doctype ") + n);
            return 0;
        });
        r.SetEndDocumentHandler([self](XmlEventReader& rd) {
            self(rd)->events.push_back("eod");
            return 0;
        });
    }
};

std::vector<std::string> Events(const std::string& xml, bool withEmpty = false, uint32_t options = 0,
                                int* result = nullptr)
{
    XmlEventReader r;
    Recorder rec;
    rec.Attach(r, withEmpty);
    r.SetOptions(options);
    int res = r.ParseText(xml.data(), (int32_t)xml.size());
    if (result)
        *result = res;
    return rec.events;
}

using Ev = std::vector<std::string>;

TEST(XmlEventReader, EmptyTagWithoutEmptyHandlerGivesStartAndEnd)
{
    EXPECT_EQ(Events("<a x='1' y=\"2\"/>"), (Ev{"start a x=1 y=2", "end a", "eod"}));
    EXPECT_EQ(Events("<a x='1' y=\"2\"/>", true), (Ev{"empty a x=1 y=2", "eod"}));
}

TEST(XmlEventReader, DocumentSequence)
{
    const char* xml =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE root>\n<root a=b c d = 'e f'>\n"
        "  <!-- note -->\n  <x>hi</x><![CDATA[<raw> & ]]>\n</root>\n";
    EXPECT_EQ(Events(xml), (Ev{"doctype root", "start root a=b c=<none> d=e f", "comment [ note ]",
                               "start x", "text [hi]", "end x", "cdata [<raw> & ]", "end root", "eod"}));
}

TEST(XmlEventReader, Entities)
{
    struct Case {
        const char* xml;
        const char* text;
    };
    const Case cases[] = {
        {"<t>&lt;b&gt; &amp; &#x41;&#66;</t>", "text [<b> & AB]"},
        {"<t>a & b</t>", "text [a & b]"},
        {"<t>&quot;q&quot; &apos;s&apos;</t>", "text [\"q\" 's']"},
        {"<t>&unknown; &amp</t>", "text [&unknown; &amp]"},
        {"<t>&#x; &#xZZ; &#12a; &# ;</t>", "text [&#x; &#xZZ; &#12a; &# ;]"},
        {"<t>&#x141;</t>", "text [A]"},  // only the low 8 bits count
        {"<t>&#x39;&#x2F;</t>", "text [9/]"},
        {"<t>&#65&#66;</t>", "text [&#65B]"},
        // A reference to byte 0 gives that byte, and the handler's text ends there.
        {"<t>a&#0;b</t>", "text [a]"},
        {"<t>a&#256;b</t>", "text [a]"},
        {"<t>a&#x100;b</t>", "text [a]"},
        // Longer than the 16 characters looked at for a name: the digits still decide.
        {"<t>&#00000000000000065;&#x000000000000000042;</t>", "text [AB]"},
        {"<t>&#0000000000000000065a;</t>", "text [&#0000000000000000065a;]"},
    };
    for (const Case& c : cases) {
        Ev ev = Events(c.xml);
        ASSERT_EQ(ev.size(), 4u) << c.xml;
        EXPECT_EQ(ev[1], c.text) << c.xml;
    }
    EXPECT_EQ(Events("<a v='x&lt;y&amp;z'/>", true)[0], "empty a v=x<y&z");
}

TEST(XmlEventReader, WhiteSpaceNormalisation)
{
    const char* xml = "<t>  two, three  words  </t>";
    EXPECT_EQ(Events(xml)[1], "text [two, three words]");
    EXPECT_EQ(Events(xml, false, kXmlReadKeepWhiteSpace)[1], "text [ two, three words ]");
    // Space between tags disappears unless it is kept.
    EXPECT_EQ(Events("<a>\n\t <b/>\n</a>"), (Ev{"start a", "start b", "end b", "end a", "eod"}));
    EXPECT_EQ(Events("<a>\n <b/></a>", false, kXmlReadKeepWhiteSpace),
              (Ev{"start a", "text [ ]", "start b", "end b", "end a", "eod"}));
}

TEST(XmlEventReader, RawTextComesFirstAndCanStop)
{
    XmlEventReader r;
    std::vector<std::string> seen;
    r.SetRawTextHandler([&](XmlEventReader&, const char* t) {
        seen.push_back(std::string("raw [") + t + "]");
        return t[0] == 'x' ? 1 : 0;
    });
    r.SetTextHandler([&](XmlEventReader&, const char* t) {
        seen.push_back(std::string("text [") + t + "]");
        return 0;
    });
    EXPECT_EQ(r.ParseText("<a> a  b </a><b>x</b><c>never</c>"), kXmlReadStopped);
    EXPECT_EQ(seen, (Ev{"raw [ a  b ]", "text [a b]", "raw [x]"}));
    EXPECT_STRNE(r.ErrorText(), "");
}

TEST(XmlEventReader, HandlerReturningNonZeroStops)
{
    XmlEventReader r;
    int starts = 0;
    bool eod = false;
    r.SetElementStartHandler([&](XmlEventReader&, const char* n, const XmlAttribute*) {
        ++starts;
        return std::string(n) == "stop" ? 5 : 0;
    });
    r.SetEndDocumentHandler([&](XmlEventReader&) {
        eod = true;
        return 0;
    });
    EXPECT_NE(r.ParseText("<a><stop/><after/></a>"), 0);
    EXPECT_EQ(starts, 2);
    EXPECT_TRUE(eod) << "the end of a non-empty input is reported even after a failure";
}

TEST(XmlEventReader, EncodingFollowsTheDeclaration)
{
    // "Имя" element with attribute "ключ"="значение" and text "текст №1", in WINDOWS-1251.
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>"
        "<\xC8\xEC\xFF \xEA\xEB\xFE\xF7=\"\xE7\xED\xE0\xF7\xE5\xED\xE8\xE5\">\xF2\xE5\xEA\xF1\xF2 \xB9" "1</\xC8\xEC\xFF>";
    XmlEventReader r;
    Recorder rec;
    rec.Attach(r, false);
    r.SetCodepages(kCodepageUTF8, kCodepageUTF8);
    EXPECT_EQ(r.ParseText(xml.c_str()), kXmlReadOk);
    EXPECT_EQ(rec.events, (Ev{"start Имя ключ=значение", "text [текст №1]", "end Имя", "eod"}));
    EXPECT_EQ(r.InputCodepage(), kCodepageWindows1251);
    // The next input starts again from the page the owner set.
    rec.events.clear();
    EXPECT_EQ(r.ParseText("<a>ё</a>"), kXmlReadOk);
    EXPECT_EQ(rec.events[1], "text [ё]");

    // Without following the declaration the bytes pass unchanged.
    XmlEventReader raw;
    Recorder rec2;
    rec2.Attach(raw, false);
    raw.SetCodepages(kCodepageUTF8, kCodepageUTF8, false);
    EXPECT_EQ(raw.ParseText(xml.c_str()), kXmlReadOk);
    EXPECT_EQ(rec2.events[1], "text [\xF2\xE5\xEA\xF1\xF2 \xB9" "1]");
}

TEST(XmlEventReader, CutSequencesBecomeUnknownCharacters)
{
    XmlEventReader r;
    Recorder rec;
    rec.Attach(r, true);
    r.SetCodepages(kCodepageUTF8, kCodepageWindows1251);
    EXPECT_EQ(r.ParseText("<\xD0 \xD1=\"\xE2\x84\"/><a>\xD0\x90\xD0</a>"), kXmlReadOk);
    EXPECT_EQ(rec.events, (Ev{"empty ? ?=??", "start a", "text [\xC0?]", "end a", "eod"}));
    rec.events.clear();
    r.SetCodepages(kCodepageXSwdCyrillic, kCodepageUTF8);
    EXPECT_EQ(r.ParseText("<a>\xC2</a>"), kXmlReadOk);
    EXPECT_EQ(rec.events[1], "text [??]");
}

TEST(XmlEventReader, NbspFollowsTheOutputPage)
{
    XmlEventReader r;
    std::string text;
    r.SetTextHandler([&](XmlEventReader&, const char* t) {
        text = t;
        return 0;
    });
    r.SetCodepages(kCodepageCP866, kCodepageCP866);
    EXPECT_EQ(r.ParseText("<a>x&nbsp;y</a>"), 0);
    EXPECT_EQ(Hex(text), Hex("x\xFFy"));
    r.SetCodepages(kCodepageUTF8, kCodepageWindows1251);
    EXPECT_EQ(r.ParseText("<a>x&nbsp;y</a>"), 0);
    EXPECT_EQ(Hex(text), Hex("x\x80y"));
}

TEST(XmlEventReader, Base64Target)
{
    XmlEventReader r;
    uint8_t buffer[8];
    uint32_t count = 99;
    std::vector<std::string> texts;
    r.SetElementStartHandler([&](XmlEventReader& rd, const char* n, const XmlAttribute*) {
        if (std::string(n) == "data")
            rd.SetBase64Target(buffer, sizeof buffer, &count);
        return 0;
    });
    r.SetTextHandler([&](XmlEventReader&, const char* t) {
        texts.push_back(t);
        return 0;
    });
    struct Case {
        const char* b64;
        std::string bytes;
    };
    const Case cases[] = {
        {"YWJj", "abc"},
        {"\n  YW\nJj\tZGVm ", "abcdef"},
        // Only whole groups of four alphabet characters count; "=" is not one.
        {"YQ==", ""},
        {"YWI=", ""},
        {"YWJjYWI=", "abc"},
        {"YWJjYW", "abc"},
        {"!!YW*Jj", "abc"},
        {"YWJjZGVmZ2hpamts", "abcdefgh"},  // stops when the target is full
    };
    for (const Case& c : cases) {
        memset(buffer, 0, sizeof buffer);
        count = 99;
        texts.clear();
        std::string xml = std::string("<r><data>") + c.b64 + "</data><t>after</t></r>";
        ASSERT_EQ(r.ParseText(xml.c_str()), kXmlReadOk);
        ASSERT_LE(count, sizeof buffer) << c.b64;
        EXPECT_EQ(std::string((const char*)buffer, count), c.bytes) << c.b64;
        EXPECT_EQ(texts, Ev{"after"}) << "the target is used once, then cleared";
    }
}

TEST(XmlEventReader, WriterBase64ReadsBackInWholeGroupsOfThreeBytes)
{
    const std::string data = "abcdefgh";
    for (size_t n : {6u, 7u, 8u}) {
        XmlStreamWriter w;
        w.OpenString();
        w.OpenElement("d");
        w.Base64(data.data(), (uint32_t)n);
        w.CloseElement("d");
        XmlEventReader r;
        uint8_t buffer[16];
        uint32_t count = 99;
        r.SetElementStartHandler([&](XmlEventReader& rd, const char*, const XmlAttribute*) {
            rd.SetBase64Target(buffer, sizeof buffer, &count);
            return 0;
        });
        ASSERT_EQ(r.ParseText(w.Output().Text()), kXmlReadOk);
        EXPECT_EQ(data.substr(0, n - n % 3), std::string((const char*)buffer, count)) << n << " bytes";
    }
}

TEST(XmlEventReader, UnterminatedSectionsTakeTheRest)
{
    int result = -1;
    EXPECT_EQ(Events("<a>x</a><!-- open comment <b/>", false, 0, &result),
              (Ev{"start a", "text [x]", "end a", "eod"}));
    EXPECT_EQ(result, kXmlReadOk);
    EXPECT_EQ(Events("<a><![CDATA[ open <b/>", false, 0, &result), (Ev{"start a", "eod"}));
    EXPECT_EQ(result, kXmlReadOk);
}

TEST(XmlEventReader, MalformedInputFailsCleanly)
{
    const char* cases[] = {
        "<a",          "<a b='1",        "<a b=",          "<",          "</",
        "<!DOCTYPE x", "<a><!bogus",     "< a>",           "<a b=\"1\"\n", "<?xml version='1.0'",
        "<\xD0",       "<a x='&#x4", "<>",
    };
    for (const char* xml : cases) {
        XmlEventReader r;
        r.SetCodepages(kCodepageUTF8, kCodepageWindows1251);
        Recorder rec;
        rec.Attach(r, false);
        EXPECT_EQ(r.ParseText(xml), kXmlReadMalformed) << xml;
        EXPECT_STRNE(r.ErrorText(), "") << xml;
        EXPECT_EQ(rec.events.back(), "eod") << xml;
    }
}

TEST(XmlEventReader, EmptyAndNullInputSucceedWithoutCalls)
{
    EXPECT_TRUE(Events("").empty());
    EXPECT_EQ(Events("\xEF\xBB\xBF<a/>"), (Ev{"start a", "end a", "eod"})) << "a byte-order mark is no text";
    XmlEventReader r;
    EXPECT_EQ(r.ParseText(nullptr), kXmlReadOk);
    EXPECT_EQ(r.ParseFile(nullptr), kXmlReadOk);
}

TEST(XmlEventReader, ParseFileAndLineCount)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    std::string path = dir.Path("s.xml");
    ASSERT_TRUE(WriteFileBytes(path, "<a>\n<b v='1'/>\n\n<c"));
    XmlEventReader r;
    int bs = 0;
    r.SetElementStartHandler([&](XmlEventReader&, const char* n, const XmlAttribute* a) {
        bs += std::string(n) == "b" ? (int)XmlEventReader::AttrInt(a, "v", 0) : 0;
        return 0;
    });
    EXPECT_EQ(r.ParseFile(path.c_str()), kXmlReadMalformed);
    EXPECT_EQ(bs, 1);
    EXPECT_EQ(r.Line(), 3u);
    EXPECT_NE(std::string(r.ErrorText()).find("line 4"), std::string::npos) << r.ErrorText();

    EXPECT_EQ(r.ParseFile(dir.Path("missing.xml").c_str()), kXmlReadCannotOpen);
    EXPECT_STRNE(r.ErrorText(), "");
    EXPECT_EQ(r.ParseFile(dir.Path("").c_str()), kXmlReadCannotOpen) << "a directory is not a file";
}

TEST(XmlEventReader, AttributeLookups)
{
    const XmlAttribute attrs[] = {{"n", "0x1F"}, {"o", "010"}, {"d", "2.5"}, {"", "blank"},
                                  {"bare", nullptr}, {"s", "text"}, {nullptr, nullptr}};
    EXPECT_EQ(XmlEventReader::AttrInt(attrs, "n", -1), 31);
    EXPECT_EQ(XmlEventReader::AttrInt(attrs, "o", -1), 8);
    EXPECT_EQ(XmlEventReader::AttrInt(attrs, "missing", -1), -1);
    EXPECT_STREQ(XmlEventReader::AttrText(attrs, nullptr), "blank");
    EXPECT_EQ(XmlEventReader::AttrText(attrs, "bare"), nullptr);
    EXPECT_EQ(XmlEventReader::AttrText(nullptr, "n"), nullptr);

    double d = -1;
    float f = -1;
    long l = -1;
    SString s("keep");
    EXPECT_TRUE(XmlEventReader::AttrDouble(attrs, "d", &d));
    EXPECT_DOUBLE_EQ(d, 2.5);
    EXPECT_TRUE(XmlEventReader::AttrFloat(attrs, "d", &f));
    EXPECT_FLOAT_EQ(f, 2.5f);
    EXPECT_TRUE(XmlEventReader::AttrTextTo(attrs, "s", &s));
    EXPECT_EQ(s, "text");
    EXPECT_TRUE(XmlEventReader::AttrIntTo(attrs, "n", &l));
    EXPECT_EQ(l, 31);

    d = f = l = -7;
    s.Assign("keep");
    EXPECT_FALSE(XmlEventReader::AttrDouble(attrs, "x", &d));
    EXPECT_FALSE(XmlEventReader::AttrFloat(attrs, "x", &f));
    EXPECT_FALSE(XmlEventReader::AttrIntTo(attrs, "x", &l));
    EXPECT_FALSE(XmlEventReader::AttrTextTo(attrs, "x", &s));
    EXPECT_EQ(d, -7);
    EXPECT_EQ(f, -7);
    EXPECT_EQ(l, -7);
    EXPECT_EQ(s, "keep");
}

}  // namespace
