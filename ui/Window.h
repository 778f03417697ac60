// A thin, copyable handle on one widget the program drives: show/hide, sensitivity, the
// window rectangle, running dialogs and building message dialogs. It never owns the widget.
#pragma once
#include <gtk/gtk.h>

#include <initializer_list>

namespace Quill {

// Screen pixels; width = right - left, height = bottom - top.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const Rect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    bool operator!=(const Rect& o) const { return !(*this == o); }
};

// Message dialog kinds as the program numbers them.
enum MessageKind { kMessageInfo = 0, kMessageWarning = 1, kMessageQuestion = 2, kMessageError = 3 };

struct MessageRequest {
    const char* title = nullptr;
    const char* text = nullptr;
    int kind = kMessageInfo;
    // Index of the button that gets the focus; negative for none.
    int defaultResponse = -1;
};

class Window {
public:
    // What GetPlace reports for a widget it cannot measure.
    static const int kUnknownExtent = 1000;
    // Narrower allocations are not laid out yet and are not reported.
    static const int kMinMeasurableWidth = 21;

    Window() = default;
    explicit Window(GtkWidget* widget) : widget_(widget) {}
    explicit Window(GObject* object) : widget_(object ? GTK_WIDGET(object) : nullptr) {}
    virtual ~Window() = default;
    Window(const Window&) = default;
    Window& operator=(const Window&) = default;

    GtkWidget* Widget() const { return widget_; }
    void Set(GtkWidget* widget) { widget_ = widget; }
    // Forgets the widget when GTK destroys it (for wrappers that outlive their widget).
    void TrackDestroy();
    void UntrackDestroy();
    // Destroys the widget, if any, and forgets it.
    void Destroy();
    void Show(bool show);
    bool IsVisible() const;
    void SetSensitive(bool sensitive);
    void SetInsensitive(bool insensitive) { SetSensitive(!insensitive); }

    Rect GetPlace() const;
    void SetPlace(const Rect& r);

    // First showing: title, transient for the parent's top level, dialog hint; then runs it.
    int RunDialog(const Window& parent, const char* title);
    // Shows, presents and runs the dialog; returns the response.
    int RunModal();
    // Modal message dialog; each stock button answers with its position (0, 1, ...).
    static int MessageDialog(const Window& parent, const MessageRequest& request,
                             const char* const* buttons, int count);
    static int MessageDialog(const Window& parent, const MessageRequest& request,
                             std::initializer_list<const char*> buttons)
    {
        return MessageDialog(parent, request, buttons.begin(), (int)buttons.size());
    }
    // The top-level window holding the widget (itself when it is one), or null.
    GtkWindow* TopLevel() const;

private:
    GtkWidget* widget_ = nullptr;
};

}  // namespace Quill
