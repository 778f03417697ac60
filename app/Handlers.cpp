// The handlers Main.glade names; each forwards to the application object. Exported from the
// executable so that the builder finds them by name.
#include <gtk/gtk.h>

#include "app/GUIApp.h"
#include "app/StartUp.h"

#define PELTA_HANDLER(name, call)                                       \
    extern "C" G_MODULE_EXPORT void name(GtkWidget*, gpointer)          \
    {                                                                   \
        if (GUIApp* app = GUIApp::instance)                             \
            app->call;                                                  \
    }

PELTA_HANDLER(DevRefresh_cb, DevRefresh())
PELTA_HANDLER(DevReboot_cb, DevReboot())
PELTA_HANDLER(DevTestGateway_cb, DevTestGateway())
PELTA_HANDLER(DevWriteFW_cb, DevWriteBegin(true))
PELTA_HANDLER(DevWriteB_cb, DevWriteBegin(false))
PELTA_HANDLER(TalkStop_cb, TalkStop())
PELTA_HANDLER(DevSettingsReadGroupFromDev_cb, DevSettingsReadGroupFromDev())
PELTA_HANDLER(DevSettingsReadAllFromDev_cb, DevSettingsReadAllFromDev())
PELTA_HANDLER(DevSettingsWriteGroupToDev_cb, DevSettingsWriteGroupToDev())
PELTA_HANDLER(DevSettingsWriteAllToDev_cb, DevSettingsWriteAllToDev())
PELTA_HANDLER(DevSettingsReadAllFromFile_cb, DevSettingsReadAllFromFile())
PELTA_HANDLER(DevSettingsWriteGroupToFile_cb, DevSettingsWriteGroupToFile())
PELTA_HANDLER(DevSettingsWriteAllToFile_cb, DevSettingsWriteAllToFile())
PELTA_HANDLER(DevSettingsReadAllDefault_cb, DevSettingsReadAllDefault())
PELTA_HANDLER(DevSettingsWritePasswordToDev_cb, DevSettingsWritePasswordToDev())
PELTA_HANDLER(DevFindRefresh_cb, DevFindRefresh())
PELTA_HANDLER(About_cb, About())
PELTA_HANDLER(Help_cb, Help())

extern "C" G_MODULE_EXPORT void TalkLog_cb(GtkWidget* item, gpointer)
{
    if (GUIApp* app = GUIApp::instance)
        app->TalkLogSwitch(item && GTK_IS_CHECK_MENU_ITEM(item) &&
                           gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)));
}

extern "C" G_MODULE_EXPORT void Quit_cb(GtkWidget*, gpointer)
{
    AppQuitRequest();
}

// A button inside a dialog closes it the way its own response would.
extern "C" G_MODULE_EXPORT void ActivateResponse_cb(GtkWidget* widget, gpointer)
{
    GtkWidget* top = widget ? gtk_widget_get_toplevel(widget) : nullptr;
    if (top && GTK_IS_DIALOG(top))
        gtk_dialog_response(GTK_DIALOG(top), 1);
}
