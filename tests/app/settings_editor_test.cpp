// The settings editor on a description of its own: the table a group builds, availability
// across a write record, the group change that commits first, the password dialog, and a
// default description that does not load.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "AppTestSupport.h"
#include "app/SettingsEditor.h"
#include "tests/support/SimProcess.h"

extern "C" {
void DevSettingsWritePasswordToDev_cb(GtkWidget*, gpointer);
}

using namespace apptest;

namespace {
// A setting with its own write record (file, rec) unless the record is shared on purpose.
std::string Scalar(int gid, const char* type, const char* description, int file, int rec, int offset, int count,
                   const std::string& attributes, const std::string& children)
{
    std::ostringstream s;
    s << "<scalar gid=\"" << gid << "\" type=\"" << type << "\" " << attributes << " position='{\"r\":{\"file\":"
      << file << ",\"rec\":" << rec << ",\"offset\":" << offset << ",\"count\":" << count
      << ",\"byte\":0},\"w\":{\"file\":" << file << ",\"rec\":" << rec << ",\"offset\":" << offset
      << ",\"count\":" << count << "}}'><access>readwrite</access><description>" << description
      << "</description>" << children << "</scalar>\n";
    return s.str();
}

std::string Values(std::initializer_list<const char*> texts)
{
    std::string s = "<values>";
    for (const char* t : texts)
        s += std::string("<value><![CDATA[") + t + "]]></value>";
    return s + "</values>";
}

std::string TestDescription()
{
    std::string named = "<namedvalues>"
                        "<value><key>0</key><val>Off</val></value><value><key>1</key><val>On</val></value>"
                        "<value><key>2</key><val>Auto</val></value><value><key>1</key><val>On again</val></value>"
                        "</namedvalues>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<device><description>Test unit</description><sygnals>"
           "<groups><group gid=\"10\" title=\"First\" tab=\"2\"/><group gid=\"20\" title=\"Second\" tab=\"2\"/>"
           "<group gid=\"30\" title=\"Lengths\" tab=\"2\"/></groups>\n" +
           Scalar(10, "Integer", "Mode", 21, 0, 1, 1, "", "<hint>How it runs</hint>" + named + Values({"1"})) +
           Scalar(10, "Float", "Gain", 21, 1, 1, 1, "min=\"0\" max=\"50\"", "<measure>dB</measure>" + Values({"2.5"})) +
           Scalar(10, "IntArray", "Flags", 21, 2, 1, 3, "", "<indexes>a,b,c</indexes>" + Values({"1", "0", "1"})) +
           Scalar(10, "String", "Name", 21, 3, 1, 4, "min=\"2\" max=\"8\"", Values({"abc"})) +
           Scalar(10, "String", "MAC", 21, 4, 1, 1, "format=\"x:x\"", Values({"00:1a"})) +
           Scalar(10, "Integer", "R1", 22, 0, 1, 1, "", Values({"5"})) +
           Scalar(10, "Integer", "R2", 22, 0, 2, 1, "", Values({"6"})) +
           Scalar(10, "Integer", "R3", 22, 0, 3, 1, "", Values({"7"})) +
           Scalar(20, "Integer", "Other", 23, 0, 1, 1, "min=\"-5\" max=\"5\"", Values({"3"})) +
           Scalar(30, "String", "Fixed", 24, 0, 1, 2, "min=\"4\" max=\"4\"", "") +
           Scalar(30, "String", "Ranged", 24, 1, 1, 4, "min=\"2\" max=\"8\"", "") +
           Scalar(30, "String", "AtLeast", 24, 2, 1, 2, "min=\"3\"", "") +
           Scalar(30, "String", "AtMost", 24, 3, 1, 4, "max=\"6\"", "") +
           Scalar(30, "String", "Dotted", 24, 4, 1, 1, "format=\"u.u\" max=\"7\"", "") +
           Scalar(30, "String", "Plain", 24, 5, 1, 1, "", "") + "</sygnals></device>\n";
}

std::string Tooltip(GtkWidget* w)
{
    gchar* tip = gtk_widget_get_tooltip_text(w);
    std::string r = tip ? tip : "";
    g_free(tip);
    return r;
}

std::string Colour(GtkWidget* box)
{
    GtkRcStyle* style = gtk_widget_get_modifier_style(box);
    if (!(style->color_flags[GTK_STATE_NORMAL] & GTK_RC_BG))
        return "none";
    gchar* text = gdk_color_to_string(&style->bg[GTK_STATE_NORMAL]);
    // "#rrrrggggbbbb" -> "#RRGGBB"
    std::string s = text;
    g_free(text);
    std::string r = std::string("#") + s.substr(1, 2) + s.substr(5, 2) + s.substr(9, 2);
    for (char& c : r)
        c = g_ascii_toupper(c);
    return r;
}

struct Attach {
    guint left, right, top;
};
// Where a cell sits; every cell is one row high.
Attach AttachOf(GtkWidget* box)
{
    Attach a{};
    guint bottom = 0;
    gtk_container_child_get(GTK_CONTAINER(gtk_widget_get_parent(box)), box, "left-attach", &a.left, "right-attach",
                            &a.right, "top-attach", &a.top, "bottom-attach", &bottom, nullptr);
    EXPECT_EQ(bottom, a.top + 1);
    return a;
}

GtkWidget* FindSpin(GtkWidget* w)
{
    if (GTK_IS_SPIN_BUTTON(w))
        return w;
    GtkWidget* found = nullptr;
    if (GTK_IS_CONTAINER(w)) {
        GList* kids = gtk_container_get_children(GTK_CONTAINER(w));
        for (GList* k = kids; k && !found; k = k->next)
            found = FindSpin(GTK_WIDGET(k->data));
        g_list_free(kids);
    }
    return found;
}

GtkWidget* Child(GtkWidget* box)
{
    return gtk_bin_get_child(GTK_BIN(box));
}

class SettingsEditorTest : public ::testing::Test {
protected:
    ProgramDir dir;
    std::unique_ptr<RunningApp> run;
    GUIApp* app = nullptr;

    void SetUp() override
    {
        dir.WriteRes("Pelta.xml", TestDescription());
        run.reset(new RunningApp(dir));
        ASSERT_EQ(run->StartResult(), 0);
        app = run->App();
    }
    TiXmlElement* Setting(const char* description)
    {
        for (TiXmlElement* e : app->Settings().Scalars())
            if (!strcmp(DS_Description(e), description))
                return e;
        ADD_FAILURE() << "no setting " << description;
        return nullptr;
    }
    const DS_SettingWidgets& W(const char* description)
    {
        const DS_SettingWidgets* w = app->Editor().WidgetsOf(Setting(description));
        EXPECT_NE(w, nullptr) << description << " has no widgets";
        static DS_SettingWidgets none;
        return w ? *w : none;
    }
    bool Active(const char* description)
    {
        return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W(description).check));
    }
    std::vector<int> SelectedRow()
    {
        GtkTreeModel* model = nullptr;
        GtkTreeIter iter;
        std::vector<int> path;
        GtkTreeView* tree = GTK_TREE_VIEW(app->Object(W_DS_Tree));
        if (gtk_tree_selection_get_selected(gtk_tree_view_get_selection(tree), &model, &iter)) {
            GtkTreePath* p = gtk_tree_model_get_path(model, &iter);
            gint* i = gtk_tree_path_get_indices(p);
            path.assign(i, i + gtk_tree_path_get_depth(p));
            gtk_tree_path_free(p);
        }
        return path;
    }
    // What the user does by clicking a row of the group tree.
    void ClickRow(int index)
    {
        GtkTreePath* p = gtk_tree_path_new_from_indices(index, -1);
        gtk_tree_view_set_cursor(GTK_TREE_VIEW(app->Object(W_DS_Tree)), p, nullptr, FALSE);
        gtk_tree_path_free(p);
    }
};
}  // namespace

TEST_F(SettingsEditorTest, GroupBuildsRowsColoursAndTooltips)
{
    ASSERT_EQ(app->Settings().CurrentGroup(), 10);
    EXPECT_EQ(SelectedRow(), std::vector<int>{0});
    struct RowCase {
        const char* setting;
        size_t widgets;
        guint firstRow;
        const char* colour;
    };
    // An array takes a header row and one row per value, all in its colour.
    const RowCase rows[] = {
        {"Mode", 4, 0, "#FFFFFF"}, {"Gain", 4, 1, "#EEEEEE"}, {"Flags", 11, 2, "#FFFFFF"},
        {"Name", 4, 6, "#EEEEEE"}, {"MAC", 4, 7, "#FFFFFF"},   {"R1", 4, 8, "#EEEEEE"},
        {"R2", 4, 9, "#FFFFFF"},  {"R3", 4, 10, "#EEEEEE"},
    };
    for (const RowCase& c : rows) {
        const DS_SettingWidgets& w = W(c.setting);
        ASSERT_EQ(w.widgets.size(), c.widgets) << c.setting;
        EXPECT_EQ(AttachOf(w.widgets[0]).top, c.firstRow) << c.setting;
        for (GtkWidget* box : w.widgets) {
            EXPECT_EQ(Colour(box), c.colour) << c.setting;
            EXPECT_TRUE(gtk_widget_get_visible(box)) << c.setting;
        }
        EXPECT_TRUE(Active(c.setting)) << c.setting;
        EXPECT_FALSE(gtk_widget_get_can_focus(w.check)) << c.setting;
    }
    // Scalar: name 0-1, check 1-2, value 2-3, unit 3-4 on one row.
    const DS_SettingWidgets& gain = W("Gain");
    const Attach scalarCells[] = {{0, 1, 1}, {1, 2, 1}, {2, 3, 1}, {3, 4, 1}};
    for (size_t i = 0; i < 4; ++i) {
        Attach a = AttachOf(gain.widgets[i]);
        EXPECT_EQ(a.left, scalarCells[i].left) << i;
        EXPECT_EQ(a.right, scalarCells[i].right) << i;
        EXPECT_EQ(a.top, scalarCells[i].top) << i;
    }
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Child(gain.widgets[3]))), "dB");
    EXPECT_EQ(gtk_label_get_ellipsize(GTK_LABEL(Child(gain.widgets[3]))), PANGO_ELLIPSIZE_NONE);
    GtkLabel* name = GTK_LABEL(Child(gain.widgets[0]));
    EXPECT_EQ(gtk_label_get_ellipsize(name), PANGO_ELLIPSIZE_END);
    EXPECT_EQ(gtk_label_get_max_width_chars(name), 32);
    gint xpad = 0, ypad = 0;
    gtk_misc_get_padding(GTK_MISC(name), &xpad, &ypad);
    EXPECT_EQ(xpad, 4);
    EXPECT_EQ(ypad, 4);
    // Array: header name 0-1 and check 1-4, then per value index 0-2, value 2-3, unit 3-4.
    const DS_SettingWidgets& flags = W("Flags");
    const Attach arrayCells[] = {{0, 1, 2}, {1, 4, 2}, {0, 2, 3}, {2, 3, 3}, {3, 4, 3}, {0, 2, 5}};
    for (size_t i = 0; i < 5; ++i) {
        Attach a = AttachOf(flags.widgets[i]);
        EXPECT_EQ(a.left, arrayCells[i].left) << i;
        EXPECT_EQ(a.right, arrayCells[i].right) << i;
        EXPECT_EQ(a.top, arrayCells[i].top) << i;
    }
    EXPECT_EQ(AttachOf(flags.widgets[8]).top, 5u);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Child(flags.widgets[8]))), "\tc");
    EXPECT_EQ(Tooltip(Child(flags.widgets[8])), "c");
    ASSERT_EQ(flags.values.size(), 3u);
    EXPECT_EQ(gtk_spin_button_get_value(GTK_SPIN_BUTTON(flags.values[1])), 0);
    EXPECT_EQ(gtk_spin_button_get_value(GTK_SPIN_BUTTON(flags.values[2])), 1);

    // Tooltips: the hint in parentheses, the record's first and last setting.
    EXPECT_EQ(Tooltip(Child(W("Mode").widgets[0])), "Mode\n(How it runs)");
    EXPECT_EQ(Tooltip(Child(W("Gain").widgets[0])), "Gain");
    EXPECT_EQ(Tooltip(W("Mode").check), "Value availability");
    for (const char* r : {"R1", "R2", "R3"})
        EXPECT_EQ(Tooltip(W(r).check), "Value availability.\n\nValues 'R1' - 'R3' write one time.") << r;
    EXPECT_EQ(Tooltip(W("MAC").values[0]), "Format: x:x");
    EXPECT_EQ(gtk_entry_get_text(GTK_ENTRY(W("MAC").values[0])), std::string("00:1a"));
    EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(W("Name").values[0])), 8);
}

TEST_F(SettingsEditorTest, ValueWidgetsByKind)
{
    // Combo: the last entry whose key matches; none for an unknown key; a missing value is key 0.
    TiXmlElement* mode = Setting("Mode");
    GtkComboBox* combo = GTK_COMBO_BOX(W("Mode").values[0]);
    EXPECT_EQ(gtk_combo_box_get_active(combo), 3);
    int row = 0;
    for (auto [text, expected] : {std::pair<const char*, int>{"5", -1}, {"2", 2}, {"0x1", 3}, {"junk", 0}}) {
        SString error;
        ASSERT_TRUE(app->Settings().DS_ValuesSet(mode, nullptr, error));
        DS_ValueAppend(mode, text);
        app->DS_BuildSignalWidgets(mode, row, kSettingsRowColourOdd, false);
        EXPECT_EQ(gtk_combo_box_get_active(combo), expected) << text;
    }
    gtk_combo_box_set_active(combo, -1);
    SString error;
    EXPECT_FALSE(app->DS_Widgets2XML(mode, error));
    EXPECT_STREQ(error.Text(), "No list item selected");
    for (auto [index, key] : {std::pair<int, const char*>{2, "2"}, {0, "0"}}) {
        gtk_combo_box_set_active(combo, index);
        EXPECT_TRUE(app->DS_Widgets2XML(mode, error)) << index;
        EXPECT_EQ(DS_ValueTexts(mode).at(0), SString(key)) << index;
    }

    // Spin buttons: range from min and max, else the wide defaults; 5 decimals for a Float.
    struct SpinCase {
        const char* setting;
        double lower, upper, step;
        guint digits;
    };
    for (const SpinCase& c : {SpinCase{"Gain", 0, 50, 0.00001, 5}, SpinCase{"R1", -1e37, 1e37, 1, 0}}) {
        GtkSpinButton* spin = GTK_SPIN_BUTTON(W(c.setting).values[0]);
        double lower, upper, step, page;
        gtk_spin_button_get_range(spin, &lower, &upper);
        gtk_spin_button_get_increments(spin, &step, &page);
        EXPECT_EQ(lower, c.lower) << c.setting;
        EXPECT_EQ(upper, c.upper) << c.setting;
        EXPECT_DOUBLE_EQ(step, c.step) << c.setting;
        EXPECT_EQ(gtk_spin_button_get_digits(spin), c.digits) << c.setting;
    }
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(GTK_SPIN_BUTTON(W("Gain").values[0])), 2.5);
    // Back into the document: a Float as %g, an Integer as a whole number.
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("Gain").values[0]), 12.25);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("R1").values[0]), 41.6);
    ASSERT_TRUE(app->Editor().CommitShown());
    EXPECT_EQ(DS_ValueTexts(Setting("Gain")).at(0), SString("12.25"));
    EXPECT_EQ(DS_ValueTexts(Setting("R1")).at(0), SString("42"));
}

TEST_F(SettingsEditorTest, LengthAndFormatTooltips)
{
    ClickRow(2);
    ASSERT_EQ(app->Settings().CurrentGroup(), 30);
    const std::pair<const char*, const char*> cases[] = {
        {"Fixed", "Value length is 4 characters"},
        {"Ranged", "Value length from 2 to 8 characters"},
        {"AtLeast", "Value length from 3 characters"},
        {"AtMost", "Value length to 6 characters"},
        {"Dotted", "Format: u.u\nValue length to 7 characters"},
        {"Plain", ""},
    };
    for (auto [setting, tip] : cases) {
        EXPECT_EQ(Tooltip(W(setting).values[0]), tip) << setting;
        EXPECT_FALSE(Active(setting)) << setting;
        EXPECT_FALSE(gtk_widget_get_sensitive(W(setting).widgets[2])) << setting;
    }
}

TEST_F(SettingsEditorTest, AvailabilityFollowsTheWriteRecord)
{
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("R2").check), FALSE);
    for (const char* r : {"R1", "R2", "R3"}) {
        EXPECT_FALSE(Active(r)) << r;
        const DS_SettingWidgets& w = W(r);
        EXPECT_TRUE(gtk_widget_get_sensitive(w.widgets[1])) << r;
        for (size_t i = 2; i < w.widgets.size(); ++i)
            EXPECT_FALSE(gtk_widget_get_sensitive(w.widgets[i])) << r << " " << i;
    }
    EXPECT_TRUE(Active("MAC"));
    ASSERT_TRUE(app->Editor().CommitShown());
    for (const char* r : {"R1", "R2", "R3"})
        EXPECT_EQ(DS_Values(Setting(r)), nullptr) << r;
    EXPECT_NE(DS_Values(Setting("MAC")), nullptr);

    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("R3").check), TRUE);
    for (const char* r : {"R1", "R2", "R3"}) {
        EXPECT_TRUE(Active(r)) << r;
        EXPECT_TRUE(gtk_widget_get_sensitive(W(r).values[0])) << r;
    }
}

TEST_F(SettingsEditorTest, GroupChangeCommitsFirstAndStaysOnAFault)
{
    gtk_entry_set_text(GTK_ENTRY(W("MAC").values[0]), "12");
    GtkWidget* macEntry = W("MAC").values[0];
    std::string text;
    {
        DialogAnswer answer(0, [&](GtkWidget* d) { text = MessageText(d); });
        ClickRow(1);
        ASSERT_TRUE(answer.Seen());
    }
    EXPECT_EQ(text, "Wrong value for 'MAC':\n'Value ('12') not conform format ('x:x'): value too short'");
    EXPECT_EQ(app->Settings().CurrentGroup(), 10);
    EXPECT_EQ(SelectedRow(), std::vector<int>{0});
    EXPECT_EQ(W("MAC").values[0], macEntry) << "the table was rebuilt";

    gtk_entry_set_text(GTK_ENTRY(macEntry), "00:1b");
    ClickRow(1);
    EXPECT_EQ(app->Settings().CurrentGroup(), 20);
    EXPECT_EQ(SelectedRow(), std::vector<int>{1});
    // The table shrinks to the new group's one row.
    guint rows = 0;
    g_object_get(app->Object(W_DS_SignalsContent), "n-rows", &rows, nullptr);
    EXPECT_EQ(rows, 1u);
    ASSERT_EQ(app->Settings().Shown().size(), 1u);
    EXPECT_EQ(app->Editor().WidgetsOf(Setting("MAC")), nullptr);
    EXPECT_EQ(DS_ValueTexts(Setting("MAC")).at(0), SString("00:1b"));
    EXPECT_EQ(gtk_spin_button_get_value(GTK_SPIN_BUTTON(W("Other").values[0])), 3);
}

TEST_F(SettingsEditorTest, PasswordDialogStartValues)
{
    const std::pair<const char*, double> cases[] = {{"0x10", 16}, {"secret", 0}, {"40000", 32767}, {"017", 15}};
    for (auto [typed, expected] : cases) {
        EntrySet(app, W_DevPassword, typed);
        double start = -1;
        bool modal = false, resizable = true;
        std::string title;
        DialogAnswer answer(GTK_RESPONSE_CANCEL, [&](GtkWidget* d) {
            title = gtk_window_get_title(GTK_WINDOW(d));
            modal = gtk_window_get_modal(GTK_WINDOW(d));
            resizable = gtk_window_get_resizable(GTK_WINDOW(d));
            if (GtkWidget* spin = FindSpin(d))
                start = gtk_spin_button_get_value(GTK_SPIN_BUTTON(spin));
        });
        DevSettingsWritePasswordToDev_cb(nullptr, nullptr);
        ASSERT_TRUE(answer.Seen()) << typed;
        EXPECT_EQ(start, expected) << typed;
        EXPECT_EQ(title, "Change password");
        EXPECT_TRUE(modal);
        EXPECT_FALSE(resizable);
    }
    // Cancel sent nothing: no operation began.
    EXPECT_FALSE(app->Runner().IsBusy());
    EXPECT_EQ(LogText(app), "");
}

TEST_F(SettingsEditorTest, PasswordEnterSendsTheTypedNumber)
{
    // Nothing listens there: the operation begins and fails at once.
    EntrySet(app, W_DevHost, "127.0.0.1:1");
    DialogAnswer answer(kInspectAnswers, [&](GtkWidget* d) {
        GtkWidget* spin = FindSpin(d);
        gtk_entry_set_text(GTK_ENTRY(spin), "1234");
        gtk_widget_activate(spin);
    });
    DevSettingsWritePasswordToDev_cb(nullptr, nullptr);
    ASSERT_TRUE(answer.Seen());
    EXPECT_EQ(app->Runner().NewPassword(), 1234);
    EXPECT_TRUE(RunUntil([&] { return !app->Runner().IsBusy(); }, 30000));
    app->Runner().WorkerJoin();
    EXPECT_NE(LogText(app).find("  Change password begin\n"), std::string::npos) << LogText(app);
}

TEST_F(SettingsEditorTest, PasswordOkWhileBusyDoesNothing)
{
    SimProcess sim({"--fault-silence", "all"});
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    EntrySet(app, W_DevHost, sim.HostPort().c_str());
    DialogAnswer answer(GTK_RESPONSE_OK, [&](GtkWidget*) { app->DevRefresh(); });
    DevSettingsWritePasswordToDev_cb(nullptr, nullptr);
    ASSERT_TRUE(answer.Seen());
    AppState state;
    OperationKind kind;
    app->Runner().StateGet(&state, &kind);
    EXPECT_EQ(kind, OperationKind::VersionRead);
    EXPECT_EQ(LogText(app).find("Change password begin"), std::string::npos) << LogText(app);
    app->TalkStop();
    EXPECT_TRUE(RunUntil([&] { return !app->Runner().IsBusy(); }, 30000));
    app->Runner().WorkerJoin();
}

TEST(SettingsStartUp, BrokenDefaultDescriptionFailsTheStart)
{
    ProgramDir dir;
    dir.WriteRes("Pelta.xml", "<device><sygnals><groups>");
    std::string text;
    DialogAnswer answer(0, [&](GtkWidget* d) { text = MessageText(d); });
    RunningApp run(dir);
    EXPECT_EQ(run.StartResult(), 1);
    EXPECT_TRUE(answer.Seen());
    std::string head = "Can't load file '" + dir.Res("Pelta.xml") + "':\n'";
    EXPECT_EQ(text.rfind(head, 0), 0u) << text;
    EXPECT_EQ(GUIApp::instance, nullptr);
}
