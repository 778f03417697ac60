// GUIApp: the settings window's buttons (read and write the unit, save and load files, the
// default description) and the members that hand settings work to the model and the editor.
#include "app/FileChooser.h"
#include "app/GUIApp.h"
#include "app/SettingsEditor.h"
#include "base/FileUtil.h"

namespace {
const char kSettingsPattern[] = "*.xml";
const char kSettingsExtension[] = "xml";
}  // namespace

// ---------------------------------------------------------------- members the Parts name

Quill::Window GUIApp::DS_Parent()
{
    Quill::Window dialog = placeDevSettings_.Dialog();
    return dialog.IsVisible() ? dialog : form1_;
}

bool GUIApp::DS_Load(const char* path)
{
    return settings_->DS_Load(path);
}

void GUIApp::DS_Clear()
{
    settings_->DS_Clear();
}

void GUIApp::DS_ShowGroup()
{
    settings_->DS_ShowGroup();
}

void GUIApp::DS_SelectGroup(int64_t gid, bool noShow)
{
    settings_->SelectGroup(gid, noShow);
}

void GUIApp::DS_BuildSignalWidgets(TiXmlElement* element, int& row, const char* colour, bool createOnly)
{
    editor_->DS_BuildSignalWidgets(element, row, colour, createOnly);
}

bool GUIApp::DS_Widgets2XML(TiXmlElement* element, SString& error)
{
    return editor_->DS_Widgets2XML(element, error);
}

bool GUIApp::DS_CheckValue(const TiXmlElement* element, const char* text, SString& error) const
{
    return settings_->DS_CheckValue(element, text, error);
}

bool GUIApp::DS_Export(bool all)
{
    return settings_->DS_Export(all, PathFromUtf8(settingsPath_.Text()).Text());
}

void GUIApp::DS_TreeCursorChanged()
{
    editor_->TreeCursorChanged();
}

// ---------------------------------------------------------------- the buttons

void GUIApp::DS_SaveBegin(bool all)
{
    if (runner_.IsBusy())
        return;
    if (!editor_->CommitShown() || !settings_->CheckAll(all, false))
        return;
    FileChooserRequest request;
    request.title = Tr("Write settings to file");
    request.save = true;
    request.filterName = TrArgs("XML files ^0", "(*.xml)");
    request.pattern = kSettingsPattern;
    request.startPath = settingsPath_;
    request.extension = kSettingsExtension;
    SString path;
    if (!FileChooserRun(DS_Parent().TopLevel(), request, path))
        return;
    settingsPath_ = path;
    DS_Export(all);
}

void GUIApp::DevSettingsWriteGroupToFile()
{
    DS_SaveBegin(false);
}

void GUIApp::DevSettingsWriteAllToFile()
{
    DS_SaveBegin(true);
}

void GUIApp::DevSettingsReadAllFromFile()
{
    if (runner_.IsBusy())
        return;
    FileChooserRequest request;
    request.title = Tr("Read settings from file");
    request.filterName = TrArgs("XML files ^0", "(*.xml)");
    request.pattern = kSettingsPattern;
    request.startPath = settingsPath_;
    SString path;
    if (!FileChooserRun(DS_Parent().TopLevel(), request, path))
        return;
    settingsPath_ = path;
    // A file that does not load leaves the default description in its place.
    settings_->LoadSettingsFile(PathFromUtf8(path.Text()).Text());
}

void GUIApp::DevSettingsReadAllDefault()
{
    settings_->DS_LoadDefault();
}
