#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "base/FileUtil.h"
#include "base/RuntimeDirs.h"
#include "TempDir.h"

TEST(FileUtil, PathsKindsAndTrees)
{
    for (const char* start : {"", "/opt/tool", "/opt/tool/"}) {
        SString path(start);
        PathJoin(path, "res", "UI", "Main.glade", nullptr);
        EXPECT_EQ(std::string(path.Text()), std::string(*start ? "/opt/tool" : "") + "/res/UI/Main.glade") << start;
    }

    TempDir tmp;
    std::string file = tmp / "file.bin";
    ASSERT_TRUE(WriteText(file, "data") && FileMkDir((tmp / "x").c_str()) == 0);
    std::string root = FullPathGet(tmp.Path().c_str()).Text();
    EXPECT_EQ(FullPathGet((tmp.Path() + "/./x/..").c_str()).Text(), root);
    EXPECT_EQ(FullPathGet(file.c_str()).Text(), root + "file.bin");
    EXPECT_EQ(FullPathGet((tmp / "new.xml").c_str()).Text(), root + "new.xml");
    EXPECT_TRUE(FullPathGet((tmp / "no/such.xml").c_str()).IsEmpty() && FullPathGet("").IsEmpty());

    const std::string below = file + "/below", absent = tmp / "absent";
    EXPECT_TRUE(IsDirectory(tmp.Path().c_str()) && IsRegularFile(file.c_str()) && FileNotExists(absent.c_str()));
    // A path below a file is neither, and not simply missing either.
    for (const std::string& path : {below, std::string()})
        EXPECT_FALSE(IsDirectory(path.c_str()) || IsRegularFile(path.c_str()) || FileNotExists(path.c_str())) << path;
    EXPECT_FALSE(IsDirectory(file.c_str()) || IsRegularFile(tmp.Path().c_str()) || FileNotExists(file.c_str()));

    std::string from = tmp / "from", outside = tmp / "outside", to = tmp / "copy/of/tree", top = from + "/top.txt";
    ASSERT_EQ(MakeDirs((from + "/sub/deeper").c_str()), 0);
    ASSERT_EQ(MakeDirs((from + "/empty/").c_str()), 0);
    ASSERT_TRUE(WriteText(top, "top"));
    ASSERT_TRUE(WriteText(from + "/sub/deeper/leaf.bin", std::string("\0\1\2", 3)));
    ASSERT_EQ(FileMkDir(outside.c_str()), 0);
    ASSERT_TRUE(WriteText(outside + "/keep.txt", "keep"));

    ASSERT_EQ(CopyRecurs(from.c_str(), to.c_str()), 0);
    EXPECT_EQ(ReadText(to + "/top.txt"), "top");
    EXPECT_EQ(ReadText(to + "/sub/deeper/leaf.bin"), std::string("\0\1\2", 3));
    EXPECT_TRUE(IsDirectory((to + "/empty").c_str()));
    // A link out of the tree: removal takes the link, not what it points at.
    ASSERT_EQ(symlink(outside.c_str(), (to + "/link").c_str()), 0);
    EXPECT_TRUE(RemoveRecurs(to.c_str()) == 0 && FileNotExists(to.c_str()));
    EXPECT_EQ(ReadText(outside + "/keep.txt"), "keep");

    const std::string under = top + "/x";
    EXPECT_EQ(MakeDirs((under + "/y").c_str()), -1);
    const std::string copies[][2] = {{absent, tmp / "t"}, {top, under}, {top, tmp.Path()}, {top, top}};
    for (const auto& c : copies)
        EXPECT_EQ(FileCopy(c[0].c_str(), c[1].c_str()), -1) << c[0] << " -> " << c[1];
    EXPECT_EQ(ReadText(top), "top");
    EXPECT_EQ(CopyRecurs(tmp.Path().c_str(), under.c_str()), -1);
    EXPECT_EQ(RemoveRecurs(absent.c_str()), -1);
    EXPECT_EQ(DirOpen(top.c_str()), nullptr);
    // A copy replaces a longer existing target completely.
    ASSERT_TRUE(WriteText(tmp / "target", "a much longer old content"));
    EXPECT_EQ(FileCopy(top.c_str(), (tmp / "target").c_str()), 0);
    EXPECT_EQ(ReadText(tmp / "target"), "top");

    std::string data(kFileCopyChunk * 2 + 1000, '\0'), in = tmp / "in.bin", out = tmp / "out.bin";
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (char)(i * 131 + i / 7);
    ASSERT_TRUE(WriteText(in, data));
    FILE* src = fopen(in.c_str(), "rb");
    FILE* dst = fopen(out.c_str(), "wb");
    ASSERT_TRUE(src && dst);
    ASSERT_EQ(fseek(src, 100, SEEK_SET), 0);
    fputs("head:", dst);
    EXPECT_EQ(FileCopyStream(src, dst), 0);
    fclose(dst);
    EXPECT_EQ(ReadText(out), "head:" + data.substr(100));
    rewind(src);
    EXPECT_EQ(FileCopyStream(src, src), -1) << "a stream opened for reading cannot take the copy";
    fclose(src);
}

// res/ beside the program wins, ../share/pelta means installed, neither falls back to res/.
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
