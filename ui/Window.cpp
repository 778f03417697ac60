#include "ui/Window.h"

namespace Quill {

namespace {
// GTK's message types by the program's kind numbers; anything else is "other".
struct MessageKindEntry {
    int kind;
    GtkMessageType type;
};
const MessageKindEntry kMessageKinds[] = {
    {kMessageInfo, GTK_MESSAGE_INFO},
    {kMessageWarning, GTK_MESSAGE_WARNING},
    {kMessageQuestion, GTK_MESSAGE_QUESTION},
    {kMessageError, GTK_MESSAGE_ERROR},
};

GtkMessageType MessageTypeOf(int kind)
{
    for (const MessageKindEntry& e : kMessageKinds)
        if (e.kind == kind)
            return e.type;
    return GTK_MESSAGE_OTHER;
}

// GtkDialog focuses its first button when mapped without a focus; a dialog that asks for no
// default must not have one pre-selected, so the focus is dropped once it is mapped.
void DropFocusOnMap(GtkWidget* w, gpointer)
{
    gtk_window_set_focus(GTK_WINDOW(w), nullptr);
}

bool IsTopLevelWindow(GtkWidget* w)
{
    return GTK_IS_WINDOW(w) && gtk_widget_is_toplevel(w);
}
}  // namespace

void Window::TrackDestroy()
{
    if (widget_)
        g_signal_connect(widget_, "destroy", G_CALLBACK(gtk_widget_destroyed), &widget_);
}

void Window::UntrackDestroy()
{
    if (widget_)
        g_signal_handlers_disconnect_by_func(widget_, (gpointer)gtk_widget_destroyed, &widget_);
}

void Window::Destroy()
{
    if (!widget_)
        return;
    gtk_widget_destroy(widget_);
    widget_ = nullptr;
}

void Window::Show(bool show)
{
    if (!widget_)
        return;
    if (show)
        gtk_widget_show(widget_);
    else
        gtk_widget_hide(widget_);
}

bool Window::IsVisible() const
{
    return widget_ && gtk_widget_get_visible(widget_);
}

void Window::SetSensitive(bool sensitive)
{
    if (widget_)
        gtk_widget_set_sensitive(widget_, sensitive);
}

GtkWindow* Window::TopLevel() const
{
    if (!widget_)
        return nullptr;
    GtkWidget* top = gtk_widget_get_toplevel(widget_);
    return GTK_IS_WINDOW(top) ? GTK_WINDOW(top) : nullptr;
}

Rect Window::GetPlace() const
{
    Rect r;
    r.right = kUnknownExtent;
    r.bottom = kUnknownExtent;
    if (!widget_)
        return r;
    if (IsTopLevelWindow(widget_)) {
        int x = 0, y = 0, w = 0, h = 0;
        gtk_window_get_position(GTK_WINDOW(widget_), &x, &y);
        gtk_window_get_size(GTK_WINDOW(widget_), &w, &h);
        r = Rect{x, y, x + w, y + h};
        return r;
    }
    GtkAllocation a;
    gtk_widget_get_allocation(widget_, &a);
    r.left = a.x;
    r.top = a.y;
    if (a.width >= kMinMeasurableWidth) {
        r.right = a.x + a.width;
        r.bottom = a.y + a.height;
    }
    return r;
}

void Window::SetPlace(const Rect& r)
{
    if (!widget_)
        return;
    if (IsTopLevelWindow(widget_)) {
        GtkWindow* w = GTK_WINDOW(widget_);
        gtk_window_unmaximize(w);
        gtk_window_move(w, r.left, r.top);
        gtk_window_resize(w, r.Width() > 0 ? r.Width() : 1, r.Height() > 0 ? r.Height() : 1);
        return;
    }
    GtkAllocation a = {r.left, r.top, r.Width(), r.Height()};
    gtk_widget_size_allocate(widget_, &a);
}

int Window::RunDialog(const Window& parent, const char* title)
{
    if (!widget_ || !GTK_IS_DIALOG(widget_))
        return GTK_RESPONSE_NONE;
    if (!gtk_widget_get_visible(widget_)) {
        GtkWindow* w = GTK_WINDOW(widget_);
        gtk_window_set_title(w, title ? title : "");
        gtk_window_set_transient_for(w, parent.TopLevel());
        gtk_window_set_type_hint(w, GDK_WINDOW_TYPE_HINT_DIALOG);
    }
    return RunModal();
}

int Window::RunModal()
{
    if (!widget_ || !GTK_IS_DIALOG(widget_))
        return GTK_RESPONSE_NONE;
    gtk_widget_show(widget_);
    gtk_window_present(GTK_WINDOW(widget_));
    return gtk_dialog_run(GTK_DIALOG(widget_));
}

int Window::MessageDialog(const Window& parent, const MessageRequest& request,
                          const char* const* buttons, int count)
{
    GtkWidget* dialog = gtk_message_dialog_new(parent.TopLevel(), GTK_DIALOG_MODAL,
                                               MessageTypeOf(request.kind), GTK_BUTTONS_NONE, "%s",
                                               request.text ? request.text : "");
    gtk_window_set_title(GTK_WINDOW(dialog), request.title ? request.title : "");
    for (int response = 0; response < count; ++response) {
        GtkWidget* b = gtk_dialog_add_button(GTK_DIALOG(dialog), buttons[response], response);
        if (response == request.defaultResponse)
            gtk_widget_grab_focus(b);
    }
    if (request.defaultResponse >= 0)
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), request.defaultResponse);
    else
        g_signal_connect_after(dialog, "map", G_CALLBACK(DropFocusOnMap), nullptr);
    int answer = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return answer;
}

}  // namespace Quill
