// The About dialog built in code: a read-only text with the program's name, description,
// version, build time, maker and contributors.
#pragma once
#include "ui/Window.h"

namespace Quill {

struct AboutContent {
    const char* title = nullptr;
    const char* labelVersion = nullptr;
    const char* labelBuild = nullptr;
    const char* labelContributors = nullptr;
    const char* programTitle = nullptr;
    const char* description = nullptr;
    const char* version = nullptr;
    const char* build = nullptr;
    const char* maker = nullptr;
    // Null-terminated; may be null or empty.
    const char* const* contributors = nullptr;
    // Set: that scroll bar is never shown; clear: shown when needed.
    bool noHorizontalScroll = true;
    bool noVerticalScroll = true;
};

// Builds the dialog over the parent's top level and runs it modally; destroys it afterwards.
void AboutDialogRun(const Window& parent, const AboutContent& content);

// The text buffer of an About dialog as built (for callers that inspect it while it runs).
GtkTextBuffer* AboutDialogBuffer(GtkWidget* dialog);

}  // namespace Quill
