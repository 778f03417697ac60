// The settings editor's group tree and what the model asks of the window: message boxes, the
// tree kept in step with the model's groups and selection, the table rebuilt for the group.
#include "app/GUIApp.h"
#include "app/SettingsEditor.h"

namespace {
enum TreeColumn { kColumnTitle = 0, kColumnGid = 1 };

void TreeFill(GtkTreeStore* store, GtkTreeIter* parent, const std::vector<DS_Group>& groups)
{
    for (const DS_Group& g : groups) {
        GtkTreeIter row;
        gtk_tree_store_append(store, &row, parent);
        gtk_tree_store_set(store, &row, kColumnTitle, g.title.Text(), kColumnGid, (gint)g.gid, -1);
        TreeFill(store, &row, g.children);
    }
}
}  // namespace

void SettingsEditor::MsgBox(const SString& text)
{
    // Over the settings window while the user works there, else over the main window.
    Quill::Window dialog = app_.DevSettingsPlace().Dialog();
    app_.MsgBox(text.Text(), 1, 0, dialog.IsVisible() ? dialog : app_.Form1());
}

void SettingsEditor::GroupsRebuilt()
{
    if (!store_ || !model_)
        return;
    // Emptying the store moves the cursor; that is no choice of the user's.
    if (tree_)
        g_signal_handler_block(tree_, treeCursorHandler_);
    gtk_tree_store_clear(store_);
    TreeFill(store_, nullptr, model_->Groups());
    if (tree_) {
        gtk_tree_view_expand_all(tree_);
        g_signal_handler_unblock(tree_, treeCursorHandler_);
    }
}

void SettingsEditor::GroupSelect(const std::vector<int>& path)
{
    if (!tree_)
        return;
    g_signal_handler_block(tree_, treeCursorHandler_);
    if (path.empty()) {
        gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(tree_));
    } else {
        GtkTreePath* p = gtk_tree_path_new();
        for (int index : path)
            gtk_tree_path_append_index(p, index);
        gtk_tree_view_expand_to_path(tree_, p);
        gtk_tree_view_set_cursor(tree_, p, nullptr, FALSE);
        gtk_tree_path_free(p);
    }
    g_signal_handler_unblock(tree_, treeCursorHandler_);
}

void SettingsEditor::ShownDropping()
{
    for (auto& [element, w] : widgets_)
        for (GtkWidget* widget : w.widgets)
            gtk_widget_destroy(widget);
    widgets_.clear();
    TableReset();
}

void SettingsEditor::GroupShown()
{
    if (!model_ || !table_)
        return;
    int row = 0;
    size_t position = 0;
    for (TiXmlElement* e : model_->Shown())
        DS_BuildSignalWidgets(e, row, position++ % 2 == 0 ? kSettingsRowColourOdd : kSettingsRowColourEven, false);
    for (TiXmlElement* e : model_->Shown())
        if (const DS_SettingWidgets* w = WidgetsOf(e))
            for (GtkWidget* widget : w->widgets)
                gtk_widget_show_all(widget);
}

void SettingsEditor::TreeCursorChanged()
{
    if (!model_ || !tree_)
        return;
    if (!CommitShown())
        return;
    std::vector<int> path;
    GtkTreeModel* treeModel = nullptr;
    GtkTreeIter iter;
    if (gtk_tree_selection_get_selected(gtk_tree_view_get_selection(tree_), &treeModel, &iter)) {
        GtkTreePath* p = gtk_tree_model_get_path(treeModel, &iter);
        int depth = gtk_tree_path_get_depth(p);
        gint* indices = gtk_tree_path_get_indices(p);
        path.assign(indices, indices + depth);
        gtk_tree_path_free(p);
    }
    model_->SelectGroupAt(path);
}
