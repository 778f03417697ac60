// GUIApp: the user settings file (res/settings.xml in a build tree, the user's configuration
// folder when installed): window places, the last unit address and
// password, the settings divider and the talk-log switch. Read once at start, written at quit.
#include <cstdio>
#include <cstring>
#include <functional>

#include "app/GUIApp.h"
#include "base/FileUtil.h"
#include "base/RuntimeDirs.h"
#include "recoding/Codepage.h"
#include "recoding/XmlEventReader.h"
#include "recoding/XmlStreamWriter.h"

namespace {
const char kRootElement[] = "pelta_flasher_settings";
const char kFormatMajor[] = "1";
const char kFormatMinor[] = "0";

// Signed decimal text of a number, as every number in the file is written.
struct Num {
    char text[16];
    explicit Num(long v) { snprintf(text, sizeof text, "%ld", v); }
};

long Int(const XmlAttribute* a, const char* name)
{
    return XmlEventReader::AttrInt(a, name, 0);
}

void EntrySetIfGiven(GObject* entry, const char* text)
{
    if (text && entry && GTK_IS_ENTRY(entry))
        gtk_entry_set_text(GTK_ENTRY(entry), text);
}

const char* EntryText(GObject* entry)
{
    return entry && GTK_IS_ENTRY(entry) ? gtk_entry_get_text(GTK_ENTRY(entry)) : "";
}
}  // namespace

void GUIApp::UsersLoad()
{
    XmlEventReader* reader = XmlEventReader::Create();
    if (!reader) {
        DiagNoMem("GUIApp::UsersLoad");
        return;
    }
    reader->SetCodepages(kCodepageUTF8, kCodepageUTF8);
    reader->SetUserData(this);
    reader->SetElementStartHandler(&GUIApp::UsersLoadElement);
    // A missing or broken file leaves the defaults (and whatever was read before the fault).
    reader->ParseFile(PathFromUtf8(userSettingsPath_.Text()).Text());
    delete reader;
}

int GUIApp::UsersLoadElement(XmlEventReader& reader, const char* name, const XmlAttribute* attributes)
{
    if (GUIApp* app = static_cast<GUIApp*>(reader.UserData()))
        app->UsersApplyElement(name, attributes);
    return 0;
}

void GUIApp::UsersApplyElement(const char* name, const XmlAttribute* a)
{
    using Apply = std::function<void(const XmlAttribute*)>;
    struct ElementRule {
        const char* name;
        Apply apply;
    };
    const ElementRule rules[] = {
        {"window",
         [this](const XmlAttribute* a) {
             Quill::Rect r{(int)Int(a, "left"), (int)Int(a, "top"), (int)Int(a, "right"), (int)Int(a, "bottom")};
             if (r.right > r.left && r.bottom > r.top && r.left >= 0 && r.top >= 0)
                 form1_.SetPlace(r);
         }},
        {"dev",
         [this](const XmlAttribute* a) {
             EntrySetIfGiven(objects_[W_DevHost], XmlEventReader::AttrText(a, "host"));
             EntrySetIfGiven(objects_[W_DevPassword], XmlEventReader::AttrText(a, "password"));
         }},
        {"windowDevSettings", [this](const XmlAttribute* a) { placeDevSettings_.Load(a); }},
        {"windowDevFind", [this](const XmlAttribute* a) { placeDevFind_.Load(a); }},
        {"options", [this](const XmlAttribute* a) { runner_.FlagsSet(RunFlags::TalkLog, Int(a, "talkLog") != 0); }},
        {"devSettings",
         [this](const XmlAttribute* a) {
             long pos = Int(a, "contentDividerPos");
             GObject* paned = objects_[W_DS_Content];
             if (pos > 0 && paned && GTK_IS_PANED(paned))
                 gtk_paned_set_position(GTK_PANED(paned), (gint)pos);
         }},
    };
    for (const ElementRule& r : rules)
        if (name && strcmp(name, r.name) == 0)
            r.apply(a);
}

void GUIApp::SetsSave()
{
    XmlStreamWriter* w = XmlStreamWriter::Create();
    if (!w) {
        DiagNoMem("GUIApp::SetsSave");
        return;
    }
    Quill::Rect win = form1_.GetPlace();
    GObject* paned = objects_[W_DS_Content];
    long divider = paned && GTK_IS_PANED(paned) ? gtk_paned_get_position(GTK_PANED(paned)) : 0;
    bool talkLog = (runner_.Flags() & RunFlags::TalkLog) != 0;

    // Each step runs only while every earlier one succeeded; a failure ends the saving quietly.
    const std::function<int()> steps[] = {
        [&] {
            // Installed, the folder under the user's configuration folder is made on first quit.
            SString path = PathFromUtf8(userSettingsPath_.Text());
            int made = UserSettingsFolderMake(path.Text());
            return made != 0 ? made : w->OpenFile(path.Text());
        },
        [&] {
            w->SetCodepages(kCodepageUTF8, kCodepageUTF8);
            return w->Declaration(kRootElement);
        },
        [&] { return w->OpenElement(kRootElement); },
        [&] { return w->EmptyElement("fileHeader", {{"formatVerMaj", kFormatMajor}, {"formatVerMin", kFormatMinor}}); },
        [&] {
            return w->EmptyElement("window", {{"left", Num(win.left).text}, {"top", Num(win.top).text},
                                              {"right", Num(win.right).text}, {"bottom", Num(win.bottom).text}});
        },
        [&] {
            return w->EmptyElement("dev", {{"host", EntryText(objects_[W_DevHost])},
                                           {"password", EntryText(objects_[W_DevPassword])}});
        },
        [&] { return placeDevSettings_.Save(w, "windowDevSettings"); },
        [&] { return placeDevFind_.Save(w, "windowDevFind"); },
        [&] { return w->EmptyElement("devSettings", {{"contentDividerPos", Num(divider).text}}); },
        [&] { return w->EmptyElement("options", {{"talkLog", talkLog ? "1" : "0"}}); },
        [&] { return w->CloseElement(kRootElement); },
        [&] { return w->EndDocument(); },
    };
    for (const auto& step : steps)
        if (step() != 0)
            break;
    delete w;
}
