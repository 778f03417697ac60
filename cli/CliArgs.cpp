#include "cli/CliArgs.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/Messages.h"
#include "cli/HostList.h"

namespace {
// What a command takes beside the options.
enum class Operand { None, Image, SettingsFile, NewPassword };
// Options only some commands take.
const unsigned kOptDescription = 1;
const unsigned kOptGroup = 2;
const unsigned kOptNoHost = 4;        // works on a file alone
const unsigned kOptNeedPassword = 8;  // --password must be given
const unsigned kOptDiscover = 16;     // takes the discover options, no --host

struct CommandEntry {
    const char* name;
    CliCommand command;
    OperationKind kind;
    Operand operand;
    unsigned options;
};
const CommandEntry kCommands[] = {
    {"version", CliCommand::Operation, OperationKind::VersionRead, Operand::None, 0},
    {"reboot", CliCommand::Operation, OperationKind::Reboot, Operand::None, 0},
    {"test-gateway", CliCommand::Operation, OperationKind::TestGateway, Operand::None, 0},
    {"write-firmware", CliCommand::Operation, OperationKind::FirmwareWrite, Operand::Image, 0},
    {"write-loader", CliCommand::Operation, OperationKind::LoaderWrite, Operand::Image, 0},
    {"change-password", CliCommand::ChangePassword, OperationKind::ChangePassword, Operand::NewPassword,
     kOptNeedPassword},
    {"settings-read", CliCommand::SettingsRead, OperationKind::ReadSettingsAll, Operand::SettingsFile,
     kOptDescription | kOptGroup},
    {"settings-write", CliCommand::SettingsWrite, OperationKind::WriteSettingsAll, Operand::SettingsFile,
     kOptGroup},
    {"settings-check", CliCommand::SettingsCheck, OperationKind::WriteSettingsAll, Operand::SettingsFile,
     kOptNoHost},
    {"settings-diff", CliCommand::SettingsDiff, OperationKind::ReadSettingsAll, Operand::SettingsFile,
     kOptGroup},
    {"discover", CliCommand::Operation, OperationKind::FindDevices, Operand::None, kOptDiscover},
};
// The highest password the unit takes.
const long kNewPasswordMax = 32767;

const char kUsage[] =
    "usage: pelta-cli COMMAND --host ADDR[:PORT] [--password N] [--talk-log]\n"
    "       pelta-cli COMMAND (--host ADDR[:PORT]... | --hosts FILE) [--jobs N] [--json] [--log FILE]\n"
    "commands:\n"
    "  version              read the firmware version\n"
    "  reboot               send the reboot command\n"
    "  test-gateway         test the gateway to the Tamrin unit\n"
    "  write-firmware FILE  write a firmware image (*.bin)\n"
    "  write-loader FILE    write a loader image (*.bin)\n"
    "  change-password NEW  set the device password to NEW (0 to 32767); --password required\n"
    "  settings-read OUT.xml [--description FILE] [--group GID]\n"
    "                       read the settings (all, or one group) and save them to OUT.xml;\n"
    "                       with several units OUT names each unit's file with {host}\n"
    "  settings-write IN.xml [--group GID]\n"
    "                       check the file's settings and write them (all, or one group)\n"
    "  settings-check FILE.xml\n"
    "                       check a settings file for a device write (no --host)\n"
    "  settings-diff FILE.xml [--group GID]\n"
    "                       show the settings whose values on the unit differ from the file\n"
    "  discover [--broadcast ADDR] [--port N] [--json]\n"
    "                       find the units on every local network (no --host); ADDR: ask\n"
    "                       that address alone; N: port of the request and the connections\n"
    "options:\n"
    "  --host ADDR[:PORT]   the unit's IPv4 address, port 502 when none is given; give it\n"
    "                       again for more units\n"
    "  --hosts FILE         the units' addresses, one per line, '#' starts a comment\n"
    "  --jobs N             units talked to at the same time (default 8)\n"
    "  --json               one JSON object per line on standard output (with discover:\n"
    "                       the units found)\n"
    "  --log FILE           every line of every unit also into FILE\n"
    "  --password N         device password (0x.. hex, 0.. octal), default 1\n"
    "  --talk-log           log every request and answer\n"
    "  --description FILE   settings-read: the settings description, default Pelta.xml of\n"
    "                       res/ beside the program, or share/pelta when installed\n"
    "  --group GID          settings-*: only the settings of the group with this gid\n"
    "exit codes: 0 success, 1 failure, 2 bad arguments, 3 aborted (Ctrl-C),\n"
    "            4 settings-diff found differences\n";

const CommandEntry* CommandFind(const char* name)
{
    for (const CommandEntry& e : kCommands)
        if (strcmp(e.name, name) == 0)
            return &e;
    return nullptr;
}

// The value of an option given as "--name value" or "--name=value"; null when absent.
const char* OptionValue(const char* name, int argc, char** argv, int* i)
{
    const size_t n = strlen(name);
    const char* arg = argv[*i];
    if (strncmp(arg, name, n) != 0)
        return nullptr;
    if (arg[n] == '=')
        return arg + n + 1;
    if (arg[n] != '\0' || *i + 1 >= argc)
        return nullptr;
    return argv[++*i];
}

// A whole decimal number (a sign allowed), nothing else.
bool WholeNumber(const char* text, long long* value)
{
    if (!*text)
        return false;
    char* end = nullptr;
    errno = 0;
    *value = strtoll(text, &end, 10);
    return errno == 0 && *end == '\0';
}

// The option a command does not take, or null.
const char* OptionRefused(const CommandEntry& command, bool descriptionGiven, bool groupGiven)
{
    if (descriptionGiven && !(command.options & kOptDescription))
        return "--description";
    if (groupGiven && !(command.options & kOptGroup))
        return "--group";
    return nullptr;
}
}  // namespace

const char* CliUsage()
{
    return kUsage;
}

bool CliArgsParse(int argc, char** argv, CliRequest* request, std::string* error)
{
    const CommandEntry* command = nullptr;
    bool fileTaken = false;
    bool manyGiven = false;  // an option only a many-unit run takes
    bool jsonGiven = false;
    bool listGiven = false;
    bool passwordGiven = false;
    bool descriptionGiven = false;
    std::string operand;
    bool discoverGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            request->help = true;
            return true;
        }
        if (strcmp(arg, "--talk-log") == 0) {
            request->talkLog = true;
        } else if (strcmp(arg, "--json") == 0) {
            jsonGiven = true;
        } else if ((value = OptionValue("--hosts", argc, argv, &i))) {
            if (!HostListRead(value, &request->hosts, error))
                return false;
            manyGiven = true;
            listGiven = true;
        } else if ((value = OptionValue("--host", argc, argv, &i))) {
            if (!*value) {
                *error = "--host ADDR[:PORT] is required";
                return false;
            }
            request->hosts.push_back(value);
        } else if ((value = OptionValue("--jobs", argc, argv, &i))) {
            long long jobs = 0;
            if (!WholeNumber(value, &jobs) || jobs < 1 || jobs > kMaxJobs) {
                *error = TrArgs("--jobs needs a number from 1 to ^0, not '^1'", std::to_string(kMaxJobs).c_str(),
                                value).Text();
                return false;
            }
            request->jobs = (int)jobs;
            manyGiven = true;
        } else if ((value = OptionValue("--log", argc, argv, &i))) {
            request->logFile = value;
            manyGiven = true;
        } else if ((value = OptionValue("--password", argc, argv, &i))) {
            request->password = value;
            passwordGiven = true;
        } else if ((value = OptionValue("--description", argc, argv, &i))) {
            request->description = value;
            descriptionGiven = true;
        } else if ((value = OptionValue("--group", argc, argv, &i))) {
            long long gid = 0;
            if (!WholeNumber(value, &gid)) {
                *error = std::string("--group needs a whole number, not '") + value + "'";
                return false;
            }
            request->group = gid;
            request->groupGiven = true;
        } else if (int taken = DiscoverOptionParse(argc, argv, &i, &request->discover, error)) {
            if (taken < 0)
                return false;
            discoverGiven = true;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            *error = std::string("unknown or incomplete option '") + arg + "'";
            return false;
        } else if (!command) {
            command = CommandFind(arg);
            if (!command) {
                *error = std::string("unknown command '") + arg + "'";
                return false;
            }
        } else if (command->operand != Operand::None && !fileTaken) {
            operand = arg;
            fileTaken = true;
        } else {
            *error = std::string("unexpected argument '") + arg + "'";
            return false;
        }
    }
    if (!command) {
        *error = "no command given";
        return false;
    }
    static const char* const kOperandNames[] = {"", "an image FILE", "a settings FILE", "the NEW password"};
    if (command->operand != Operand::None && !fileTaken) {
        *error = std::string(command->name) + " needs " + kOperandNames[(int)command->operand];
        return false;
    }
    if (const char* refused = OptionRefused(*command, descriptionGiven, request->groupGiven)) {
        *error = std::string(refused) + " does not apply to " + command->name;
        return false;
    }
    if (discoverGiven && !(command->options & kOptDiscover)) {
        *error = std::string("--broadcast and --port do not apply to ") + command->name;
        return false;
    }
    DiscoveryOptions checked;
    if ((command->options & kOptDiscover) && !DiscoverOptionsMake(request->discover, &checked, error))
        return false;
    const bool hostGiven = !request->hosts.empty();
    if (jsonGiven && (command->options & kOptDiscover))
        request->discover.json = true;
    else if (jsonGiven && (command->options & kOptNoHost)) {
        *error = TrArgs("--json does not apply to ^0", command->name).Text();
        return false;
    }
    if (command->options & (kOptNoHost | kOptDiscover)) {
        if (manyGiven) {
            *error = TrArgs("--hosts, --jobs and --log do not apply to ^0", command->name).Text();
            return false;
        }
        if (hostGiven) {
            *error = std::string(command->name) +
                     (command->options & kOptDiscover ? " finds the units itself, without --host"
                                                      : " works on the file alone, without --host");
            return false;
        }
    } else if (!hostGiven) {
        *error = listGiven ? Tr("No host in the host list").Text()
                                                       : "--host ADDR[:PORT] is required";
        return false;
    } else {
        request->host = request->hosts.front();
        request->json = jsonGiven;
        request->multi = manyGiven || jsonGiven || request->hosts.size() > 1;
    }
    if ((command->options & kOptNeedPassword) && !passwordGiven) {
        *error = std::string(command->name) + " needs the current --password";
        return false;
    }
    if (command->operand == Operand::NewPassword) {
        long long number = -1;
        if (!WholeNumber(operand.c_str(), &number) || number < 0 || number > kNewPasswordMax) {
            *error = "the new password must be a number from 0 to 32767, not '" + operand + "'";
            return false;
        }
        request->newPassword = (int32_t)number;
    } else {
        request->file = operand;
    }
    // Units reading at the same time must not save into one file.
    if (request->multi && request->hosts.size() > 1 && command->command == CliCommand::SettingsRead &&
        request->file.find("{host}") == std::string::npos) {
        *error = TrArgs("With several units OUT must hold {host}: '^0'", request->file.c_str()).Text();
        return false;
    }
    request->command = command->command;
    request->kind = command->kind;
    // A group narrows the settings operations to their group kinds.
    if (request->groupGiven) {
        if (request->kind == OperationKind::ReadSettingsAll)
            request->kind = OperationKind::ReadSettingsGroup;
        else if (request->kind == OperationKind::WriteSettingsAll)
            request->kind = OperationKind::WriteSettingsGroup;
    }
    return true;
}
