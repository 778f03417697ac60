// GUIApp: the begin steps of the operations on a unit (GUI thread, GDK lock held). The work
// itself runs in the operation runner.
#include <cstdio>
#include <cstring>

#include "app/GUIApp.h"
#include "base/FileUtil.h"

namespace {
const char kImagePattern[] = "*.bin";

bool IsBlank(const char* text)
{
    for (; *text; ++text)
        if (!g_ascii_isspace(*text))
            return false;
    return true;
}

// The file-name part of a path: everything after the last separator.
const char* FileNamePart(const char* path)
{
    const char* slash = strrchr(path, G_DIR_SEPARATOR);
    return slash ? slash + 1 : path;
}

// The chosen file as an absolute UTF-8 path; empty when nothing usable was chosen.
SString ChosenPath(GtkWidget* dialog)
{
    gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    if (!chosen)
        return SString();
    SString full = FullPathGet(chosen);
    g_free(chosen);
    return PathToUtf8(full.Text());
}

GtkWidget* ImageChooserMake(GtkWindow* parent, const SString& title, const SString& currentPath)
{
    GtkWidget* dialog = gtk_file_chooser_dialog_new(title.Text(), parent, GTK_FILE_CHOOSER_ACTION_OPEN,
                                                    "gtk-ok", GTK_RESPONSE_OK, "gtk-cancel",
                                                    GTK_RESPONSE_CANCEL, nullptr);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, GUIApp::TrArgs("Binary files ^0", "(*.bin)").Text());
    gtk_file_filter_add_pattern(filter, kImagePattern);
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
    // Firmware and loader share the last path, so the next dialog starts where the last one ended.
    if (currentPath.IsEmpty()) {
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), ".");
    } else {
        SString local = PathFromUtf8(currentPath.Text());
        gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(dialog), local.Text());
    }
    return dialog;
}

void EmptyNameWarn(GtkWidget* over)
{
    GtkWidget* box = gtk_message_dialog_new(GTK_WINDOW(over), GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                                            GTK_BUTTONS_NONE, "%s", GUIApp::Tr("Filename is empty!").Text());
    gtk_dialog_add_button(GTK_DIALOG(box), "gtk-ok", GTK_RESPONSE_OK);
    gtk_window_set_title(GTK_WINDOW(box), GUIApp::Tr("Warning!").Text());
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}
}  // namespace

void GUIApp::DevRefresh()
{
    runner_.CommandBegin(OperationKind::VersionRead);
}

void GUIApp::DevReboot()
{
    runner_.CommandBegin(OperationKind::Reboot);
}

void GUIApp::DevTestGateway()
{
    runner_.CommandBegin(OperationKind::TestGateway);
}

void GUIApp::TalkStop()
{
    runner_.TalkStop();
}

void GUIApp::DevWriteBegin(bool firmware)
{
    if (runner_.IsBusy())
        return;
    SString title = Tr(firmware ? "Choose file with firmware" : "Choose file with loader");
    GtkWidget* dialog = ImageChooserMake(GTK_WINDOW(form1_.Widget()), title, runner_.ImagePath());
    SString path;
    for (;;) {
        if (gtk_dialog_run(GTK_DIALOG(dialog)) != GTK_RESPONSE_OK) {
            gtk_widget_destroy(dialog);
            return;
        }
        path = ChosenPath(dialog);
        if (!path.IsEmpty() && !IsBlank(FileNamePart(path.Text())))
            break;
        printf("%s\n", path.Text());
        EmptyNameWarn(dialog);
    }
    gtk_widget_destroy(dialog);
    // Keeps the path and its file name and draws a fresh transport mask.
    runner_.ImageSet(path);
    runner_.WriteBegin(firmware);
}
