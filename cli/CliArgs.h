// The command line of pelta-cli: one command, its file for the writes, the units' addresses,
// the device password, the talk-log switch and how a many-unit run reports.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/Discover.h"
#include "operations/OperationRunner.h"

// Process exit codes.
const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;
const int kExitAborted = 3;
// settings-diff: the unit holds other values than the file.
const int kExitDiffers = 4;

// How an operation that ended in this state ends the process.
inline int ExitCodeOf(AppState state)
{
    return state == AppState::Succeeded ? kExitOk : state == AppState::Aborted ? kExitAborted : kExitFailed;
}

// The commands that do not map one to one onto a runner operation.
enum class CliCommand { Operation, ChangePassword, SettingsRead, SettingsWrite, SettingsCheck, SettingsDiff };

// Units a many-unit run talks to at the same time unless --jobs says otherwise.
const int kDefaultJobs = 8;
const int kMaxJobs = 256;

// The unit's factory password, which the window also presets.
const char kDefaultPassword[] = "1";

struct CliRequest {
    CliCommand command = CliCommand::Operation;
    OperationKind kind = OperationKind::VersionRead;
    std::string file;  // image of write-firmware / write-loader, settings file of settings-*
    std::string host;  // ADDR[:PORT], the first of hosts
    std::vector<std::string> hosts;  // every --host and the --hosts file's addresses, in order
    // Many units at once (more than one host, --hosts, --json or --log): each its own runner.
    bool multi = false;
    int jobs = kDefaultJobs;  // units running at the same time
    bool json = false;        // JSON lines on standard output
    std::string logFile;      // every line of every unit also into this file
    std::string password = kDefaultPassword;
    bool talkLog = false;
    int32_t newPassword = 0;      // change-password
    std::string description;      // settings-read: the description file; empty: the default
    bool groupGiven = false;      // settings-*: only the group with this gid
    int64_t group = -1;
    DiscoverRequest discover;     // discover: where to ask, how to print
    bool help = false;
};

// False with *error set when the arguments do not form one valid request.
bool CliArgsParse(int argc, char** argv, CliRequest* request, std::string* error);
const char* CliUsage();
