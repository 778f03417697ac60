#include "recoding/TiXmlDocumentRecode.h"
#include "tests/base/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

const char kBody[] = "<device name=\"Пульт\">\n    <группа ключ=\"значение\">Текст №5</группа>\n</device>\n";
const char kSeen[] = "группа ключ=значение Текст №5";

std::string Iconv(const std::string& utf8, const char* to)
{
    gsize n = 0;
    gchar* out = g_convert(utf8.data(), (gssize)utf8.size(), to, "UTF-8", nullptr, &n, nullptr);
    std::string result = out ? std::string(out, n) : "<iconv failed>";
    g_free(out);
    return result;
}

std::string Declared(const char* encoding)
{
    return std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\" ?>\n";
}

std::string Seen(const TiXmlDocument& doc)
{
    const TiXmlElement* group = doc.RootElement() ? doc.RootElement()->FirstChildElement() : nullptr;
    if (!group || !group->FirstAttribute() || !group->GetText())
        return "<nothing>";
    return std::string(group->Value()) + " " + group->FirstAttribute()->Name() + "=" +
           group->FirstAttribute()->Value() + " " + group->GetText();
}

TEST(TiXmlDocumentRecode, LoadsFromAndSavesToTheDeclaredEncoding)
{
    const std::string in1251 = Iconv(kBody, "WINDOWS-1251");
    struct Case {
        std::string file;
        int32_t memory;
        bool keep;
        const char* seenIn;        // the encoding of what the document holds
        const char* declaration;   // encoding and version it holds afterwards; null: none
    } const cases[] = {
        {Declared("WINDOWS-1251") + in1251, kDocEncodingUTF8, false, "UTF-8", "UTF-8 "},
        {Declared("ISO-8859-5") + in1251, kDocEncodingUTF8, false, "WINDOWS-1251", "ISO-8859-5 1.0"},
        {in1251, kDocEncodingUTF8, false, "WINDOWS-1251", nullptr},
        {Declared("WINDOWS-1251") + in1251, kDocEncodingUTF8, true, "WINDOWS-1251", "WINDOWS-1251 1.0"},
        {Declared("WINDOWS-1251") + in1251, kDocEncodingNone, false, "WINDOWS-1251", "WINDOWS-1251 1.0"},
        {Declared("UTF-8") + kBody, kDocEncodingUTF8, false, "UTF-8", "UTF-8 1.0"},
        {Declared("UTF-8") + kBody, kDocEncodingCP866, false, "CP866", "CP866 "},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.substr(0, c.file.find('>') + 1) + " kept " + std::to_string(c.keep));
        ASSERT_TRUE(WriteText(dir / "in.xml", c.file));
        TiXmlDocumentRecode doc(c.memory);
        ASSERT_TRUE(doc.LoadFile((dir / "in.xml").c_str(), c.keep));
        EXPECT_EQ(Seen(doc), Iconv(kSeen, c.seenIn));
        const TiXmlDeclaration* d = doc.FirstChild() ? doc.FirstChild()->ToDeclaration() : nullptr;
        EXPECT_EQ(d ? std::string(d->Encoding()) + " " + d->Version() : "none", c.declaration ? c.declaration : "none");
    }
    // A pipe cannot be read twice: it loads like the file through a scratch copy.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], cases[0].file.data(), cases[0].file.size()), (ssize_t)cases[0].file.size());
    close(fds[1]);
    FILE* piped = fdopen(fds[0], "rb");
    TiXmlDocumentRecode doc(kDocEncodingUTF8);
    EXPECT_TRUE(doc.LoadFile(piped, false));
    fclose(piped);
    EXPECT_EQ(Seen(doc), kSeen);

    // Saved into the file's encoding by its own printer (tabs); the memory document stays.
    const std::string in = dir / "in.xml", out = dir / "out.xml";
    ASSERT_TRUE(doc.SaveFile(out.c_str(), kDocEncodingWindows1251));
    std::string tabbed = kBody;
    tabbed.replace(tabbed.find("    "), 4, "\t");
    EXPECT_EQ(ReadText(out), Declared("WINDOWS-1251") + Iconv(tabbed, "WINDOWS-1251"));
    EXPECT_EQ(Seen(doc), kSeen);
    // Encoding 0 is the library's own output.
    ASSERT_TRUE(doc.SaveFile(out.c_str(), kDocEncodingNone));
    ASSERT_TRUE(static_cast<const TiXmlDocument&>(doc).SaveFile(in.c_str()));
    EXPECT_EQ(ReadText(out), ReadText(in));

    // The declaration a recoding load leaves has no version; saving puts "1.0" back.
    TiXmlDocumentRecode named(out.c_str(), kDocEncodingUTF8);
    ASSERT_TRUE(WriteText(out, Declared("windows-1251") + Iconv(kBody, "WINDOWS-1251")));
    ASSERT_TRUE(named.LoadFile(false));
    ASSERT_TRUE(named.SaveFile(kDocEncodingXSwdCyrillic));
    std::string bytes = ReadText(out);
    EXPECT_EQ(bytes.substr(0, bytes.find('\n') + 1), Declared("X-SWD-CYRILLIC"));
    TiXmlDocumentRecode copy(named), assigned(kDocEncodingNone);
    ASSERT_TRUE((assigned = copy).LoadFile(out.c_str(), false));
    EXPECT_EQ(Seen(assigned), kSeen);

    // Out-of-range file encoding: the memory page is used; no declaration: one is made.
    TiXmlDocumentRecode bare(kDocEncodingUTF8);
    bare.Parse("<a>ё</a>");
    ASSERT_TRUE(bare.SaveFile(out.c_str(), 42));
    EXPECT_EQ(ReadText(out), Declared("UTF-8") + "<a>ё</a>\n");
}

// Text not UTF-8 where the library would read UTF-8 is refused: it would read past a cut sequence.
TEST(TiXmlDocumentRecode, FailuresKeepTheLibraryError)
{
    TempDir dir;
    TiXmlDocumentRecode doc(kDocEncodingUTF8);
    for (const std::string& path : {dir / "missing.xml", dir.Path()})  // a folder opens but cannot be read
        EXPECT_TRUE(!doc.LoadFile(path.c_str(), false) && doc.ErrorId() == TiXmlBase::TIXML_ERROR_OPENING_FILE) << path;
    const std::string decl = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    const struct {
        const char* name;
        std::string text;
        bool refused;
    } cases[] = {
        {"cut 2-byte", decl + "<a>\xD0", true}, {"cut 3-byte", decl + "<a>\xE2\x84", true},
        {"cut 4-byte", "<?xml version='1.0'?><a>\xF0\x9F\x98", true},
        {"bad middle byte", decl + "<a>\xFF</a>", true}, {"byte order mark", "\xEF\xBB\xBF<a>\xC0", true},
        {"empty encoding", "<?xml version=\"1.0\" encoding=\"\"?><a>\xD0", true},
        {"NUL inside", decl + std::string("<a>\0</a>", 8), true},
        {"declaration after a comment", "<!-- <?xml encoding=\"cp1251\"?> --><?xml version=\"1.0\"?><a\xE0", true},
        {"cut 1251 text", "<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?><a>\xC0", false},
        {"crossed tags", "<a><b></a>", false}, {"open value", "<a x=\"1></a>", false}, {"empty", "", false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteText(dir / "bad.xml", c.text));
        TiXmlDocumentRecode bad(kDocEncodingUTF8);
        EXPECT_FALSE(bad.LoadFile((dir / "bad.xml").c_str(), false)) << c.name;
        const int refusal = TiXmlBase::TIXML_ERROR_PARSING_DECLARATION;
        EXPECT_TRUE(c.refused ? bad.ErrorId() == refusal : bad.ErrorId() != 0 && *bad.ErrorDesc()) << c.name;
    }
    EXPECT_FALSE(doc.SaveFile((dir / "no/dir.xml").c_str(), kDocEncodingWindows1251));
    EXPECT_FALSE(doc.SaveFile(static_cast<FILE*>(nullptr), kDocEncodingUTF8));
    doc.Parse("<a>текст</a>");
    EXPECT_FALSE(doc.SaveFile("/dev/full", kDocEncodingWindows1251));
    EXPECT_FALSE(doc.SaveFile("/dev/full", kDocEncodingUTF8));
}

}  // namespace
