#include "AppTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/StartUp.h"
#include "base/FileUtil.h"

namespace apptest {

namespace {
const int kPollMs = 20;
const int kDialogPollMs = 50;
const int kDrainLimit = 10000;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// The resources are built beside the test executables, so a test binary run by hand finds them
// as well as one run by ctest (which names the folder).
std::string BuiltRes()
{
    const char* bin = getenv("PELTA_BIN_DIR");
    if (bin)
        return std::string(bin) + "/res";
    gchar* exe = g_file_read_link("/proc/self/exe", nullptr);
    gchar* dir = exe ? g_path_get_dirname(exe) : g_strdup(".");
    std::string res = std::string(dir) + "/res";
    g_free(dir);
    g_free(exe);
    return res;
}

// A message box nobody expected during start-up (a test that does expect one answers it at
// once) would wait for a click forever; this closes it so the test fails instead of hanging.
gboolean UnexpectedDialogClose(gpointer)
{
    GList* tops = gtk_window_list_toplevels();
    for (GList* t = tops; t; t = t->next) {
        GtkWidget* w = GTK_WIDGET(t->data);
        if (GTK_IS_DIALOG(w) && gtk_widget_get_visible(w) && gtk_window_get_modal(GTK_WINDOW(w))) {
            ADD_FAILURE() << "unanswered dialog during start-up: " << gtk_window_get_title(GTK_WINDOW(w));
            gtk_dialog_response(GTK_DIALOG(w), GTK_RESPONSE_DELETE_EVENT);
        }
    }
    g_list_free(tops);
    return TRUE;
}
const int kUnexpectedDialogMs = 15000;
const int kSilentReceiveMs = 500;
}  // namespace

ProgramDir::ProgramDir()
{
    gchar* dir = g_dir_make_tmp("pelta-app-XXXXXX", nullptr);
    path_ = dir ? dir : "";
    g_free(dir);
    MakeDirs((path_ + "/res/UI").c_str());
    FileCopy((BuiltRes() + "/UI/Main.glade").c_str(), (path_ + "/res/UI/Main.glade").c_str());
    CopyRecurs((BuiltRes() + "/locale").c_str(), (path_ + "/res/locale").c_str());
    FileCopy((BuiltRes() + "/Pelta.xml").c_str(), (path_ + "/res/Pelta.xml").c_str());
}

ProgramDir::~ProgramDir()
{
    if (!path_.empty())
        RemoveRecurs(path_.c_str());
}

void ProgramDir::WriteSettings(const std::string& text) const
{
    WriteFile(Res("settings.xml"), text);
}

void ProgramDir::WriteRes(const char* name, const std::string& text) const
{
    WriteFile(Res(name), text);
}

std::string ProgramDir::ReadSettings() const
{
    return ReadFile(Res("settings.xml"));
}

bool ProgramDir::SettingsExist() const
{
    return IsRegularFile(Res("settings.xml").c_str());
}

void ProgramDir::EditGlade(const std::string& from, const std::string& to) const
{
    std::string path = Res("UI/Main.glade");
    std::string text = ReadFile(path);
    for (size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
        text.replace(p, from.size(), to);
    WriteFile(path, text);
}

void ProgramDir::RemoveGlade() const
{
    FileUnlink(Res("UI/Main.glade").c_str());
}

bool RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    struct Wait {
        const std::function<bool()>* done;
        gint64 deadline;
    } wait{&done, g_get_monotonic_time() + (gint64)timeoutMs * 1000};
    if (done())
        return true;
    guint source = gdk_threads_add_timeout(kPollMs, [](gpointer p) -> gboolean {
        Wait* w = static_cast<Wait*>(p);
        if ((*w->done)() || g_get_monotonic_time() > w->deadline) {
            gtk_main_quit();
            return FALSE;
        }
        return TRUE;
    }, &wait);
    gtk_main();
    (void)source;
    return done();
}

void Drain()
{
    for (int i = 0; i < kDrainLimit && gtk_events_pending(); ++i)
        gtk_main_iteration_do(FALSE);
}

DialogAnswer::DialogAnswer(int response, std::function<void(GtkWidget*)> inspect, int timeoutMs)
    : response_(response), inspect_(std::move(inspect)), triesLeft_(timeoutMs / kDialogPollMs)
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
    GList* tops = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* t = tops; t && !found; t = t->next) {
        GtkWidget* w = GTK_WIDGET(t->data);
        if (GTK_IS_DIALOG(w) && gtk_widget_get_visible(w) && gtk_window_get_modal(GTK_WINDOW(w)))
            found = w;
    }
    g_list_free(tops);
    if (found) {
        self->seen_ = true;
        self->source_ = 0;
        if (self->inspect_)
            self->inspect_(found);
        if (self->response_ != kInspectAnswers)
            gtk_dialog_response(GTK_DIALOG(found), self->response_);
        return FALSE;
    }
    if (--self->triesLeft_ <= 0) {
        self->source_ = 0;
        return FALSE;
    }
    return TRUE;
}

LogCapture::LogCapture(GLogLevelFlags levels) : levels_(levels)
{
    previous_ = g_log_set_default_handler(&LogCapture::Handler, this);
    previousData_ = nullptr;
}

LogCapture::~LogCapture()
{
    g_log_set_default_handler(previous_, previousData_);
}

void LogCapture::Handler(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer p)
{
    LogCapture* self = static_cast<LogCapture*>(p);
    if (level & self->levels_)
        self->lines_.push_back(message ? message : "");
    else
        g_log_default_handler(domain, level, message, nullptr);
}

int LogCapture::Count(const std::string& part) const
{
    int n = 0;
    for (const std::string& l : lines_)
        n += l.find(part) != std::string::npos;
    return n;
}

RunningApp::RunningApp(const ProgramDir& dir)
{
    guint guard = gdk_threads_add_timeout(kUnexpectedDialogMs, &UnexpectedDialogClose, nullptr);
    rc_ = AppStart(0, nullptr, dir.Path().c_str());
    g_source_remove(guard);
    // A port just released: nobody answers there. Without a port, no discovery at all.
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bool bound = fd >= 0 && bind(fd, (sockaddr*)&a, sizeof a) == 0 && getsockname(fd, (sockaddr*)&a, &len) == 0;
    if (fd >= 0)
        close(fd);
    if (GUIApp::instance)
        DiscoveryOnLoopback(GUIApp::instance, bound ? ntohs(a.sin_port) : 0, kSilentReceiveMs);
}

void DiscoveryOnLoopback(GUIApp* app, int port, int receiveMs)
{
    DiscoveryOptions options;
    options.directedAddress = htonl(INADDR_LOOPBACK);
    options.port = (uint16_t)port;
    options.receiveTimeoutMs = receiveMs;
    app->Runner().DiscoveryOptionsSet(options);
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

namespace {
// A save chooser selects only existing files; a new name is typed into its folder instead.
void ChooserSet(GtkWidget* dialog, const std::string& path)
{
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    if (gtk_file_chooser_get_action(chooser) != GTK_FILE_CHOOSER_ACTION_SAVE ||
        IsRegularFile(path.c_str())) {
        gtk_file_chooser_set_filename(chooser, path.c_str());
        return;
    }
    gchar* folder = g_path_get_dirname(path.c_str());
    gchar* name = g_path_get_basename(path.c_str());
    gtk_file_chooser_set_current_folder(chooser, folder);
    gtk_file_chooser_set_current_name(chooser, name);
    g_free(name);
    g_free(folder);
}
}  // namespace

std::string BuiltResFile(const char* name)
{
    return BuiltRes() + "/" + name;
}

void ChooserPick::Pick(GtkWidget* d)
{
    dialog = d;
    title = gtk_window_get_title(GTK_WINDOW(d));
    ChooserSet(d, path);
    gdk_threads_add_timeout(20, &ChooserPick::Poll, this);
}

gboolean ChooserPick::Poll(gpointer p)
{
    ChooserPick* self = static_cast<ChooserPick*>(p);
    gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(self->dialog));
    bool ready = chosen && self->path == chosen;
    g_free(chosen);
    if (!ready && self->triesLeft % 50 == 0)
        ChooserSet(self->dialog, self->path);
    if (ready || --self->triesLeft <= 0) {
        gtk_dialog_response(GTK_DIALOG(self->dialog), ready ? GTK_RESPONSE_OK : GTK_RESPONSE_CANCEL);
        return FALSE;
    }
    return TRUE;
}

std::string LogText(GUIApp* app)
{
    GtkTextBuffer* b = app->LogBuffer();
    GtkTextIter s, e;
    gtk_text_buffer_get_bounds(b, &s, &e);
    gchar* text = gtk_text_buffer_get_text(b, &s, &e, FALSE);
    std::string r = text ? text : "";
    g_free(text);
    return r;
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
    g_object_get(dialog, "text", &text, nullptr);
    std::string r = text ? text : "";
    g_free(text);
    return r;
}

}  // namespace apptest
