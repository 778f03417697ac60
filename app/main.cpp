// pelta-flasher: the window program that writes firmware into Pelta units and configures them.
#include <gtk/gtk.h>

#include <ctime>

#include "app/StartUp.h"
#include "base/FileUtil.h"

int main(int argc, char** argv)
{
    SString programDir = ProgramDirectory();
    if (programDir.IsEmpty()) {
        gchar* dir = g_path_get_dirname(argv[0]);
        programDir.Assign(dir);
        g_free(dir);
    }

    GuiThreadsEnter();
    ErrnoTextInit();
    gtk_init(&argc, &argv);
    g_random_set_seed((guint32)time(nullptr));

    int rc = AppStart(argc, argv, programDir.Text());
    if (rc == 0)
        gtk_main();
    AppFinish();
    ErrnoTextDone();
    gdk_threads_leave();
    return rc;
}
