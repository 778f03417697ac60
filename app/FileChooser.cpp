#include "app/FileChooser.h"

#include <cstdio>
#include <cstring>

#include "app/GUIApp.h"
#include "base/FileUtil.h"

namespace {
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

// Preselects path: an existing file is selected; a new one opens its folder with its name typed.
void StartAt(GtkWidget* dialog, const SString& path, bool save)
{
    if (path.IsEmpty()) {
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), ".");
        return;
    }
    SString local = PathFromUtf8(path.Text());
    if (!save || IsRegularFile(local.Text())) {
        gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(dialog), local.Text());
        return;
    }
    gchar* folder = g_path_get_dirname(local.Text());
    gchar* name = g_path_get_basename(local.Text());
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), folder);
    gchar* nameUtf8 = g_filename_to_utf8(name, -1, nullptr, nullptr, nullptr);
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), nameUtf8 ? nameUtf8 : name);
    g_free(nameUtf8);
    g_free(name);
    g_free(folder);
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

bool FileChooserRun(GtkWindow* parent, const FileChooserRequest& request, SString& path)
{
    GtkFileChooserAction action = request.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN;
    GtkWidget* dialog = gtk_file_chooser_dialog_new(request.title.Text(), parent, action, "gtk-ok",
                                                    GTK_RESPONSE_OK, "gtk-cancel", GTK_RESPONSE_CANCEL,
                                                    nullptr);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), request.save);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, request.filterName.Text());
    gtk_file_filter_add_pattern(filter, request.pattern);
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
    StartAt(dialog, request.startPath, request.save);

    for (;;) {
        if (gtk_dialog_run(GTK_DIALOG(dialog)) != GTK_RESPONSE_OK) {
            gtk_widget_destroy(dialog);
            return false;
        }
        path = ChosenPath(dialog);
        const char* name = FileNamePart(path.Text());
        if (path.IsEmpty() || IsBlank(name)) {
            printf("%s\n", path.Text());
            EmptyNameWarn(dialog);
            continue;
        }
        if (request.save && request.extension && !strchr(name, '.')) {
            path.Append(".");
            path.Append(request.extension);
            // The chooser asked about the name as typed; the file actually written may exist
            // already, so it goes back with the full name and asks about that one.
            if (IsRegularFile(PathFromUtf8(path.Text()).Text())) {
                StartAt(dialog, path, false);
                continue;
            }
        }
        break;
    }
    gtk_widget_destroy(dialog);
    return true;
}
