// GUIApp: the About dialog (built in code) and the Help dialog (from the interface file).
#include <cstring>

#include "app/About.h"
#include "app/GUIApp.h"
#include "ui/AboutDialog.h"

// The build gives each program its own definition (cmake/PeltaBuildTime.cmake); a program
// built without one shows the epoch.
__attribute__((weak)) int64_t PeltaBuildTime()
{
    return 0;
}

const char kVersionText[] = PELTA_VERSION;

namespace {
const char kBuildTimeFormat[] = "%d.%m.%Y %H:%M:%S";
const char kRussianLanguage[] = "ru-ru";

const AboutForm kRussianForm = {"Разработка: группа сервисного ПО Pelta",
                                "Служба наладки Pelta"};
const AboutForm kInternationalForm = {"Made by the Pelta service software team",
                                      "Pelta field commissioning service"};
}  // namespace

time_t BuildTime()
{
    return (time_t)PeltaBuildTime();
}

SString BuildTimeText()
{
    time_t t = BuildTime();
    struct tm local;
    char text[64] = "";
    localtime_r(&t, &local);
    strftime(text, sizeof text, kBuildTimeFormat, &local);
    return SString(text);
}

const AboutForm& AboutFormFor(const char* language)
{
    return language && strcmp(language, kRussianLanguage) == 0 ? kRussianForm : kInternationalForm;
}

void GUIApp::About()
{
    const AboutForm& form = AboutFormFor(pango_language_to_string(gtk_get_default_language()));
    SString title = Tr("About");
    SString labelVersion = Tr("Version");
    SString labelBuild = Tr("Build");
    SString labelContributors = Tr("Contributors");
    SString description = Tr("Program for flashing Pelta");
    SString build = BuildTimeText();
    const char* contributors[] = {form.contributor, nullptr};

    Quill::AboutContent c;
    c.title = title.Text();
    c.labelVersion = labelVersion.Text();
    c.labelBuild = labelBuild.Text();
    c.labelContributors = labelContributors.Text();
    c.programTitle = title_.Text();
    c.description = description.Text();
    c.version = kVersionText;
    c.build = build.Text();
    c.maker = form.maker;
    c.contributors = contributors;
    c.noHorizontalScroll = true;
    c.noVerticalScroll = true;
    Quill::AboutDialogRun(form1_, c);
}

void GUIApp::Help()
{
    bool ok = true;
    GObject* o = WidgetGet("DLG_Help", ok);
    if (!o || !GTK_IS_DIALOG(o))
        return;
    Quill::Window dialog(GTK_WIDGET(o));
    dialog.RunDialog(form1_, Tr("Help").Text());
    dialog.Show(false);
}
