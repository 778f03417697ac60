// GUIApp: reading and writing device settings. Their handlers are connected already; until
// those features are part of the build, each tells the user so in the log.
#include "app/GUIApp.h"

namespace {
const char kNotInBuild[] = "'^0' is not available in this build";
}  // namespace

#define PELTA_NOT_IN_BUILD(member, featureName)                                         \
    void GUIApp::member()                                                              \
    {                                                                                  \
        LogAdd(TrArgs(kNotInBuild, Tr(featureName).Text()), LogModeLine, false, LogStyleError); \
    }

PELTA_NOT_IN_BUILD(DevSettingsReadGroupFromDev, "Read settings group from device")
PELTA_NOT_IN_BUILD(DevSettingsReadAllFromDev, "Read all settings from device")
PELTA_NOT_IN_BUILD(DevSettingsWriteGroupToDev, "Write settings group to device")
PELTA_NOT_IN_BUILD(DevSettingsWriteAllToDev, "Write all settings to device")
