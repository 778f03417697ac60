// Documents that load from and save to their declared encoding while holding UTF-8.
#include "recoding/TiXmlDocumentRecode.h"
#include "recoding/Codepage.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>

#include <unistd.h>

namespace {

// <device name="Пульт"><группа ключ="значение">Текст №5</группа></device>, in WINDOWS-1251.
std::string Settings1251(const char* encoding)
{
    std::string decl = encoding ? std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\" ?>\n" : "";
    return decl +
           "<device name=\"\xCF\xF3\xEB\xFC\xF2\">\n"
           "    <\xE3\xF0\xF3\xEF\xEF\xE0 \xEA\xEB\xFE\xF7=\"\xE7\xED\xE0\xF7\xE5\xED\xE8\xE5\">"
           "\xD2\xE5\xEA\xF1\xF2 \xB9" "5</\xE3\xF0\xF3\xEF\xEF\xE0>\n"
           "</device>\n";
}

const char kSettingsUtf8[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
    "<device name=\"Пульт\">\n"
    "    <группа ключ=\"значение\">Текст №5</группа>\n"
    "</device>\n";

class TiXmlDocumentRecodeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.Ok()); }
    std::string Write(const char* name, const std::string& bytes)
    {
        std::string path = dir_.Path(name);
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }
    TempDir dir_;
};

// What a loaded document holds, independent of how it was printed.
struct Seen {
    std::string rootName, group, key, value, text;
    const TiXmlDeclaration* decl = nullptr;
};

Seen Inspect(const TiXmlDocument& doc)
{
    Seen s;
    const TiXmlElement* root = doc.RootElement();
    if (!root)
        return s;
    s.rootName = root->Attribute("name") ? root->Attribute("name") : "";
    const TiXmlElement* group = root->FirstChildElement();
    if (group) {
        s.group = group->Value();
        const TiXmlAttribute* a = group->FirstAttribute();
        if (a) {
            s.key = a->Name();
            s.value = a->Value();
        }
        s.text = group->GetText() ? group->GetText() : "";
    }
    for (const TiXmlNode* n = doc.FirstChild(); n && !s.decl; n = n->NextSibling())
        s.decl = n->ToDeclaration();
    return s;
}

TEST_F(TiXmlDocumentRecodeTest, LoadsDeclaredSingleBytePagesIntoUtf8)
{
    for (const char* enc : {"WINDOWS-1251", "windows-1251", "cp1251"}) {
        TiXmlDocumentRecode doc(kDocEncodingUTF8);
        ASSERT_TRUE(doc.LoadFile(Write("w.xml", Settings1251(enc)).c_str(), false)) << enc;
        Seen s = Inspect(doc);
        EXPECT_EQ(s.rootName, "Пульт") << enc;
        EXPECT_EQ(s.group, "группа") << enc;
        EXPECT_EQ(s.key, "ключ") << enc;
        EXPECT_EQ(s.value, "значение") << enc;
        EXPECT_EQ(s.text, "Текст №5") << enc;
        ASSERT_NE(s.decl, nullptr);
        EXPECT_STREQ(s.decl->Encoding(), "UTF-8");
        EXPECT_STREQ(s.decl->Version(), "");
    }
}

TEST_F(TiXmlDocumentRecodeTest, UnknownMissingOrKeptEncodingLoadsUnchanged)
{
    struct Case {
        const char* encoding;
        bool keep;
        const char* declEncoding;
    };
    const Case cases[] = {{"ISO-8859-5", false, "ISO-8859-5"}, {nullptr, false, nullptr}, {"WINDOWS-1251", true, "WINDOWS-1251"}};
    for (const Case& c : cases) {
        TiXmlDocumentRecode doc(kDocEncodingUTF8);
        ASSERT_TRUE(doc.LoadFile(Write("u.xml", Settings1251(c.encoding)).c_str(), c.keep));
        Seen s = Inspect(doc);
        EXPECT_EQ(s.rootName, "\xCF\xF3\xEB\xFC\xF2") << (c.encoding ? c.encoding : "none");
        EXPECT_EQ(s.text, "\xD2\xE5\xEA\xF1\xF2 \xB9" "5");
        if (c.declEncoding) {
            ASSERT_NE(s.decl, nullptr);
            EXPECT_STREQ(s.decl->Encoding(), c.declEncoding);
        } else {
            EXPECT_EQ(s.decl, nullptr);
        }
    }
    // A memory encoding of 0 never converts.
    TiXmlDocumentRecode raw(kDocEncodingNone);
    ASSERT_TRUE(raw.LoadFile(Write("r.xml", Settings1251("WINDOWS-1251")).c_str(), false));
    EXPECT_EQ(Inspect(raw).group, "\xE3\xF0\xF3\xEF\xEF\xE0");
}

TEST_F(TiXmlDocumentRecodeTest, Utf8FileIntoUtf8DocumentIsNotTouched)
{
    TiXmlDocumentRecode doc(kDocEncodingUTF8);
    ASSERT_TRUE(doc.LoadFile(Write("u8.xml", kSettingsUtf8).c_str(), false));
    Seen s = Inspect(doc);
    EXPECT_EQ(s.text, "Текст №5");
    ASSERT_NE(s.decl, nullptr);
    EXPECT_STREQ(s.decl->Version(), "1.0");
    EXPECT_STREQ(s.decl->Encoding(), "UTF-8");
}

TEST_F(TiXmlDocumentRecodeTest, LoadsIntoOtherMemoryEncodings)
{
    TiXmlDocumentRecode doc(kDocEncodingCP866);
    ASSERT_TRUE(doc.LoadFile(Write("u8.xml", kSettingsUtf8).c_str(), false));
    Seen s = Inspect(doc);
    EXPECT_EQ(Hex(s.text), Hex("\x92\xA5\xAA\xE1\xE2 \xFC" "5"));
    EXPECT_STREQ(s.decl->Encoding(), "CP866");
}

TEST_F(TiXmlDocumentRecodeTest, SaveWindows1251WritesItsBytesAndTabs)
{
    TiXmlDocumentRecode doc(kDocEncodingUTF8);
    ASSERT_TRUE(doc.LoadFile(Write("in.xml", kSettingsUtf8).c_str(), false));
    std::string out = dir_.Path("out.xml");
    ASSERT_TRUE(doc.SaveFile(out.c_str(), kDocEncodingWindows1251));
    bool ok = false;
    std::string bytes = ReadFileBytes(out, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(bytes,
              "<?xml version=\"1.0\" encoding=\"WINDOWS-1251\" ?>\n"
              "<device name=\"\xCF\xF3\xEB\xFC\xF2\">\n"
              "\t<\xE3\xF0\xF3\xEF\xEF\xE0 \xEA\xEB\xFE\xF7=\"\xE7\xED\xE0\xF7\xE5\xED\xE8\xE5\">"
              "\xD2\xE5\xEA\xF1\xF2 \xB9" "5</\xE3\xF0\xF3\xEF\xEF\xE0>\n"
              "</device>\n");
    // The memory document is unchanged by saving and loads back to the same texts.
    TiXmlDocumentRecode back(kDocEncodingUTF8);
    ASSERT_TRUE(back.LoadFile(out.c_str(), false));
    EXPECT_EQ(Inspect(back).text, "Текст №5");
    EXPECT_EQ(Inspect(doc).text, "Текст №5");
}

TEST_F(TiXmlDocumentRecodeTest, SaveAfterRecodedLoadAndWithoutDeclaration)
{
    // The declaration left by a recoding load has no version; saving puts "1.0" back.
    TiXmlDocumentRecode doc(kDocEncodingUTF8);
    ASSERT_TRUE(doc.LoadFile(Write("w.xml", Settings1251("windows-1251")).c_str(), false));
    std::string out = dir_.Path("o.xml");
    ASSERT_TRUE(doc.SaveFile(out.c_str(), kDocEncodingXSwdCyrillic));
    std::string bytes = ReadFileBytes(out);
    EXPECT_EQ(bytes.substr(0, bytes.find('\n')), "<?xml version=\"1.0\" encoding=\"X-SWD-CYRILLIC\" ?>");
    TiXmlDocumentRecode back(kDocEncodingUTF8);
    ASSERT_TRUE(back.LoadFile(out.c_str(), false));
    EXPECT_EQ(Inspect(back).value, "значение");

    // Out-of-range file encoding: the memory page is used; no declaration: one is made.
    TiXmlDocumentRecode bare(kDocEncodingUTF8);
    bare.Parse("<a>ё</a>");
    ASSERT_TRUE(bare.SaveFile(out.c_str(), 42));
    EXPECT_EQ(ReadFileBytes(out), "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<a>ё</a>\n");
}

TEST_F(TiXmlDocumentRecodeTest, SaveWithEncodingZeroIsTheLibraryOutput)
{
    TiXmlDocumentRecode doc(kDocEncodingUTF8);
    ASSERT_TRUE(doc.LoadFile(Write("in.xml", kSettingsUtf8).c_str(), false));
    std::string ours = dir_.Path("ours.xml"), lib = dir_.Path("lib.xml");
    ASSERT_TRUE(doc.SaveFile(ours.c_str(), kDocEncodingNone));
    ASSERT_TRUE(static_cast<const TiXmlDocument&>(doc).SaveFile(lib.c_str()));
    EXPECT_EQ(ReadFileBytes(ours), ReadFileBytes(lib));
    EXPECT_NE(ReadFileBytes(ours).find("    <группа"), std::string::npos) << "library indents by spaces";
}

TEST_F(TiXmlDocumentRecodeTest, FileNameConstructorAndStoredName)
{
    std::string path = Write("named.xml", Settings1251("WINDOWS-1251"));
    TiXmlDocumentRecode doc(path.c_str(), kDocEncodingUTF8);
    ASSERT_TRUE(doc.LoadFile(false));
    EXPECT_EQ(Inspect(doc).group, "группа");
    ASSERT_TRUE(doc.SaveFile(kDocEncodingKOI8R));
    TiXmlDocumentRecode back(kDocEncodingUTF8);
    ASSERT_TRUE(back.LoadFile(path.c_str(), false));
    EXPECT_STREQ(Inspect(back).decl->Encoding(), "UTF-8");
    EXPECT_EQ(Inspect(back).group, "группа");

    TiXmlDocumentRecode copy(back);
    EXPECT_EQ(copy.MemoryEncoding(), kDocEncodingUTF8);
    TiXmlDocumentRecode assigned(kDocEncodingNone);
    assigned = copy;
    EXPECT_EQ(assigned.MemoryEncoding(), kDocEncodingUTF8);
    EXPECT_EQ(Inspect(assigned).text, "Текст №5");
}

TEST_F(TiXmlDocumentRecodeTest, FailuresKeepTheLibraryError)
{
    TiXmlDocumentRecode doc(kDocEncodingUTF8);
    EXPECT_FALSE(doc.LoadFile(dir_.Path("missing.xml").c_str(), false));
    EXPECT_TRUE(doc.Error());
    EXPECT_EQ(doc.ErrorId(), TiXmlBase::TIXML_ERROR_OPENING_FILE);
    TiXmlDocumentRecode folder(kDocEncodingUTF8);
    EXPECT_FALSE(folder.LoadFile(dir_.Path(".").c_str(), false));
    EXPECT_EQ(folder.ErrorId(), TiXmlBase::TIXML_ERROR_OPENING_FILE);

    const char* malformed[] = {"<a><b></a>", "<a x=\"1></a>", "<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?><a>\xC0", ""};
    for (const char* m : malformed) {
        TiXmlDocumentRecode bad(kDocEncodingUTF8);
        EXPECT_FALSE(bad.LoadFile(Write("bad.xml", m).c_str(), false)) << m;
        EXPECT_TRUE(bad.Error()) << m;
        EXPECT_STRNE(bad.ErrorDesc(), "") << m;
    }

    EXPECT_FALSE(doc.SaveFile(dir_.Path("no/dir.xml").c_str(), kDocEncodingWindows1251));
    EXPECT_FALSE(doc.SaveFile(static_cast<FILE*>(nullptr), kDocEncodingUTF8));
    TiXmlDocumentRecode some(kDocEncodingUTF8);
    some.Parse("<a>текст</a>");
    EXPECT_FALSE(some.SaveFile("/dev/full", kDocEncodingWindows1251));
    EXPECT_FALSE(some.SaveFile("/dev/full", kDocEncodingUTF8));
}

TEST_F(TiXmlDocumentRecodeTest, TextNotUtf8WhereTheLibraryWouldReadUtf8IsRefused)
{
    const std::string decl = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"cut 2-byte", decl + "<a>\xD0"},
        {"cut 3-byte", decl + "<a>\xE2\x84"},
        {"cut 4-byte", "<?xml version='1.0'?><a>\xF0\x9F\x98"},
        {"bad middle byte", decl + "<a>\xFF</a>"},
        {"byte order mark", "\xEF\xBB\xBF<a>\xC0"},
        {"empty encoding", "<?xml version=\"1.0\" encoding=\"\"?><a>\xD0"},
        {"NUL inside", decl + std::string("<a>\0</a>", 8)},
        {"declaration after a comment", "<!-- <?xml encoding=\"cp1251\"?> --><?xml version=\"1.0\"?><a\xE0"},
    };
    for (const Case& c : cases) {
        TiXmlDocumentRecode doc(kDocEncodingUTF8);
        EXPECT_FALSE(doc.LoadFile(Write("cut.xml", c.bytes).c_str(), false)) << c.name;
        EXPECT_EQ(doc.ErrorId(), TiXmlBase::TIXML_ERROR_PARSING_DECLARATION) << c.name;
    }
}

TEST_F(TiXmlDocumentRecodeTest, PipeLoadsLikeAFile)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], kSettingsUtf8, sizeof kSettingsUtf8 - 1), (ssize_t)(sizeof kSettingsUtf8 - 1));
    close(fds[1]);
    FILE* in = fdopen(fds[0], "rb");
    TiXmlDocumentRecode doc(kDocEncodingUTF8);
    EXPECT_TRUE(doc.LoadFile(in, false));
    fclose(in);
    EXPECT_EQ(Inspect(doc).text, "Текст №5");
}

TEST(TiXmlDocumentRecodeNames, EncodingNamesAndPages)
{
    const struct {
        int32_t enc;
        const char* name;
        int32_t page;
    } rows[] = {{0, "", 0},
                {1, "CP866", kCodepageCP866},
                {2, "KOI8-R", kCodepageKOI8R},
                {3, "WINDOWS-1251", kCodepageWindows1251},
                {4, "UTF-8", kCodepageUTF8},
                {5, "X-SWD-CYRILLIC", kCodepageXSwdCyrillic},
                {6, "", 0},
                {-1, "", 0}};
    for (const auto& r : rows) {
        EXPECT_STREQ(TiXmlDocumentRecode::EncodingName(r.enc), r.name) << r.enc;
        EXPECT_EQ(TiXmlDocumentRecode::EncodingCodepage(r.enc), r.page) << r.enc;
    }
}

}  // namespace
