// GUIApp: the run state on the window (control sensitivity, the talk-log item), what the
// runner asks of its front end, and the channel owner's operations, which the runner answers.
#include "app/GUIApp.h"

namespace {
// When a control may be used.
enum SensitiveWhen {
    kWhenIdle,          // no operation runs
    kWhenBusy,          // an operation runs (the stop controls)
    kWhenNoSettingsIo,  // no operation runs, or one that leaves the settings document alone
};
struct SensitivityRule {
    WidgetId id;
    SensitiveWhen when;
};
const SensitivityRule kSensitivity[] = {
    {W_MB_Quit, kWhenIdle}, {W_TB_WriteB, kWhenIdle}, {W_MB_WriteB, kWhenIdle},
    {W_TB_WriteFW, kWhenIdle}, {W_MB_WriteFW, kWhenIdle}, {W_TB_Reboot, kWhenIdle},
    {W_MB_Reboot, kWhenIdle}, {W_TB_TestGateway, kWhenIdle}, {W_MB_TestGateway, kWhenIdle},
    {W_Settings, kWhenIdle}, {W_TB_DS_ReadGroupFromDev, kWhenIdle}, {W_TB_DS_ReadAllFromDev, kWhenIdle},
    {W_TB_DS_WriteGroupToDev, kWhenIdle}, {W_TB_DS_WriteAllToDev, kWhenIdle},
    {W_TB_DS_WritePasswordToDev, kWhenIdle}, {W_TB_DFIND_Refresh, kWhenIdle},
    {W_TB_Stop0, kWhenBusy}, {W_TB_Stop1, kWhenBusy}, {W_TB_Stop2, kWhenBusy}, {W_MB_Stop, kWhenBusy},
    {W_TB_DS_ReadAllDefault, kWhenNoSettingsIo}, {W_TB_DS_ReadAllFromFile, kWhenNoSettingsIo},
    {W_TB_DS_WriteGroupToFile, kWhenNoSettingsIo}, {W_TB_DS_WriteAllToFile, kWhenNoSettingsIo},
    {W_DS_Content, kWhenNoSettingsIo},
};

bool IsSettingsIo(OperationKind kind)
{
    return kind >= OperationKind::ReadSettingsGroup && kind <= OperationKind::WriteSettingsAll;
}
}  // namespace

void GUIApp::SensitivityUpdate()
{
    AppState state;
    OperationKind kind;
    runner_.StateGet(&state, &kind);
    bool busy = (int32_t)state >= kAppStateBusyFrom;
    for (const SensitivityRule& r : kSensitivity) {
        bool sensitive = r.when == kWhenIdle ? !busy
                       : r.when == kWhenBusy ? busy
                                             : !busy || !IsSettingsIo(kind);
        Wnd(r.id).SetSensitive(sensitive);
    }
}

void GUIApp::TalkLogItemUpdate()
{
    GObject* item = objects_[W_MB_TalkLog];
    if (item && GTK_IS_CHECK_MENU_ITEM(item))
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item),
                                       (runner_.Flags() & RunFlags::TalkLog) != 0);
}

void GUIApp::TalkLogSwitch(bool on)
{
    runner_.FlagsSet(RunFlags::TalkLog, on);
    SensitivityUpdate();
    TalkLogItemUpdate();
    StateShow();
}

void GUIApp::RunStateChanged(bool takeLock)
{
    if (takeLock)
        gdk_threads_enter();
    SensitivityUpdate();
    TalkLogItemUpdate();
    StateShow();
    if (takeLock)
        gdk_threads_leave();
}

void GUIApp::SessionInputs(SString& host, SString& password)
{
    gdk_threads_enter();
    for (auto [id, out] : {std::pair<WidgetId, SString*>{W_DevHost, &host}, {W_DevPassword, &password}}) {
        GObject* entry = objects_[id];
        out->Assign(entry && GTK_IS_ENTRY(entry) ? gtk_entry_get_text(GTK_ENTRY(entry)) : "");
    }
    gdk_threads_leave();
}

void GUIApp::VersionShow(const SString& text)
{
    gdk_threads_enter();
    GObject* label = objects_[W_DevFirmwareVersion];
    if (label && GTK_IS_LABEL(label))
        gtk_label_set_text(GTK_LABEL(label), text.Text());
    gdk_threads_leave();
}

void GUIApp::GuiLockRelease()
{
    gdk_threads_leave();
}

void GUIApp::GuiLockAcquire()
{
    gdk_threads_enter();
}

void GUIApp::LogMessage(const SString& message, int style, int mode)
{
    runner_.LogMessage(message, style, mode);
}

SString GUIApp::MessageText(const char* msgid, const char* a0, const char* a1, const char* a2, const char* a3)
{
    return runner_.MessageText(msgid, a0, a1, a2, a3);
}

bool GUIApp::IsRunning()
{
    return runner_.IsRunning();
}

bool GUIApp::IsTalkLog()
{
    return runner_.IsTalkLog();
}
