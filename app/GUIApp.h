// The application object: owns the window's driven widgets, the log, the status and the
// progress, the user settings and the operation runner, and serves as the channels' owner.
#pragma once
#include <gtk/gtk.h>

#include <ctime>
#include <memory>

#include "app/LogQueue.h"
#include "base/LogTypes.h"
#include "base/SString.h"
#include "channels/TalkChannel.h"
#include "operations/OperationRunner.h"
#include "settings/DeviceSettings.h"
#include "ui/Window.h"
#include "ui/WindowPlace.h"

struct XmlAttribute;
class XmlEventReader;
class SettingsEditor;

// Widgets and objects the program drives, in the order they are looked up at start.
enum WidgetId {
    W_SB_Main, W_Progress, W_LogView, W_LogBuffer, W_Settings,
    W_TB_Stop0, W_TB_Stop1, W_TB_Stop2,
    W_TB_WriteB, W_TB_WriteFW, W_TB_Reboot, W_TB_TestGateway,
    W_MB_Quit, W_MB_Stop, W_MB_WriteB, W_MB_WriteFW, W_MB_Reboot, W_MB_TestGateway, W_MB_TalkLog,
    W_DevHost, W_DevPassword, W_DevFirmwareVersion,
    W_DS_Tree, W_DS_TreeStore, W_DS_SignalsContent,
    W_TB_DS_ReadAllDefault, W_TB_DS_ReadGroupFromDev, W_TB_DS_ReadAllFromDev,
    W_TB_DS_WriteGroupToDev, W_TB_DS_WriteAllToDev, W_TB_DS_ReadAllFromFile,
    W_TB_DS_WriteGroupToFile, W_TB_DS_WriteAllToFile, W_TB_DS_WritePasswordToDev,
    W_DS_Content, W_DFIND_TreeView, W_DFIND_ListStore, W_TB_DFIND_Refresh,
    W_Count
};

// The unit's factory password, preset in the password entry.
extern const char kDefaultDevicePassword[];
// The log keeps at most this many lines; older ones are cut in one block.
const int kLogLineLimit = 100000;
// Lines queued by the worker reach the log view at most this long after they were made.
const unsigned kLogFrameMs = 16;
// Untranslated program title.
extern const char kProgramTitle[];

class GUIApp : public TalkChannelExtI, public RunnerUiI {
public:
    // The one instance; cleared before it is deleted.
    static GUIApp* instance;

    // programDir: the program's own folder (UTF-8 or file-name encoding, with or without a
    // trailing separator), which tells where the run-time files are (base/RuntimeDirs.h).
    // Binds the message catalogue; touches no widget.
    explicit GUIApp(const char* programDir);
    ~GUIApp() override;
    GUIApp(const GUIApp&) = delete;
    GUIApp& operator=(const GUIApp&) = delete;

    // Looks up every driven widget and loads the start-up defaults; false ends the program.
    bool Init(int argc, char** argv, GtkWidget* form1, GtkBuilder* builder);
    // The builder's object of that name; null (with a critical line and ok cleared) if absent.
    GObject* WidgetGet(const char* name, bool& ok);
    // type: 0 info/OK, 1 warning/OK, 2 question/Yes-No, 3 question/Yes-No-Cancel.
    // Returns the pressed button's index; a parent without a widget means the main window.
    int MsgBox(const char* text, int type, int defaultResponse, const Quill::Window& parent);
    int MsgBoxTr(const char* msgid, int type, int defaultResponse, const Quill::Window& parent);
    // True when the program may quit (user settings saved); false after telling the user why.
    bool QuitQuery();

    // Messages (thread-safe).
    static SString Tr(const char* msgid);
    static SString TrArgs(const char* msgid, const char* a0, const char* a1 = nullptr,
                          const char* a2 = nullptr, const char* a3 = nullptr);
    static void DiagLog(const char* where, const char* message);
    static void DiagNoMem(const char* where);

    // --- Log, status and progress (GUIApp_Log.cpp).
    time_t LogAdd(const SString& text, uint32_t mode, bool takeLock, int style) override;
    time_t LogAdd(const char* text, uint32_t mode, bool takeLock, int style);
    void LogInsert(const SString& text, uint32_t lineMode, bool takeLock, int style) override;
    void LogInsert(const char* text, uint32_t lineMode, bool takeLock, int style);
    void LogClear(bool takeLock) override;
    void ProgressSet(int64_t done, int64_t total, bool takeLock) override;
    void StatusSet(const char* text, bool markup);
    static SString MarkupMake(const char* text, const char* colour, bool bold);
    void StateShow();

    // --- Run state on the window (GUIApp_State.cpp).
    void SensitivityUpdate();
    // MB_TalkLog follows the TalkLog flag.
    void TalkLogItemUpdate();
    // The talk-log menu item was switched.
    void TalkLogSwitch(bool on);
    void RunStateChanged(bool takeLock) override;
    void SessionInputs(SString& host, SString& password) override;
    void VersionShow(const SString& text) override;
    void GuiLockRelease() override;
    void GuiLockAcquire() override;

    // TalkChannelExtI: the runner answers for the application.
    void LogMessage(const SString& message, int style, int mode) override;
    SString MessageText(const char* msgid, const char* a0 = nullptr, const char* a1 = nullptr,
                        const char* a2 = nullptr, const char* a3 = nullptr) override;
    bool IsRunning() override;
    bool IsTalkLog() override;

    // --- Operation begins (GUIApp_Ops.cpp).
    void DevRefresh();
    void DevReboot();
    void DevTestGateway();
    void DevWriteBegin(bool firmware);
    void TalkStop();

    // --- Device settings and discovery (their own files).
    void DevSettingsReadGroupFromDev();
    void DevSettingsReadAllFromDev();
    void DevSettingsWriteGroupToDev();
    void DevSettingsWriteAllToDev();
    void DevSettingsReadAllFromFile();
    void DevSettingsWriteGroupToFile();
    void DevSettingsWriteAllToFile();
    void DevSettingsReadAllDefault();
    void DevSettingsWritePasswordToDev();
    void DevFindRefresh();
    void DS_TreeCursorChanged();

    // --- The device-find window (GUIApp_Find.cpp).
    void DFIND_FindDevicesBegin();
    // The selected unit becomes the current device and its settings window opens.
    void DFIND_RowActivated(GtkTreePath* path);
    // The found units' rows, changed by the discovery worker inside the GDK lock.
    void FoundUnitsClear() override;
    void FoundUnitAdd(const DFIND_DevInfo& unit) override;
    void FoundUnitUpdate(const DFIND_DevInfo& unit) override;

    // --- The settings window (GUIApp_Settings.cpp; the editor is SettingsEditor).
    // Loads a description or settings file into the model and shows its first group.
    bool DS_Load(const char* path);
    void DS_Clear();
    // Shows the settings of the current group.
    void DS_ShowGroup();
    // Selects the tree row of gid (the first row for a negative one) and, unless noShow, shows it.
    void DS_SelectGroup(int64_t gid, bool noShow);
    void DS_BuildSignalWidgets(TiXmlElement* element, int& row, const char* colour, bool createOnly);
    bool DS_Widgets2XML(TiXmlElement* element, SString& error);
    bool DS_CheckValue(const TiXmlElement* element, const char* text, SString& error) const;
    // Saves all settings or the current group to the remembered settings path.
    bool DS_Export(bool all);
    // The password dialog, then the operation (GUIApp_Password.cpp).
    void DS_ChangePassword();
    // Worker thread: the settings read and write (kinds 8 to 11).
    bool DS_ReadFromDev_th(MODBUS_TalkInfo& talk, bool all);
    bool DS_WriteToDev_th(MODBUS_TalkInfo& talk, bool all);
    bool OperationBody(OperationKind kind, MODBUS_TalkInfo& talk) override;
    DeviceSettings& Settings() { return *settings_; }
    SettingsEditor& Editor() { return *editor_; }
    // The settings file chosen last, for saving and loading alike.
    const SString& SettingsPath() const { return settingsPath_; }

    // --- About and Help (GUIApp_About.cpp).
    void About();
    void Help();

    // --- User settings file (GUIApp_UserSettings.cpp).
    void UsersLoad();
    static int UsersLoadElement(XmlEventReader& reader, const char* name, const XmlAttribute* attributes);
    void SetsSave();

    // --- Access for the operation files and the tests.
    OperationRunner& Runner() { return runner_; }
    const SString& Title() const { return title_; }
    // The run-time folder (UI/Main.glade, Pelta.xml), UTF-8, with a trailing separator.
    const SString& DataDir() const { return dataDir_; }
    const SString& UserSettingsPath() const { return userSettingsPath_; }
    GObject* Object(WidgetId id) const { return objects_[id]; }
    Quill::Window Wnd(WidgetId id) const;
    Quill::Window& Form1() { return form1_; }
    Quill::WindowPlaceManagement& DevSettingsPlace() { return placeDevSettings_; }
    Quill::WindowPlaceManagement& DevFindPlace() { return placeDevFind_; }
    GtkTextBuffer* LogBuffer() const { return logBuffer_; }

private:
    // Init's steps.
    bool LookUpWidgets(bool& ok);
    void ColumnTitlesSet(bool& ok);
    void LogTagsCreate();
    void PlacesSetup(bool& ok);
    void TreeSignalsConnect();

    void UsersApplyElement(const char* name, const XmlAttribute* attributes);
    // Settings buttons' common steps.
    void DS_ReadBegin(bool all);
    void DS_WriteBegin(bool all);
    void DS_SaveBegin(bool all);
    // Message boxes and choosers of the settings work: over the settings window when shown.
    Quill::Window DS_Parent();
    // Worker thread: the settings a read or write walks over.
    std::vector<TiXmlElement*> DS_WalkList(bool all);

    // Log insertion with the GDK lock already settled.
    void LogInsertLocked(const char* text, int32_t length, uint32_t lineMode, int style);
    // The worker's queued entries, inserted with the GDK lock held (GUIApp_Log.cpp).
    static int LogQueue_cb(void* self);
    static bool LogStyleHasText(int style, void* self);
    void LogQueueFlush(bool byFlush);
    void LogInsertBatch(LogEntryAt entries, size_t count);
    void LogClearLocked();
    // Deletes the log's first `lines` lines (all of it when negative); a long stretch by
    // giving the view a fresh buffer and freeing the old one a piece at a time.
    void LogCutFront(int lines);
    static gboolean LogOldBuffersFree_cb(gpointer self);
    void ProgressShow(int64_t done, int64_t total);
    // Moves the "scroll" mark to the end and lets the view follow it.
    void LogFollowUpdate();
    // Scrolls the view to the "scroll" mark and flushes GDK once per frame, not once per line.
    static void LogFollowArm(GtkTextView* view);
    static gboolean LogFollow_cb(gpointer view);

    SString title_;
    SString dataDir_;
    SString userSettingsPath_;

    GtkBuilder* builder_ = nullptr;
    Quill::Window form1_;
    GObject* objects_[W_Count] = {};
    GtkTextBuffer* logBuffer_ = nullptr;
    GtkTreeModel* dsTreeModel_ = nullptr;
    GtkTreeSelection* dsTreeSelection_ = nullptr;
    GtkTreeModel* dfindModel_ = nullptr;
    GtkTreeSelection* dfindSelection_ = nullptr;

    Quill::WindowPlaceManagement placeDevSettings_;
    Quill::WindowPlaceManagement placeDevFind_;

    // Index = log style; styles 0 and 1 have none.
    GtkTextTag* logTags_[LogStyleResultAborted + 1] = {};
    GtkTextMark* scrollMark_ = nullptr;
    LogQueue logQueue_{&GUIApp::LogQueue_cb, this, kLogFrameMs};
    // Entries taken from the queue but not inserted yet (from logPendingAt_ on): a frame
    // inserts only what fits in its time.
    LogEntries logPending_;
    size_t logPendingAt_ = 0;
    // The log's buffer once the view got a fresh one (our reference), and the old buffers
    // still being freed.
    GtkTextBuffer* logBufferOwned_ = nullptr;
    std::vector<GtkTextBuffer*> logOldBuffers_;
    unsigned logFreeSource_ = 0;

    // The model calls into the editor, so the editor is made first and outlives it.
    std::unique_ptr<SettingsEditor> editor_;
    std::unique_ptr<DeviceSettings> settings_;
    SString settingsPath_;
    gulong dsCursorHandler_ = 0;

    // Destroyed explicitly in the destructor, with the GDK lock let go (see there).
    std::unique_ptr<OperationRunner> runnerOwner_;
    OperationRunner& runner_;
};
