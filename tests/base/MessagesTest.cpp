#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <clocale>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/FileUtil.h"
#include "base/Messages.h"
#include "TempDir.h"

TEST(Messages, Substitution)
{
    struct Case {
        const char *msgid, *a0, *a1, *a2, *a3, *expected;
    } const cases[] = {
        {"^0^0 and ^0", "long text", nullptr, nullptr, nullptr, "long textlong text and long text"},
        {"^3/^2/^1/^0", "a", "b", "c", "d", "d/c/b/a"},
        {"^0", "^0", nullptr, nullptr, nullptr, "^0"},
        {"^1 ^0", "^1", "b", nullptr, nullptr, "b b"},
        {"Value ^2 ^1", nullptr, nullptr, "", nullptr, "Value  ^1"},
        {"^5 ^x ^", "a", "b", "c", "d", "^5 ^x ^"},
        {"^^0", "x", nullptr, nullptr, nullptr, "^x"},
        {"^^", "x", nullptr, nullptr, nullptr, ""},
        {"^^ ", "x", nullptr, nullptr, nullptr, "^^ "},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(TrArgs(c.msgid, c.a0, c.a1, c.a2, c.a3).Text(), c.expected) << c.msgid;
}

TEST(Messages, TranslatesThroughCatalogue)
{
    TempDir dir;
    std::string folder = dir / "ru/LC_MESSAGES";
    ASSERT_EQ(MakeDirs(folder.c_str()), 0);
    ASSERT_EQ(FileCopy(BASE_TEST_MO, (folder + "/messages.mo").c_str()), 0);
    // LANGUAGE is honoured in any locale but C; C.UTF-8 exists on every machine.
    setenv("LANGUAGE", "ru", 1);
    ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
    Messages::BindCatalogue(dir.Path().c_str());

    EXPECT_STREQ(Tr("Catalogue probe").Text(), "Проба каталога");
    EXPECT_STREQ(Tr("Silenced message").Text(), "");
    EXPECT_STREQ(Tr("Not in the catalogue").Text(), "Not in the catalogue");
    EXPECT_STREQ(Tr("").Text(), "");  // gettext("") would give the catalogue header
    Messages::SetTitle("Catalogue probe");
    std::vector<std::string> lines;
    auto capture = [](const gchar*, GLogLevelFlags, const gchar* m, gpointer to) {
        static_cast<std::vector<std::string>*>(to)->push_back(m);
    };
    guint handler = g_log_set_handler(nullptr, G_LOG_LEVEL_CRITICAL, capture, &lines);
    DiagLog("Where", "what");
    DiagLog("", "no place");
    DiagLog(nullptr, nullptr);
    DiagNoMem("DS_Init");
    g_log_remove_handler(nullptr, handler);
    EXPECT_EQ(lines, (std::vector<std::string>{"Проба каталога: Where: what", "Проба каталога: no place",
                                               "Проба каталога: ", "Проба каталога: DS_Init: ASSERT no mem"}));
    Messages::SetTitle(nullptr);
    unsetenv("LANGUAGE");
    setlocale(LC_ALL, "C");
}

TEST(Messages, ConcurrentTranslationAndErrorTexts)
{
    const std::string message = "Wrong function code '0x83'", error = strerror(ENOENT);
    char buffer[64] = "untouched";
    EXPECT_TRUE(ErrnoText(ENOENT, buffer, sizeof buffer)[0] == '\0' && std::string(buffer) == "untouched")
        << "no error text without the lock";
    Messages::Init();
    Messages::Init();
    ErrnoTextInit();
    EXPECT_TRUE(ErrnoText(ENOENT, buffer, 6) == buffer && error.substr(0, 5) == buffer) << buffer;
    EXPECT_STREQ(ErrnoText(ENOENT, nullptr, 10), "");
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            char own[128];
            for (int i = 0; i < 2000; ++i)
                mismatches += (TrArgs("Wrong function code '^0'", "0x83").Text() != message) +
                              (error != ErrnoText(ENOENT, own, sizeof own));
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(mismatches.load(), 0);
    ErrnoTextDone();
    Messages::Done();
}
