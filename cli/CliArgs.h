// The command line of pelta-cli: one command, its file for the writes, the unit's address,
// the device password and the talk-log switch.
#pragma once
#include <string>

#include "operations/OperationRunner.h"

// Process exit codes.
const int kExitOk = 0;
const int kExitFailed = 1;
const int kExitUsage = 2;
const int kExitAborted = 3;

// The unit's factory password, which the window also presets.
const char kDefaultPassword[] = "1";

struct CliRequest {
    OperationKind kind = OperationKind::VersionRead;
    std::string file;  // image of write-firmware / write-loader
    std::string host;  // ADDR[:PORT]
    std::string password = kDefaultPassword;
    bool talkLog = false;
    bool help = false;
};

// False with *error set when the arguments do not form one valid request.
bool CliArgsParse(int argc, char** argv, CliRequest* request, std::string* error);
const char* CliUsage();
