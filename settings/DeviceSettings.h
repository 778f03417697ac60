// The settings model: the description (or settings file) in memory, each setting's record,
// the write records, the group tree, the current group and its shown settings, the value
// checks and the settings files. Headless: the window and pelta-cli plug in through
// SettingsUiI and keep their own widgets.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "base/SString.h"
#include "recoding/TiXmlDocumentRecode.h"
#include "settings/FileRecordsSet.h"
#include "settings/SettingsModel.h"
#include "settings/SettingsUi.h"
#include "settings/SettingsXml.h"

class OperationRunner;
class MODBUS_TalkInfo;
class DS_SettingChangedI;

// One row of the group tree.
struct DS_Group {
    SString title;
    int64_t gid = -1;
    std::vector<DS_Group> children;
};

class DeviceSettings {
public:
    // ui is not owned and must outlive the model.
    explicit DeviceSettings(SettingsUiI* ui);
    ~DeviceSettings();
    DeviceSettings(const DeviceSettings&) = delete;
    DeviceSettings& operator=(const DeviceSettings&) = delete;

    // --- Loading and clearing.
    // Replaces everything by the file's description; on failure the model is left empty
    // (one message box tells why). Ends by selecting the first group and showing it.
    bool DS_Load(const char* path);
    // The same from an open file (the caller closes it); name stands for the path in messages.
    bool DS_LoadStream(FILE* file, const char* name);
    // Parses every "scalar" into its record and fills the write records; faulty settings are
    // dropped, each with its own message box.
    void DS_Init();
    // Discards the document, the records, the write records and the group tree.
    void DS_Clear();
    // The write records' grouping: one group, consecutive in the document. False (after one
    // message box) at the first offending pair.
    bool DS_CheckFileRecords();
    // The default description, for the fallback of a failed settings-file load.
    void DefaultPathSet(const SString& path) { defaultPath_ = path; }
    const SString& DefaultPath() const { return defaultPath_; }
    bool DS_LoadDefault() { return DS_Load(defaultPath_.Text()); }
    // Loads a settings file; when that fails, the default description instead. True when the
    // file itself loaded.
    bool LoadSettingsFile(const char* path);

    // --- The document.
    TiXmlDocumentRecode& Document() { return doc_; }
    // Every "scalar" under device/sygnals, in document order.
    std::vector<TiXmlElement*> Scalars() { return DS_Scalars(&doc_); }
    FileRecordsSet& Records() { return records_; }
    // True from a successful load until the next clear.
    bool IsLoaded() const { return loaded_; }

    // --- Groups and the shown settings.
    const std::vector<DS_Group>& Groups() const { return groups_; }
    // The group at a path of child indexes, or null.
    const DS_Group* GroupAt(const std::vector<int>& path) const;
    // Path of the first group (tree order) with that gid; empty when none matches. A negative
    // gid gives the first row (empty when the tree is empty).
    std::vector<int> GroupPathOf(int64_t gid) const;
    // The selected row's path (empty: none).
    const std::vector<int>& SelectedPath() const { return selected_; }
    int64_t CurrentGroup() const { return currentGroup_; }
    // Selects the row of that gid (see GroupPathOf) and tells the front end; unless noShow,
    // the current group becomes the selected row's gid (-1 without one) and it is shown.
    void SelectGroup(int64_t gid, bool noShow);
    // The user picked a row: it becomes selected and current, and is shown.
    void SelectGroupAt(const std::vector<int>& path);
    // Rebuilds the shown list: every "scalar" of the current group, in document order.
    void DS_ShowGroup();
    const std::vector<TiXmlElement*>& Shown() const { return shown_; }
    bool IsShown(const TiXmlElement* element) const;

    // --- Values and their checks. The error texts are translated.
    // One value text of a setting; a setting without a record accepts anything.
    bool DS_CheckValue(const TiXmlElement* element, const char* text, SString& error) const;
    // A setting's values. With error the fault is only returned; without, it is shown as
    // "Wrong value for ...". forDevice refuses the protected settings without a value.
    bool CheckSetting(const TiXmlElement* element, SString* error, bool forDevice);
    // The shown settings (all false) or every setting; stops at the first fault, shows its
    // group and the message.
    bool CheckAll(bool all, bool forDevice);
    // Takes one setting's values back into the document: removes "values", then (texts not
    // null) checks each text and appends it. A fault leaves the values taken so far.
    bool DS_ValuesSet(TiXmlElement* element, const std::vector<SString>* texts, SString& error);
    // Takes every shown setting back through take (the editor's widget reader); at the first
    // fault selects the failing setting's group without showing it and shows the message.
    bool CommitShown(const std::function<bool(TiXmlElement*, SString&)>& take);
    // "Wrong value for '<description>':\n'<error>'" as a message box.
    void ValueFaultShow(const TiXmlElement* element, const SString& error);
    // The settings that share the element's write record (the element alone without one).
    std::vector<TiXmlElement*> RecordSettings(const TiXmlElement* element) const;

    // --- Settings files.
    // Saves the whole document, or the group file of the current group, to path; false after
    // the "Can't save file" message box.
    bool DS_Export(bool all, const char* path);

    // --- The unit (worker thread, inside a runner's settings operation).
    // Reads the shown settings (all false) or every setting; changed (may be null) hears of
    // each setting whose values the read replaced.
    bool DS_ReadFromDev_th(OperationRunner& runner, const MODBUS_TalkInfo& talk, bool all,
                           DS_SettingChangedI* changed = nullptr);
    // Writes the shown settings' records (all false) or every record.
    bool DS_WriteToDev_th(OperationRunner& runner, const MODBUS_TalkInfo& talk, bool all);

    SettingsUiI* Ui() const { return ui_; }

private:
    void MsgBox(const SString& text);
    bool LoadFinish(bool loaded, const char* name);
    void GroupsBuild();
    void ShownDrop();
    bool InitOne(TiXmlElement* element, SString& fault, bool& drop);

    SettingsUiI* ui_;
    TiXmlDocumentRecode doc_;
    FileRecordsSet records_;
    std::vector<DS_Group> groups_;
    std::vector<int> selected_;
    int64_t currentGroup_ = -1;
    std::vector<TiXmlElement*> shown_;
    SString defaultPath_;
    bool loaded_ = false;
};
