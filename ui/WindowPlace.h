// Keeps a non-modal dialog in step with the check menu item and toggle tool button that open
// it, hides it instead of destroying it, and stores its place in the user settings file.
#pragma once
#include "ui/Window.h"

struct XmlAttribute;
class XmlStreamWriter;

namespace Quill {

struct Place {
    bool visible = false;
    Rect rect;
};

class WindowPlaceManagement {
public:
    WindowPlaceManagement() = default;
    virtual ~WindowPlaceManagement();
    WindowPlaceManagement(const WindowPlaceManagement&) = delete;
    WindowPlaceManagement& operator=(const WindowPlaceManagement&) = delete;

    // Keeps the four wrappers and connects close, toggle and delete to showing and hiding.
    void Setup(GtkWidget* dialog, GtkWidget* menuItem, GtkWidget* toolButton, GtkWidget* closeButton);
    // rect null: no rectangle given.
    virtual void SetVisible(bool show, const Rect* rect);
    Place GetPlace() const;

    // The element's attributes as the user settings reader delivers them.
    void Load(const XmlAttribute* attributes);
    // Writes <name left top right bottom visible />; 0 on success.
    int Save(XmlStreamWriter* writer, const char* name) const;

    Window& Dialog() { return dialog_; }
    Window& MenuItem() { return menuItem_; }
    Window& ToolButton() { return toolButton_; }
    Window& CloseButton() { return closeButton_; }

private:
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static void OnToggled(GtkWidget* w, gpointer self);
    static void OnClose(GtkWidget*, gpointer self);
    void Disconnect();

    Window dialog_;
    Window menuItem_;
    Window toolButton_;
    Window closeButton_;
    bool visible_ = false;
    Rect rect_;
};

}  // namespace Quill
