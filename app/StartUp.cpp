#include "app/StartUp.h"

#include <pthread.h>

#include <new>

#include "app/GUIApp.h"
#include "base/FileUtil.h"

GtkBuilder* g_builder = nullptr;
GtkWidget* g_form1 = nullptr;

namespace {
const char kTextDomain[] = "messages";
const int kExitStartFailed = 1;

pthread_mutex_t gdkLock = PTHREAD_MUTEX_INITIALIZER;
void GdkLockEnter()
{
    pthread_mutex_lock(&gdkLock);
}
void GdkLockLeave()
{
    pthread_mutex_unlock(&gdkLock);
}

void OnForm1Destroy(GtkWidget*, gpointer)
{
    g_form1 = nullptr;
    if (gtk_main_level() > 0)
        gtk_main_quit();
}

gboolean OnForm1Delete(GtkWidget*, GdkEvent*, gpointer)
{
    AppQuitRequest();
    return TRUE;  // never let GTK destroy the window by itself
}

void DeleteInstance()
{
    GUIApp* app = GUIApp::instance;
    GUIApp::instance = nullptr;
    delete app;
}

// Destroys the builder's top-level windows that are still alive, then the builder.
void ReleaseInterface()
{
    if (!g_builder)
        return;
    GSList* objects = gtk_builder_get_objects(g_builder);
    GList* alive = gtk_window_list_toplevels();
    for (GSList* o = objects; o; o = o->next)
        if (g_list_find(alive, o->data))
            gtk_widget_destroy(GTK_WIDGET(o->data));
    g_list_free(alive);
    g_slist_free(objects);
    g_form1 = nullptr;
    g_object_unref(g_builder);
    g_builder = nullptr;
}

int StartFailed()
{
    DeleteInstance();
    ReleaseInterface();
    return kExitStartFailed;
}
}  // namespace

void GuiThreadsEnter()
{
    gdk_threads_set_lock_functions(GdkLockEnter, GdkLockLeave);
    gdk_threads_init();
    gdk_threads_enter();
}

int AppStart(int argc, char** argv, const char* programDir)
{
    GUIApp* app = new (std::nothrow) GUIApp(programDir);
    if (!app)
        g_error("GUIApp::instance");
    GUIApp::instance = app;

    g_builder = gtk_builder_new();
    if (!g_builder)
        g_error("builder");
    gtk_builder_set_translation_domain(g_builder, kTextDomain);
    SString ui = app->DataDir();
    PathJoin(ui, "UI", "Main.glade", nullptr);
    GError* error = nullptr;
    if (!gtk_builder_add_from_file(g_builder, PathFromUtf8(ui.Text()).Text(), &error)) {
        SString text = GUIApp::TrArgs("Can't build UI:\n\n'^0'", error ? error->message : "");
        g_clear_error(&error);
        app->MsgBox(text.Text(), 1, 0, Quill::Window());
        return StartFailed();
    }

    GObject* form1 = gtk_builder_get_object(g_builder, "Form1");
    if (!form1 || !GTK_IS_WINDOW(form1)) {
        GUIApp::DiagLog("AppStart", "widForm1");
        return StartFailed();
    }
    g_form1 = GTK_WIDGET(form1);
    g_signal_connect(g_form1, "destroy", G_CALLBACK(OnForm1Destroy), nullptr);
    g_signal_connect(g_form1, "delete-event", G_CALLBACK(OnForm1Delete), nullptr);
    gtk_builder_connect_signals(g_builder, nullptr);

    if (!app->Init(argc, argv, g_form1, g_builder))
        return StartFailed();
    return 0;
}

void AppQuitRequest()
{
    if (GUIApp::instance && !GUIApp::instance->QuitQuery())
        return;
    DeleteInstance();
    if (GtkWidget* w = g_form1) {
        g_form1 = nullptr;
        gtk_widget_destroy(w);
    }
}

void AppFinish()
{
    DeleteInstance();
    ReleaseInterface();
}
