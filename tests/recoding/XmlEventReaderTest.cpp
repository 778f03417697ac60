#include "recoding/XmlEventReader.h"
#include "recoding/Codepage.h"
#include "recoding/TextRecoding.h"
#include "tests/base/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Ev = std::vector<std::string>;

std::string Attrs(const XmlAttribute* a)
{
    std::string s;
    for (; a && a->name; ++a)
        s += std::string(" ") + a->name + "=" + (a->value ? a->value : "<none>");
    return s;
}

const int kEmpty = 1, kRaw = 2;  // optional handlers

// Every event as one line, to compare whole sequences; an event naming "stop" stops the parse.
void Record(XmlEventReader& r, Ev& events, int handlers)
{
    auto push = [&events](const std::string& e) { return events.push_back(e), e.find("stop") != std::string::npos; };
    using A = const XmlAttribute*;
    r.SetElementStartHandler([=](XmlEventReader&, const char* n, A a) { return push("start " + (n + Attrs(a))); });
    r.SetElementEndHandler([=](XmlEventReader&, const char* n) { return push(std::string("end ") + n); });
    if (handlers & kEmpty)
        r.SetEmptyElementHandler([=](XmlEventReader&, const char* n, A a) { return push("empty " + (n + Attrs(a))); });
    r.SetTextHandler([=](XmlEventReader&, const char* t) { return push(std::string("text [") + t + "]"); });
    if (handlers & kRaw)
        r.SetRawTextHandler([=](XmlEventReader&, const char* t) { return push(std::string("raw [") + t + "]"); });
    r.SetCommentHandler(
        [=](XmlEventReader&, const char* t, uint32_t n) { return push("comment [" + std::string(t, n) + "]"); });
    r.SetCDataHandler([=](XmlEventReader&, const char* t, uint32_t n) { return push("cdata [" + std::string(t, n) + "]"); });
    r.SetDoctypeHandler([=](XmlEventReader&, const char* n) { return push(std::string("doctype ") + n); });
    r.SetEndDocumentHandler([=](XmlEventReader&) { return push("eod"); });
}

Ev Events(const std::string& xml, int handlers = 0, uint32_t options = 0, int expected = kXmlReadOk,
          int32_t output = kCodepageUTF8, int32_t input = kCodepageUTF8)
{
    XmlEventReader r;
    Ev events;
    Record(r, events, handlers);
    r.SetCodepages(input, output);
    r.SetOptions(options);
    EXPECT_EQ(r.ParseText(xml.data(), (int32_t)xml.size()), expected) << xml;
    EXPECT_EQ(*r.ErrorText() != '\0', expected != kXmlReadOk) << xml << ": " << r.ErrorText();
    return events;
}

TEST(XmlEventReader, EventSequencesAndMalformedInput)
{
    struct Case {
        const char* xml;
        int handlers;
        uint32_t options;
        Ev events;
        int result = kXmlReadOk;
    } const cases[] = {
        {"<a x='1' y=\"2\"/>", 0, 0, {"start a x=1 y=2", "end a", "eod"}},
        {"<a x='1' y=\"2\"/><b v=1/>", kEmpty, 0, {"empty a x=1 y=2", "empty b v=1", "eod"}},
        {"<?xml version=\"1.0\"?>\n<!DOCTYPE root>\n<root a=b c d = 'e f'>\n  <!-- note -->\n  <x>hi</x>"
         "<![CDATA[<raw> & ]]>\n</root>\n",
         0, 0,
         {"doctype root", "start root a=b c=<none> d=e f", "comment [ note ]", "start x", "text [hi]", "end x",
          "cdata [<raw> & ]", "end root", "eod"}},
        {"<c = x/>", kEmpty, 0, {"empty c x=<none>", "eod"}},   // a stray "=" is stepped over
        {"<t>  two, three  words  </t>", 0, 0, {"start t", "text [two, three words]", "end t", "eod"}},
        {"<t>  two  words  </t>", 0, kXmlReadKeepWhiteSpace, {"start t", "text [ two words ]", "end t", "eod"}},
        {"<a>\n\t <b/>\n</a>", 0, 0, {"start a", "start b", "end b", "end a", "eod"}},
        {"<a>\n <b/></a>", 0, kXmlReadKeepWhiteSpace, {"start a", "text [ ]", "start b", "end b", "end a", "eod"}},
        {"<a>x</a><!-- open comment <b/>", 0, 0, {"start a", "text [x]", "end a", "eod"}},
        {"<a><![CDATA[ open <b/>", 0, 0, {"start a", "eod"}},
        {"\xEF\xBB\xBF<a/>", 0, 0, {"start a", "end a", "eod"}},   // a byte-order mark is no text
        {"", 0, 0, {}},
        // Raw text comes before the text; a stopped parse still reports the end of a non-empty input.
        {"<a> a  b </a><b>stop</b><c>never</c>", kRaw, 0,
         {"start a", "raw [ a  b ]", "text [a b]", "end a", "start b", "raw [stop]", "eod"}, kXmlReadStopped},
        {"<a><stop/><after/></a>", 0, 0, {"start a", "start stop", "eod"}, kXmlReadStopped},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Events(c.xml, c.handlers, c.options, c.result), c.events) << c.xml;
    for (const char* xml : {"<a", "<a b='1", "<a b=", "<", "</", "<!DOCTYPE x", "<a><!bogus", "< a>", "<a b=\"1\"\n",
                            "<?xml version='1.0'", "<\xD0", "<a x='&#x4", "<>"})
        EXPECT_EQ(Events(xml, 0, 0, kXmlReadMalformed, kCodepageWindows1251).back(), "eod") << xml;
}

TEST(XmlEventReader, Entities)
{
    const std::pair<const char*, const char*> cases[] = {
        {"<t>&lt;b&gt; &amp; &#x41;&#66; &quot;q&quot; &apos;s&apos;</t>", "<b> & AB \"q\" 's'"},
        {"<t>&unknown; &#x; &#xZZ; &#12a; &# ; &amp</t>", "&unknown; &#x; &#xZZ; &#12a; &# ; &amp"},
        {"<t>&#x141;&#x39;&#x2F;&#65&#66;</t>", "A9/&#65B"},  // only the low 8 bits count
        // A reference to byte 0 gives that byte, and the handler's text ends there.
        {"<t>a&#0;b</t>", "a"}, {"<t>a&#x100;b</t>", "a"},
        // Longer than the 16 characters looked at for a name: the digits still decide.
        {"<t>&#00000000000000065;&#x000000000000000042;</t>", "AB"},
        {"<t>&#0000000000000000065a;</t>", "&#0000000000000000065a;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Events(c.first), (Ev{"start t", std::string("text [") + c.second + "]", "end t", "eod"})) << c.first;
    EXPECT_EQ(Events("<a v='x&lt;y&amp;z'/>", kEmpty)[0], "empty a v=x<y&z");
}

TEST(XmlEventReader, EncodingFollowsTheDeclarationForOneParse)
{
    // "Имя" element with attribute "ключ"="значение" and text "текст №1", in WINDOWS-1251.
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>"
        "<\xC8\xEC\xFF \xEA\xEB\xFE\xF7=\"\xE7\xED\xE0\xF7\xE5\xED\xE8\xE5\">\xF2\xE5\xEA\xF1\xF2 \xB9" "1</\xC8\xEC\xFF>";
    int32_t recoders = TextRecodingRegistryCount();
    {
        XmlEventReader r;
        Ev events;
        Record(r, events, 0);
        r.SetCodepages(kCodepageUTF8, kCodepageUTF8);
        EXPECT_EQ(r.ParseText(xml.c_str()), kXmlReadOk);
        EXPECT_EQ(events, (Ev{"start Имя ключ=значение", "text [текст №1]", "end Имя", "eod"}));
        EXPECT_EQ(r.InputCodepage(), kCodepageWindows1251);
        // The next input starts again from the page the owner set.
        events.clear();
        EXPECT_EQ(r.ParseText("<a>ё</a>"), kXmlReadOk);
        EXPECT_EQ(events[1], "text [ё]");
        r.SetCodepages(kCodepageUTF8, kCodepageUTF8, false);
        events.clear();
        EXPECT_EQ(r.ParseText(xml.c_str()), kXmlReadOk);
        EXPECT_EQ(events[1], "text [\xF2\xE5\xEA\xF1\xF2 \xB9" "1]");
    }
    // Sequences cut at the end of a name, a value or a text become unknown characters; a no-break
    // space is the output page's own.
    EXPECT_EQ(Events("<\xD0 \xD1=\"\xE2\x84\"/><a>\xD0\x90\xD0</a>", kEmpty, 0, kXmlReadOk, kCodepageWindows1251),
              (Ev{"empty ? ?=??", "start a", "text [\xC0?]", "end a", "eod"}));
    EXPECT_EQ(Events("<a>\xC2</a>", 0, 0, kXmlReadOk, kCodepageUTF8, kCodepageXSwdCyrillic)[1], "text [??]");
    EXPECT_EQ(Events("<a>x&nbsp;y</a>", 0, 0, kXmlReadOk, kCodepageCP866, kCodepageCP866)[1], "text [x\xFFy]");
    EXPECT_EQ(TextRecodingRegistryCount(), recoders) << "the reader gives its recoder back";
}

TEST(XmlEventReader, Base64TargetTakesWholeGroupsOfFourOnce)
{
    XmlEventReader r;
    uint8_t buffer[8];
    uint32_t count = 99;
    Ev texts;
    Record(r, texts, 0);
    r.SetElementStartHandler([&](XmlEventReader& rd, const char* n, const XmlAttribute*) {
        if (std::string(n) == "data")
            rd.SetBase64Target(buffer, sizeof buffer, &count);
        return 0;
    });
    const std::pair<const char*, std::string> cases[] = {
        {"YWJj", "abc"},     {"\n  YW\nJj\tZGVm ", "abcdef"}, {"YQ==", ""},        {"YWI=", ""},
        {"YWJjYWI=", "abc"}, {"YWJjYW", "abc"},               {"!!YW*Jj", "abc"},
        {"YWJjZGVmZ2hpamts", "abcdefgh"},  // stops when the target is full
    };
    for (const auto& c : cases) {
        count = 99;
        texts.clear();
        ASSERT_EQ(r.ParseText((std::string("<r><data>") + c.first + "</data><t>after</t></r>").c_str()), kXmlReadOk);
        EXPECT_EQ(std::string((const char*)buffer, std::min<uint32_t>(count, sizeof buffer)), c.second) << c.first;
        EXPECT_EQ(texts, (Ev{"end data", "text [after]", "end t", "end r", "eod"})) << "the target is used once";
    }
}

TEST(XmlEventReader, ParseFileCountsLines)
{
    TempDir dir;
    ASSERT_TRUE(WriteText(dir / "s.xml", "<a>\n<b v='1' bare/>\n\n<c"));
    XmlEventReader r;
    int bs = 0;
    r.SetElementStartHandler([&](XmlEventReader&, const char* n, const XmlAttribute* a) {
        bs += std::string(n) == "b" ? (int)XmlEventReader::AttrInt(a, "v", 0) : 0;
        return XmlEventReader::AttrText(a, "bare") ? 1 : 0;
    });
    EXPECT_EQ(r.ParseFile((dir / "s.xml").c_str()), kXmlReadMalformed);
    EXPECT_EQ(bs, 1);
    EXPECT_EQ(r.Line(), 3u);
    EXPECT_NE(std::string(r.ErrorText()).find("line 4"), std::string::npos) << r.ErrorText();
    for (const std::string& path : {dir / "missing.xml", dir.Path()})  // a directory is not a file
        EXPECT_TRUE(r.ParseFile(path.c_str()) == kXmlReadCannotOpen && *r.ErrorText()) << path;
    EXPECT_TRUE(r.ParseFile(nullptr) == kXmlReadOk && !*r.ErrorText()) << "a new parse forgets the last one's error";
    EXPECT_TRUE(r.Line() == 0 && r.ParseText(nullptr) == kXmlReadOk);
    using X = XmlEventReader;
    const XmlAttribute attrs[] = {{"", "blank"}, {"n", "0x1F"}, {"bare", nullptr}, {}};
    EXPECT_TRUE(X::AttrText(attrs, nullptr) == attrs[0].value && !X::AttrText(nullptr, "n"));
    double d = 0;
    float f = 0;
    long l = 0;
    SString t;
    EXPECT_FALSE(X::AttrDouble(attrs, "bare", &d) || X::AttrFloat(attrs, "x", &f) || X::AttrIntTo(attrs, "bare", &l) ||
                 X::AttrTextTo(attrs, "x", &t));
    EXPECT_TRUE(X::AttrDouble(attrs, "n", &d) && X::AttrFloat(attrs, "n", &f) && X::AttrIntTo(attrs, "n", &l) &&
                X::AttrTextTo(attrs, "n", &t) && d == 31 && f == 31 && l == 31 && t == "0x1F");
}

}  // namespace
