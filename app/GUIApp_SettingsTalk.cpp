// GUIApp: the settings operations on the unit: the read and write buttons, their worker
// bodies on the settings walks.
#include "app/GUIApp.h"
#include "app/SettingsEditor.h"
#include "settings/SettingsTalk.h"

namespace {
// A read refreshes the shown settings as their values arrive.
class EditorRefresh : public DS_SettingChangedI {
public:
    explicit EditorRefresh(SettingsEditor& editor) : editor_(editor) {}
    void SettingChanged(TiXmlElement* element) override { editor_.SettingChanged(element); }

private:
    SettingsEditor& editor_;
};
}  // namespace

void GUIApp::DS_ReadBegin(bool all)
{
    if (runner_.IsBusy())
        return;
    runner_.ThreadCreate(all ? OperationKind::ReadSettingsAll : OperationKind::ReadSettingsGroup,
                         Tr("Read settings begin"));
}

void GUIApp::DS_WriteBegin(bool all)
{
    if (runner_.IsBusy())
        return;
    Quill::Window over = DS_Parent();
    if (all && MsgBoxTr("Are you sure to want to write all settings to Pelta?", 2, 1, over) != 0)
        return;
    if (!editor_->CommitShown() || !settings_->CheckAll(all, true))
        return;
    runner_.ThreadCreate(all ? OperationKind::WriteSettingsAll : OperationKind::WriteSettingsGroup,
                         Tr("Write settings begin"));
}

void GUIApp::DevSettingsReadGroupFromDev()
{
    DS_ReadBegin(false);
}

void GUIApp::DevSettingsReadAllFromDev()
{
    DS_ReadBegin(true);
}

void GUIApp::DevSettingsWriteGroupToDev()
{
    DS_WriteBegin(false);
}

void GUIApp::DevSettingsWriteAllToDev()
{
    DS_WriteBegin(true);
}

// The settings a walk goes over: the shown group's or every setting. Taken under the GDK lock:
// the shown list is the GUI thread's (it cannot change while the editor is insensitive).
std::vector<TiXmlElement*> GUIApp::DS_WalkList(bool all)
{
    gdk_threads_enter();
    std::vector<TiXmlElement*> out = all ? settings_->Scalars() : settings_->Shown();
    gdk_threads_leave();
    return out;
}

bool GUIApp::DS_ReadFromDev_th(MODBUS_TalkInfo& talk, bool all)
{
    EditorRefresh refresh(*editor_);
    return ::DS_ReadFromDev_th(runner_, talk, DS_WalkList(all), &refresh);
}

bool GUIApp::DS_WriteToDev_th(MODBUS_TalkInfo& talk, bool all)
{
    return ::DS_WriteToDev_th(runner_, talk, DS_WalkList(all));
}

bool GUIApp::OperationBody(OperationKind kind, MODBUS_TalkInfo& talk)
{
    switch (kind) {
    case OperationKind::ReadSettingsGroup:
    case OperationKind::ReadSettingsAll:
        return DS_ReadFromDev_th(talk, kind == OperationKind::ReadSettingsAll);
    case OperationKind::WriteSettingsGroup:
    case OperationKind::WriteSettingsAll:
        return DS_WriteToDev_th(talk, kind == OperationKind::WriteSettingsAll);
    default:
        return RunnerUiI::OperationBody(kind, talk);
    }
}
