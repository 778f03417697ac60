// GUIApp: the device-find window. The refresh starts discovery in the runner; the worker
// reports every unit it hears of, and the list shows it at once; activating a row makes that
// unit the current device and opens its settings.
#include <cstdio>

#include "app/GUIApp.h"

namespace {
// DFIND_ListStore's columns.
enum FindColumn { kColIpConnect = 0, kColIp = 1, kColMac = 2, kColId = 3, kColVersion = 4 };
// The group the settings window shows first for a unit picked from the list.
const int64_t kUnitFirstGroup = 1000;
}  // namespace

void GUIApp::DevFindRefresh()
{
    DFIND_FindDevicesBegin();
}

void GUIApp::DFIND_FindDevicesBegin()
{
    // Does nothing while an operation runs.
    runner_.FindDevicesBegin();
}

void GUIApp::FoundUnitsClear()
{
    gdk_threads_enter();
    if (GObject* store = objects_[W_DFIND_ListStore])
        gtk_list_store_clear(GTK_LIST_STORE(store));
    gdk_threads_leave();
}

void GUIApp::FoundUnitAdd(const DFIND_DevInfo& unit)
{
    gdk_threads_enter();
    if (GObject* store = objects_[W_DFIND_ListStore]) {
        GtkTreeIter row;
        gtk_list_store_append(GTK_LIST_STORE(store), &row);
        gtk_list_store_set(GTK_LIST_STORE(store), &row, kColIpConnect, unit.ipConnect.Text(), kColIp,
                           unit.ip.Text(), kColMac, unit.mac.Text(), -1);
    }
    gdk_threads_leave();
}

void GUIApp::FoundUnitUpdate(const DFIND_DevInfo& unit)
{
    gdk_threads_enter();
    GObject* store = objects_[W_DFIND_ListStore];
    GtkTreeIter row;
    // Rows are only appended while discovery runs, so a unit's row is its place in the list.
    if (store && gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(store), &row, nullptr, unit.row))
        gtk_list_store_set(GTK_LIST_STORE(store), &row, kColId, unit.id.Text(), kColVersion, unit.version.Text(),
                           -1);
    gdk_threads_leave();
}

void GUIApp::DFIND_RowActivated(GtkTreePath*)
{
    if (runner_.IsBusy())
        return;
    GtkTreeModel* model = nullptr;
    GtkTreeIter row;
    if (!dfindSelection_ || !gtk_tree_selection_get_selected(dfindSelection_, &model, &row))
        return;
    gchar* address = nullptr;
    gchar* version = nullptr;
    gtk_tree_model_get(model, &row, kColIpConnect, &address, kColVersion, &version, -1);
    SString host(address ? address : "");
    // Discovery on another port than the standard one reached the unit there.
    const uint16_t port = runner_.Options().discovery.port;
    if (port != kModbusTcpPort && !host.IsEmpty()) {
        char suffix[8];
        snprintf(suffix, sizeof suffix, ":%u", port);
        host.Append(suffix);
    }
    if (GObject* entry = objects_[W_DevHost])
        gtk_entry_set_text(GTK_ENTRY(entry), host.Text());
    if (GObject* label = objects_[W_DevFirmwareVersion])
        gtk_label_set_text(GTK_LABEL(label), version ? version : "");
    g_free(address);
    g_free(version);

    placeDevSettings_.SetVisible(true, nullptr);
    // The unit's settings: the default description, its first group selected and read from
    // the unit. Reading the group is the settings window's own operation.
    DevSettingsReadAllDefault();
    DS_SelectGroup(kUnitFirstGroup, false);
    DevSettingsReadGroupFromDev();
}
