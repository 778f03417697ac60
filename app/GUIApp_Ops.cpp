// GUIApp: the begin steps of the operations on a unit (GUI thread, GDK lock held). The work
// itself runs in the operation runner.
#include "app/FileChooser.h"
#include "app/GUIApp.h"

void GUIApp::DevRefresh()
{
    runner_.CommandBegin(OperationKind::VersionRead);
}

void GUIApp::DevReboot()
{
    runner_.CommandBegin(OperationKind::Reboot);
}

void GUIApp::DevTestGateway()
{
    runner_.CommandBegin(OperationKind::TestGateway);
}

void GUIApp::TalkStop()
{
    runner_.TalkStop();
}

void GUIApp::DevWriteBegin(bool firmware)
{
    if (runner_.IsBusy())
        return;
    FileChooserRequest request;
    request.title = Tr(firmware ? "Choose file with firmware" : "Choose file with loader");
    request.filterName = TrArgs("Binary files ^0", "(*.bin)");
    request.pattern = "*.bin";
    // Firmware and loader share the last path, so the next dialog starts where the last one ended.
    request.startPath = runner_.ImagePath();
    SString path;
    if (!FileChooserRun(GTK_WINDOW(form1_.Widget()), request, path))
        return;
    // Keeps the path and its file name and draws a fresh transport mask.
    runner_.ImageSet(path);
    runner_.WriteBegin(firmware);
}
