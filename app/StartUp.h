// Start-up and shut-down of the window program, callable from main and from in-process tests.
#pragma once
#include <gtk/gtk.h>

// The builder and the main window while the program runs; null before and after.
extern GtkBuilder* g_builder;
extern GtkWidget* g_form1;

// Installs a pthread-mutex GDK lock (which ThreadSanitizer can see), initialises GDK threads
// and takes the lock; the calling thread keeps it for the program's life.
void GuiThreadsEnter();

// Creates GUIApp for the program in programDir, builds the window from UI/Main.glade of its
// run-time folder (res/ beside it, or share/pelta when installed), connects the handlers and runs GUIApp::Init. 0 on success, else the
// exit code, with everything it made released again.
int AppStart(int argc, char** argv, const char* programDir);

// Closing the window or Quit: refused by the quit guard while an operation runs; otherwise
// the application object is deleted and the window destroyed (which ends the main loop).
void AppQuitRequest();

// After the main loop: destroys what is left of the interface and releases the builder.
void AppFinish();
