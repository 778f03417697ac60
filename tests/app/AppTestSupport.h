// Helpers for the in-process window tests: a scratch program folder with a copy of res/, the
// application started on it (with a simulator when asked), modal dialogs answered from a timer.
#pragma once
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/GUIApp.h"
#include "app/SettingsEditor.h"
#include "tests/support/SimProcess.h"

namespace apptest {

// A temporary program folder holding res/UI/Main.glade, res/Pelta.xml and the catalogues.
class ProgramDir {
public:
    ProgramDir();
    ~ProgramDir();
    const std::string& Path() const { return path_; }
    std::string Res(const std::string& name) const { return path_ + "/res/" + name; }
    void WriteRes(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};

std::string FileText(const std::string& path);
// Runs the main loop until done() holds or timeoutMs passes; returns done().
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 30000);
void Drain();
// Waits until the window w stands at r (the window manager places it a little later).
bool PlacedAt(GtkWidget* w, const Quill::Rect& r);

// Answers the next modal dialog: inspect(dialog) runs first, then the dialog gets the response
// (kInspectAnswers: inspect answers it itself).
const int kInspectAnswers = -1000000;
class DialogAnswer {
public:
    DialogAnswer(int response, std::function<void(GtkWidget*)> inspect = nullptr);
    ~DialogAnswer();
    bool Seen() const { return seen_; }

private:
    static gboolean Poll(gpointer self);
    int response_;
    std::function<void(GtkWidget*)> inspect_;
    int triesLeft_;
    bool seen_ = false;
    guint source_ = 0;
};

class LogCapture {
public:
    explicit LogCapture(GLogLevelFlags levels = GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
    ~LogCapture();
    std::vector<std::string> lines;

private:
    static void Handler(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer self);
    GLogLevelFlags levels_;
    GLogFunc previous_;
};

std::string Tooltip(GtkWidget* w);

void DiscoveryOnLoopback(GUIApp* app, int port, int receiveMs);

// Starts the application on dir, its discovery on a silent loopback port so that no window
// test ever broadcasts; stops it (saving the user settings) when destroyed.
class RunningApp {
public:
    explicit RunningApp(const ProgramDir& dir);
    ~RunningApp();
    int StartResult() const { return rc_; }
    GUIApp* App() const { return GUIApp::instance; }
    // Quits through the quit guard; true when the application is gone.
    bool Quit();

private:
    int rc_;
};

class AppTest : public ::testing::Test {
protected:
    void SetUp() override { StartApp(); }
    void StartApp();
    // A simulator with the unit's state under the program folder; the window talks to it.
    void StartSim(std::vector<std::string> args = {});
    // The state turns idle before the worker's last window update; joining waits for that.
    bool WaitIdle(int timeoutMs = 30000);
    std::string Status() { return gtk_label_get_label(GTK_LABEL(app->Object(W_SB_Main))); }
    std::string ProgressTip() { return Tooltip(GTK_WIDGET(app->Object(W_Progress))); }
    double Fraction() { return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(app->Object(W_Progress))); }
    // The loaded description's setting so described, and its widgets while shown.
    TiXmlElement* Setting(const char* description);
    const DS_SettingWidgets& W(const char* description);

    ProgramDir dir;
    std::unique_ptr<RunningApp> run;
    GUIApp* app = nullptr;
    std::unique_ptr<SimProcess> sim;  // declared last: stopped before the application
};

// Picks the file in the chooser that handler opens, then presses OK once the chooser reports it
// as chosen. Returns the chooser's title, empty when no chooser came or it never took the file.
std::string ChooseFile(void (*handler)(GtkWidget*, gpointer), const std::string& path);
// A file of the resources built beside the test executables (e.g. "samples/Pelta-ru.xml").
std::string BuiltResFile(const std::string& name);

// The log as "{tags}text" runs, one per stretch of equal tags, clock times as "hh:mm:ss".
std::string Snapshot(GtkTextBuffer* buffer);
// A GLib string as std::string ("" for null), freed.
std::string Take(gchar* text);
std::string LogText(GUIApp* app);
std::string EntryText(GUIApp* app, WidgetId id);
void EntrySet(GUIApp* app, WidgetId id, const char* text);
GtkWidget* Widget(const char* name);
// A message dialog as "look: text", the look being its message type ("warning").
std::string MessageText(GtkWidget* dialog);
// What the window manager sends when the user closes w.
void CloseRequest(GtkWidget* w);

}  // namespace apptest
