// The settings editor on a description of its own, one window through all of it: the table a
// group builds, the value widgets, availability across a write record, the group change that
// commits first, and the password dialog.
#include <sstream>

#include "AppTestSupport.h"

extern "C" {
void DevSettingsWritePasswordToDev_cb(GtkWidget*, gpointer);
}

using namespace apptest;

namespace {
// A setting read and written through record (file, rec); settings of one record share it.
std::string Scalar(int gid, const char* type, const char* description, int file, int rec, int offset, int count,
                   const std::string& attributes, const std::string& children)
{
    std::ostringstream s, at;
    at << "\"file\":" << file << ",\"rec\":" << rec << ",\"offset\":" << offset << ",\"count\":" << count;
    s << "<scalar gid=\"" << gid << "\" type=\"" << type << "\" " << attributes << " position='{\"r\":{" << at.str()
      << ",\"byte\":0},\"w\":{" << at.str() << "}}'><access>readwrite</access><description>" << description
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
    std::string named = "<namedvalues><value><key>0</key><val>Off</val></value><value><key>1</key><val>On</val>"
                        "</value><value><key>2</key><val>Auto</val></value><value><key>1</key><val>On again</val>"
                        "</value></namedvalues>";
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

// The cell's own background, "#rrrrggggbbbb".
std::string Colour(GtkWidget* box)
{
    gchar* text = gdk_color_to_string(&gtk_widget_get_modifier_style(box)->bg[GTK_STATE_NORMAL]);
    std::string r = text;
    g_free(text);
    return r;
}

// Where a cell sits as "left-right@top"; every cell is one row high.
std::string Cell(GtkWidget* box)
{
    guint left = 0, right = 0, top = 0, bottom = 0;
    gtk_container_child_get(GTK_CONTAINER(gtk_widget_get_parent(box)), box, "left-attach", &left, "right-attach",
                            &right, "top-attach", &top, "bottom-attach", &bottom, nullptr);
    EXPECT_EQ(bottom, top + 1);
    return std::to_string(left) + "-" + std::to_string(right) + "@" + std::to_string(top);
}

// The password dialog's spin button, wherever it is packed.
GtkSpinButton* PasswordSpin(GtkWidget* w)
{
    GtkWidget* found = GTK_IS_SPIN_BUTTON(w) ? w : nullptr;
    GList* kids = GTK_IS_CONTAINER(w) ? gtk_container_get_children(GTK_CONTAINER(w)) : nullptr;
    for (GList* k = kids; k && !found; k = k->next)
        found = GTK_WIDGET(PasswordSpin(GTK_WIDGET(k->data)));
    g_list_free(kids);
    return GTK_SPIN_BUTTON(found);
}

GtkWidget* Child(GtkWidget* box)
{
    return gtk_bin_get_child(GTK_BIN(box));
}

class SettingsEditorTest : public AppTest {
protected:
    void SetUp() override
    {
        dir.WriteRes("Pelta.xml", TestDescription());
        StartApp();
    }
    bool Active(const char* setting) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W(setting).check)); }
    double Spin(const char* setting, int i = 0)
    {
        return gtk_spin_button_get_value(GTK_SPIN_BUTTON(W(setting).values[i]));
    }
    std::string Value(const char* setting) { return DS_ValueTexts(Setting(setting)).at(0).Text(); }
    int SelectedRow()
    {
        GtkTreePath* p = nullptr;
        gtk_tree_view_get_cursor(GTK_TREE_VIEW(app->Object(W_DS_Tree)), &p, nullptr);
        int row = p ? gtk_tree_path_get_indices(p)[0] : -1;
        gtk_tree_path_free(p);
        return row;
    }
    // What the user does by clicking a row of the group tree.
    void ClickRow(int index)
    {
        GtkTreePath* p = gtk_tree_path_new_from_indices(index, -1);
        gtk_tree_view_set_cursor(GTK_TREE_VIEW(app->Object(W_DS_Tree)), p, nullptr, FALSE);
        gtk_tree_path_free(p);
    }
};

TEST_F(SettingsEditorTest, TableValuesAvailabilityGroupChangeAndPassword)
{
    ASSERT_EQ(app->Settings().CurrentGroup(), 10);
    EXPECT_EQ(SelectedRow(), 0);
    // {setting, widgets, first row}: an array takes a header row and one row per value, all in
    // its colour; the colours alternate from setting to setting.
    const std::tuple<const char*, size_t, int> rows[] = {{"Mode", 4, 0}, {"Gain", 4, 1}, {"Flags", 11, 2},
                                                         {"Name", 4, 6}, {"MAC", 4, 7},  {"R1", 4, 8},
                                                         {"R2", 4, 9},   {"R3", 4, 10}};
    bool odd = false;
    for (const auto& [setting, widgets, row] : rows) {
        SCOPED_TRACE(setting);
        const DS_SettingWidgets& w = W(setting);
        ASSERT_EQ(w.widgets.size(), widgets);
        EXPECT_EQ(Cell(w.widgets[0]), "0-1@" + std::to_string(row));
        for (GtkWidget* box : w.widgets)
            EXPECT_EQ(Colour(box), odd ? "#eeeeeeeeeeee" : "#ffffffffffff");
        odd = !odd;
        EXPECT_TRUE(Active(setting));
        EXPECT_FALSE(gtk_widget_get_can_focus(w.check));
    }
    // Scalar: name, check, value, unit on one row; array: header name and check, then per
    // value index, value, unit.
    const DS_SettingWidgets &gain = W("Gain"), &flags = W("Flags");
    std::vector<std::string> cells{Cell(gain.widgets[1])};
    for (size_t i = 0; i < 6; ++i)
        cells.push_back(Cell(flags.widgets[i]));
    EXPECT_EQ(cells, (std::vector<std::string>{"1-2@1", "0-1@2", "1-4@2", "0-2@3", "2-3@3", "3-4@3", "0-2@4"}));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Child(gain.widgets[3]))), "dB");
    // Only the name is cut short, and not below its width of 32 characters: an ellipsized label
    // without a width shrinks to its ellipsis.
    EXPECT_EQ(gtk_label_get_ellipsize(GTK_LABEL(Child(gain.widgets[3]))), PANGO_ELLIPSIZE_NONE);
    EXPECT_EQ(gtk_label_get_ellipsize(GTK_LABEL(Child(gain.widgets[0]))), PANGO_ELLIPSIZE_END);
    EXPECT_EQ(gtk_label_get_max_width_chars(GTK_LABEL(Child(gain.widgets[0]))), 32);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Child(flags.widgets[8]))), "\tc");
    EXPECT_EQ(Tooltip(Child(flags.widgets[8])), "c");
    EXPECT_EQ(std::make_pair(Spin("Flags", 1), Spin("Flags", 2)), std::make_pair(0.0, 1.0));
    // Tooltips: the hint in parentheses, the record's first and last setting.
    EXPECT_EQ(Tooltip(Child(W("Mode").widgets[0])), "Mode\n(How it runs)");
    EXPECT_EQ(Tooltip(Child(gain.widgets[0])), "Gain");
    EXPECT_EQ(Tooltip(W("Mode").check), "Value availability");
    for (const char* r : {"R1", "R2", "R3"})
        EXPECT_EQ(Tooltip(W(r).check), "Value availability.\n\nValues 'R1' - 'R3' write one time.") << r;
    EXPECT_EQ(Tooltip(W("MAC").values[0]), "Format: x:x");
    EXPECT_EQ(Tooltip(W("Gain").values[0]), "") << "a length only for texts";
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(W("MAC").values[0])), "00:1a");
    EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(W("Name").values[0])), 8);

    // Combo: the last entry whose key matches; none for an unknown key; a missing value is key 0.
    TiXmlElement* mode = Setting("Mode");
    GtkComboBox* combo = GTK_COMBO_BOX(W("Mode").values[0]);
    EXPECT_EQ(gtk_combo_box_get_active(combo), 3);
    SString error;
    for (auto [text, expected] : {std::pair<const char*, int>{"5", -1}, {"2", 2}, {"0x1", 3}, {"junk", 0}}) {
        ASSERT_TRUE(app->Settings().DS_ValuesSet(mode, nullptr, error));
        DS_ValueAppend(mode, text);
        int row = 0;
        app->DS_BuildSignalWidgets(mode, row, kSettingsRowColourOdd, false);
        EXPECT_EQ(gtk_combo_box_get_active(combo), expected) << text;
    }
    gtk_combo_box_set_active(combo, -1);
    EXPECT_FALSE(app->DS_Widgets2XML(mode, error));
    EXPECT_STREQ(error.Text(), "No list item selected");
    for (auto [index, key] : {std::pair<int, const char*>{2, "2"}, {0, "0"}}) {
        gtk_combo_box_set_active(combo, index);
        EXPECT_TRUE(app->DS_Widgets2XML(mode, error)) << index;
        EXPECT_EQ(Value("Mode"), key) << index;
    }
    // Spin buttons: range from min and max, else the wide defaults.
    for (auto [setting, lower, upper] : {std::make_tuple("Gain", 0.0, 50.0), std::make_tuple("R1", -1e37, 1e37)}) {
        double low, up;
        gtk_spin_button_get_range(GTK_SPIN_BUTTON(W(setting).values[0]), &low, &up);
        EXPECT_EQ(std::make_pair(low, up), std::make_pair(lower, upper)) << setting;
    }
    EXPECT_DOUBLE_EQ(Spin("Gain"), 2.5);
    // Back into the document: a Float as %g, an Integer as a whole number.
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("Gain").values[0]), 12.25);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(W("R1").values[0]), 41.6);
    ASSERT_TRUE(app->Editor().CommitShown());
    EXPECT_EQ(Value("Gain") + " " + Value("R1"), "12.25 42");

    // Availability follows the write record, in the widgets and into the document.
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

    // A group change commits first and stays on a fault, with the table as it was.
    GtkWidget* macEntry = W("MAC").values[0];
    gtk_entry_set_text(GTK_ENTRY(macEntry), "12");
    std::string text;
    {
        DialogAnswer answer(0, [&](GtkWidget* d) { text = MessageText(d); });
        ClickRow(1);
        ASSERT_TRUE(answer.Seen());
    }
    EXPECT_EQ(text, "Wrong value for 'MAC':\n'Value ('12') not conform format ('x:x'): value too short'");
    EXPECT_EQ(app->Settings().CurrentGroup(), 10);
    EXPECT_EQ(SelectedRow(), 0);
    EXPECT_EQ(W("MAC").values[0], macEntry) << "the table was rebuilt";
    gtk_entry_set_text(GTK_ENTRY(macEntry), "00:1b");
    ClickRow(1);
    EXPECT_EQ(app->Settings().CurrentGroup(), 20);
    EXPECT_EQ(SelectedRow(), 1);
    // The table shrinks to the new group's one row.
    guint tableRows = 0;
    g_object_get(app->Object(W_DS_SignalsContent), "n-rows", &tableRows, nullptr);
    EXPECT_EQ(tableRows, 1u);
    ASSERT_EQ(app->Settings().Shown().size(), 1u);
    EXPECT_EQ(app->Editor().WidgetsOf(Setting("MAC")), nullptr);
    EXPECT_EQ(Value("MAC"), "00:1b");
    EXPECT_EQ(Spin("Other"), 3);

    // String lengths in the tooltip; settings without values are unavailable.
    ClickRow(2);
    ASSERT_EQ(app->Settings().CurrentGroup(), 30);
    const std::pair<const char*, const char*> lengths[] = {
        {"Fixed", "Value length is 4 characters"},    {"Ranged", "Value length from 2 to 8 characters"},
        {"AtLeast", "Value length from 3 characters"}, {"AtMost", "Value length to 6 characters"},
        {"Dotted", "Format: u.u\nValue length to 7 characters"}, {"Plain", ""}};
    for (auto [setting, tip] : lengths) {
        EXPECT_EQ(Tooltip(W(setting).values[0]), tip) << setting;
        EXPECT_FALSE(Active(setting)) << setting;
        EXPECT_FALSE(gtk_widget_get_sensitive(W(setting).widgets[2])) << setting;
    }

    // The password dialog starts at the typed password clamped into its range; Cancel sends nothing.
    for (auto [typed, expected] :
         {std::pair<const char*, double>{"0x10", 16}, {"secret", 0}, {"40000", 32767}, {"017", 15}}) {
        EntrySet(app, W_DevPassword, typed);
        double start = -1;
        std::string title;
        DialogAnswer answer(GTK_RESPONSE_CANCEL, [&](GtkWidget* d) {
            title = gtk_window_get_title(GTK_WINDOW(d));
            start = gtk_spin_button_get_value(PasswordSpin(d));
        });
        DevSettingsWritePasswordToDev_cb(nullptr, nullptr);
        ASSERT_TRUE(answer.Seen()) << typed;
        EXPECT_EQ(start, expected) << typed;
        EXPECT_EQ(title, "Change password");
    }
    EXPECT_FALSE(app->Runner().IsBusy());
    EXPECT_EQ(LogText(app), "");
    // Enter sends the typed number, not yet taken by the spin button; nothing listens there.
    EntrySet(app, W_DevHost, "127.0.0.1:1");
    DialogAnswer answer(kInspectAnswers, [&](GtkWidget* d) {
        GtkSpinButton* spin = PasswordSpin(d);
        gtk_entry_set_text(GTK_ENTRY(spin), "1234");
        gtk_widget_activate(GTK_WIDGET(spin));
    });
    DevSettingsWritePasswordToDev_cb(nullptr, nullptr);
    ASSERT_TRUE(answer.Seen());
    EXPECT_EQ(app->Runner().NewPassword(), 1234);
    EXPECT_TRUE(WaitIdle());
    EXPECT_NE(LogText(app).find("  Change password begin\n"), std::string::npos) << LogText(app);
}
}  // namespace
