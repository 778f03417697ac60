#include "recoding/XmlStreamWriter.h"
#include "recoding/Codepage.h"
#include "tests/base/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace {

std::string Out(const XmlStreamWriter& w)
{
    return std::string(w.Output().Text(), w.Output().Length());
}

TEST(XmlStreamWriter, LayoutEscapingAndRecoding)
{
    struct Case {
        const char* name;
        std::function<void(XmlStreamWriter&)> write;
        const char* expected;
    } const cases[] = {
        {"document",
         [](XmlStreamWriter& w) {
             w.SetCodepages(kCodepageUTF8, kCodepageUTF8);
             w.Declaration("root");
             w.OpenElement("root");
             w.EmptyElement("name", {{"a", "x<y"}, {"b", "it's"}});
             w.EmptyElement("other", {{"q", "\"&>"}, {"", "skipped"}, {"\"x", "skipped"}, {"'y", "no"}, {"n", nullptr}});
             w.OpenElement("b", {{"k", "v"}});
             w.Text("  some\n\ttext  & more ");
             w.Comment("note");
             w.CData("<raw>");
             w.CloseElement("b");
             w.CloseElement("root");
         },
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE root>\n<root>\n\t<name a=\"x&lt;y\" b=\"it&apos;s\" />\n"
         "\t<other q=\"&quot;&amp;&gt;\" n=\"\" />\n\t<b k=\"v\">\n\t\t some text &amp; more \n\t\t<!--note-->\n"
         "\t\t<![CDATA[<raw>]]>\n\t</b>\n</root>\n"},
        {"no page, no root name", [](XmlStreamWriter& w) { w.Declaration(nullptr); },
         "<?xml version=\"1.0\"?>\n<!DOCTYPE >\n"},
        {"no indent; empty names write nothing",
         [](XmlStreamWriter& w) {
             w.SetOptions(kXmlWriteNoIndent);
             w.OpenElement("r");
             w.EmptyElement("c");
             w.TextAttrSafe("x  y");
             w.OpenElement(nullptr);
             w.EmptyElement("");
             w.CloseElement(nullptr);
             w.CloseElement("r");
         },
         "<r><c />x  y</r>\n"},
        {"WINDOWS-1251, then the no-break space of CP866",
         [](XmlStreamWriter& w) {
             w.SetCodepages(kCodepageUTF8, kCodepageWindows1251);
             w.Declaration("корень");
             w.EmptyElement("тег", {{"имя", "тест"}});
             w.SetCodepages(kCodepageCP866, kCodepageCP866);
             w.EmptyElement("a", {{"v", "x\xFFy"}});
             w.Text("p\xFFq");
         },
         "<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?>\n<!DOCTYPE \xEA\xEE\xF0\xE5\xED\xFC>\n"
         "<\xF2\xE5\xE3 \xE8\xEC\xFF=\"\xF2\xE5\xF1\xF2\" />\n<a v=\"x&nbsp;y\" />\np&nbsp;q\n"},
    };
    for (const Case& c : cases) {
        XmlStreamWriter w;
        w.OpenString();
        c.write(w);
        EXPECT_TRUE(w.Depth() == 0 && w.EndDocument() == kXmlWriteOk && !*w.ErrorText()) << c.name;
        EXPECT_EQ(Out(w), c.expected) << c.name;
    }
}

TEST(XmlStreamWriter, Base64AndWrappedTextKeepTheirLines)
{
    XmlStreamWriter b, wrapped, plain;
    for (XmlStreamWriter* w : {&b, &wrapped, &plain}) {
        w->OpenString();
        w->OpenElement("d");
    }
    for (const std::string& d : {std::string("abc"), std::string("a"), std::string("ab"), std::string("\0\xFF\xFE", 3)})
        b.Base64(d.data(), (uint32_t)d.size());
    b.Base64(std::string(58, '\0').data(), 58);  // 57 bytes fill a line
    EXPECT_EQ(Out(b), "<d>\n\tYWJj\n\tYQ==\n\tYWI=\n\tAP/+\n\t" + std::string(kXmlBase64LineLength, 'A') + "\n\tAA==");

    std::string words, single;
    for (int i = 0; i < 40; ++i) {
        words += "word" + std::to_string(i) + "   ";
        single += "word" + std::to_string(i) + " ";
    }
    wrapped.Text(words.c_str(), -1, true);
    plain.Text(words.c_str());
    EXPECT_EQ(Out(plain), "<d>\n\t" + single);
    std::istringstream in(Out(wrapped).substr(4));
    std::string joined;
    for (std::string line; std::getline(in, line);) {
        const bool fits = line.size() < kXmlWrapColumn + 10 && (in.eof() || line.size() >= kXmlWrapColumn);
        EXPECT_TRUE(line[0] == '\t' && fits) << line;
        joined += (joined.empty() ? "" : " ") + line.substr(1);
    }
    EXPECT_EQ(joined, single);
}

TEST(XmlStreamWriter, FileOutputAndItsFailures)
{
    TempDir dir;
    XmlStreamWriter f, s;
    ASSERT_EQ(f.OpenFile((dir / "big.xml").c_str()), kXmlWriteOk);
    s.OpenString();
    for (XmlStreamWriter* w : {&f, &s}) {
        w->Declaration("r");
        w->OpenElement("r");
        // Far beyond one output buffer, so several partial writes happen.
        for (int i = 0; i < 4000; ++i)
            ASSERT_EQ(w->EmptyElement("item", {{"n", std::to_string(i).c_str()}, {"t", "значение"}}), 0);
        w->CloseElement("r");
        ASSERT_EQ(w->EndDocument(), kXmlWriteOk);
    }
    ASSERT_GT(s.Output().Length(), 2 * kXmlWriterFileBuffer);
    EXPECT_EQ(ReadText(dir / "big.xml"), Out(s));

    XmlStreamWriter w;
    EXPECT_NE(w.EmptyElement("x"), kXmlWriteOk) << "nothing is open";
    EXPECT_NE(w.OpenFile((dir / "no/such/dir.xml").c_str()), kXmlWriteOk);
    EXPECT_NE(std::string(w.ErrorText()).find("dir.xml"), std::string::npos) << w.ErrorText();
    EXPECT_NE(w.EndDocument(), kXmlWriteOk);
    XmlStreamWriter full;
    ASSERT_EQ(full.OpenFile("/dev/full"), kXmlWriteOk);
    int result = kXmlWriteOk, calls = 0;
    // Writing stops being accepted once the buffer had to go out to the full device.
    while (++calls < 10000 && result == kXmlWriteOk)
        result = full.EmptyElement("item", {{"v", "0123456789"}});
    EXPECT_LT(calls, 10000);
    XmlStreamWriter small;
    ASSERT_EQ(small.OpenFile("/dev/full"), kXmlWriteOk);
    EXPECT_EQ(small.EmptyElement("x"), kXmlWriteOk) << "still buffered";
    EXPECT_NE(small.EndDocument(), kXmlWriteOk) << "the final flush must report the failure";
}

}  // namespace
