// GUIApp: construction, start-up (Init), the widget lookup, message boxes, the quit guard
// and the destructor.
#include "app/GUIApp.h"

#include <libintl.h>

#include <clocale>

#include "app/SettingsEditor.h"
#include "base/FileUtil.h"
#include "base/Messages.h"
#include "base/RuntimeDirs.h"

const char kDefaultDevicePassword[] = "1";
const char kProgramTitle[] = "Pelta Flasher";

GUIApp* GUIApp::instance = nullptr;

namespace {
const char kTextDomain[] = "messages";
const char kDefaultDescription[] = "Pelta.xml";
const int kContentBorder = 5;

// Lookup names by WidgetId, in lookup order.
struct WidgetName {
    WidgetId id;
    const char* name;
};
const WidgetName kWidgetNames[] = {
    {W_SB_Main, "SB_Main"}, {W_Progress, "Progress"}, {W_LogView, "LogView"},
    {W_LogBuffer, "LogBuffer"}, {W_Settings, "Settings"},
    {W_TB_Stop0, "TB_Stop0"}, {W_TB_Stop1, "TB_Stop1"}, {W_TB_Stop2, "TB_Stop2"},
    {W_TB_WriteB, "TB_WriteB"}, {W_TB_WriteFW, "TB_WriteFW"}, {W_TB_Reboot, "TB_Reboot"},
    {W_TB_TestGateway, "TB_TestGateway"},
    {W_MB_Quit, "MB_Quit"}, {W_MB_Stop, "MB_Stop"}, {W_MB_WriteB, "MB_WriteB"},
    {W_MB_WriteFW, "MB_WriteFW"}, {W_MB_Reboot, "MB_Reboot"}, {W_MB_TestGateway, "MB_TestGateway"},
    {W_MB_TalkLog, "MB_TalkLog"},
    {W_DevHost, "DevHost"}, {W_DevPassword, "DevPassword"}, {W_DevFirmwareVersion, "DevFirmwareVersion"},
    {W_DS_Tree, "DS_Tree"}, {W_DS_TreeStore, "DS_TreeStore"}, {W_DS_SignalsContent, "DS_SignalsContent"},
    {W_TB_DS_ReadAllDefault, "TB_DS_ReadAllDefault"}, {W_TB_DS_ReadGroupFromDev, "TB_DS_ReadGroupFromDev"},
    {W_TB_DS_ReadAllFromDev, "TB_DS_ReadAllFromDev"}, {W_TB_DS_WriteGroupToDev, "TB_DS_WriteGroupToDev"},
    {W_TB_DS_WriteAllToDev, "TB_DS_WriteAllToDev"}, {W_TB_DS_ReadAllFromFile, "TB_DS_ReadAllFromFile"},
    {W_TB_DS_WriteGroupToFile, "TB_DS_WriteGroupToFile"}, {W_TB_DS_WriteAllToFile, "TB_DS_WriteAllToFile"},
    {W_TB_DS_WritePasswordToDev, "TB_DS_WritePasswordToDev"},
    {W_DS_Content, "DS_Content"}, {W_DFIND_TreeView, "DFIND_TreeView"},
    {W_DFIND_ListStore, "DFIND_ListStore"}, {W_TB_DFIND_Refresh, "TB_DFIND_Refresh"},
};
static_assert(sizeof kWidgetNames / sizeof kWidgetNames[0] == W_Count, "every driven widget has a name");

// Tree view columns and the texts they show.
struct ColumnTitle {
    const char* column;
    const char* msgid;
};
const ColumnTitle kColumnTitles[] = {
    {"DLG_Help_Args_CArgument", "Argument"},
    {"DLG_Help_Args_CDescription", "Description"},
    {"DFIND_CIPConnect", "IP (connect)"},
    {"DFIND_CIP", "IP"},
    {"DFIND_CMAC", "MAC"},
    {"DFIND_CID", "ID"},
    {"DFIND_CVersion", "Version"},
};

// Message box kinds: the dialog's look and its buttons (each answers with its index).
struct MsgBoxKind {
    int type;
    int messageKind;
    const char* buttons[3];
    int count;
};
const MsgBoxKind kMsgBoxKinds[] = {
    {0, Quill::kMessageInfo, {GTK_STOCK_OK}, 1},
    {1, Quill::kMessageWarning, {GTK_STOCK_OK}, 1},
    {2, Quill::kMessageQuestion, {GTK_STOCK_YES, GTK_STOCK_NO}, 2},
    {3, Quill::kMessageQuestion, {GTK_STOCK_YES, GTK_STOCK_NO, GTK_STOCK_CANCEL}, 3},
};

// A path as the interface shows it; kept as it is when it is not in the file-name encoding.
SString Utf8Of(const SString& path)
{
    SString utf8 = PathToUtf8(path.Text());
    return utf8.IsEmpty() ? path : utf8;
}

bool IsStopButton(WidgetId id)
{
    return id == W_TB_Stop0 || id == W_TB_Stop1 || id == W_TB_Stop2;
}
}  // namespace

GUIApp::GUIApp(const char* programDir)
    : editor_(std::make_unique<SettingsEditor>(*this)),
      settings_(std::make_unique<DeviceSettings>(editor_.get())),
      runnerOwner_(std::make_unique<OperationRunner>(this)),
      runner_(*runnerOwner_)
{
    Messages::Init();
    Messages::SetTitle(kProgramTitle);
    SString localDir = PathFromUtf8(programDir);
    RuntimeDirs dirs = RuntimeDirsOf(localDir.IsEmpty() ? programDir : localDir.Text());
    dataDir_ = Utf8Of(dirs.data);
    userSettingsPath_ = Utf8Of(dirs.userSettings);

    Messages::BindCatalogue(dirs.locale.Text());
    textdomain(kTextDomain);
    // Numbers in files and on the wire always use a decimal point.
    setlocale(LC_NUMERIC, "C");

    title_ = Tr(kProgramTitle);
    settings_->DefaultPathSet(RuntimeFile(dirs, kDefaultDescription));
}

GUIApp::~GUIApp()
{
    // Quitting happens only when idle, so the worker has ended or is ending. The channel lock
    // is only tried here: the worker takes the GDK lock while holding it, and this thread holds
    // the GDK lock, so blocking on it would invert the order. The join lets the GDK lock go.
    runner_.WorkerStop(false);
    runner_.WorkerJoin();
    if (scrollMark_ && logBuffer_)
        gtk_text_buffer_delete_mark(logBuffer_, scrollMark_);
    scrollMark_ = nullptr;
    if (logFreeSource_)
        g_source_remove(logFreeSource_);
    for (GtkTextBuffer* old : logOldBuffers_)
        g_object_unref(old);
    if (logBufferOwned_)
        g_object_unref(logBufferOwned_);
    placeDevSettings_.Dialog().Destroy();
    placeDevFind_.Dialog().Destroy();
    // The settings model (made after the editor) goes first; its destructor releases the
    // per-setting records and the document, and calls nothing back.
    settings_.reset();
    editor_.reset();

    // The runner takes the channel lock as it goes, which a worker held while waiting for the
    // GDK lock; with no worker left, letting the GDK lock go keeps the lock order one-way.
    GuiLockRelease();
    runnerOwner_.reset();
    GuiLockAcquire();
    Messages::Done();
}

SString GUIApp::Tr(const char* msgid)
{
    return ::Tr(msgid);
}

SString GUIApp::TrArgs(const char* msgid, const char* a0, const char* a1, const char* a2, const char* a3)
{
    return ::TrArgs(msgid, a0, a1, a2, a3);
}

void GUIApp::DiagLog(const char* where, const char* message)
{
    ::DiagLog(where, message);
}

void GUIApp::DiagNoMem(const char* where)
{
    ::DiagNoMem(where);
}

Quill::Window GUIApp::Wnd(WidgetId id) const
{
    GObject* o = objects_[id];
    return Quill::Window(o && GTK_IS_WIDGET(o) ? GTK_WIDGET(o) : nullptr);
}

GObject* GUIApp::WidgetGet(const char* name, bool& ok)
{
    GObject* o = builder_ ? gtk_builder_get_object(builder_, name) : nullptr;
    if (!o) {
        ok = false;
        DiagLog(nullptr, TrArgs("Widget '^0' not found", name).Text());
    }
    return o;
}

bool GUIApp::LookUpWidgets(bool& ok)
{
    bool stopsMissing = false;
    for (const WidgetName& w : kWidgetNames) {
        if (IsStopButton(w.id)) {
            // The stop buttons are only looked for while everything before them was found.
            if (!ok || stopsMissing)
                continue;
            objects_[w.id] = WidgetGet(w.name, ok);
            stopsMissing = !objects_[w.id];
            continue;
        }
        objects_[w.id] = WidgetGet(w.name, ok);
    }
    if (GObject* o = objects_[W_LogBuffer])
        logBuffer_ = GTK_IS_TEXT_BUFFER(o) ? GTK_TEXT_BUFFER(o) : nullptr;
    if (GObject* o = objects_[W_DS_Tree]; o && GTK_IS_TREE_VIEW(o)) {
        dsTreeModel_ = gtk_tree_view_get_model(GTK_TREE_VIEW(o));
        dsTreeSelection_ = gtk_tree_view_get_selection(GTK_TREE_VIEW(o));
    }
    if (GObject* o = objects_[W_DFIND_TreeView]; o && GTK_IS_TREE_VIEW(o)) {
        dfindModel_ = gtk_tree_view_get_model(GTK_TREE_VIEW(o));
        dfindSelection_ = gtk_tree_view_get_selection(GTK_TREE_VIEW(o));
    }
    return ok;
}

void GUIApp::ColumnTitlesSet(bool& ok)
{
    for (const ColumnTitle& c : kColumnTitles) {
        GObject* o = WidgetGet(c.column, ok);
        if (o && GTK_IS_TREE_VIEW_COLUMN(o))
            gtk_tree_view_column_set_title(GTK_TREE_VIEW_COLUMN(o), Tr(c.msgid).Text());
    }
}

void GUIApp::PlacesSetup(bool& ok)
{
    struct PlaceWidgets {
        Quill::WindowPlaceManagement* place;
        const char* names[4];
    };
    const PlaceWidgets places[] = {
        {&placeDevSettings_, {"DLG_DevSettings", "MB_DevSettings", "TB_DevSettings", "DS_Close"}},
        {&placeDevFind_, {"DLG_DevFind", "MB_DevFind", "TB_DevFind", "DFIND_Close"}},
    };
    for (const PlaceWidgets& p : places) {
        GtkWidget* w[4];
        for (int i = 0; i < 4; ++i) {
            GObject* o = WidgetGet(p.names[i], ok);
            w[i] = o && GTK_IS_WIDGET(o) ? GTK_WIDGET(o) : nullptr;
        }
        p.place->Setup(w[0], w[1], w[2], w[3]);
    }
}

bool GUIApp::Init(int, char**, GtkWidget* form1, GtkBuilder* builder)
{
    bool ok = form1 && builder;
    builder_ = builder;
    form1_.Set(form1);

    title_ = Tr(kProgramTitle);
    LookUpWidgets(ok);
    ColumnTitlesSet(ok);
    LogTagsCreate();

    if (GObject* o = objects_[W_DevPassword]; o && GTK_IS_ENTRY(o))
        gtk_entry_set_text(GTK_ENTRY(o), kDefaultDevicePassword);
    for (WidgetId id : {W_TB_WriteB, W_TB_WriteFW})
        if (GObject* o = objects_[id]; o && GTK_IS_TOOL_ITEM(o))
            gtk_tool_item_set_homogeneous(GTK_TOOL_ITEM(o), FALSE);
    if (GObject* o = WidgetGet("ContentAndStatusBar", ok); o && GTK_IS_CONTAINER(o))
        gtk_container_set_border_width(GTK_CONTAINER(o), kContentBorder);
    if (GObject* o = objects_[W_DevHost]; o && GTK_IS_WIDGET(o))
        gtk_widget_grab_focus(GTK_WIDGET(o));

    PlacesSetup(ok);
    if (!ok)
        return false;

    for (Quill::WindowPlaceManagement* p : {&placeDevSettings_, &placeDevFind_})
        gtk_window_set_transient_for(GTK_WINDOW(p->Dialog().Widget()), GTK_WINDOW(form1));
    TreeSignalsConnect();
    editor_->Attach(settings_.get(), GTK_TABLE(objects_[W_DS_SignalsContent]), GTK_TREE_VIEW(objects_[W_DS_Tree]),
                    GTK_TREE_STORE(objects_[W_DS_TreeStore]), dsCursorHandler_);
    // The load reports its own failure; without a description the settings window is useless.
    if (!settings_->DS_LoadDefault())
        return false;

    UsersLoad();

    gtk_window_set_title(GTK_WINDOW(form1), title_.Text());
    SensitivityUpdate();
    TalkLogItemUpdate();
    StateShow();
    ProgressSet(0, 0, false);
    form1_.Show(true);
    return ok;
}

int GUIApp::MsgBox(const char* text, int type, int defaultResponse, const Quill::Window& parent)
{
    const MsgBoxKind* kind = &kMsgBoxKinds[0];
    for (const MsgBoxKind& k : kMsgBoxKinds)
        if (k.type == type)
            kind = &k;
    Quill::MessageRequest request;
    request.title = title_.Text();
    request.text = text;
    request.kind = kind->messageKind;
    request.defaultResponse = defaultResponse;
    const Quill::Window& owner = parent.Widget() ? parent : form1_;
    return Quill::Window::MessageDialog(owner, request, kind->buttons, kind->count);
}

int GUIApp::MsgBoxTr(const char* msgid, int type, int defaultResponse, const Quill::Window& parent)
{
    return MsgBox(Tr(msgid).Text(), type, defaultResponse, parent);
}

bool GUIApp::QuitQuery()
{
    if (!runner_.IsBusy()) {
        SetsSave();
        return true;
    }
    MsgBoxTr("You can't quit program now\nbecause device working in progress.", 1, 0, form1_);
    return false;
}

namespace {
void OnDsTreeCursorChanged(GtkTreeView*, gpointer app)
{
    static_cast<GUIApp*>(app)->DS_TreeCursorChanged();
}

void OnDfindRowActivated(GtkTreeView*, GtkTreePath* path, GtkTreeViewColumn*, gpointer app)
{
    static_cast<GUIApp*>(app)->DFIND_RowActivated(path);
}
}  // namespace

void GUIApp::TreeSignalsConnect()
{
    dsCursorHandler_ = g_signal_connect(objects_[W_DS_Tree], "cursor-changed", G_CALLBACK(OnDsTreeCursorChanged), this);
    g_signal_connect(objects_[W_DFIND_TreeView], "row-activated", G_CALLBACK(OnDfindRowActivated), this);
}
