// The window tests run on the GUI thread with the GDK lock held, as the program does.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "app/StartUp.h"
#include "base/FileUtil.h"

int main(int argc, char** argv)
{
    GuiThreadsEnter();
    ErrnoTextInit();
    gtk_init(&argc, &argv);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    ErrnoTextDone();
    gdk_threads_leave();
    return rc;
}
