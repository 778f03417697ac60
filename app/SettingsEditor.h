// The settings editor: the group tree and the table of the shown group's settings. The model
// (DeviceSettings) holds the document and the values; this keeps the widgets of each shown
// setting beside it, builds them when a group is shown, refreshes them when a read changed a
// setting, and takes their values back into the document.
#pragma once
#include <gtk/gtk.h>

#include <cstdint>
#include <map>
#include <vector>

#include "settings/DeviceSettings.h"
#include "settings/SettingsUi.h"

class GUIApp;

// Row colours of the table, alternating per setting.
extern const char kSettingsRowColourOdd[];   // first, third, ... setting of the group
extern const char kSettingsRowColourEven[];  // second, fourth, ...
// Columns of the settings table.
const int kSettingsTableColumns = 4;

// The widgets made for one shown setting.
struct DS_SettingWidgets {
    // Event boxes in creation order: name, availability, then per value (index for arrays),
    // value widget, unit. Sensitivity follows availability from the third on.
    std::vector<GtkWidget*> widgets;
    GtkWidget* check = nullptr;       // availability check button
    gulong toggledHandler = 0;
    std::vector<GtkWidget*> values;   // one entry widget per value
};

class SettingsEditor : public SettingsUiI {
public:
    explicit SettingsEditor(GUIApp& app);
    ~SettingsEditor() override;
    SettingsEditor(const SettingsEditor&) = delete;
    SettingsEditor& operator=(const SettingsEditor&) = delete;

    // The model and the widgets the editor fills; called once the widgets are looked up.
    void Attach(DeviceSettings* model, GtkTable* table, GtkTreeView* tree, GtkTreeStore* store,
                gulong treeCursorHandler);

    // Builds a setting's rows at row (advancing it), or, when it has widgets already, only
    // refreshes them from the document (unless createOnly).
    void DS_BuildSignalWidgets(TiXmlElement* element, int& row, const char* colour, bool createOnly);
    // Takes one setting's widget values into the document, checked; error tells the fault.
    bool DS_Widgets2XML(TiXmlElement* element, SString& error);
    // Every shown setting into the document; false (after the message) at the first fault.
    bool CommitShown();
    // The availability check button of element was toggled.
    void AvailabilityToggled(TiXmlElement* element);
    // The tree's cursor moved: commit, then show the selected group.
    void TreeCursorChanged();

    // The widgets of a shown setting, or null.
    const DS_SettingWidgets* WidgetsOf(const TiXmlElement* element) const;

    // SettingsUiI.
    void MsgBox(const SString& text) override;
    void GroupsRebuilt() override;
    void GroupSelect(const std::vector<int>& path) override;
    void ShownDropping() override;
    void GroupShown() override;

    // Worker thread, after a read changed the setting: refreshes it if shown, under the GDK lock.
    void SettingChanged(TiXmlElement* element);

private:
    void Refresh(TiXmlElement* element, DS_SettingWidgets& w);
    static void SensitivitySet(DS_SettingWidgets& w, bool active);
    GtkWidget* ValueWidgetMake(const TiXmlElement* element, const DS_SignalInfo& info);
    GtkWidget* Cell(DS_SettingWidgets& w, GtkWidget* child, const GdkColor& colour, int left, int right,
                    int row, bool expand);
    bool ValueText(const TiXmlElement* element, const DS_SignalInfo& info, GtkWidget* widget, SString& text,
                   SString& error);
    void TableReset();

    GUIApp& app_;
    DeviceSettings* model_ = nullptr;
    GtkTable* table_ = nullptr;
    GtkTreeView* tree_ = nullptr;
    GtkTreeStore* store_ = nullptr;
    gulong treeCursorHandler_ = 0;
    std::map<const TiXmlElement*, DS_SettingWidgets> widgets_;
};
