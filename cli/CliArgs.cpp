#include "cli/CliArgs.h"

#include <cstring>

namespace {
struct CommandEntry {
    const char* name;
    OperationKind kind;
    bool needsFile;
};
const CommandEntry kCommands[] = {
    {"version", OperationKind::VersionRead, false},
    {"reboot", OperationKind::Reboot, false},
    {"test-gateway", OperationKind::TestGateway, false},
    {"write-firmware", OperationKind::FirmwareWrite, true},
    {"write-loader", OperationKind::LoaderWrite, true},
};

const char kUsage[] =
    "usage: pelta-cli COMMAND --host ADDR[:PORT] [--password N] [--talk-log]\n"
    "commands:\n"
    "  version              read the firmware version\n"
    "  reboot               send the reboot command\n"
    "  test-gateway         test the gateway to the Tamrin unit\n"
    "  write-firmware FILE  write a firmware image (*.bin)\n"
    "  write-loader FILE    write a loader image (*.bin)\n"
    "options:\n"
    "  --host ADDR[:PORT]   the unit's IPv4 address, port 502 when none is given\n"
    "  --password N         device password (0x.. hex, 0.. octal), default 1\n"
    "  --talk-log           log every request and answer\n"
    "exit codes: 0 success, 1 failure, 2 bad arguments, 3 aborted (Ctrl-C)\n";

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
}  // namespace

const char* CliUsage()
{
    return kUsage;
}

bool CliArgsParse(int argc, char** argv, CliRequest* request, std::string* error)
{
    const CommandEntry* command = nullptr;
    bool fileTaken = false;
    bool hostGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            request->help = true;
            return true;
        }
        if (strcmp(arg, "--talk-log") == 0) {
            request->talkLog = true;
        } else if ((value = OptionValue("--host", argc, argv, &i))) {
            request->host = value;
            hostGiven = true;
        } else if ((value = OptionValue("--password", argc, argv, &i))) {
            request->password = value;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            *error = std::string("unknown or incomplete option '") + arg + "'";
            return false;
        } else if (!command) {
            command = CommandFind(arg);
            if (!command) {
                *error = std::string("unknown command '") + arg + "'";
                return false;
            }
        } else if (command->needsFile && !fileTaken) {
            request->file = arg;
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
    if (command->needsFile && !fileTaken) {
        *error = std::string(command->name) + " needs an image FILE";
        return false;
    }
    if (!hostGiven || request->host.empty()) {
        *error = "--host ADDR[:PORT] is required";
        return false;
    }
    request->kind = command->kind;
    return true;
}
