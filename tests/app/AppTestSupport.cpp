#include "AppTestSupport.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "app/StartUp.h"
#include "base/FileUtil.h"
#include "tests/support/ScriptedPeer.h"

namespace apptest {

namespace {
const int kPollMs = 20, kDialogPollMs = 50, kDialogWaitMs = 30000, kUnexpectedDialogMs = 15000, kSilentReceiveMs = 500;

GtkWidget* ModalDialog()
{
    GList* tops = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* t = tops; t && !found; t = t->next) {
        GtkWidget* w = GTK_WIDGET(t->data);
        if (GTK_IS_DIALOG(w) && gtk_widget_get_visible(w) && gtk_window_get_modal(GTK_WINDOW(w)))
            found = w;
    }
    g_list_free(tops);
    return found;
}

// A message box nobody expected during start-up (a test that does expect one answers it at
// once) would wait for a click forever; this closes it so the test fails instead of hanging.
gboolean UnexpectedDialogClose(gpointer)
{
    if (GtkWidget* d = ModalDialog()) {
        ADD_FAILURE() << "unanswered dialog during start-up: " << gtk_window_get_title(GTK_WINDOW(d));
        gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_DELETE_EVENT);
    }
    return TRUE;
}
}  // namespace

std::string FileText(const std::string& path)
{
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

// The resources are built beside the test executables, found from a run by hand or by ctest.
std::string BuiltResFile(const std::string& name)
{
    std::string exe = Take(g_file_read_link("/proc/self/exe", nullptr));
    return Take(g_path_get_dirname(exe.empty() ? "./x" : exe.c_str())) + "/res/" + name;
}

ProgramDir::ProgramDir() : path_(Take(g_dir_make_tmp("pelta-app-XXXXXX", nullptr)))
{
    MakeDirs((path_ + "/res/UI").c_str());
    FileCopy(BuiltResFile("UI/Main.glade").c_str(), Res("UI/Main.glade").c_str());
    CopyRecurs(BuiltResFile("locale").c_str(), Res("locale").c_str());
    FileCopy(BuiltResFile("Pelta.xml").c_str(), Res("Pelta.xml").c_str());
}

ProgramDir::~ProgramDir()
{
    if (!path_.empty())
        RemoveRecurs(path_.c_str());
}

void ProgramDir::WriteRes(const std::string& name, const std::string& text) const
{
    std::ofstream(Res(name), std::ios::binary | std::ios::trunc) << text;
}

bool RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    struct Wait {
        const std::function<bool()>* done;
        gint64 deadline;
    } wait{&done, g_get_monotonic_time() + (gint64)timeoutMs * 1000};
    if (done())
        return true;
    gdk_threads_add_timeout(kPollMs, [](gpointer p) -> gboolean {
        Wait* w = static_cast<Wait*>(p);
        if ((*w->done)() || g_get_monotonic_time() > w->deadline) {
            gtk_main_quit();
            return FALSE;
        }
        return TRUE;
    }, &wait);
    gtk_main();
    return done();
}

void Drain()
{
    for (int i = 0; i < 10000 && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
}

bool PlacedAt(GtkWidget* w, const Quill::Rect& r)
{
    return RunUntil([&] { return Quill::Window(w).GetPlace() == r; });
}

DialogAnswer::DialogAnswer(int response, std::function<void(GtkWidget*)> inspect)
    : response_(response), inspect_(std::move(inspect)), triesLeft_(kDialogWaitMs / kDialogPollMs)
{
    source_ = gdk_threads_add_timeout(kDialogPollMs, &DialogAnswer::Poll, this);
}

DialogAnswer::~DialogAnswer()
{
    if (source_)
        g_source_remove(source_);
}

gboolean DialogAnswer::Poll(gpointer p)
{
    DialogAnswer* self = static_cast<DialogAnswer*>(p);
    GtkWidget* found = ModalDialog();
    if (!found && --self->triesLeft_ > 0)
        return TRUE;
    self->source_ = 0;
    self->seen_ = found != nullptr;
    if (found && self->inspect_)
        self->inspect_(found);
    if (found && self->response_ != kInspectAnswers)
        gtk_dialog_response(GTK_DIALOG(found), self->response_);
    return FALSE;
}

LogCapture::LogCapture(GLogLevelFlags levels) : levels_(levels)
{
    previous_ = g_log_set_default_handler(&LogCapture::Handler, this);
}

LogCapture::~LogCapture()
{
    g_log_set_default_handler(previous_, nullptr);
}

void LogCapture::Handler(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer p)
{
    LogCapture* self = static_cast<LogCapture*>(p);
    if (level & self->levels_)
        self->lines.push_back(message ? message : "");
    else
        g_log_default_handler(domain, level, message, nullptr);
}

void DiscoveryOnLoopback(GUIApp* app, int port, int receiveMs)
{
    DiscoveryOptions options;
    options.directedAddress = htonl(INADDR_LOOPBACK);
    options.port = (uint16_t)port;
    options.receiveTimeoutMs = receiveMs;
    app->Runner().DiscoveryOptionsSet(options);
}

RunningApp::RunningApp(const ProgramDir& dir)
{
    guint guard = gdk_threads_add_timeout(kUnexpectedDialogMs, &UnexpectedDialogClose, nullptr);
    rc_ = AppStart(0, nullptr, dir.Path().c_str());
    g_source_remove(guard);
    // A port just released: nobody answers there. Without a port, no discovery at all.
    int port = 0, fd = BindLoopback(SOCK_DGRAM, &port);
    if (fd >= 0)
        close(fd);
    if (GUIApp::instance)
        DiscoveryOnLoopback(GUIApp::instance, fd >= 0 ? port : 0, kSilentReceiveMs);
}

RunningApp::~RunningApp()
{
    if (GUIApp::instance) {
        GUIApp::instance->Runner().WorkerStop(false);
        GUIApp::instance->Runner().WorkerJoin();
    }
    Quit();
    AppFinish();
}

bool RunningApp::Quit()
{
    AppQuitRequest();
    return GUIApp::instance == nullptr;
}

void AppTest::StartApp()
{
    run.reset(new RunningApp(dir));
    ASSERT_EQ(run->StartResult(), 0);
    app = run->App();
}

void AppTest::StartSim(std::vector<std::string> args)
{
    args.insert(args.begin(), {"--state-dir", dir.Path() + "/unit"});
    sim.reset(new SimProcess(args));
    std::string error;
    ASSERT_TRUE(sim->Start(&error)) << error;
    EntrySet(app, W_DevHost, sim->HostPort().c_str());
}

bool AppTest::WaitIdle(int timeoutMs)
{
    bool idle = RunUntil([&] { return !app->Runner().IsBusy(); }, timeoutMs);
    app->Runner().WorkerJoin();
    return idle;
}

TiXmlElement* AppTest::Setting(const char* description)
{
    for (TiXmlElement* e : app->Settings().Scalars())
        if (!strcmp(DS_Description(e), description))
            return e;
    ADD_FAILURE() << "no setting " << description;
    return nullptr;
}

const DS_SettingWidgets& AppTest::W(const char* description)
{
    static const DS_SettingWidgets none;
    const DS_SettingWidgets* w = app->Editor().WidgetsOf(Setting(description));
    EXPECT_NE(w, nullptr) << description << " is not shown";
    return w ? *w : none;
}

namespace {
// A save chooser selects only existing files; a new name is typed into its folder instead.
void ChooserSet(GtkWidget* dialog, const std::string& path)
{
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    if (gtk_file_chooser_get_action(chooser) != GTK_FILE_CHOOSER_ACTION_SAVE || IsRegularFile(path.c_str())) {
        gtk_file_chooser_set_filename(chooser, path.c_str());
        return;
    }
    gtk_file_chooser_set_current_folder(chooser, Take(g_path_get_dirname(path.c_str())).c_str());
    gtk_file_chooser_set_current_name(chooser, Take(g_path_get_basename(path.c_str())).c_str());
}
}  // namespace

std::string ChooseFile(void (*handler)(GtkWidget*, gpointer), const std::string& path)
{
    std::string title;
    bool taken = false;
    {
        DialogAnswer answer(kInspectAnswers, [&](GtkWidget* d) {
            title = gtk_window_get_title(GTK_WINDOW(d));
            // Picked again every second: under CPU load the chooser can drop a pick asked for while
            // it still loads the folder, and it loads slowly on a busy machine.
            int polls = 0;
            taken = RunUntil([&] {
                if (polls++ % 50 == 0)
                    ChooserSet(d, path);
                return path == Take(gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d)));
            });
            gtk_dialog_response(GTK_DIALOG(d), taken ? GTK_RESPONSE_OK : GTK_RESPONSE_CANCEL);
        });
        handler(nullptr, nullptr);
        EXPECT_TRUE(answer.Seen()) << "no chooser";
    }
    EXPECT_TRUE(taken) << "the chooser never took " << path;
    return taken ? title : std::string();
}

// Clock times are masked: the compared runs are made at different seconds.
std::string Snapshot(GtkTextBuffer* buffer)
{
    std::string out;
    GtkTextIter at, next;
    gtk_text_buffer_get_start_iter(buffer, &at);
    while (!gtk_text_iter_is_end(&at)) {
        next = at;
        gtk_text_iter_forward_to_tag_toggle(&next, nullptr);
        out += "{";
        GSList* tags = gtk_text_iter_get_tags(&at);
        for (GSList* t = tags; t; t = t->next) {
            gchar* name = nullptr;
            g_object_get(t->data, "name", &name, nullptr);
            out += Take(name) + (t->next ? "," : "");
        }
        g_slist_free(tags);
        out += "}" + Take(gtk_text_iter_get_text(&at, &next));
        at = next;
    }
    return std::regex_replace(out, std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}"), "hh:mm:ss");
}

std::string Take(gchar* text)
{
    std::string r = text ? text : "";
    g_free(text);
    return r;
}

std::string LogText(GUIApp* app)
{
    GtkTextIter s, e;
    gtk_text_buffer_get_bounds(app->LogBuffer(), &s, &e);
    return Take(gtk_text_buffer_get_text(app->LogBuffer(), &s, &e, FALSE));
}

std::string EntryText(GUIApp* app, WidgetId id)
{
    return gtk_entry_get_text(GTK_ENTRY(app->Object(id)));
}

void EntrySet(GUIApp* app, WidgetId id, const char* text)
{
    gtk_entry_set_text(GTK_ENTRY(app->Object(id)), text);
}

GtkWidget* Widget(const char* name)
{
    GObject* o = g_builder ? gtk_builder_get_object(g_builder, name) : nullptr;
    return o && GTK_IS_WIDGET(o) ? GTK_WIDGET(o) : nullptr;
}

std::string MessageText(GtkWidget* dialog)
{
    gchar* text = nullptr;
    GtkMessageType look = GTK_MESSAGE_OTHER;
    g_object_get(dialog, "text", &text, "message-type", &look, nullptr);
    return g_enum_get_value(G_ENUM_CLASS(g_type_class_ref(GTK_TYPE_MESSAGE_TYPE)), look)->value_nick +
           (": " + Take(text));
}

void CloseRequest(GtkWidget* w)
{
    GdkEvent* e = gdk_event_new(GDK_DELETE);
    e->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(w)));
    e->any.send_event = TRUE;
    gtk_main_do_event(e);
    gdk_event_free(e);
}

std::string Tooltip(GtkWidget* w)
{
    return Take(gtk_widget_get_tooltip_text(w));
}

}  // namespace apptest

// The window tests run on the GUI thread with the GDK lock held, as the program does.
int main(int argc, char** argv)
{
    GuiThreadsEnter();
    ErrnoTextInit();
    gtk_init(&argc, &argv);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    ErrnoTextDone();
    gdk_threads_leave();
    return rc;
}
