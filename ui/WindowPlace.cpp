#include "ui/WindowPlace.h"

namespace Quill {

namespace {
bool Usable(const Rect& r)
{
    return r.Width() > 0 && r.Height() > 0 && r.left >= 0 && r.top >= 0;
}

void SetActive(GtkWidget* w, bool active)
{
    if (!w)
        return;
    if (GTK_IS_TOGGLE_TOOL_BUTTON(w))
        gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(w), active);
    else if (GTK_IS_CHECK_MENU_ITEM(w))
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(w), active);
}

bool IsActive(GtkWidget* w)
{
    if (GTK_IS_TOGGLE_TOOL_BUTTON(w))
        return gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(w));
    if (GTK_IS_CHECK_MENU_ITEM(w))
        return gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(w));
    return false;
}
}  // namespace

WindowPlaceManagement::~WindowPlaceManagement()
{
    Disconnect();
}

void WindowPlaceManagement::Disconnect()
{
    for (Window* w : {&dialog_, &menuItem_, &toolButton_, &closeButton_}) {
        if (!w->Widget())
            continue;
        g_signal_handlers_disconnect_by_data(w->Widget(), this);
        w->UntrackDestroy();
        w->Set(nullptr);
    }
}

void WindowPlaceManagement::Setup(GtkWidget* dialog, GtkWidget* menuItem, GtkWidget* toolButton,
                                  GtkWidget* closeButton)
{
    Disconnect();
    dialog_.Set(dialog);
    menuItem_.Set(menuItem);
    toolButton_.Set(toolButton);
    closeButton_.Set(closeButton);
    for (Window* w : {&dialog_, &menuItem_, &toolButton_, &closeButton_})
        w->TrackDestroy();
    if (dialog)
        g_signal_connect(dialog, "delete-event", G_CALLBACK(OnDelete), this);
    if (menuItem)
        g_signal_connect(menuItem, "toggled", G_CALLBACK(OnToggled), this);
    if (toolButton)
        g_signal_connect(toolButton, "toggled", G_CALLBACK(OnToggled), this);
    if (closeButton)
        g_signal_connect(closeButton, "clicked", G_CALLBACK(OnClose), this);
}

gboolean WindowPlaceManagement::OnDelete(GtkWidget*, GdkEvent*, gpointer self)
{
    static_cast<WindowPlaceManagement*>(self)->SetVisible(false, nullptr);
    return TRUE;  // handled: closing only hides
}

void WindowPlaceManagement::OnToggled(GtkWidget* w, gpointer self)
{
    static_cast<WindowPlaceManagement*>(self)->SetVisible(IsActive(w), nullptr);
}

void WindowPlaceManagement::OnClose(GtkWidget*, gpointer self)
{
    static_cast<WindowPlaceManagement*>(self)->SetVisible(false, nullptr);
}

void WindowPlaceManagement::SetVisible(bool show, const Rect* rect)
{
    bool current = dialog_.IsVisible();
    const Rect* use = nullptr;
    bool move = true;
    if (current == show) {
        if (!rect || *rect == GetPlace().rect)
            return;
        visible_ = show;
        rect_ = *rect;
        use = &rect_;
    } else {
        visible_ = show;
        if (rect) {
            rect_ = *rect;
            use = &rect_;
        } else if (!show) {
            // Remember where the user left it, so that reopening puts it back there.
            rect_ = dialog_.GetPlace();
            move = false;
        } else {
            use = &rect_;
        }
    }
    if (move && use && Usable(*use))
        dialog_.SetPlace(*use);
    dialog_.Show(show);
    SetActive(toolButton_.Widget(), visible_);
    SetActive(menuItem_.Widget(), visible_);
}

Place WindowPlaceManagement::GetPlace() const
{
    Place p;
    if (dialog_.IsVisible()) {
        p.visible = true;
        p.rect = dialog_.GetPlace();
    } else {
        p.visible = visible_;
        p.rect = rect_;
    }
    return p;
}

}  // namespace Quill
