#include "ui/AboutDialog.h"

namespace Quill {

namespace {
const char kBufferKey[] = "about-buffer";
const int kContentBorder = 8;
const int kBoldWeight = 700;
const int kDefaultWidth = 420;
const int kDefaultHeight = 240;

GtkPolicyType PolicyOf(bool never)
{
    return never ? GTK_POLICY_NEVER : GTK_POLICY_AUTOMATIC;
}

void Line(GtkTextBuffer* b, GtkTextTag* tag, const char* a, const char* c = nullptr,
          const char* d = nullptr)
{
    GtkTextIter end;
    for (const char* part : {a, c, d}) {
        if (!part)
            continue;
        gtk_text_buffer_get_end_iter(b, &end);
        if (tag)
            gtk_text_buffer_insert_with_tags(b, &end, part, -1, tag, nullptr);
        else
            gtk_text_buffer_insert(b, &end, part, -1);
    }
    gtk_text_buffer_get_end_iter(b, &end);
    gtk_text_buffer_insert(b, &end, "\n", 1);
}

void Fill(GtkTextBuffer* b, const AboutContent& c)
{
    GtkTextTag* bold = gtk_text_buffer_create_tag(b, nullptr, "weight", kBoldWeight, nullptr);
    GtkTextTag* italic = gtk_text_buffer_create_tag(b, nullptr, "style", PANGO_STYLE_ITALIC, nullptr);
    Line(b, bold, c.programTitle ? c.programTitle : "");
    Line(b, nullptr, c.description ? c.description : "");
    Line(b, nullptr, c.labelVersion ? c.labelVersion : "", ": ", c.version ? c.version : "");
    Line(b, nullptr, c.labelBuild ? c.labelBuild : "", ": ", c.build ? c.build : "");
    Line(b, italic, c.maker ? c.maker : "");
    if (c.contributors && c.contributors[0]) {
        Line(b, nullptr, c.labelContributors ? c.labelContributors : "", ":");
        for (const char* const* p = c.contributors; *p; ++p)
            Line(b, nullptr, "\t", *p);
    }
}
}  // namespace

GtkTextBuffer* AboutDialogBuffer(GtkWidget* dialog)
{
    return dialog ? GTK_TEXT_BUFFER(g_object_get_data(G_OBJECT(dialog), kBufferKey)) : nullptr;
}

void AboutDialogRun(const Window& parent, const AboutContent& content)
{
    GtkWidget* dialog = gtk_dialog_new_with_buttons(content.title ? content.title : "",
                                                    parent.TopLevel(), GTK_DIALOG_MODAL, nullptr);
    GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(dialog), GTK_STOCK_OK, GTK_RESPONSE_OK);
    gtk_widget_grab_focus(ok);
    gtk_window_set_default_size(GTK_WINDOW(dialog), kDefaultWidth, kDefaultHeight);

    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_ETCHED_IN);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), PolicyOf(content.noHorizontalScroll),
                                   PolicyOf(content.noVerticalScroll));
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), kContentBorder);
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
    Fill(buffer, content);
    g_object_set_data(G_OBJECT(dialog), kBufferKey, buffer);

    gtk_container_add(GTK_CONTAINER(scroll), view);
    GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_box_pack_end(GTK_BOX(area), scroll, TRUE, TRUE, kContentBorder);
    gtk_widget_show_all(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

}  // namespace Quill
