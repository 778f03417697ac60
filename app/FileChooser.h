// The one file chooser of the program: firmware and loader images, settings files. OK and
// Cancel buttons, one filter, a start path, and a name that must not be blank.
#pragma once
#include <gtk/gtk.h>

#include "base/SString.h"

struct FileChooserRequest {
    SString title;
    bool save = false;                   // save mode, with overwrite confirmation
    SString filterName;                  // shown name of the one filter
    const char* pattern = "*";           // its pattern
    SString startPath;                   // UTF-8; empty: the current folder
    const char* extension = nullptr;     // save mode: appended (with a point) to a name without one
};

// Runs the chooser modally over parent until the user picks a usable name or gives up.
// True with the absolute UTF-8 path on OK; false on Cancel or close.
bool FileChooserRun(GtkWindow* parent, const FileChooserRequest& request, SString& path);
