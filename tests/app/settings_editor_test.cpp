// The settings editor on a description of its own, one window through it all: the table a group
// builds, value widgets, availability across a write record, group changes, the password dialog.
#include <sstream>

#include "AppTestSupport.h"

extern "C" void DevSettingsWritePasswordToDev_cb(GtkWidget*, gpointer);

using namespace apptest;

namespace {
// A setting read and written through record (file, rec); settings of one record share it.
std::string Scalar(int gid, const char* type, const char* description, int file, int rec, int offset, int count,
                   const std::string& attributes, const std::string& children, std::vector<const char*> values = {})
{
    std::ostringstream s, at;
    at << "\"file\":" << file << ",\"rec\":" << rec << ",\"offset\":" << offset << ",\"count\":" << count;
    s << "<scalar gid=\"" << gid << "\" type=\"" << type << "\" " << attributes << " position='{\"r\":{" << at.str()
      << ",\"byte\":0},\"w\":{" << at.str() << "}}'><access>readwrite</access><description>" << description
      << "</description>" << children << (values.empty() ? "" : "<values>");
    for (const char* v : values)
        s << "<value><![CDATA[" << v << "]]></value>";
    s << (values.empty() ? "" : "</values>") << "</scalar>\n";
    return s.str();
}

std::string TestDescription()
{
    std::string named = "<namedvalues><value><key>0</key><val>Off</val></value><value><key>1</key><val>On</val>"
                        "</value><value><key>2</key><val>Auto</val></value><value><key>1</key><val>On again</val>"
                        "</value></namedvalues>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<device><description>Test unit</description><sygnals>"
           "<groups><group gid=\"10\" title=\"First\" tab=\"2\"/><group gid=\"20\" title=\"Second\" tab=\"2\"/>"
           "<group gid=\"30\" title=\"Lengths\" tab=\"2\"/></groups>\n" +
           Scalar(10, "Integer", "Mode", 21, 0, 1, 1, "", "<hint>How it runs</hint>" + named, {"1"}) +
           Scalar(10, "Float", "Gain", 21, 1, 1, 1, "min=\"0\" max=\"50\"", "<measure>dB</measure>", {"2.5"}) +
           Scalar(10, "IntArray", "Flags", 21, 2, 1, 3, "", "<indexes>a,b,c</indexes>", {"1", "0", "1"}) +
           Scalar(10, "String", "MAC", 21, 4, 1, 1, "format=\"x:x\"", "", {"00:1a"}) +
           Scalar(10, "Integer", "R1", 22, 0, 1, 1, "", "", {"5"}) +
           Scalar(10, "Integer", "R2", 22, 0, 2, 1, "", "", {"6"}) +
           Scalar(10, "Integer", "R3", 22, 0, 3, 1, "", "", {"7"}) +
           Scalar(20, "Integer", "Other", 23, 0, 1, 1, "min=\"-5\" max=\"5\"", "", {"3"}) +
           Scalar(30, "String", "Fixed", 24, 0, 1, 2, "min=\"4\" max=\"4\"", "") +
           Scalar(30, "String", "Ranged", 24, 1, 1, 4, "min=\"2\" max=\"8\"", "") +
           Scalar(30, "String", "AtLeast", 24, 2, 1, 2, "min=\"3\"", "") +
           Scalar(30, "String", "AtMost", 24, 3, 1, 4, "max=\"6\"", "") +
           Scalar(30, "String", "Dotted", 24, 4, 1, 1, "format=\"u.u\" max=\"7\"", "") + "</sygnals></device>\n";
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
    // "check/cells": the availability check, then per cell from the third on whether it is usable.
    std::string Availability(const char* setting)
    {
        const DS_SettingWidgets& w = W(setting);
        std::string r = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w.check)) ? "1/" : "0/";
        for (size_t i = 2; i < w.widgets.size(); ++i)
            r += gtk_widget_get_sensitive(w.widgets[i]) ? "1" : "0";
        return gtk_widget_get_sensitive(w.widgets[1]) ? r : r + " check unusable";
    }
    GtkSpinButton* Spin(const char* setting, int i = 0) { return GTK_SPIN_BUTTON(W(setting).values[i]); }
    std::string Value(const char* setting) { return DS_ValueTexts(Setting(setting)).at(0).Text(); }
    // The shown group and the selected row of the group tree, "gid@row".
    std::string Group()
    {
        GtkTreePath* p = nullptr;
        gtk_tree_view_get_cursor(GTK_TREE_VIEW(app->Object(W_DS_Tree)), &p, nullptr);
        std::string row = p ? Take(gtk_tree_path_to_string(p)) : "none";
        gtk_tree_path_free(p);
        return std::to_string(app->Settings().CurrentGroup()) + "@" + row;
    }
    void ClickRow(const char* row)
    {
        GtkTreePath* p = gtk_tree_path_new_from_string(row);
        gtk_tree_view_set_cursor(GTK_TREE_VIEW(app->Object(W_DS_Tree)), p, nullptr, FALSE);
        gtk_tree_path_free(p);
    }
};

TEST_F(SettingsEditorTest, TableValuesAvailabilityGroupChangeAndPassword)
{
    ASSERT_EQ(Group(), "10@0");
    // {setting, widgets, first row}: an array takes a header row and one row per value, all in
    // its colour; the colours alternate from setting to setting.
    const std::tuple<const char*, size_t, int> rows[] = {{"Mode", 4, 0}, {"Gain", 4, 1}, {"Flags", 11, 2},
                                                         {"MAC", 4, 6},  {"R1", 4, 7},   {"R2", 4, 8}, {"R3", 4, 9}};
    bool odd = false;
    for (const auto& [setting, widgets, row] : rows) {
        SCOPED_TRACE(setting);
        const DS_SettingWidgets& w = W(setting);
        ASSERT_EQ(w.widgets.size(), widgets);
        EXPECT_EQ(Cell(w.widgets[0]), "0-1@" + std::to_string(row));
        for (GtkWidget* box : w.widgets)  // #FFFFFF or #EEEEEE
            EXPECT_EQ(gtk_widget_get_modifier_style(box)->bg[GTK_STATE_NORMAL].red, odd ? 0xEEEE : 0xFFFF);
        odd = !odd;
        EXPECT_EQ(Availability(setting).substr(0, 2), "1/");
        EXPECT_FALSE(gtk_widget_get_can_focus(w.check));
    }
    const DS_SettingWidgets &gain = W("Gain"), &flags = W("Flags");
    std::vector<std::string> cells{Cell(gain.widgets[1])};
    for (size_t i = 0; i < 6; ++i)
        cells.push_back(Cell(flags.widgets[i]));
    EXPECT_EQ(cells, (std::vector<std::string>{"1-2@1", "0-1@2", "1-4@2", "0-2@3", "2-3@3", "3-4@3", "0-2@4"}));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Child(gain.widgets[3]))), "dB");
    // Only the name is cut short, and not below its width of 32 characters: an ellipsized label
    // without a width shrinks to its ellipsis.
    EXPECT_EQ(gtk_label_get_max_width_chars(GTK_LABEL(Child(gain.widgets[0]))), 32);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Child(flags.widgets[8]))), "\tc");
    EXPECT_EQ(std::make_pair(gtk_spin_button_get_value(Spin("Flags", 1)), gtk_spin_button_get_value(Spin("Flags", 2))),
              std::make_pair(0.0, 1.0));
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(W("MAC").values[0])), "00:1a");
    // Tooltips: the hint in parentheses, a record's first and last setting, no lengths but for texts.
    std::vector<std::string> tips;
    for (GtkWidget* w : {Child(W("Mode").widgets[0]), Child(gain.widgets[0]), Child(flags.widgets[8]), W("Mode").check,
                         W("R1").check, W("R3").check, W("MAC").values[0], gain.values[0]})
        tips.push_back(Tooltip(w));
    const std::string record = "Value availability.\n\nValues 'R1' - 'R3' write one time.";
    EXPECT_EQ(tips, (std::vector<std::string>{"Mode\n(How it runs)", "Gain", "c", "Value availability", record, record,
                                              "Format: x:x", ""}));

    // Combo: the last entry whose key matches; none for an unknown key; a missing value is key 0.
    TiXmlElement* mode = Setting("Mode");
    GtkComboBox* combo = GTK_COMBO_BOX(W("Mode").values[0]);
    SString error;
    for (auto [text, expected] : {std::pair<const char*, int>{"5", -1}, {"2", 2}, {"0x1", 3}, {"junk", 0}}) {
        ASSERT_TRUE(app->Settings().DS_ValuesSet(mode, nullptr, error));
        DS_ValueAppend(mode, text);
        int row = 0;
        app->DS_BuildSignalWidgets(mode, row, kSettingsRowColourOdd, false);
        EXPECT_EQ(gtk_combo_box_get_active(combo), expected) << text;
    }
    gtk_combo_box_set_active(combo, -1);
    EXPECT_TRUE(!app->DS_Widgets2XML(mode, error) && error == "No list item selected") << error.Text();
    for (auto [index, key] : {std::pair<int, const char*>{2, "2"}, {0, "0"}}) {
        gtk_combo_box_set_active(combo, index);
        EXPECT_TRUE(app->DS_Widgets2XML(mode, error)) << index;
        EXPECT_EQ(Value("Mode"), key) << index;
    }
    // Spin buttons: range from min and max, else the wide defaults.
    double range[4];
    gtk_spin_button_get_range(Spin("Gain"), &range[0], &range[1]);
    gtk_spin_button_get_range(Spin("R1"), &range[2], &range[3]);
    EXPECT_EQ(std::vector<double>(range, range + 4), (std::vector<double>{0, 50, -1e37, 1e37}));
    EXPECT_DOUBLE_EQ(gtk_spin_button_get_value(Spin("Gain")), 2.5);
    // Back into the document: a Float as %g, an Integer as a whole number.
    gtk_spin_button_set_value(Spin("Gain"), 12.25);
    gtk_spin_button_set_value(Spin("R1"), 41.6);
    ASSERT_TRUE(app->Editor().CommitShown());
    EXPECT_EQ(Value("Gain") + " " + Value("R1"), "12.25 42");

    // Availability follows the write record, in the widgets and into the document.
    auto record3 = [&] { return Availability("R1") + " " + Availability("R2") + " " + Availability("R3"); };
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("R2").check), FALSE);
    EXPECT_EQ(record3() + " " + Availability("MAC"), "0/00 0/00 0/00 1/11");
    ASSERT_TRUE(app->Editor().CommitShown());
    for (const char* r : {"R1", "R2", "R3", "MAC"})
        EXPECT_EQ(DS_Values(Setting(r)) != nullptr, r == std::string("MAC")) << r;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("R3").check), TRUE);
    EXPECT_EQ(record3(), "1/11 1/11 1/11");

    // A group change commits first and stays on a fault, with the table as it was.
    GtkWidget* macEntry = W("MAC").values[0];
    gtk_entry_set_text(GTK_ENTRY(macEntry), "12");
    std::string text;
    DialogAnswer fault(0, [&](GtkWidget* d) { text = MessageText(d); });
    ClickRow("1");
    EXPECT_EQ(text, "warning: Wrong value for 'MAC':\n'Value ('12') not conform format ('x:x'): value too short'");
    EXPECT_EQ(Group(), "10@0");
    EXPECT_EQ(W("MAC").values[0], macEntry) << "the table was rebuilt";
    gtk_entry_set_text(GTK_ENTRY(macEntry), "00:1b");
    ClickRow("1");
    EXPECT_EQ(Group(), "20@1");
    // The table shrinks to the new group's one row; no gaps part its coloured cells.
    guint tableRows = 0, rowGap = 1, columnGap = 1;
    g_object_get(app->Object(W_DS_SignalsContent), "n-rows", &tableRows, "row-spacing", &rowGap, "column-spacing",
                 &columnGap, nullptr);
    EXPECT_EQ(std::to_string(tableRows) + " " + std::to_string(rowGap) + " " + std::to_string(columnGap), "1 0 0");
    EXPECT_EQ(app->Editor().WidgetsOf(Setting("MAC")), nullptr);
    EXPECT_EQ(Value("MAC"), "00:1b");
    EXPECT_EQ(gtk_spin_button_get_value(Spin("Other")), 3);

    // Text lengths in the tooltip; settings without values are unavailable.
    ClickRow("2");
    ASSERT_EQ(Group(), "30@2");
    tips.clear();
    for (const char* setting : {"Fixed", "Ranged", "AtLeast", "AtMost", "Dotted"}) {
        tips.push_back(Tooltip(W(setting).values[0]));
        EXPECT_EQ(Availability(setting), "0/00") << setting;
    }
    EXPECT_EQ(tips, (std::vector<std::string>{"Value length is 4 characters", "Value length from 2 to 8 characters",
                                              "Value length from 3 characters", "Value length to 6 characters",
                                              "Format: u.u\nValue length to 7 characters"}));
    EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(W("Ranged").values[0])), 8);

    // The password dialog starts at the typed password clamped into its range; Enter sends the
    // number typed into it, not yet taken by the spin button (nothing listens at that host).
    EntrySet(app, W_DevPassword, "40000");
    EntrySet(app, W_DevHost, "127.0.0.1:1");
    int start = -1;
    DialogAnswer answer(kInspectAnswers, [&](GtkWidget* d) {
        GtkWidget* spin = gtk_window_get_focus(GTK_WINDOW(d));  // the dialog's one entry
        ASSERT_TRUE(GTK_IS_SPIN_BUTTON(spin));
        start = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
        gtk_entry_set_text(GTK_ENTRY(spin), "1234");
        gtk_widget_activate(spin);
    });
    DevSettingsWritePasswordToDev_cb(nullptr, nullptr);
    EXPECT_EQ(start, 32767);
    EXPECT_EQ(app->Runner().NewPassword(), 1234);
    EXPECT_TRUE(WaitIdle());
}
}  // namespace
