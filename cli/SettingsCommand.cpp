#include "cli/SettingsCommand.h"

#include <string>
#include <vector>

#include "base/FileUtil.h"
#include "base/Messages.h"
#include "base/RuntimeDirs.h"
#include "settings/SettingsTalk.h"
#include "settings/SettingsXml.h"

namespace {
const char kSgrError[] = "\033[31m";
const char kSgrReset[] = "\033[0m";

bool IsRead(OperationKind kind)
{
    return kind == OperationKind::ReadSettingsGroup || kind == OperationKind::ReadSettingsAll;
}

bool IsGroupKind(OperationKind kind)
{
    return kind == OperationKind::ReadSettingsGroup || kind == OperationKind::WriteSettingsGroup;
}

// The settings an operation walks: the selected group's or every one, in document order.
std::vector<TiXmlElement*> Walked(DeviceSettings& settings, bool group)
{
    return group ? settings.Shown() : settings.Scalars();
}
}  // namespace

std::string DecimalText(int64_t n)
{
    return std::to_string((long long)n);
}

void SettingsConsole::MsgBox(const SString& text)
{
    ++count_;
    if (!err_)
        return;
    // The log lines made before the message go out first (both streams may be one file).
    fflush(nullptr);
    if (terminal_)
        fputs(kSgrError, err_);
    fputs(text.Text(), err_);
    if (terminal_)
        fputs(kSgrReset, err_);
    fputc('\n', err_);
}

SettingsCommand::SettingsCommand(const CliRequest& request, FILE* out, bool outTerminal, FILE* err,
                                 bool errTerminal)
    : request_(request), out_(out), outTerminal_(outTerminal), console_(err, errTerminal), quiet_(nullptr, false)
{
}

SettingsCommand::~SettingsCommand() = default;

SString SettingsCommand::DefaultDescription()
{
    return RuntimeFile(RuntimeDirsOfProgram(), "Pelta.xml");
}

bool SettingsCommand::GroupSelect(DeviceSettings& settings, const char* file)
{
    if (!request_.groupGiven)
        return true;
    const DS_Group* group = settings.GroupAt(settings.GroupPathOf(request_.group));
    if (!group || group->gid != request_.group) {
        console_.MsgBox(TrArgs("No group with gid ^0 in '^1'", DecimalText(request_.group).c_str(), file));
        return false;
    }
    settings.SelectGroup(request_.group, false);
    return true;
}

bool SettingsCommand::Prepare(int* exitCode)
{
    *exitCode = kExitFailed;
    const char* file = request_.file.c_str();
    const bool diff = request_.command == CliCommand::SettingsDiff;
    // settings-diff reads the unit's values into a copy of the file's description, whose load
    // repeats the messages of the file's own load: those are not shown twice.
    settings_.reset(new DeviceSettings(diff ? &quiet_ : &console_));
    settings_->DefaultPathSet(DefaultDescription());
    if (request_.command == CliCommand::SettingsRead) {
        SString description = request_.description.empty() ? DefaultDescription()
                                                           : SString(request_.description.c_str());
        return settings_->DS_Load(description.Text()) && GroupSelect(*settings_, description.Text());
    }
    if (request_.command == CliCommand::SettingsWrite) {
        // A file that fails to load leaves the default description, which has nothing to write.
        return settings_->LoadSettingsFile(file) && GroupSelect(*settings_, file) &&
               settings_->CheckAll(!request_.groupGiven, true);
    }
    if (request_.command == CliCommand::SettingsCheck)
        return CheckFile(exitCode);
    file_.reset(new DeviceSettings(&console_));
    return file_->DS_Load(file) && GroupSelect(*file_, file) && settings_->DS_Load(file) &&
           GroupSelect(*settings_, file);
}

bool SettingsCommand::CheckFile(int* exitCode)
{
    const char* file = request_.file.c_str();
    if (!settings_->DS_Load(file))
        return false;
    // Every setting, not only up to the first fault: the user fixes the file in one go.
    int settings = 0;
    for (TiXmlElement* element : settings_->Scalars()) {
        if (!SignalInfo(element))
            continue;
        ++settings;
        SString error;
        if (!settings_->CheckSetting(element, &error, true))
            settings_->ValueFaultShow(element, error);
    }
    const int faults = console_.Count();
    fprintf(out_, "%s\n",
            TrArgs("Settings checked: ^0, faults: ^1", DecimalText(settings).c_str(), DecimalText(faults).c_str()).Text());
    *exitCode = faults == 0 ? kExitOk : kExitFailed;
    return false;
}

bool SettingsCommand::Start(OperationRunner& runner)
{
    if (runner.IsBusy())
        return false;
    runner.ThreadCreate(request_.kind, Tr(IsRead(request_.kind) ? "Read settings begin" : "Write settings begin"));
    return true;
}

bool SettingsCommand::OperationBody(OperationRunner& runner, OperationKind kind, const MODBUS_TalkInfo& talk)
{
    const std::vector<TiXmlElement*> walk = Walked(*settings_, IsGroupKind(kind));
    switch (kind) {
    case OperationKind::ReadSettingsGroup:
    case OperationKind::ReadSettingsAll:
        return DS_ReadFromDev_th(runner, talk, walk, nullptr);
    case OperationKind::WriteSettingsGroup:
    case OperationKind::WriteSettingsAll:
        return DS_WriteToDev_th(runner, talk, walk);
    default:
        return false;
    }
}

int SettingsCommand::Finish(int code)
{
    if (code != kExitOk)
        return code;
    switch (request_.command) {
    case CliCommand::SettingsRead:
        if (!settings_->DS_Export(!request_.groupGiven, request_.file.c_str()))
            return kExitFailed;
        fprintf(out_, "%s\n", TrArgs("Settings saved to '^0'", request_.file.c_str()).Text());
        return kExitOk;
    case CliCommand::SettingsDiff:
        return DiffPrint();
    default:
        return code;
    }
}
