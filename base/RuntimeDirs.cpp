#include "base/RuntimeDirs.h"

#include <glib.h>

#include "base/FileUtil.h"

namespace {
const char kBuildTreeFolder[] = "res";
// Relative to the program's folder, so that the installed tree works under any prefix.
const char kInstalledFolder[] = "../share/pelta";
const char kConfigFolder[] = "pelta";
const char kUserSettingsFile[] = "settings.xml";
const char kLocaleFolder[] = "locale";

SString Joined(const char* first, const char* part, const char* part2 = nullptr)
{
    SString path(first);
    PathJoin(path, part, part2, nullptr);
    return path;
}

SString AsFolder(SString path)
{
    PathAppendSeparator(path);
    return path;
}
}  // namespace

RuntimeDirs RuntimeDirsOf(const char* programDir)
{
    const char* dir = programDir && *programDir ? programDir : ".";
    RuntimeDirs dirs;
    SString buildTree = Joined(dir, kBuildTreeFolder);
    SString installed = Joined(dir, kInstalledFolder);
    // A build tree wins: a program built inside an installed prefix still uses its own res/.
    if (!IsDirectory(buildTree.Text()) && IsDirectory(installed.Text())) {
        dirs.installed = true;
        // The prefix without "bin/..": messages name the real place, not a detour.
        SString full = FullPathGet(installed.Text());
        dirs.data = AsFolder(full.IsEmpty() ? installed : full);
        dirs.userSettings = Joined(g_get_user_config_dir(), kConfigFolder, kUserSettingsFile);
    } else {
        dirs.data = AsFolder(buildTree);
        dirs.userSettings = Joined(buildTree.Text(), kUserSettingsFile);
    }
    dirs.locale = Joined(dirs.data.Text(), kLocaleFolder);
    return dirs;
}

RuntimeDirs RuntimeDirsOfProgram()
{
    return RuntimeDirsOf(ProgramDirectory().Text());
}

SString RuntimeFile(const RuntimeDirs& dirs, const char* part, const char* part2)
{
    return Joined(dirs.data.Text(), part, part2);
}

int UserSettingsFolderMake(const char* settingsFile)
{
    gchar* folder = g_path_get_dirname(settingsFile ? settingsFile : "");
    int result = IsDirectory(folder) ? 0 : MakeDirs(folder);
    g_free(folder);
    return result;
}
