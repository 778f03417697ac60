// The settings table: one block of rows per shown setting, built from the document and read
// back into it. The group tree and the model's callbacks are in SettingsEditor_Tree.cpp.
#include "app/SettingsEditor.h"

#include <cmath>
#include <cstring>

#include "app/GUIApp.h"
#include "base/Messages.h"

const char kSettingsRowColourOdd[] = "#FFFFFF";
const char kSettingsRowColourEven[] = "#EEEEEE";

namespace {
const int kLabelPadding = 4;
const int kLabelMaxChars = 32;
// A missing bound: wide enough for any value the unit can report.
const double kNoMin = -1e37;
const double kNoMax = 1e37;
const double kFloatStep = 0.00001;
const int kFloatDigits = 5;
const char kElementKey[] = "pelta-setting";

GtkWidget* LabelMake(const char* text, bool ellipsize)
{
    GtkWidget* label = gtk_label_new(text);
    gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.5f);
    gtk_misc_set_padding(GTK_MISC(label), kLabelPadding, kLabelPadding);
    if (ellipsize) {
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
        gtk_label_set_max_width_chars(GTK_LABEL(label), kLabelMaxChars);
    }
    return label;
}

void TooltipSet(GtkWidget* widget, const SString& text)
{
    if (!text.IsEmpty())
        gtk_widget_set_tooltip_text(widget, text.Text());
}

double Bound(const TiXmlElement* element, const char* name, double missing)
{
    const char* text = element->Attribute(name);
    return text ? TextToDouble(text, missing, nullptr) : missing;
}

SString NameTooltip(const TiXmlElement* element)
{
    SString tip(DS_Description(element));
    const char* hint = DS_ChildText(element, "hint");
    if (hint && *hint) {
        tip.Append("\n(");
        tip.Append(hint);
        tip.Append(")");
    }
    return tip;
}

SString ValueTooltip(const TiXmlElement* element, const DS_SignalInfo& info)
{
    SString tip;
    const char* format = element->Attribute("format");
    if (format && *format)
        tip = TrArgs("Format: ^0", format);
    const char* min = element->Attribute("min");
    const char* max = element->Attribute("max");
    if (info.kind == DS_ValueKind::String && (min || max)) {
        const char* msgid = !max ? "Value length from ^0 characters"
                          : !min ? "Value length to ^1 characters"
                          : TextToDouble(min, kNoMin, nullptr) == TextToDouble(max, kNoMax, nullptr)
                              ? "Value length is ^0 characters"
                              : "Value length from ^0 to ^1 characters";
        if (!tip.IsEmpty())
            tip.Append("\n");
        tip.Append(TrArgs(msgid, min, max));
    }
    return tip;
}

// The "value" entries of "namedvalues", in order.
std::vector<const TiXmlElement*> NamedValues(const TiXmlElement* element)
{
    std::vector<const TiXmlElement*> out;
    const TiXmlElement* named = element->FirstChildElement("namedvalues");
    for (const TiXmlElement* v = named ? named->FirstChildElement("value") : nullptr; v;
         v = v->NextSiblingElement("value"))
        out.push_back(v);
    return out;
}

void OnAvailabilityToggled(GtkToggleButton* button, gpointer editor)
{
    auto* element = static_cast<TiXmlElement*>(g_object_get_data(G_OBJECT(button), kElementKey));
    static_cast<SettingsEditor*>(editor)->AvailabilityToggled(element);
}
}  // namespace

SettingsEditor::SettingsEditor(GUIApp& app) : app_(app) {}

// The widgets belong to the dialog, which the application destroys itself.
SettingsEditor::~SettingsEditor() = default;

void SettingsEditor::Attach(DeviceSettings* model, GtkTable* table, GtkTreeView* tree, GtkTreeStore* store,
                            gulong treeCursorHandler)
{
    model_ = model;
    table_ = table;
    tree_ = tree;
    store_ = store;
    treeCursorHandler_ = treeCursorHandler;
    if (table_) {
        gtk_table_set_row_spacings(table_, 0);
        gtk_table_set_col_spacings(table_, 0);
    }
}

const DS_SettingWidgets* SettingsEditor::WidgetsOf(const TiXmlElement* element) const
{
    auto it = widgets_.find(element);
    return it == widgets_.end() ? nullptr : &it->second;
}

void SettingsEditor::TableReset()
{
    if (table_)
        gtk_table_resize(table_, 1, kSettingsTableColumns);
}

GtkWidget* SettingsEditor::Cell(DS_SettingWidgets& w, GtkWidget* child, const GdkColor& colour, int left,
                                int right, int row, bool expand)
{
    GtkWidget* box = gtk_event_box_new();
    gtk_widget_modify_bg(box, GTK_STATE_NORMAL, &colour);
    gtk_container_add(GTK_CONTAINER(box), child);
    GtkAttachOptions x = expand ? GtkAttachOptions(GTK_EXPAND | GTK_FILL) : GTK_FILL;
    gtk_table_attach(table_, box, left, right, row, row + 1, x, GTK_FILL, 0, 0);
    w.widgets.push_back(box);
    return box;
}

GtkWidget* SettingsEditor::ValueWidgetMake(const TiXmlElement* element, const DS_SignalInfo& info)
{
    if (info.kind == DS_ValueKind::String) {
        GtkWidget* entry = gtk_entry_new();
        if (element->Attribute("max"))
            gtk_entry_set_max_length(GTK_ENTRY(entry), (gint)lround(Bound(element, "max", 0)));
        return entry;
    }
    if (info.kind == DS_ValueKind::Integer && element->FirstChildElement("namedvalues")) {
        GtkWidget* combo = gtk_combo_box_text_new();
        for (const TiXmlElement* v : NamedValues(element)) {
            const char* val = DS_ChildText(v, "val");
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), val ? val : "");
        }
        return combo;
    }
    bool isFloat = info.kind == DS_ValueKind::Float;
    GtkWidget* spin = gtk_spin_button_new_with_range(Bound(element, "min", kNoMin), Bound(element, "max", kNoMax),
                                                     isFloat ? kFloatStep : 1.0);
    gtk_spin_button_set_digits(GTK_SPIN_BUTTON(spin), isFloat ? kFloatDigits : 0);
    return spin;
}

void SettingsEditor::DS_BuildSignalWidgets(TiXmlElement* element, int& row, const char* colour, bool createOnly)
{
    const DS_SignalInfo* info = SignalInfo(element);
    if (!info || !table_)
        return;
    auto found = widgets_.find(element);
    if (found != widgets_.end()) {
        if (!createOnly)
            Refresh(element, found->second);
        return;
    }
    DS_SettingWidgets& w = widgets_[element];
    GdkColor c;
    gdk_color_parse(colour, &c);

    GtkWidget* name = LabelMake(DS_Description(element), true);
    TooltipSet(name, NameTooltip(element));
    Cell(w, name, c, 0, 1, row, true);

    w.check = gtk_check_button_new();
    gtk_widget_set_can_focus(w.check, FALSE);
    SString tip = Tr("Value availability");
    std::vector<TiXmlElement*> record = model_->RecordSettings(element);
    if (record.size() >= 2) {
        tip.Append(".\n\n");
        tip.Append(TrArgs("Values '^0' - '^1' write one time.", DS_Description(record.front()),
                          DS_Description(record.back())));
    }
    gtk_widget_set_tooltip_text(w.check, tip.Text());
    g_object_set_data(G_OBJECT(w.check), kElementKey, element);
    w.toggledHandler = g_signal_connect(w.check, "toggled", G_CALLBACK(OnAvailabilityToggled), this);
    Cell(w, w.check, c, 1, info->isArray ? kSettingsTableColumns : 2, row, false);
    if (info->isArray)
        ++row;

    const char* measure = DS_ChildText(element, "measure");
    SString valueTip = ValueTooltip(element, *info);
    for (int32_t i = 0; i < info->valuesCount; ++i) {
        if (info->isArray) {
            SString* indexName = const_cast<Quill::List<SString>&>(info->indexes).GetAt(i);
            SString text("\t");
            text.Append(indexName ? indexName->Text() : "");
            GtkWidget* index = LabelMake(text.Text(), true);
            TooltipSet(index, indexName ? *indexName : SString());
            Cell(w, index, c, 0, 2, row, true);
        }
        GtkWidget* value = ValueWidgetMake(element, *info);
        TooltipSet(value, valueTip);
        w.values.push_back(value);
        Cell(w, value, c, 2, 3, row, false);
        Cell(w, LabelMake(measure ? measure : "", false), c, 3, 4, row, false);
        ++row;
    }
    Refresh(element, w);
}

void SettingsEditor::Refresh(TiXmlElement* element, DS_SettingWidgets& w)
{
    bool active = DS_Values(element) != nullptr;
    g_signal_handler_block(w.check, w.toggledHandler);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w.check), active);
    g_signal_handler_unblock(w.check, w.toggledHandler);

    std::vector<SString> texts = DS_ValueTexts(element);
    std::vector<const TiXmlElement*> named = NamedValues(element);
    for (size_t i = 0; i < w.values.size(); ++i) {
        const char* text = i < texts.size() ? texts[i].Text() : nullptr;
        GtkWidget* widget = w.values[i];
        if (GTK_IS_COMBO_BOX(widget)) {
            int64_t number = TextToInt64(text, 0, nullptr);
            int selected = -1;
            for (size_t k = 0; k < named.size(); ++k)
                if (TextToInt64(DS_ChildText(named[k], "key"), 0, nullptr) == number)
                    selected = (int)k;
            gtk_combo_box_set_active(GTK_COMBO_BOX(widget), selected);
        } else if (GTK_IS_SPIN_BUTTON(widget)) {
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(widget), TextToDouble(text, 0.0, nullptr));
        } else if (GTK_IS_ENTRY(widget)) {
            gtk_entry_set_text(GTK_ENTRY(widget), text ? text : "");
        }
    }
    SensitivitySet(w, active);
}

void SettingsEditor::SensitivitySet(DS_SettingWidgets& w, bool active)
{
    for (size_t i = 2; i < w.widgets.size(); ++i)
        gtk_widget_set_sensitive(w.widgets[i], active);
}

void SettingsEditor::AvailabilityToggled(TiXmlElement* element)
{
    auto it = widgets_.find(element);
    if (it == widgets_.end() || !model_)
        return;
    bool active = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(it->second.check));
    // A record is written whole, so its settings are all available or none is.
    for (TiXmlElement* other : model_->RecordSettings(element)) {
        auto o = widgets_.find(other);
        if (o == widgets_.end())
            continue;
        g_signal_handler_block(o->second.check, o->second.toggledHandler);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(o->second.check), active);
        g_signal_handler_unblock(o->second.check, o->second.toggledHandler);
        SensitivitySet(o->second, active);
    }
}

bool SettingsEditor::ValueText(const TiXmlElement* element, const DS_SignalInfo& info, GtkWidget* widget,
                               SString& text, SString& error)
{
    if (GTK_IS_COMBO_BOX(widget)) {
        int index = gtk_combo_box_get_active(GTK_COMBO_BOX(widget));
        if (index < 0) {
            error = Tr("No list item selected");
            return false;
        }
        std::vector<const TiXmlElement*> named = NamedValues(element);
        if ((size_t)index >= named.size()) {
            error = Tr("List item element not found");
            return false;
        }
        const char* key = DS_ChildText(named[index], "key");
        text.Assign(key ? key : "");
    } else if (GTK_IS_SPIN_BUTTON(widget)) {
        // What was typed counts even before Enter or a focus change took it.
        gtk_spin_button_update(GTK_SPIN_BUTTON(widget));
        double value = gtk_spin_button_get_value(GTK_SPIN_BUTTON(widget));
        char buffer[G_ASCII_DTOSTR_BUF_SIZE];
        if (info.kind == DS_ValueKind::Float)
            g_ascii_formatd(buffer, sizeof buffer, "%g", value);
        else
            Int64ToText(buffer, sizeof buffer, (int64_t)llround(value), nullptr);
        text.Assign(buffer);
    } else {
        text.Assign(gtk_entry_get_text(GTK_ENTRY(widget)));
    }
    return true;
}

bool SettingsEditor::DS_Widgets2XML(TiXmlElement* element, SString& error)
{
    auto it = widgets_.find(element);
    const DS_SignalInfo* info = SignalInfo(element);
    if (!info || it == widgets_.end() || !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(it->second.check)))
        return model_->DS_ValuesSet(element, nullptr, error);
    std::vector<SString> texts;
    for (GtkWidget* widget : it->second.values) {
        SString text;
        SString fault;
        if (!ValueText(element, *info, widget, text, fault)) {
            // The values before the faulty one are taken, as if checked one by one.
            model_->DS_ValuesSet(element, &texts, error);
            error = fault;
            return false;
        }
        texts.push_back(text);
    }
    return model_->DS_ValuesSet(element, &texts, error);
}

bool SettingsEditor::CommitShown()
{
    if (!model_)
        return true;
    return model_->CommitShown([this](TiXmlElement* e, SString& error) { return DS_Widgets2XML(e, error); });
}

void SettingsEditor::SettingChanged(TiXmlElement* element)
{
    gdk_threads_enter();
    auto it = widgets_.find(element);
    if (it != widgets_.end())
        Refresh(element, it->second);
    gdk_threads_leave();
}
