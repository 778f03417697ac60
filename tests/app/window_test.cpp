// Window wrappers, message boxes and the dialog place managers.
#include <array>

#include "AppTestSupport.h"
#include "app/StartUp.h"
#include "ui/Window.h"
#include "ui/WindowPlace.h"

using namespace apptest;
using Quill::Rect;

namespace {
using WindowApp = AppTest;

bool ToggleActive(const char* name)
{
    GtkWidget* w = Widget(name);
    if (GTK_IS_TOGGLE_TOOL_BUTTON(w))
        return gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(w));
    return gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(w));
}

bool PlacedAt(GtkWidget* w, const Rect& r)
{
    return RunUntil([&] { return Quill::Window(w).GetPlace() == r; }, 5000);
}

// The buttons of a dialog listed by response, whatever order the theme lays them out in.
std::vector<GtkWidget*> Buttons(GtkWidget* d)
{
    GList* kids = gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_action_area(GTK_DIALOG(d))));
    std::vector<GtkWidget*> buttons(g_list_length(kids));
    for (GList* k = kids; k; k = k->next) {
        int response = gtk_dialog_get_response_for_widget(GTK_DIALOG(d), GTK_WIDGET(k->data));
        if (response >= 0 && response < (int)buttons.size())
            buttons[response] = GTK_WIDGET(k->data);
    }
    g_list_free(kids);
    return buttons;
}

TEST(Window, PlaceOfWindowsAndChildren)
{
    Quill::Window none;
    none.Show(true);
    none.SetPlace(Rect{1, 2, 3, 4});
    EXPECT_FALSE(none.IsVisible());
    EXPECT_EQ(none.GetPlace(), (Rect{0, 0, 1000, 1000}));
    EXPECT_EQ(none.RunModal(), GTK_RESPONSE_NONE);

    GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* fixed = gtk_fixed_new();
    GtkWidget* narrow = gtk_label_new("");
    GtkWidget* wide = gtk_label_new("");
    gtk_widget_set_size_request(narrow, 20, 15);
    gtk_widget_set_size_request(wide, 21, 15);
    gtk_fixed_put(GTK_FIXED(fixed), narrow, 5, 6);
    gtk_fixed_put(GTK_FIXED(fixed), wide, 40, 50);
    gtk_container_add(GTK_CONTAINER(top), fixed);
    gtk_widget_show_all(top);
    Quill::Window w(top);
    const Rect r{30, 40, 330, 240};
    w.SetPlace(r);
    EXPECT_TRUE(PlacedAt(top, r));
    EXPECT_TRUE(w.IsVisible());
    // Children report their allocation; narrower than 21 pixels counts as not laid out.
    EXPECT_EQ(Quill::Window(narrow).GetPlace(), (Rect{5, 6, 1000, 1000}));
    EXPECT_EQ(Quill::Window(wide).GetPlace(), (Rect{40, 50, 61, 65}));
    EXPECT_EQ(Quill::Window(wide).TopLevel(), GTK_WINDOW(top));
    w.Show(false);
    EXPECT_FALSE(w.IsVisible());
    w.Destroy();
    EXPECT_EQ(w.Widget(), nullptr);
}

TEST(Window, MessageDialogFocusAndAnswers)
{
    const char* buttons[] = {GTK_STOCK_YES, GTK_STOCK_NO, GTK_STOCK_CANCEL};
    // {default response, button pressed, button with the focus (-1: none)}
    for (const auto& c : {std::array<int, 3>{-1, 1, -1}, {2, 0, 2}, {0, 2, 0}}) {
        int focused = -2;
        DialogAnswer answer(kInspectAnswers, [&](GtkWidget* d) {
            GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(d));
            focused = focus && GTK_IS_BUTTON(focus) ? gtk_dialog_get_response_for_widget(GTK_DIALOG(d), focus) : -1;
            gtk_button_clicked(GTK_BUTTON(Buttons(d).at(c[1])));
        });
        Quill::MessageRequest request;
        request.title = "T";
        request.text = "question";
        request.kind = Quill::kMessageQuestion;
        request.defaultResponse = c[0];
        EXPECT_EQ(Quill::Window::MessageDialog(Quill::Window(), request, buttons, 3), c[1]);
        EXPECT_EQ(focused, c[2]) << c[0];
    }
}

TEST_F(WindowApp, MsgBoxKindsHaveTheirButtons)
{
    const struct {
        int type;
        GtkMessageType look;
        std::vector<std::string> stock;
    } cases[] = {
        {0, GTK_MESSAGE_INFO, {GTK_STOCK_OK}},
        {1, GTK_MESSAGE_WARNING, {GTK_STOCK_OK}},
        {2, GTK_MESSAGE_QUESTION, {GTK_STOCK_YES, GTK_STOCK_NO}},
        {3, GTK_MESSAGE_QUESTION, {GTK_STOCK_YES, GTK_STOCK_NO, GTK_STOCK_CANCEL}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> stock;
        GtkMessageType look = GTK_MESSAGE_OTHER;
        std::string title;
        GtkWindow* parent = nullptr;
        DialogAnswer answer((int)c.stock.size() - 1, [&](GtkWidget* d) {
            g_object_get(d, "message-type", &look, nullptr);
            title = gtk_window_get_title(GTK_WINDOW(d));
            parent = gtk_window_get_transient_for(GTK_WINDOW(d));
            for (GtkWidget* b : Buttons(d))
                stock.push_back(b ? gtk_button_get_label(GTK_BUTTON(b)) : "");
        });
        EXPECT_EQ(app->MsgBox("text", c.type, -1, Quill::Window()), (int)c.stock.size() - 1);
        EXPECT_EQ(stock, c.stock) << c.type;
        EXPECT_EQ(look, c.look) << c.type;
        EXPECT_EQ(title, "Pelta Flasher");
        // A parent without a widget stands for the main window.
        EXPECT_EQ(parent, GTK_WINDOW(g_form1));
    }
}

TEST_F(WindowApp, DialogCloseHidesUnticksAndReopensAtTheSamePlace)
{
    for (const auto& n : {std::array<const char*, 4>{"DLG_DevSettings", "MB_DevSettings", "TB_DevSettings", "DS_Close"},
                          {"DLG_DevFind", "MB_DevFind", "TB_DevFind", "DFIND_Close"}}) {
        SCOPED_TRACE(n[0]);
        GtkWidget* dialog = Widget(n[0]);
        // Opening through the tool button shows the dialog and ticks the menu item too.
        gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(Widget(n[2])), TRUE);
        EXPECT_TRUE(gtk_widget_get_visible(dialog));
        EXPECT_TRUE(ToggleActive(n[1]));
        const Rect r{60, 70, 560, 430};
        Quill::Window(dialog).SetPlace(r);
        ASSERT_TRUE(PlacedAt(dialog, r));
        // What the window manager's close button sends.
        GdkEvent* e = gdk_event_new(GDK_DELETE);
        e->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(dialog)));
        e->any.send_event = TRUE;
        gtk_main_do_event(e);
        gdk_event_free(e);
        EXPECT_FALSE(gtk_widget_get_visible(dialog));
        EXPECT_FALSE(ToggleActive(n[1]));
        EXPECT_FALSE(ToggleActive(n[2]));
        // Reopening puts it back where it was closed.
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(Widget(n[1])), TRUE);
        EXPECT_TRUE(gtk_widget_get_visible(dialog));
        EXPECT_TRUE(ToggleActive(n[2]));
        EXPECT_TRUE(PlacedAt(dialog, r));
        gtk_button_clicked(GTK_BUTTON(Widget(n[3])));
        EXPECT_FALSE(gtk_widget_get_visible(dialog));
        EXPECT_FALSE(ToggleActive(n[1]));
        EXPECT_FALSE(ToggleActive(n[2]));
    }
}

TEST_F(WindowApp, UnusableRectangleLeavesPlacementToGtk)
{
    Quill::WindowPlaceManagement& place = app->DevFindPlace();
    GtkWidget* dialog = place.Dialog().Widget();
    const Rect good{100, 110, 500, 410};
    place.SetVisible(true, &good);
    ASSERT_TRUE(PlacedAt(dialog, good));
    for (const Rect bad : {Rect{-5, 10, 300, 300}, Rect{50, 60, 50, 300}, Rect{50, 60, 300, 60}}) {
        place.SetVisible(false, nullptr);
        place.SetVisible(true, &bad);
        EXPECT_TRUE(gtk_widget_get_visible(dialog));
        Drain();
        EXPECT_EQ(Quill::Window(dialog).GetPlace(), good);
        // Still stored, and reported while hidden.
        place.SetVisible(false, nullptr);
        EXPECT_FALSE(place.GetPlace().visible);
        EXPECT_EQ(place.GetPlace().rect, good);
    }
}
}  // namespace
