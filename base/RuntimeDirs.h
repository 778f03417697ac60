// Where a program finds its read-only run-time files and where the window keeps the user's
// settings. Two layouts, told apart by what lies beside the program:
//   build tree  <dir>/pelta-x, <dir>/res/...            user settings in <dir>/res/settings.xml
//   installed   <prefix>/bin/pelta-x, <prefix>/share/pelta/...
//               user settings in <user config dir>/pelta/settings.xml
// Paths are in the file-name encoding.
#pragma once
#include "base/SString.h"

struct RuntimeDirs {
    // The run-time folder, with a trailing separator: UI/Main.glade, Pelta.xml, locale/, samples/.
    SString data;
    // The catalogue folder to bind the text domain to.
    SString locale;
    // The user settings file; its folder may not exist yet (UserSettingsFolderMake).
    SString userSettings;
    bool installed = false;
};

// For a program that lies in programDir (with or without a trailing separator). A folder with
// neither layout gets the build tree's, so that what is missing is named there.
RuntimeDirs RuntimeDirsOf(const char* programDir);
// For the running program.
RuntimeDirs RuntimeDirsOfProgram();
// A file inside the run-time folder: RuntimeFile(dirs, "UI", "Main.glade").
SString RuntimeFile(const RuntimeDirs& dirs, const char* part, const char* part2 = nullptr);
// Creates the folder of the user settings file (file-name encoding) when missing; 0 on success.
int UserSettingsFolderMake(const char* settingsFile);
