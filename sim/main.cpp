// pelta-sim: a simulated Pelta unit for tests, demos and training without hardware.
#include <memory>
#include <string>

#include "sim/Faults.h"
#include "sim/Server.h"
#include "sim/SimLog.h"
#include "sim/SimOptions.h"
#include "sim/StateStore.h"
#include "sim/Unit.h"

namespace {
const int kExitUsage = 2;
}

int main(int argc, char** argv) {
    SimConfig config;
    std::string error;
    switch (ParseOptions(argc, argv, &config, &error)) {
    case ParseResult::kHelp:
        PrintUsage(stdout);
        return 0;
    case ParseResult::kError:
        SimError("%s (see pelta-sim --help)", error.c_str());
        return kExitUsage;
    case ParseResult::kRun:
        break;
    }
    Unit unit(config.identity, config.version, config.password);
    std::unique_ptr<StateStore> store;
    if (!config.stateDir.empty()) {
        store = std::make_unique<StateStore>(config.stateDir);
        if (!store->Load(unit, &error)) {
            SimError("%s", error.c_str());
            return kExitUsage;
        }
    }
    Faults faults(config.faults);
    Server server(config, unit, faults, store.get());
    if (!server.Open(&error)) {
        SimError("%s", error.c_str());
        return kExitUsage;
    }
    return server.Run();
}
