// GUIApp: temporary operation begins, replaced by GUIApp_Ops.cpp (this file is then removed).
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

void GUIApp::DevWriteBegin(bool)
{
    LogAdd(TrArgs("'^0' is not available in this build", Tr("Write firmware").Text()), LogModeLine,
           false, LogStyleError);
}

void GUIApp::TalkStop()
{
    runner_.TalkStop();
}
