// GUIApp: the password change dialog. The worker that sends the new password is the runner's.
#include <cmath>

#include "app/GUIApp.h"

namespace {
const int kPasswordMax = 32767;
const int kBoxSpacing = 4;
}  // namespace

void GUIApp::DevSettingsWritePasswordToDev()
{
    DS_ChangePassword();
}

void GUIApp::DS_ChangePassword()
{
    GtkWidget* dialog = gtk_dialog_new_with_buttons(Tr("Change password").Text(), GTK_WINDOW(form1_.Widget()),
                                                    GTK_DIALOG_MODAL, "gtk-ok", GTK_RESPONSE_OK, "gtk-cancel",
                                                    GTK_RESPONSE_CANCEL, nullptr);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);

    GtkWidget* box = gtk_hbox_new(FALSE, kBoxSpacing);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), box, TRUE, TRUE, 0);
    GtkWidget* label = gtk_label_new(Tr("New password:").Text());
    gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
    GtkWidget* spin = gtk_spin_button_new_with_range(0, kPasswordMax, 1);
    GObject* current = objects_[W_DevPassword];
    const char* typed = current && GTK_IS_ENTRY(current) ? gtk_entry_get_text(GTK_ENTRY(current)) : "";
    // The range clamps what was typed: a negative number starts at 0, a large one at the top.
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), DevicePasswordParse(typed));
    gtk_entry_set_activates_default(GTK_ENTRY(spin), TRUE);
    gtk_box_pack_start(GTK_BOX(box), spin, TRUE, TRUE, 0);
    gtk_widget_show_all(box);

    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (response != GTK_RESPONSE_OK) {
        gtk_widget_destroy(dialog);
        return;
    }
    // A number typed but not yet taken (no Enter, no focus change) counts as well.
    gtk_spin_button_update(GTK_SPIN_BUTTON(spin));
    int32_t value = (int32_t)lround(gtk_spin_button_get_value(GTK_SPIN_BUTTON(spin)));
    gtk_widget_destroy(dialog);
    // Does nothing while an operation runs: the value is dropped.
    runner_.ChangePasswordBegin(value);
}
