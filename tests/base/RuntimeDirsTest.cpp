#include <gtest/gtest.h>

#include <string>

#include "base/FileUtil.h"
#include "base/RuntimeDirs.h"
#include "TempDir.h"

// Which layout a program's folder gets: res/ beside it wins, ../share/pelta means installed,
// neither falls back to res/ so that what is missing is named there.
TEST(RuntimeDirs, LayoutFromTheProgramsFolder)
{
    TempDir tmp;
    for (const char* dir : {"build/res", "prefix/bin", "prefix/share/pelta", "both/bin/res", "both/share/pelta", "none"})
        ASSERT_EQ(MakeDirs((tmp / dir).c_str()), 0) << dir;
    const std::string installed = FullPathGet((tmp / "prefix/share/pelta").c_str()).Text();
    const std::string config = std::string(g_get_user_config_dir()) + "/pelta/settings.xml";
    struct Case {
        std::string dir, data, settings;
        bool installed;
    } const cases[] = {
        {tmp / "build", tmp / "build/res/", tmp / "build/res/settings.xml", false},
        {tmp / "prefix/bin/", installed, config, true},
        {tmp / "both/bin", tmp / "both/bin/res/", tmp / "both/bin/res/settings.xml", false},
        {tmp / "none", tmp / "none/res/", tmp / "none/res/settings.xml", false},
        {"", "./res/", "./res/settings.xml", false},
    };
    for (const Case& c : cases) {
        RuntimeDirs dirs = RuntimeDirsOf(c.dir.c_str());
        EXPECT_EQ(dirs.installed, c.installed) << c.dir;
        EXPECT_STREQ(dirs.data.Text(), c.data.c_str()) << c.dir;
        EXPECT_STREQ(dirs.locale.Text(), (c.data + "locale").c_str()) << c.dir;
        EXPECT_STREQ(dirs.userSettings.Text(), c.settings.c_str()) << c.dir;
        EXPECT_STREQ(RuntimeFile(dirs, "UI", "Main.glade").Text(), (c.data + "UI/Main.glade").c_str()) << c.dir;
    }
    // The window makes the user settings folder on its first quit; a file in the way fails.
    EXPECT_EQ(UserSettingsFolderMake((tmp / "config/pelta/settings.xml").c_str()), 0);
    EXPECT_TRUE(IsDirectory((tmp / "config/pelta").c_str()));
    ASSERT_TRUE(WriteText(tmp / "blocked", ""));
    EXPECT_EQ(UserSettingsFolderMake((tmp / "blocked/pelta/settings.xml").c_str()), -1);
}
